#include "cli/scan_rows.h"

#include <unordered_map>

namespace brenvale::cli {

std::vector<ScanRow> ListRows(scan::TUndelete& scan, bool deletedOnly) {
    const auto& files = scan.ScannedFiles;
    std::vector<scan::EntryFacts> facts;
    facts.reserve(files.size());
    std::unordered_map<const scan::TScanEntry*, std::vector<std::size_t>> children;
    for (std::size_t i = 0; i < files.size(); ++i) {
        facts.push_back(scan::DescribeEntry(scan, files[i]));
        // An NTFS entry no folder chain reaches from the root (a cycle in damaged metadata)
        // keeps no parent; it is not a top-level entry.
        if (!facts[i].parent && scan.DelParentKeyOfEntry(files[i]) != scan.DelRootKey()) continue;
        children[facts[i].parent].push_back(i);
    }

    std::vector<ScanRow> rows;
    rows.reserve(files.size());
    // Parents are always created before their children are linked, so this cannot loop.
    struct Frame {
        const std::vector<std::size_t>* list;
        std::size_t next;
        std::string path;
        int depth;
    };
    std::vector<Frame> stack;
    if (const auto it = children.find(nullptr); it != children.end()) stack.push_back({&it->second, 0, "", 0});
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next >= f.list->size()) {
            stack.pop_back();
            continue;
        }
        const std::size_t i = (*f.list)[f.next++];
        const scan::TScanEntry* e = files[i];
        const bool shown = !deletedOnly || (facts[i].folder ? scan.DelSubtreeHasDeleted(scan.DelKeyOfEntry(e))
                                                            : scan.DelEntryIsDeleted(e));
        if (!shown) continue;
        ScanRow row{std::move(facts[i]), f.path, f.depth, e};
        row.path += "/" + row.facts.name;
        const std::string path = row.path;
        const int depth = row.depth + 1;
        rows.push_back(std::move(row));
        if (const auto it = children.find(e); it != children.end()) stack.push_back({&it->second, 0, path, depth});
    }
    return rows;
}

}  // namespace brenvale::cli
