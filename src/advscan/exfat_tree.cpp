#include "advscan/exfat_tree.h"

#include <fmt/format.h>

#include <vector>

namespace brenvale::advscan {

void WalkExFatTree(std::span<scan::TMidEntry* const> entries, const ExFatFolders& folders, std::int32_t sectorsPerClus,
                   std::int64_t heap,
                   const std::function<void(const scan::TMidEntry* entry, std::int32_t segment, const std::string& path, int depth)>& visit) {
    const auto n = static_cast<std::int32_t>(folders.SegStart.size());
    if (n == 0) return;
    // The entries each folder holds, in the order they were found.
    std::vector<std::vector<const scan::TMidEntry*>> held(static_cast<std::size_t>(n));
    for (const scan::TMidEntry* e : entries) {
        const std::int32_t s = folders.SegOfSect(e->DirSectNum);
        if (s >= 0) held[static_cast<std::size_t>(s)].push_back(e);
    }
    // A tree without a root (the volume was formatted again) still hangs folders below their
    // parents; its unnamed folders are all top-level.
    const bool tree = folders.HierarchyBuilt();
    const bool root = tree && folders.RootSeg >= 0 && folders.RootSeg < n;
    auto parentOf = [&](std::int32_t s) -> std::int32_t {
        if (!tree) return -1;
        const std::int32_t p = folders.SegParent[static_cast<std::size_t>(s)];
        return p < 0 || p >= n || p == s || p == folders.RootSeg ? -1 : p;
    };
    auto nameOf = [&](std::int32_t s) {
        const auto i = static_cast<std::size_t>(s);
        return tree && !folders.SegName[i].empty() ? folders.SegName[i] : fmt::format("Folder{:08X}", folders.SegStart[i]);
    };
    std::vector<std::vector<std::int32_t>> children(static_cast<std::size_t>(n));
    std::vector<std::int32_t> tops;
    for (std::int32_t s = 0; s < n; ++s) {
        if (root && s == folders.RootSeg) continue;
        const std::int32_t p = parentOf(s);
        (p < 0 ? tops : children[static_cast<std::size_t>(p)]).push_back(s);
    }
    // Depth first with a stack of its own; parent cycles were broken when the tree was built,
    // and each folder is entered once whatever the links say.
    std::vector<char> entered(static_cast<std::size_t>(n), 0);
    struct Frame {
        std::int32_t segment;
        std::string path;
        int depth;
    };
    auto listEntries = [&](std::int32_t s, const std::string& path, int depth) {
        for (const scan::TMidEntry* e : held[static_cast<std::size_t>(s)]) {
            if (ExFatSegChildOfEntry(folders, sectorsPerClus, heap, *e, e->DirSectNum)) continue;  // shown as its folder
            visit(e, -1, path + "/" + e->LongFileName, depth);
        }
    };
    std::vector<Frame> stack;
    if (root) {
        entered[static_cast<std::size_t>(folders.RootSeg)] = 1;
        listEntries(folders.RootSeg, kExFatRoot, 0);
    }
    for (auto it = tops.rbegin(); it != tops.rend(); ++it) stack.push_back({*it, std::string(kExFatRoot) + "/" + nameOf(*it), 0});
    while (!stack.empty()) {
        const Frame f = std::move(stack.back());
        stack.pop_back();
        if (entered[static_cast<std::size_t>(f.segment)]) continue;
        entered[static_cast<std::size_t>(f.segment)] = 1;
        visit(nullptr, f.segment, f.path, f.depth);
        listEntries(f.segment, f.path, f.depth + 1);
        const auto& kids = children[static_cast<std::size_t>(f.segment)];
        for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back({*it, f.path + "/" + nameOf(*it), f.depth + 1});
    }
}

}  // namespace brenvale::advscan
