#pragma once
// The "!!! Advanced Extra !!!" tree as one list: the NTFS, FAT and exFAT parts in that order,
// each node after its folder (pre-order), with its depth. Recovery, search and statistics of
// the rebuilt entries go by what this tree shows, so a folder holds on disk exactly what it
// lists.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scan/ntfs_entry.h"
#include "scan/scan_entry.h"

namespace brenvale::advscan {

class AdvancedScan;

// The harvested NTFS records in tree order from "NTFS Root", each folder before what it holds,
// with the depth below the root; records no chain from the root reaches (parents in a loop)
// come last, at depth 0, with the path their parents give as far as known.
void WalkNtfsTree(const AdvancedScan& adv,
                  const std::function<void(const scan::tntfsfilerecord& record, const std::string& path, int depth)>& visit);

struct AdvNode {
    enum class Kind : std::uint8_t {
        AdvancedExtra,    // the top
        NtfsRoot,
        NtfsRecord,       // a harvested record (a folder, a file or a placeholder folder)
        FatRoot,
        FatOrphanFolder,  // a directory no entry leads to ("Folder%.8X"), `key` its sector
        FatEntry,
        ExFatRoot,
        ExFatFolder,      // a folder of the exFAT tree, `key` its segment
        ExFatEntry,
    };
    Kind kind = Kind::AdvancedExtra;
    bool folder = false;
    std::int32_t depth = 0;  // the top is 0
    std::int32_t parent = -1;
    const scan::TScanEntry* entry = nullptr;  // for records and entries
    std::int64_t key = -1;
    std::string name;
};

class AdvTree {
public:
    explicit AdvTree(const AdvancedScan& adv);

    const std::vector<AdvNode>& Nodes() const { return nodes_; }
    // "/!!! Advanced Extra !!!/FAT Root/Folder0000ABCD/a.txt"
    std::string PathOf(std::size_t node) const;
    // The node at a path as PathOf gives it (a leading "/" optional); nullopt when none.
    std::optional<std::size_t> Find(const std::string& path) const;
    // One past the last node of the subtree of `node`.
    std::size_t SubtreeEnd(std::size_t node) const;

private:
    std::size_t add(AdvNode::Kind kind, bool folder, int depth, const scan::TScanEntry* entry, std::int64_t key,
                    std::string name);

    std::vector<AdvNode> nodes_;
    std::vector<std::size_t> parentAt_;  // the last node added at each depth
};

}  // namespace brenvale::advscan
