#include "advscan/adv_search.h"

#include <algorithm>
#include <cctype>

#include "scan/name_pattern.h"
#include "scan/undelete.h"

namespace brenvale::advscan {

AdvSearchResult AdvFindFiles(const AdvTree& tree, std::size_t node, const AdvSearchQuery& q) {
    AdvSearchResult out;
    const auto& nodes = tree.Nodes();
    if (node >= nodes.size()) return out;
    std::string lowered = q.Name;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) { return std::tolower(c); });
    const int ownDepth = nodes[node].depth + 1;
    for (std::size_t i = node + 1, end = tree.SubtreeEnd(node); i < end; ++i) {
        const AdvNode& n = nodes[i];
        if (!q.SubFolders && n.depth != ownDepth) continue;
        if (!n.entry) continue;  // the tree's own folders (roots, nameless folders) hold no entry to find
        if (q.DateFrom != 0) {
            // An entry without a valid date is not excluded by a date range.
            const double v = scan::EntrySearchDate(n.entry, q.DateType).value_or(q.DateFrom);
            if (v < q.DateFrom || v > q.DateTo) continue;
        }
        if (q.SizeMin >= 0 && q.SizeMax >= 0) {
            const std::uint64_t size = AdvEntrySize(n.entry);
            if (size < static_cast<std::uint64_t>(q.SizeMin) || size > static_cast<std::uint64_t>(q.SizeMax)) continue;
        }
        if (!lowered.empty()) {
            std::string name = n.name;
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
            if (!scan::MatchesPatternList(lowered, name, false)) continue;
        }
        if (out.Nodes.size() >= scan::kMaxSearchHits) {
            out.TooMany = true;
            break;
        }
        out.Nodes.push_back(i);
    }
    return out;
}

}  // namespace brenvale::advscan
