#pragma once
// The search over the "!!! Advanced Extra !!!" tree: entries below a node whose name matches
// one of the patterns, whose date lies in a range and whose size lies in a range, at most
// 10,000 of them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "advscan/adv_tree.h"

namespace brenvale::advscan {

struct AdvSearchQuery {
    std::string Name;           // patterns with * and ?, separated by ","; empty: every name
    int DateType = 0;           // 0 created, 1 modified, 2 accessed
    double DateFrom = 0;        // day numbers (days since 1899-12-30, local time); DateFrom 0: any date
    double DateTo = 0;
    std::int64_t SizeMin = -1;  // both not negative: the size must lie between them
    std::int64_t SizeMax = -1;
    bool SubFolders = true;     // false: only the node's own entries
};

struct AdvSearchResult {
    std::vector<std::size_t> Nodes;  // in tree order
    bool TooMany = false;            // more than 10,000 matched: the search stopped there
};

AdvSearchResult AdvFindFiles(const AdvTree& tree, std::size_t node, const AdvSearchQuery& q);

}  // namespace brenvale::advscan
