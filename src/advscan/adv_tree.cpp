#include "advscan/adv_tree.h"

#include <algorithm>
#include <unordered_set>

#include "advscan/advanced_scan.h"
#include "advscan/exfat_tree.h"
#include "advscan/fat_entry_access.h"
#include "advscan/fat_tree.h"
#include "scan/ntfs_entry.h"

namespace brenvale::advscan {

namespace {

constexpr std::size_t kMaxNtfsDepth = 256;

}  // namespace

void WalkNtfsTree(const AdvancedScan& adv,
                  const std::function<void(const scan::tntfsfilerecord& record, const std::string& path, int depth)>& visit) {
    // The list is sorted by parent, then name: a folder's records are one run of it.
    const auto& list = adv.Lists.NTFSFileList;
    auto parentAt = [&](std::size_t i) { return list[i]->head.FileReferenceOfParentDir.recordNumber(); };
    auto childrenOf = [&](std::uint64_t parent) {
        std::size_t lo = 0, hi = list.size();
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (parentAt(mid) < parent) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        std::size_t end = lo;
        while (end < list.size() && parentAt(end) == parent) ++end;
        return std::pair{lo, end};
    };
    struct Level {
        std::size_t at, end;
        std::string path;
    };
    std::vector<char> shown(list.size(), 0);
    std::unordered_set<std::int64_t> opened;  // folders whose contents are listed already
    std::vector<Level> stack;
    for (const std::uint64_t root : {std::uint64_t{0}, std::uint64_t{5}}) {
        const auto [b, e] = childrenOf(root);
        stack.push_back({b, e, kNtfsRoot});
        while (!stack.empty()) {
            Level& l = stack.back();
            if (l.at == l.end) {
                stack.pop_back();
                continue;
            }
            const std::size_t i = l.at++;
            if (shown[i]) continue;
            shown[i] = 1;
            const scan::tntfsfilerecord& r = *list[i];
            std::string path = l.path + "/" + r.filename;
            visit(r, path, static_cast<int>(stack.size()) - 1);
            if (r.recordnumber > 5 && stack.size() < kMaxNtfsDepth && opened.insert(r.recordnumber).second) {
                const auto [from, to] = childrenOf(static_cast<std::uint64_t>(r.recordnumber));
                if (from < to) stack.push_back({from, to, std::move(path)});
            }
        }
    }
    // Records no chain from the root reaches (parents in a loop): under the root, with the
    // path their parents give as far as known.
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!shown[i]) visit(*list[i], adv.NtfsPath(*list[i]), 0);
    }
}

AdvTree::AdvTree(const AdvancedScan& adv) {
    add(AdvNode::Kind::AdvancedExtra, true, 0, nullptr, -1, kAdvancedExtra);
    add(AdvNode::Kind::NtfsRoot, true, 1, nullptr, -1, kNtfsRoot);
    const std::string ntfsTop = std::string(kNtfsRoot) + "/";
    WalkNtfsTree(adv, [&](const scan::tntfsfilerecord& r, const std::string& path, int depth) {
        // A record reached through no chain keeps its whole remembered path as its name.
        std::string name = depth == 0 ? path.substr(std::min(path.size(), ntfsTop.size())) : r.filename;
        add(AdvNode::Kind::NtfsRecord, scan::IsFolder(r), depth + 2, &r, r.recordnumber, std::move(name));
    });
    add(AdvNode::Kind::FatRoot, true, 1, nullptr, -1, kFatRoot);
    std::size_t orphan = 0;
    WalkFatTree(adv.Fat, [&](const scan::TScanEntry* e, const std::string& path, int depth) {
        std::string name = path.substr(path.rfind('/') + 1);
        if (e) {
            add(AdvNode::Kind::FatEntry, fatentry::isFolder(e), depth + 2, e, -1, std::move(name));
        } else {
            add(AdvNode::Kind::FatOrphanFolder, true, depth + 2, nullptr, adv.Fat.UnChainedFDTs[orphan++], std::move(name));
        }
    });
    add(AdvNode::Kind::ExFatRoot, true, 1, nullptr, -1, kExFatRoot);
    WalkExFatTree(adv.Lists.FatFileList, adv.ExFatTree, adv.ExFatSPC(), adv.ExFatHeap(),
                  [&](const scan::TMidEntry* e, std::int32_t segment, const std::string& path, int depth) {
                      std::string name = path.substr(path.rfind('/') + 1);
                      if (e) {
                          add(AdvNode::Kind::ExFatEntry, (e->FDTEntry.attribute & 0x10) != 0, depth + 2, e, -1, std::move(name));
                      } else {
                          add(AdvNode::Kind::ExFatFolder, true, depth + 2, nullptr, segment, std::move(name));
                      }
                  });
}

std::size_t AdvTree::add(AdvNode::Kind kind, bool folder, int depth, const scan::TScanEntry* entry, std::int64_t key,
                         std::string name) {
    const auto d = static_cast<std::size_t>(std::max(depth, 0));
    // A walker's depth never skips a level; one that did would hang below the last node above.
    const std::size_t level = std::min(d, parentAt_.size());
    AdvNode n;
    n.kind = kind;
    n.folder = folder;
    n.depth = static_cast<std::int32_t>(level);
    n.parent = level == 0 ? -1 : static_cast<std::int32_t>(parentAt_[level - 1]);
    n.entry = entry;
    n.key = key;
    n.name = std::move(name);
    nodes_.push_back(std::move(n));
    parentAt_.resize(level + 1);
    parentAt_[level] = nodes_.size() - 1;
    return nodes_.size() - 1;
}

std::string AdvTree::PathOf(std::size_t node) const {
    std::vector<const std::string*> parts;
    for (std::int64_t i = static_cast<std::int64_t>(node); i >= 0; i = nodes_[static_cast<std::size_t>(i)].parent) {
        parts.push_back(&nodes_[static_cast<std::size_t>(i)].name);
    }
    std::string path;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) path += "/" + **it;
    return path;
}

std::optional<std::size_t> AdvTree::Find(const std::string& path) const {
    const std::string want = path.empty() || path.front() != '/' ? "/" + path : path;
    // Pre-order with depths: the path of each node is its parent's plus its name.
    std::vector<std::string> at;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        const auto d = static_cast<std::size_t>(nodes_[i].depth);
        at.resize(d + 1);
        at[d] = (d ? at[d - 1] : std::string()) + "/" + nodes_[i].name;
        if (at[d] == want) return i;
    }
    return std::nullopt;
}

std::size_t AdvTree::SubtreeEnd(std::size_t node) const {
    std::size_t end = node + 1;
    while (end < nodes_.size() && nodes_[end].depth > nodes_[node].depth) ++end;
    return end;
}

}  // namespace brenvale::advscan
