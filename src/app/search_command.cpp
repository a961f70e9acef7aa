#include "app/search_command.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>


namespace brenvale::app {

namespace {

constexpr std::int64_t kBytesPerKb = 1000;
constexpr std::int64_t kMaxKb = INT64_MAX / kBytesPerKb;

std::int64_t ParseKb(std::string text) {
    text.erase(0, text.find_first_not_of(" \t"));
    text.erase(text.find_last_not_of(" \t") + 1);
    if (text.empty()) return 0;
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < 0 || v > kMaxKb) {
        throw std::invalid_argument("\"" + text + "\" is not a valid size.");
    }
    return v;
}

}  // namespace

SearchQuery ToSearchQuery(const SearchCriteria& c) {
    SearchQuery q;
    if (c.NameEnabled) {
        q.Name = c.Name;
        q.Name.erase(0, q.Name.find_first_not_of(" \t"));
        q.Name.erase(q.Name.find_last_not_of(" \t") + 1);
    }
    if (c.DateEnabled) {
        q.DateType = std::clamp(c.DateKind, 0, 2);
        // From the start of the earlier day to the midnight that ends the later one.
        q.DateFrom = std::floor(std::min(c.DateFrom, c.DateTo));
        q.DateTo = std::floor(std::max(c.DateFrom, c.DateTo)) + 1;
    }
    if (c.SizeEnabled) {
        const std::int64_t a = ParseKb(c.SizeMin), b = ParseKb(c.SizeMax);
        q.SizeMin = kBytesPerKb * std::min(a, b);
        q.SizeMax = kBytesPerKb * std::max(a, b);
    }
    q.DeletedOnly = c.DeletedOnly;
    q.SubFolders = c.SubFolders;
    return q;
}

bool RunSearch(scan::TUndelete& scan, const scan::TScanEntry* aDir, const SearchQuery& q, bool filterApplies) {
    scan.FoundFiles.clear();
    if (scan.ScannedFiles.empty()) return true;
    return scan.FindFiles(q.Name, false, q.DateType, q.DateFrom, q.DateTo, q.SizeMin, q.SizeMax, aDir,
                          filterApplies || q.DeletedOnly, q.SubFolders, scan.FoundFiles);
}

}  // namespace brenvale::app
