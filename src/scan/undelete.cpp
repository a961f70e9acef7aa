#include "scan/undelete.h"

#include <algorithm>
#include <unordered_map>

#include "scan/fat_table.h"
#include "scan/ntfs_record.h"
#include "scan/volume_reader.h"
#include "storage/device_events.h"
#include "storage/fs_types.h"
#include "storage/utf.h"

namespace brenvale::scan {

std::atomic<bool> ShowOnlyDeleted{false};

namespace {

constexpr std::uint32_t kAttrVolumeName = 0x60;
// The modification time the orphan folders show.
constexpr storage::TNtfsTime kOrphanFolderTime = 0x01C2B3E89E384F50;

bool isFatOrExfat(std::uint8_t fs) {
    return fs == storage::kFsFat12 || fs == storage::kFsFat16 || fs == storage::kFsFat32 || fs == storage::kFsExfat;
}

unsigned fatBits(std::uint8_t fs) {
    switch (fs) {
        case storage::kFsFat12: return 12;
        case storage::kFsFat16: return 16;
        default: return 32;
    }
}

}  // namespace

TUndelete::TUndelete(storage::TDevice& device, partitions::TPartition& Partition, storage::MessageSink* ui)
    : FDevice(&device), FPartition(&Partition), FUi(ui) {
    if (FPartition->BytesPerSector == 0) {
        FPartition->BytesPerSector = FDevice->BytesPerSector() != 0 ? FDevice->BytesPerSector() : 512;
    }
    FDelFilterOn = ShowOnlyDeleted;
    FReader = std::make_unique<VolumeReader>(*FDevice, static_cast<std::uint64_t>(partitions::PartitionStart(FPartition)));
    FGeo = MakeFatGeometry(FPartition->BootSector, FPartition->BytesPerSector);
    if (isFatOrExfat(FileSystem())) {
        FFat = std::make_unique<FatTable>(*FReader, std::uint64_t{FGeo.reservedSectors} * FGeo.bytesPerSector,
                                          fatBits(FileSystem()));
    }
    if (FileSystem() == storage::kFsNtfs) {
        FNtfsGeo = MakeNtfsGeometry(FPartition->BootSector, FPartition->BytesPerSector);
    }
    // The folder that orphaned NTFS entries hang under, and the template of its subfolders.
    RootUnChained.flag = storage::kFileRecordDirectory;
    RootUnChained.recordnumber = 2;
    RootUnChained.head.FileReferenceOfParentDir = storage::makeFileReference(1, 0);
    RootUnChained.head.FileAlteredTime = kOrphanFolderTime;
    ReadVolumeLabel();
}

TUndelete::~TUndelete() = default;

void TUndelete::pump() {
    if (FUi) FUi->Pump();
}

bool TUndelete::stopRequested() const { return FTerminated || storage::DeviceAborted; }

void TUndelete::ReportException(const std::exception& e) {
    if (FUi) FUi->ShowMessage(storage::MessageKind::Error, e.what(), storage::kAppTitle);
}

void TUndelete::ReadVolumeLabel() {
    try {
        const std::uint8_t fs = FileSystem();
        if (fs == storage::kFsExfat) {
            EnumExFatDir(nullptr, false, true);
        } else if (isFatOrExfat(fs)) {
            EnumDir(nullptr, false, true);
        } else if (fs == storage::kFsNtfs && FNtfsGeo) {
            storage::TAttribute name;
            if (readattribute(3, kAttrVolumeName, 0, name) && name.residenthead) {
                std::u16string text;
                const auto& body = name.attributebody;
                for (std::size_t i = 0; i + 1 < body.size(); i += 2) {
                    const char16_t u = storage::le16(body, i);
                    if (u == 0) break;
                    text.push_back(u);
                }
                FVolumeLabel = storage::Utf16ToUtf8(text);
            }
        }
    } catch (...) {
        // A label is a nicety; a volume without a readable one simply has none.
    }
}

void TUndelete::probeDevice() {
    std::vector<std::byte> sector(std::max<std::uint32_t>(FDevice->BytesPerSector(), 512));
    const auto start = static_cast<std::uint64_t>(partitions::PartitionStart(FPartition));
    if (FDevice->Read(start, 1, sector) != 0) return;
    if (FDevice->ReopenHandle() && FDevice->Read(start, 1, sector) != 0) storage::DeviceAborted = false;
}

void TUndelete::ClearResults() {
    FScaned = false;
    FAdvScaned = false;
    Processing = false;
    FTerminated = false;
    storage::DeviceAborted = false;
    FDevice->PrepareForNewOperation();
    probeDevice();

    ScannedFiles.clear();
    FoundFiles.clear();
    ScannedDirSectors.clear();
    FMidEntries.clear();
    FMid32Entries.clear();
    FNtfsEntries.clear();
    RunTable.clear();
    UnchainedFolders.clear();
    FExFatVisited.clear();
    FWalkedDirs.clear();
    FPathClusters.clear();

    SectorsPerClus = SectorsPerClus_NTFS = RootSectNum = RootDirSectNum = 0;
    AdvMode = false;
    AdvRangeStart = 0;
    AdvRangeEnd = -1;
    FAdvExFatGeoDone = false;
    ExFatSectorsPerClus = 0;
    ExFatHeapOffset = -1;

    InvalidateDelFilter();
    FDelFilterOn = ShowOnlyDeleted;
}

std::int32_t TUndelete::NormalScan(std::int32_t Mode) {
    std::int32_t result = kScanNotScannable;
    ClearResults();
    std::vector<TScanEntry*> restored;
    if (FResumeRecords) {
        const auto resume = std::move(FResumeRecords);
        FResumeRecords = nullptr;
        resume(*this);
        restored = ScannedFiles;
    }
    AdvMode = false;
    FTerminated = false;
    Processing = true;
    FScaned = true;
    const std::uint8_t fs = FileSystem();
    if (isFatOrExfat(fs)) {
        ScanFatVolume();
        if (!restored.empty()) linkRestoredEntries(restored);
        result = FTerminated ? kScanStopped : kScanCompleted;
    } else if (fs == storage::kFsNtfs) {
        const auto bootBps = FPartition->BootSector.NtfsBootSect().BPB.BytesPerSector;
        if (FNtfsGeo && (FNtfsGeo->recordSize == 1024 || FNtfsGeo->recordSize == bootBps)) {
            GetNtfsFilelist();
            if (Mode == 1) {
                AddAdditionalRecords();
                LinkNtfsParents(nullptr);
            }
            result = FTerminated ? kScanStopped : kScanCompleted;
        } else if (Mode == 1 && FUi) {
            FUi->ShowMessage(storage::MessageKind::Error, kUnexpectedNtfsRecordLength, storage::kAppTitle);
        }
    } else if (Mode == 1 && FUi) {
        FUi->ShowMessage(storage::MessageKind::Error, kUnsupportedFileSystem, storage::kAppTitle);
    }
    Processing = false;
    FAdvScaned = false;
    if (Mode == 1) FTerminated = false;
    return result;
}

void TUndelete::linkRestoredEntries(const std::vector<TScanEntry*>& restored) {
    // A finished folder's entries came back without the folder entry that holds them when
    // that entry lies in a folder walked again: each finds its folder by first cluster.
    std::unordered_map<std::uint32_t, TScanEntry*> folders;
    for (TScanEntry* e : ScannedFiles) {
        if (e->Kind() == EntryKind::Fat32) {
            if (IsFolder(*AsMid32(e))) folders.emplace(FirstCluster(*AsMid32(e)), e);
        } else if (e->Kind() != EntryKind::Ntfs) {
            if (IsFolder(*AsMid(e))) folders.emplace(FirstCluster(*AsMid(e)), e);
        }
    }
    for (TScanEntry* e : restored) {
        if (e->Kind() == EntryKind::Ntfs) continue;
        const std::uint32_t clus = e->Kind() == EntryKind::Fat32 ? AsMid32(e)->ClusNumber : AsMid(e)->ClusNumber;
        const auto at = folders.find(clus);
        if (at == folders.end() || at->second == e || at->second->Kind() != e->Kind()) continue;
        if (e->Kind() == EntryKind::Fat32) {
            if (!AsMid32(e)->Parent) AsMid32(e)->Parent = AsMid32(at->second);
        } else if (!AsMid(e)->Parent) {
            AsMid(e)->Parent = AsMid(at->second);
        }
    }
}

TScanEntry* TUndelete::AdoptEntry(const TScanEntry& entry) {
    TScanEntry* added = nullptr;
    switch (entry.Kind()) {
        case EntryKind::Fat:
        case EntryKind::ExFat: {
            TMidEntry& e = FMidEntries.emplace_back(*AsMid(&entry));
            e.Parent = nullptr;
            added = &e;
            break;
        }
        case EntryKind::Fat32: {
            TMidEntry32& e = FMid32Entries.emplace_back(*AsMid32(&entry));
            e.Parent = nullptr;
            added = &e;
            break;
        }
        case EntryKind::Ntfs: {
            tntfsfilerecord& e = FNtfsEntries.emplace_back(*AsNtfs(&entry));
            e.Parent = nullptr;
            added = &e;
            break;
        }
    }
    ScannedFiles.push_back(added);
    return added;
}

const TScanEntry* TUndelete::EntryParent(const TScanEntry* entry) const {
    return VisitEntry(entry, [](const auto& e) -> const TScanEntry* { return e.Parent; });
}

std::uint64_t TUndelete::EntryDataSize(const TScanEntry* entry) const {
    switch (entry->Kind()) {
        case EntryKind::Ntfs: return AsNtfs(entry)->realsize;
        case EntryKind::Fat32: return AsMid32(entry)->FDT32Entry.filesize;
        case EntryKind::ExFat: return EntrySize(*AsMid(entry));
        case EntryKind::Fat: break;
    }
    return AsMid(entry)->FDTEntry.filesize;
}

std::string TUndelete::EntryDisplayName(const TScanEntry* entry) const {
    if (!entry) return {};
    return VisitEntry(entry, [](const auto& e) { return scan::EntryDisplayName(e); });
}

}  // namespace brenvale::scan
