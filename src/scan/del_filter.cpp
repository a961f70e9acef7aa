// The deleted-only filter: per folder, whether its subtree holds a deleted entry and whether it
// lies inside a deleted folder, computed once per scan.

#include "scan/undelete.h"
#include "storage/fs_types.h"

namespace brenvale::scan {

namespace {
constexpr std::uint8_t kSubtreeHasDeleted = 1;
constexpr std::uint8_t kInsideDeleted = 2;
}  // namespace

std::uint64_t TUndelete::DelKeyOfEntry(const TScanEntry* Entry) const {
    switch (Entry->Kind()) {
        case EntryKind::Fat: return AsMid(Entry)->FDTEntry.firstclusternumber;
        case EntryKind::Fat32: return AsMid32(Entry)->FDT32Entry.firstCluster();
        case EntryKind::ExFat: return AsMid(Entry)->DirClusNum;
        case EntryKind::Ntfs: return FolderKeyOf(*AsNtfs(Entry));
    }
    return 0;
}

std::uint64_t TUndelete::DelParentKeyOfEntry(const TScanEntry* Entry) const {
    switch (Entry->Kind()) {
        case EntryKind::Ntfs: return ParentRecordOf(*AsNtfs(Entry));
        case EntryKind::Fat32: return AsMid32(Entry)->ClusNumber;
        case EntryKind::Fat:
        case EntryKind::ExFat: break;
    }
    return AsMid(Entry)->ClusNumber;
}

std::uint64_t TUndelete::DelRootKey() const {
    switch (FileSystem()) {
        case storage::kFsFat32:
        case storage::kFsExfat: return FGeo.rootCluster;
        case storage::kFsNtfs: return 5;
        default: return 0;
    }
}

bool TUndelete::DelIsDeletedEntry(const TScanEntry* Entry) const {
    switch (Entry->Kind()) {
        case EntryKind::Ntfs: return IsDeleted(*AsNtfs(Entry));
        case EntryKind::Fat32: return AsMid32(Entry)->Status != kStatusLive;
        case EntryKind::Fat:
        case EntryKind::ExFat: break;
    }
    return AsMid(Entry)->Status != kStatusLive;
}

bool TUndelete::DelEntryIsDir(const TScanEntry* Entry) const {
    return VisitEntry(Entry, [](const auto& e) { return IsFolder(e); });
}

void TUndelete::InvalidateDelFilter() {
    FDelFilter.clear();
    FDelFilterBuilt = false;
}

void TUndelete::BuildDelFilter() {
    FDelFilter.clear();
    FDelFilterBuilt = true;
    const std::uint8_t fs = FileSystem();
    if (fs <= storage::kFsExfat) {
        DelScanDir(DelRootKey(), false, false);
    }
}

bool TUndelete::DelScanDir(std::uint64_t DirKey, bool SelfDel, bool InheritedDel) {
    if (const auto it = FDelFilter.find(DirKey); it != FDelFilter.end()) return (it->second & kSubtreeHasDeleted) != 0;
    const bool del = SelfDel || InheritedDel;
    bool result = del;
    // Stored before the children are looked at: a folder met again while it is being scanned
    // reads as holding nothing deleted, so a cyclic tree ends here.
    FDelFilter[DirKey] = 0;
    std::int32_t first = -1, last = -1;
    if (GetDirBounds(DirKey, first, last)) {
        for (std::int32_t i = first; i <= last; ++i) {
            const TScanEntry* e = ScannedFiles[static_cast<std::size_t>(i)];
            const bool selfDeleted = DelIsDeletedEntry(e);
            if (DelEntryIsDir(e)) {
                if (DelScanDir(DelKeyOfEntry(e), selfDeleted, del)) result = true;
            } else if (del || selfDeleted) {
                result = true;
            }
        }
    }
    FDelFilter[DirKey] = static_cast<std::uint8_t>((del ? kInsideDeleted : 0) | (result ? kSubtreeHasDeleted : 0));
    return result;
}

bool TUndelete::DelSubtreeHasDeleted(std::uint64_t DirKey) {
    if (!FDelFilterBuilt) BuildDelFilter();
    const auto it = FDelFilter.find(DirKey);
    return it != FDelFilter.end() && (it->second & kSubtreeHasDeleted);
}

bool TUndelete::DelDirIsDeleted(std::uint64_t DirKey) {
    if (!FDelFilterBuilt) BuildDelFilter();
    const auto it = FDelFilter.find(DirKey);
    return it != FDelFilter.end() && (it->second & kInsideDeleted);
}

bool TUndelete::DelEntryIsDeleted(const TScanEntry* Entry) {
    return DelIsDeletedEntry(Entry) || DelDirIsDeleted(DelParentKeyOfEntry(Entry));
}

}  // namespace brenvale::scan
