#include "app/folder_view.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>

#include "app/date_texts.h"
#include "app/type_names.h"
#include "app/volume_texts.h"
#include "storage/format_size.h"
#include "storage/fs_types.h"
#include "storage/utf.h"

namespace brenvale::app {

namespace {

using scan::TMidEntry;
using scan::TMidEntry32;
using scan::tntfsfilerecord;
using scan::TScanEntry;

constexpr auto kProgressInterval = std::chrono::milliseconds(50);
// Folder paths of search hits follow at most this many parents (a damaged tree may loop).
constexpr int kMaxPathDepth = 1000;

// Reports progress at most every 50 ms, and once more with -1 at the end.
class Throttle {
public:
    Throttle(const ViewProgress& progress, std::size_t total) : FProgress(progress), FTotal(total) {}
    ~Throttle() {
        if (FProgress) FProgress(-1);
    }
    void Step(std::size_t done) {
        if (!FProgress) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - FLast < kProgressInterval) return;
        FLast = now;
        FProgress(FTotal ? static_cast<int>(done * 100 / FTotal) : 100);
    }

private:
    const ViewProgress& FProgress;
    std::size_t FTotal;
    std::chrono::steady_clock::time_point FLast = std::chrono::steady_clock::now();
};

// Unicode case does not matter for the order of names as much as speed does: ASCII only,
// which leaves every multi-byte sequence intact.
std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = storage::AsciiLower(c);
    return out;
}

int CompareLower(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(storage::AsciiLower(a[i]));
        const auto y = static_cast<unsigned char>(storage::AsciiLower(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <class T>
int Sign(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Names are trimmed the way the walkers trim them: every character up to the blank.
std::string TrimmedName(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

// The fields the view reads from a FAT or exFAT entry of either record kind.
struct FatFields {
    std::uint8_t attribute;
    std::uint16_t updatedate, updatetime;
    std::uint8_t status;
    std::uint64_t size;
    const TScanEntry* parent;
    std::string name;
};

FatFields FatOf(const scan::TUndelete& s, const TScanEntry* e) {
    if (e->Kind() == scan::EntryKind::Fat32) {
        const auto* m = scan::AsMid32(e);
        return {m->FDT32Entry.attribute, m->FDT32Entry.updatedate, m->FDT32Entry.updatetime, m->Status,
                m->FDT32Entry.filesize, m->Parent, s.EntryDisplayName(e)};
    }
    const auto* m = scan::AsMid(e);
    return {m->FDTEntry.attribute, m->FDTEntry.updatedate, m->FDTEntry.updatetime, m->Status, scan::EntrySize(*m),
            m->Parent, s.EntryDisplayName(e)};
}

bool IsNtfs(const scan::TUndelete& s) { return s.FileSystem() == storage::kFsNtfs; }

// The list row of one standard entry, or nullopt when the deleted-only filter hides it.
std::optional<ListRow> EntryRow(scan::TUndelete& s, TScanEntry* e, TypeNames& types, bool deletedOnly) {
    ListRow row;
    row.Data = RowData(e);
    row.Scan = &s;
    row.SubItems.resize(5);
    if (scan::IsNtfsEntry(e)) {
        const auto* f = scan::AsNtfs(e);
        row.Folder = scan::IsFolder(*f);
        row.InUse = !scan::IsDeleted(*f);
        row.Caption = f->filename;
        row.Origin = RowOrigin::StandardNtfs;
        row.Size = f->realsize;
        const auto modified = ModifiedFileTime(f->head.FileAlteredTime);
        row.SubItems[3] = ModifiedText(modified);
        row.Modified = ModifiedDay(modified);
        row.Status = row.InUse ? scan::kStatusLive : scan::kStatusDeleted;
        row.Kind = row.Folder ? (row.InUse ? RowKind::Folder : RowKind::DeletedFolder)
                              : (row.InUse ? RowKind::File : RowKind::DeletedFile);
        row.SubItems[1] = row.InUse ? "" : kStatusDeletedText;
    } else {
        const FatFields f = FatOf(s, e);
        row.Folder = (f.attribute & storage::kFatAttrDirectory) != 0;
        row.Caption = f.name;
        row.Origin = RowOrigin::StandardFat;
        row.Status = f.status;
        row.InUse = f.status == scan::kStatusLive;
        row.Size = f.size;
        const auto modified = ModifiedDosTime(f.updatedate, f.updatetime);
        row.SubItems[3] = ModifiedText(modified);
        row.Modified = ModifiedDay(modified);
        if (row.Folder) {
            row.Kind = f.status == scan::kStatusLive      ? RowKind::Folder
                       : f.status == scan::kStatusDamaged ? RowKind::DamagedFolder
                                                          : RowKind::DeletedFolder;
            row.SubItems[1] = f.status == scan::kStatusDamaged ? kStatusDamagedText
                              : f.status != scan::kStatusLive  ? kStatusDeletedText
                                                               : "";
        } else {
            row.Kind = f.status != scan::kStatusLive ? RowKind::DeletedFile : RowKind::File;
            row.SubItems[1] = f.status != scan::kStatusLive ? kStatusDeletedText : "";
        }
    }
    if (deletedOnly) {
        const bool keep = row.Folder ? s.DelSubtreeHasDeleted(s.DelKeyOfEntry(e)) : s.DelEntryIsDeleted(e);
        if (!keep) return std::nullopt;
    }
    row.SubItems[0] = types.TypeNameOf(row.Caption, row.Folder);
    row.SubItems[2] = storage::FormatSize(static_cast<std::int64_t>(row.Size));
    return row;
}

}  // namespace

std::vector<std::string> ListColumnCaptions(NodeKind nodeKind) {
    if (ListsDevices(nodeKind)) return {"Name", "Type", "Status", "Size", "Serial", "File System"};
    if (ListsResults(nodeKind)) return {"Name", "Type", "Status", "Size", "Modified", "Directory"};
    return {"Name", "Type", "Status", "Size", "Modified", "LBA"};
}

std::vector<int> ListColumnWidths(NodeKind nodeKind) {
    if (ListsResults(nodeKind)) return {220, 140, 85, 80, 130, 600};
    return {220, 140, 85, 80, 130, 100};
}

std::optional<std::uint64_t> FolderKeyOf(const TreeNode& node) {
    const scan::TUndelete* s = ScanOf(&node);
    if (!s) return std::nullopt;
    if (node.Scan) return s->DelRootKey();
    if (!node.Entry) return std::nullopt;
    return s->DelKeyOfEntry(node.Entry);
}

void FillFolderNodes(TreeNode& node, bool deletedOnly, const ViewProgress& progress) {
    node.ClearChildren();
    scan::TUndelete* s = ScanOf(&node);
    const auto key = FolderKeyOf(node);
    std::int32_t first = -1, last = -1;
    if (!s || !key || !s->GetDirBounds(*key, first, last)) return;
    const bool ntfs = IsNtfs(*s);
    const bool nodeDeleted = node.Kind == NodeKind::DeletedFolder;
    Throttle throttle(progress, static_cast<std::size_t>(last - first + 1));
    struct Kid {
        std::unique_ptr<TreeNode> node;
        std::string lower;
        bool first;  // sorts before the others: in use (NTFS) or intact (FAT)
    };
    std::vector<Kid> kids;
    for (std::int32_t i = first; i <= last; ++i) {
        throttle.Step(static_cast<std::size_t>(i - first));
        TScanEntry* e = s->ScannedFiles[static_cast<std::size_t>(i)];
        auto child = std::make_unique<TreeNode>();
        bool front = true;
        if (ntfs) {
            auto* f = scan::AsNtfs(e);
            // Everything below a folder that is no longer in use is shown as deleted.
            if (nodeDeleted) f->flag = static_cast<std::uint16_t>(f->flag & ~storage::kFileRecordInUse);
            if (!scan::IsFolder(*f)) continue;
            child->Text = TrimmedName(f->filename);
            front = !scan::IsDeleted(*f);
            child->Kind = front ? NodeKind::Folder : NodeKind::DeletedFolder;
        } else {
            const FatFields f = FatOf(*s, e);
            if (!(f.attribute & storage::kFatAttrDirectory)) continue;
            if (f.parent && f.parent != node.Entry) continue;
            if (f.name == "." || f.name == "..") continue;
            child->Text = f.name;
            front = f.status == scan::kStatusLive;
            child->Kind = f.status == scan::kStatusLive      ? NodeKind::Folder
                          : f.status == scan::kStatusDamaged ? NodeKind::DamagedFolder
                                                             : NodeKind::DeletedFolder;
        }
        if (deletedOnly && !s->DelSubtreeHasDeleted(s->DelKeyOfEntry(e))) continue;
        child->Entry = e;
        child->MakeScanCapable();
        kids.push_back({std::move(child), {}, front});
        kids.back().lower = Lower(kids.back().node->Text);
    }
    std::stable_sort(kids.begin(), kids.end(), [](const Kid& a, const Kid& b) {
        if (a.first != b.first) return a.first;
        return a.lower < b.lower;
    });
    for (auto& k : kids) node.AddChild(std::move(k.node));
}

void FillFolderLevels(TreeNode& node, bool deletedOnly, const ViewProgress& progress) {
    FillFolderNodes(node, deletedOnly, progress);
    for (auto& child : node.Children) {
        if (child->Kind == NodeKind::Folder || child->Kind == NodeKind::DeletedFolder) {
            FillFolderNodes(*child, deletedOnly, progress);
        }
    }
}

std::vector<ListRow> ListFolderEntries(const TreeNode& node, TypeNames& types, bool deletedOnly,
                                       const ViewProgress& progress) {
    std::vector<ListRow> rows;
    scan::TUndelete* s = ScanOf(&node);
    const auto key = FolderKeyOf(node);
    std::int32_t first = -1, last = -1;
    if (!s || !key || !s->GetDirBounds(*key, first, last)) return rows;
    if (first < 0 || last >= static_cast<std::int32_t>(s->ScannedFiles.size())) return rows;
    const bool ntfs = IsNtfs(*s);
    // Any entry of the range belongs to a volume node; below a folder only its own children
    // (FAT folders can share a cluster key with entries of another folder).
    const bool anyParent = node.Kind == NodeKind::Floppy || node.Kind == NodeKind::Volume;
    Throttle throttle(progress, static_cast<std::size_t>(last - first + 1));
    rows.reserve(static_cast<std::size_t>(last - first + 1));
    for (std::int32_t i = first; i <= last; ++i) {
        throttle.Step(static_cast<std::size_t>(i - first));
        TScanEntry* e = s->ScannedFiles[static_cast<std::size_t>(i)];
        if (!ntfs && !anyParent && FatOf(*s, e).parent != node.Entry) continue;
        if (auto row = EntryRow(*s, e, types, deletedOnly)) rows.push_back(std::move(*row));
    }
    SortRows(rows, kColName, true, false);
    return rows;
}

std::string EntryFolderPath(const scan::TUndelete& scan, const TScanEntry* entry) {
    std::vector<std::string> names;
    const TScanEntry* p = scan.EntryParent(entry);
    for (int depth = 0; p && depth < kMaxPathDepth; ++depth, p = scan.EntryParent(p)) {
        names.push_back(scan.EntryDisplayName(p));
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += "/" + *it;
    return path.empty() ? "/" : path;
}

std::vector<ListRow> ListSearchHits(scan::TUndelete& scan, const std::vector<TScanEntry*>& hits, TypeNames& types,
                                    const ViewProgress& progress) {
    std::vector<ListRow> rows;
    rows.reserve(hits.size());
    Throttle throttle(progress, hits.size());
    for (std::size_t i = 0; i < hits.size(); ++i) {
        throttle.Step(i);
        if (auto row = EntryRow(scan, hits[i], types, false)) {
            row->SubItems[4] = EntryFolderPath(scan, hits[i]);
            rows.push_back(std::move(*row));
        }
    }
    return rows;
}

namespace {

std::uint64_t DeviceBytes(const storage::TDevice& d) {
    return d.Sectors() * (d.BytesPerSector() ? d.BytesPerSector() : 512);
}

ListRow DeviceRow(const TreeNode& child) {
    ListRow row;
    row.Caption = child.Text;
    row.Kind = RowKind::Device;
    row.Data = RowData(&child);
    row.DeviceKind = child.Kind;
    row.SubItems.resize(5);
    auto& sub = row.SubItems;
    const auto setSize = [&](std::uint64_t bytes) {
        row.Size = bytes;
        sub[2] = storage::FormatSize(static_cast<std::int64_t>(bytes));
    };
    switch (child.Kind) {
        case NodeKind::Disk:
        case NodeKind::Image:
            if (child.Drive) {
                const auto& dev = *child.Drive->Device;
                sub[0] = child.Kind == NodeKind::Image ? std::string(kDriveImageText) : std::string(DiskTypeText(dev));
                sub[1] = "Ready";
                setSize(DeviceBytes(dev));
            }
            break;
        case NodeKind::LostPartitions:
            sub[0] = child.Text;
            break;
        case NodeKind::Floppy:
        case NodeKind::Volume:
        case NodeKind::DiskSpace:
            if (const scan::TUndelete* s = child.Scan) {
                const partitions::TPartition& p = s->Partition();
                const std::uint32_t bps = p.BytesPerSector ? p.BytesPerSector : 512;
                setSize(static_cast<std::uint64_t>(partitions::PartitionSize(&p)) * bps);
                const std::uint8_t fs = p.BootSector.FileSystemType;
                sub[4] = std::string(storage::FileSystemName(fs));
                if (child.Kind == NodeKind::DiskSpace) {
                    sub[0] = StretchTypeText(*s);
                    if (!UnderLostPartitions(&child)) sub[3] = VolumeSerialText(p.BootSector);
                } else {
                    sub[0] = VolumeTypeText(child.Kind, *s);
                    sub[1] = partitions::PartitionHidden(&p) ? "Hidden" : "Ready";
                    sub[3] = VolumeSerialText(p.BootSector);
                }
            }
            break;
        default: break;
    }
    return row;
}

}  // namespace

std::vector<ListRow> DeviceList(const TreeNode& node) {
    std::vector<ListRow> rows;
    rows.reserve(node.Children.size());
    for (const auto& child : node.Children) rows.push_back(DeviceRow(*child));
    return rows;
}

int CompareRows(int column, bool searchList, const ListRow& a, const ListRow& b) {
    const auto text = [&](int col) {
        const std::size_t i = static_cast<std::size_t>(col - 1);
        const std::string_view x = i < a.SubItems.size() ? std::string_view(a.SubItems[i]) : std::string_view();
        const std::string_view y = i < b.SubItems.size() ? std::string_view(b.SubItems[i]) : std::string_view();
        return CompareLower(x, y);
    };
    switch (column) {
        case kColName: {
            if (a.Folder != b.Folder) return a.Folder ? -1 : 1;
            if (!searchList) {
                const bool fat = a.Origin == RowOrigin::StandardFat || a.Origin == RowOrigin::AdvancedFat;
                if (fat) {
                    const auto hidden = [](std::uint8_t st) { return st == 1 || st == 2; };
                    if (hidden(a.Status) && b.Status == 0) return 1;
                    if (a.Status == 0 && hidden(b.Status)) return -1;
                } else if (a.InUse != b.InUse) {
                    return a.InUse ? -1 : 1;
                }
            }
            return CompareLower(a.Caption, b.Caption);
        }
        // Whole sizes: the 32-bit field alone puts files over 4 GiB among the small ones.
        case kColSize: return Sign(a.Size, b.Size);
        case kColModified:
            if (!searchList) return Sign(a.Modified, b.Modified);
            return text(column);
        default: return text(column);
    }
}

void SortRows(std::vector<ListRow>& rows, int column, bool ascending, bool searchList) {
    std::stable_sort(rows.begin(), rows.end(), [&](const ListRow& a, const ListRow& b) {
        const int c = CompareRows(column, searchList, a, b);
        return ascending ? c < 0 : c > 0;
    });
}

StatusBarTexts UpdateStatusBar(const TreeNode& node, std::size_t rowCount, const TreeNode* relatedNode) {
    StatusBarTexts t;
    const NodeKind kind = node.Kind;
    if (ListsFolderEntries(kind) || kind == NodeKind::AdvancedExtra) {
        if (const scan::TUndelete* s = ScanOf(&node)) t.Panels[3] = fmt::format("Total {} records", s->ScannedFiles.size());
    }
    t.Panels[2] = fmt::format("Current {} entries", rowCount);
    const std::string related = relatedNode ? NodePath(relatedNode) : std::string();
    switch (kind) {
        case NodeKind::LostFiles: t.Panels[1] = fmt::format("Lost files in \"{}\" grouped by type", related); break;
        case NodeKind::FileType: t.Panels[1] = fmt::format("Deleted \"{}\" files in \"{}\"", node.Text, related); break;
        case NodeKind::SearchResults: t.Panels[1] = fmt::format("Search results in \"{}\"", related); break;
        default: t.Panels[1] = node.Text; break;
    }
    return t;
}

}  // namespace brenvale::app
