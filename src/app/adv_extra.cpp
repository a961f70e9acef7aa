#include "app/adv_extra.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <unordered_map>

#include "advscan/fat_entry_access.h"
#include "advscan/fat_tree.h"
#include "app/date_texts.h"
#include "app/type_names.h"
#include "scan/entry_cast.h"
#include "storage/format_size.h"

namespace brenvale::app {

namespace {

using K = advscan::AdvNode::Kind;

// Parent chains of a damaged tree can be long; the path search gives up below this depth.
constexpr int kMaxKeyDepth = 4096;

bool parseInt(std::string_view s, std::int64_t& out) {
    if (s.empty()) return false;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

bool damagedFat(const advscan::AdvNode& n) {
    return n.kind == K::FatEntry && n.entry &&
           advscan::fatentry::visit(n.entry, [](const auto& m) { return m.Status == scan::kStatusDamaged; });
}

// The key of the folder an entry was read from.
std::string wantKeyOf(const scan::TScanEntry* e) {
    if (scan::IsNtfsEntry(e)) return AdvKeyString(static_cast<std::int64_t>(scan::ParentRecordOf(*scan::AsNtfs(e))), -1, -1);
    return AdvKeyString(-1, advscan::fatentry::dirSect(e), -1);
}

std::optional<std::string> keyStringOf(const TreeNode* n) {
    const AdvVolume* v = AdvVolumeOf(n);
    if (!v || !v->Tree || n->AdvIndex < 0) return std::nullopt;
    const auto key = AdvDirNodeKey(*v, static_cast<std::size_t>(n->AdvIndex));
    if (!key) return std::nullopt;
    return AdvKeyString(key->ntkey, key->lo, key->hi);
}

void collect(TreeNode* n, const std::string& want, TreeNode*& found, int depth) {
    if (depth > kMaxKeyDepth) return;
    if (const auto have = keyStringOf(n); have && AdvKeyMatches(want, *have)) found = n;
    for (auto& c : n->Children) collect(c.get(), want, found, depth + 1);
}

TreeNode* nodeWithIndex(TreeNode* n, std::int64_t index) {
    if (n->AdvIndex == index) return n;
    for (auto& c : n->Children) {
        if (TreeNode* f = nodeWithIndex(c.get(), index)) return f;
    }
    return nullptr;
}

std::string displayPath(const TreeNode* n) {
    std::string path = "/";
    std::vector<const TreeNode*> chain;
    for (; n && IsAdvNode(n); n = n->Parent) chain.push_back(n);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) path += (*it)->Text + "/";
    return path;
}

}  // namespace

std::string AdvKeyString(std::int64_t ntkey, std::int64_t lo, std::int64_t hi) {
    if (ntkey >= 0) return fmt::format("N{}", ntkey);
    if (hi > lo) return fmt::format("F{}:{}", lo, hi);
    return fmt::format("F{}", lo);
}

bool AdvKeyMatches(const std::string& want, const std::string& have) {
    if (want.empty() || have.empty()) return false;
    if (want == have) return true;
    if (want[0] != 'F' || have[0] != 'F') return false;
    const auto colon = have.find(':');
    if (colon == std::string::npos) return false;
    std::int64_t n = 0, lo = 0, hi = 0;
    if (!parseInt(std::string_view(want).substr(1), n) || !parseInt(std::string_view(have).substr(1, colon - 1), lo) ||
        !parseInt(std::string_view(have).substr(colon + 1), hi)) {
        return false;
    }
    return n >= 0 && lo >= 0 && lo <= n && n <= hi;
}

std::optional<AdvKind> AdvKindOf(const AdvVolume& v, std::size_t node) {
    if (!v.Tree || node >= v.Tree->Nodes().size()) return std::nullopt;
    const advscan::AdvNode& n = v.Tree->Nodes()[node];
    if (!n.folder) return std::nullopt;
    switch (n.kind) {
        case K::AdvancedExtra: return AdvKind::Extra;
        case K::NtfsRoot: return AdvKind::NtfsRoot;
        case K::NtfsRecord: return AdvKind::NtfsFolder;
        case K::FatRoot: return AdvKind::FatRoot;
        case K::FatOrphanFolder: return AdvKind::FatOrphan;
        case K::FatEntry: return v.Adv->Fat.FatType == advscan::kFat32 ? AdvKind::Fat32Folder : AdvKind::FatFolder;
        case K::ExFatRoot: return AdvKind::ExFatRoot;
        case K::ExFatFolder: return AdvKind::ExFatSegment;
        case K::ExFatEntry: return AdvKind::ExFatEntryFolder;
    }
    return std::nullopt;
}

std::optional<AdvKey> AdvDirNodeKey(const AdvVolume& v, std::size_t node) {
    const auto kind = AdvKindOf(v, node);
    if (!kind) return std::nullopt;
    const advscan::AdvNode& n = v.Tree->Nodes()[node];
    const advscan::AdvancedScan& adv = *v.Adv;
    const advscan::ExFatFolders& ex = adv.ExFatTree;
    AdvKey key;
    auto segment = [&](std::int64_t s) {
        if (s < 0 || static_cast<std::size_t>(s) >= ex.SegStart.size() || ex.SegEnd.size() != ex.SegStart.size()) return false;
        key.lo = ex.SegStart[static_cast<std::size_t>(s)];
        key.hi = ex.SegEnd[static_cast<std::size_t>(s)];
        return true;
    };
    switch (*kind) {
        case AdvKind::NtfsRoot: key.ntkey = 5; break;
        case AdvKind::NtfsFolder: key.ntkey = n.key; break;
        case AdvKind::FatRoot:
            if (adv.Fat.RootDirSectNum) key.lo = *adv.Fat.RootDirSectNum;
            break;
        case AdvKind::FatOrphan: key.lo = n.key; break;
        case AdvKind::FatFolder:
        case AdvKind::Fat32Folder: {
            const std::uint32_t clus = adv.Fat.WidthClusOf(n.entry);
            if (adv.Fat.RootSectNum && adv.Fat.SectorsPerClus > 0 && clus >= 2) {
                key.lo = *adv.Fat.RootSectNum + std::int64_t{clus - 2} * adv.Fat.SectorsPerClus;
            }
            break;
        }
        case AdvKind::ExFatRoot: segment(ex.RootSeg); break;
        case AdvKind::ExFatSegment: segment(n.key); break;
        case AdvKind::ExFatEntryFolder: {
            const std::uint32_t clus = advscan::fatentry::dirClus(n.entry);
            if (adv.ExFatSPC() > 0 && adv.ExFatHeap() > 0 && clus >= 2) {
                key.lo = adv.ExFatHeap() + std::int64_t{clus - 2} * adv.ExFatSPC();
            }
            break;
        }
        case AdvKind::Extra: break;
    }
    if (key.ntkey < 0 && key.lo < 0) return std::nullopt;
    return key;
}

bool IsAdvNode(const TreeNode* node) { return node && node->Kind == NodeKind::AdvancedExtra; }

const TreeNode* AdvVolumeNodeOf(const TreeNode* node) {
    for (; node; node = node->Parent) {
        if (node->Adv) return node;
        if (node->Scan) return nullptr;  // a volume that was never scanned this way
    }
    return nullptr;
}

TreeNode* AdvVolumeNodeOf(TreeNode* node) { return const_cast<TreeNode*>(AdvVolumeNodeOf(static_cast<const TreeNode*>(node))); }

AdvVolume* AdvVolumeOf(const TreeNode* node) {
    const TreeNode* v = AdvVolumeNodeOf(node);
    return v ? v->Adv.get() : nullptr;
}

std::optional<AdvKind> AdvKindOfNode(const TreeNode* node) {
    if (!IsAdvNode(node) || node->AdvIndex < 0) return std::nullopt;
    const AdvVolume* v = AdvVolumeOf(node);
    return v ? AdvKindOf(*v, static_cast<std::size_t>(node->AdvIndex)) : std::nullopt;
}

TreeNode* AdvFindExtraNode(TreeNode& volume) {
    for (auto& c : volume.Children) {
        if (IsAdvNode(c.get())) return c.get();
    }
    return nullptr;
}

TreeNode* AdvContainerNode(TreeNode& volume, AdvKind root) {
    TreeNode* top = AdvFindExtraNode(volume);
    if (!top) return nullptr;
    for (auto& c : top->Children) {
        if (AdvKindOfNode(c.get()) == root) return c.get();
    }
    return nullptr;
}

TreeNode* BuildAdvancedExtra(TreeNode& volume) {
    AdvVolume* v = volume.Adv.get();
    if (!v || !v->Tree) return nullptr;
    auto& kids = volume.Children;
    kids.erase(std::remove_if(kids.begin(), kids.end(), [](const auto& c) { return IsAdvNode(c.get()); }), kids.end());
    const auto& nodes = v->Tree->Nodes();
    std::vector<TreeNode*> made(nodes.size(), nullptr);
    auto top = std::make_unique<TreeNode>();
    top->Kind = NodeKind::AdvancedExtra;
    top->Text = nodes.empty() ? advscan::kAdvancedExtra : nodes[0].name;
    top->AdvIndex = 0;
    TreeNode* topNode = volume.InsertChild(0, std::move(top));
    if (!nodes.empty()) made[0] = topNode;
    for (std::size_t i = 1; i < nodes.size(); ++i) {
        const advscan::AdvNode& n = nodes[i];
        if (!n.folder || n.parent < 0) continue;
        TreeNode* parent = made[static_cast<std::size_t>(n.parent)];
        if (!parent) continue;
        auto child = std::make_unique<TreeNode>();
        child->Kind = NodeKind::AdvancedExtra;
        child->Text = n.name;
        child->AdvIndex = static_cast<std::int64_t>(i);
        child->Entry = const_cast<scan::TScanEntry*>(n.entry);
        // The three parts show in the order exFAT, FAT, NTFS.
        made[i] = parent == topNode ? parent->InsertChild(0, std::move(child)) : parent->AddChild(std::move(child));
    }
    return topNode;
}

std::vector<ListRow> ListAdvancedRows(const TreeNode& node, TypeNames& types, const ViewProgress& progress) {
    std::vector<ListRow> rows;
    const AdvVolume* v = AdvVolumeOf(&node);
    if (!v || !v->Tree || node.AdvIndex < 0) return rows;
    const auto& nodes = v->Tree->Nodes();
    const auto at = static_cast<std::size_t>(node.AdvIndex);
    if (at >= nodes.size()) return rows;
    std::unordered_map<std::int64_t, const TreeNode*> childNodes;
    for (const auto& c : node.Children) childNodes.emplace(c->AdvIndex, c.get());
    scan::TUndelete* s = ScanOf(&node);
    const std::size_t end = v->Tree->SubtreeEnd(at);
    std::size_t done = 0;
    for (std::size_t i = at + 1; i < end; i = v->Tree->SubtreeEnd(i)) {
        if (progress && (++done & 1023) == 0) progress(static_cast<int>((i - at) * 100 / (end - at)));
        const advscan::AdvNode& n = nodes[i];
        if (n.name == "." || n.name == "..") continue;
        ListRow row;
        row.Caption = n.name;
        row.Folder = n.folder;
        row.AdvNode = static_cast<std::int64_t>(i);
        row.Scan = s;
        row.Status = scan::kStatusDeleted;
        row.InUse = false;
        row.SubItems.resize(5);
        row.SubItems[1] = kStatusDeletedText;
        const bool ntfs = n.kind == K::NtfsRecord;
        row.Origin = ntfs ? RowOrigin::AdvancedNtfs : RowOrigin::AdvancedFat;
        if (n.entry) {
            row.Data = RowData(n.entry);
        } else if (const auto it = childNodes.find(static_cast<std::int64_t>(i)); it != childNodes.end()) {
            row.Data = RowData(it->second);
        }
        if (n.folder) {
            row.Kind = damagedFat(n) ? RowKind::DamagedFolder : RowKind::AdvancedFolder;
        } else {
            row.Kind = RowKind::DeletedFile;
            row.Size = advscan::AdvEntrySize(n.entry);
        }
        std::optional<scan::DosDateTime> modified;
        if (n.entry && ntfs) {
            modified = ModifiedFileTime(scan::AsNtfs(n.entry)->head.FileAlteredTime);
        } else if (n.entry) {
            modified = advscan::fatentry::visit(n.entry, [](const auto& m) {
                return ModifiedDosTime(advscan::fatentry::slotOf(m).updatedate, advscan::fatentry::slotOf(m).updatetime);
            });
        }
        row.SubItems[3] = ModifiedText(modified);
        row.Modified = ModifiedDay(modified);
        row.SubItems[0] = types.TypeNameOf(row.Caption, row.Folder);
        row.SubItems[2] = storage::FormatSize(static_cast<std::int64_t>(row.Size));
        rows.push_back(std::move(row));
    }
    if (progress) progress(-1);
    SortRows(rows, kColName, true, false);
    return rows;
}

ListRow AdvExtraRow(const TreeNode& extra, TypeNames& types) {
    ListRow row;
    row.Caption = extra.Text;
    row.Kind = RowKind::AdvancedFolder;
    row.Folder = true;
    row.Status = scan::kStatusDeleted;
    row.InUse = false;
    row.Data = RowData(&extra);
    row.AdvNode = extra.AdvIndex;
    row.Scan = ScanOf(&extra);
    row.SubItems = {types.TypeNameOf(row.Caption, true), kStatusDeletedText, storage::FormatSize(0), "", ""};
    return row;
}

TreeNode* AdvFindDirNode(TreeNode& volume, const scan::TScanEntry* entry) {
    TreeNode* top = AdvFindExtraNode(volume);
    if (!top || !entry || !volume.Adv || !volume.Adv->Tree) return nullptr;
    TreeNode* found = nullptr;
    collect(top, wantKeyOf(entry), found, 0);
    if (found) return found;
    // No folder has that key (a folder read from more than one run of sectors): the tree's own.
    const auto& nodes = volume.Adv->Tree->Nodes();
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].entry == entry && nodes[i].parent >= 0) return nodeWithIndex(top, nodes[i].parent);
    }
    return nullptr;
}

std::string AdvGetFullPath(TreeNode& volume, const scan::TScanEntry* entry) {
    if (const TreeNode* n = AdvFindDirNode(volume, entry)) return displayPath(n);
    return std::string("/") + advscan::kAdvancedExtra + "/.../";
}

}  // namespace brenvale::app
