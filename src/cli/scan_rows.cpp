#include "cli/scan_rows.h"

#include <unordered_map>

#include "storage/fs_types.h"

namespace brenvale::cli {

namespace {

}  // namespace

void ForEachRow(scan::TUndelete& scan, bool deletedOnly, const std::function<void(ScanRow&)>& visit) {
    const auto& files = scan.ScannedFiles;
    std::unordered_map<const scan::TScanEntry*, std::vector<std::size_t>> children;
    for (std::size_t i = 0; i < files.size(); ++i) {
        // Only the folder link is needed to place an entry; its facts (times, status) are worked
        // out when it is listed, so a whole volume's worth of them is never held at once.
        const scan::TScanEntry* parent = scan.EntryParent(files[i]);
        // An NTFS entry no folder chain reaches from the root (a cycle in damaged metadata)
        // keeps no parent; it is not a top-level entry.
        if (!parent && scan.DelParentKeyOfEntry(files[i]) != scan.DelRootKey()) continue;
        children[parent].push_back(i);
    }

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
        scan::EntryFacts facts = scan::DescribeEntry(scan, e);
        const bool shown = !deletedOnly || (facts.folder ? scan.DelSubtreeHasDeleted(scan.DelKeyOfEntry(e))
                                                         : scan.DelEntryIsDeleted(e));
        if (!shown) continue;
        ScanRow row{std::move(facts), {}, f.depth, e};
        row.path.reserve(f.path.size() + 1 + row.facts.name.size());
        row.path += f.path;
        row.path += '/';
        row.path += row.facts.name;
        const auto it = children.find(e);
        // The frame is pushed before the row is handed on, which may move from it.
        if (it != children.end()) stack.push_back({&it->second, 0, row.path, row.depth + 1});
        visit(row);
    }
}

std::vector<ScanRow> ListRows(scan::TUndelete& scan, bool deletedOnly) {
    std::vector<ScanRow> rows;
    rows.reserve(scan.ScannedFiles.size());
    ForEachRow(scan, deletedOnly, [&rows](ScanRow& r) { rows.push_back(std::move(r)); });
    return rows;
}

}  // namespace brenvale::cli
