#include "app/list_filter.h"

#include <algorithm>
#include <numeric>

#include "scan/name_pattern.h"

namespace brenvale::app {

namespace {

// Lower case of a code point below U+0800 (everything this folds keeps its two-byte length).
char32_t lowerTwoByte(char32_t c) {
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;  // Latin-1
    if (c >= 0x100 && c <= 0x17F) {                              // Latin Extended-A
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        if (c == 0x178) return 0xFF;
        const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        return ((c % 2 == 1) == oddCapitals) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;  // Greek
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return c + 0x25;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 0x3F;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;  // Cyrillic
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    return c;
}

void appendLower(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + 0x20 : b));
            continue;
        }
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (b >= 0xC2 && b <= 0xDF && (next & 0xC0) == 0x80) {
            const char32_t c = lowerTwoByte((char32_t(b & 0x1F) << 6) | (next & 0x3F));
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            ++i;
        } else {
            out.push_back(static_cast<char>(b));  // longer sequences and stray bytes stay as they are
        }
    }
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// The folder column of the result lists starts at the volume's root ("/DCIM/100MEDIA"); dates
// hold "/" too, but never first. Paths in the other system's form are taken as well.
bool isPathColumn(const std::string& subItem) {
    return subItem.starts_with('/') || subItem.find('\\') != std::string::npos;
}

std::vector<std::string> splitPatterns(std::string_view f) {
    std::vector<std::string> patterns;
    std::size_t at = 0;
    while (at <= f.size()) {
        const auto comma = std::min(f.find(',', at), f.size());
        const auto pattern = trimmed(f.substr(at, comma - at));
        if (!pattern.empty()) patterns.emplace_back(pattern);
        at = comma + 1;
    }
    return patterns;
}

// One scratch buffer per call keeps the per-row work free of allocations.
bool keptByPatterns(const ListRow& row, const std::vector<std::string>& patterns, std::string& scratch) {
    const auto matches = [&](std::string_view candidate) {
        scratch.clear();
        appendLower(scratch, candidate);
        return std::any_of(patterns.begin(), patterns.end(),
                           [&](const std::string& p) { return scan::MatchesPattern(p, scratch, true); });
    };
    if (matches(row.Caption)) return true;
    return std::any_of(row.SubItems.begin(), row.SubItems.end(),
                       [&](const std::string& sub) { return isPathColumn(sub) && matches(sub); });
}

bool keptBySubstring(const ListRow& row, std::string_view f, std::string& haystack) {
    haystack.clear();
    appendLower(haystack, row.Caption);
    for (const auto& sub : row.SubItems) {
        if (!isPathColumn(sub)) continue;
        haystack.push_back(' ');
        appendLower(haystack, sub);
    }
    return haystack.find(f) != std::string::npos;
}

}  // namespace

std::string LowerText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendLower(out, text);
    return out;
}

std::string FilterText(std::string_view boxText) { return LowerText(trimmed(boxText)); }

bool ApplyAtOnce(const std::string& text) { return text.empty(); }

std::optional<FilterResult> ApplyFilter(const std::vector<ListRow>& snapshot, std::string_view boxText,
                                        const RowSet& selected, const RowLess& less) {
    if (snapshot.empty()) return std::nullopt;
    const std::string f = FilterText(boxText);
    FilterResult result;
    auto& rows = result.Rows;
    if (f.empty()) {
        rows.resize(snapshot.size());
        std::iota(rows.begin(), rows.end(), std::size_t{0});
    } else {
        std::string scratch;
        if (f.find_first_of("*?") != std::string::npos) {
            const auto patterns = splitPatterns(f);
            for (std::size_t i = 0; i < snapshot.size(); ++i) {
                if (keptByPatterns(snapshot[i], patterns, scratch)) rows.push_back(i);
            }
        } else {
            for (std::size_t i = 0; i < snapshot.size(); ++i) {
                if (keptBySubstring(snapshot[i], f, scratch)) rows.push_back(i);
            }
        }
    }
    if (less) {
        std::stable_sort(rows.begin(), rows.end(),
                         [&](std::size_t a, std::size_t b) { return less(snapshot[a], snapshot[b]); });
    }
    if (!selected.empty()) {
        for (std::size_t pos = 0; pos < rows.size(); ++pos) {
            const RowData& data = snapshot[rows[pos]].Data;
            if (!data.Empty() && selected.count(data) != 0) result.Selected.push_back(pos);
        }
    }
    return result;
}

void MarkSortColumn(std::vector<std::string>& captions, int index, bool ascending) {
    for (auto& caption : captions) {
        for (std::string_view mark : {std::string_view(kSortUpMark), std::string_view(kSortDownMark)}) {
            if (caption.ends_with(mark)) {
                caption.resize(caption.size() - mark.size());
                break;
            }
        }
    }
    if (index >= 0 && static_cast<std::size_t>(index) < captions.size()) {
        captions[static_cast<std::size_t>(index)] += ascending ? kSortUpMark : kSortDownMark;
    }
}

void ListFilter::Reset() {
    snapshot_.clear();
    text_.clear();
}

bool ListFilter::SortClick(int column) {
    ascending_ = column == sortColumn_ ? !ascending_ : false;
    sortColumn_ = column;
    return ascending_;
}

void ListFilter::ClearSort() {
    sortColumn_ = kNoSortColumn;
    ascending_ = false;
    less_ = nullptr;
}

std::optional<FilterResult> ListFilter::Apply(const RowSet& selected) const {
    RowLess order;
    if (sortColumn_ != kNoSortColumn && less_) {
        order = [this](const ListRow& a, const ListRow& b) { return ascending_ ? less_(a, b) : less_(b, a); };
    }
    return ApplyFilter(snapshot_, text_, selected, order);
}

}  // namespace brenvale::app
