#include "advscan/checkpoint_resume.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unordered_set>

#include "advscan/advanced_scan.h"
#include "partitions/partition.h"
#include "raw/signature_scan.h"
#include "scan/undelete.h"
#include "storage/checkpoint_io.h"
#include "storage/device.h"
#include "storage/le.h"

namespace brenvale::advscan {

namespace {

bool isImage(const storage::TDevice& d) {
    return d.DeviceType() == storage::kDeviceImage;
}

const char* fsName(std::uint8_t fs) {
    switch (fs) {
        case 0: return "FAT12";
        case 1: return "FAT16";
        case 2: return "FAT32";
        case 3: return "NTFS";
        case 4: return "exFAT";
        case 255: return "Freespace";
        default: return "FS";
    }
}

// The label as a file name may hold it.
std::string nameSafe(const std::string& label) {
    std::string out;
    for (char c : label) {
        const auto u = static_cast<unsigned char>(c);
        out += u < 32 || std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos ? '_' : c;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
    return out.empty() ? "nopl" : out;
}

}  // namespace

std::int64_t CheckpointVolumeSerial(const scan::TUndelete& scan) {
    const auto& sector = scan.Partition().BootSector.Sector;
    switch (scan.FileSystem()) {
        case 0:
        case 1: return storage::le32(sector, 39);
        case 2: return storage::le32(sector, 67);
        case 3: return storage::le32(sector, 72);
        case 4: return storage::le32(sector, 100);
        default: return -1;
    }
}

std::string CheckpointSourceId(const storage::TDevice& device) {
    if (!isImage(device)) return {};
    std::error_code ec;
    const auto abs = std::filesystem::absolute(device.ImageFileName(), ec);
    return ec ? device.ImageFileName() : abs.lexically_normal().string();
}

TCheckpointSource CheckpointSourceOf(const storage::TDevice& device, std::uint64_t objectSectors) {
    TCheckpointSource s;
    s.DeviceType = device.DeviceType();
    s.DeviceNum = device.DeviceNum();
    s.Model = device.Model;
    s.DeviceSectors = device.Sectors();
    s.SectorBytes = device.BytesPerSector();
    s.ObjectSectors = objectSectors;
    return s;
}

std::string CheckpointFileName(const scan::TUndelete* scan) {
    if (!scan) return kDefaultCheckpointName;
    // Volumes have no letters here: images and disks are told apart by kind.
    const std::string where = isImage(scan->Device()) ? "img" : "disk";
    const std::int64_t serial = CheckpointVolumeSerial(*scan);
    const std::string tail = serial >= 0 ? fmt::format("_{:08X}", serial) : std::string();
    return fmt::format("{}_{}_{}{}{}", where, nameSafe(scan->VolumeLabel()), fsName(scan->FileSystem()), tail,
                       kScanCheckpointExt);
}

bool CheckpointLocationRefused(platform::Platform& os, const scan::TUndelete& scan, const std::string& path,
                               std::string& reason) {
    reason.clear();
    if (isImage(scan.Device())) return false;
    // The folder the file goes into decides (the file itself may not exist yet).
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    if (!scan.DestInsideScannedObject(os, folder)) return false;
    reason = kCheckpointAreaRefused;
    if (scan.FWholeDiskObject) {
        reason = kCheckpointWholeDiskRefused;
        reason.replace(reason.find("%d"), 2, std::to_string(scan.Device().DeviceNum() & 0x7F));
    }
    return true;
}

bool CheckpointPossible(const AdvancedScan& adv) {
    return !(adv.Phase == 0 && adv.Scan().FileSystem() == 4);
}

TCheckpointData CheckpointFromScan(const AdvancedScan& adv) {
    const scan::TUndelete& scan = adv.Scan();
    const storage::TDevice& device = scan.Device();
    TCheckpointData d;
    d.SourceType = isImage(device) ? 1 : 0;
    d.SourceId = CheckpointSourceId(device);
    d.PartiStartLBA = static_cast<std::int64_t>(adv.ObjectStart());
    d.VolumeSerial = CheckpointVolumeSerial(scan);
    d.FS = scan.FileSystem();
    d.VolumeLabel = scan.VolumeLabel();
    d.ScanMode = 2;
    d.Progress = adv.StandardProgress;
    d.LastRecordNum = adv.StandardLastRecord;
    d.AdvPhase = adv.Phase;
    d.Source = CheckpointSourceOf(device, adv.ObjectSectors());
    d.Records = scan.ScannedFiles;
    if (adv.Phase == 0) {
        if (d.FS != 3) d.DoneClus = adv.StandardDoneClus;
        return d;
    }
    const auto start = static_cast<std::int64_t>(adv.ObjectStart());
    d.AdvLBA = adv.StopLba < 0 ? 0 : adv.StopLba - start;
    d.AdvLBAEnd = adv.AdvRangeEnd < 0 ? -1 : adv.AdvRangeEnd - start;
    const HarvestLists& l = adv.Lists;
    d.AdvFDTs = l.FDTs;
    d.AdvFat32Count = l.Fat32Count;
    d.AdvSectorsPerClus = scan.SectorsPerClus;
    d.AdvRootSectNum = scan.RootSectNum;
    d.AdvScannedDirSectors = scan.ScannedDirSectors;
    // The folders the sorting stage made up are not harvested records: it makes them again.
    const std::unordered_set<const scan::tntfsfilerecord*> madeUp(l.Placeholders.begin(), l.Placeholders.end());
    for (scan::tntfsfilerecord* r : l.NTFSFileList) {
        if (!madeUp.contains(r)) d.AdvNTFSFileList.push_back(r);
    }
    d.AdvFatFileList = l.FatFileList;
    d.AdvStats = l.Votes;
    d.AdvExFatDirs = l.ExFatDirs;
    d.AdvExFatCount = l.ExFatCount;
    d.AdvRecordLength = l.RecordLength;
    d.AdvDeferred = l.DeferredRecords;
    d.AdvExtensionRecords = l.ExtensionRecords;
    d.AdvHeldBack = l.HeldBack;
    d.AdvHeldBackRel = l.HeldBackRel;
    d.AdvRaw = &adv.Raw();
    return d;
}

bool SaveAdvancedScanCheckpoint(const std::string& path, const AdvancedScan& adv, bool complete) {
    if (!CheckpointPossible(adv)) return false;
    TCheckpointData d = CheckpointFromScan(adv);
    d.Complete = complete;
    CheckpointFilter filter;
    if (d.AdvPhase == 0 && d.FS == 3) {
        // Records past the last finished batch are read again by the resume (all of them
        // before the first batch was finished: the walk skips only from record 1 on).
        const std::int64_t last = d.LastRecordNum;
        filter = [last](const scan::TScanEntry* e) {
            return last > 0 && e->Kind() == scan::EntryKind::Ntfs &&
                   static_cast<const scan::tntfsfilerecord*>(e)->recordnumber <= last;
        };
    } else if (d.AdvPhase == 0) {
        // Only entries of folders the walk finished: the resume walks the others again.
        auto done = std::make_shared<std::unordered_set<std::uint32_t>>(d.DoneClus.begin(), d.DoneClus.end());
        filter = [done](const scan::TScanEntry* e) {
            const std::uint32_t clus = e->Kind() == scan::EntryKind::Fat32 ? static_cast<const scan::TMidEntry32*>(e)->ClusNumber
                                                                          : static_cast<const scan::TMidEntry*>(e)->ClusNumber;
            return done->contains(clus);
        };
    }
    return SaveScanCheckpoint(path, d, filter);
}

bool CheckpointMatches(const TCheckpointData& data, const AdvancedScan& adv) {
    const scan::TUndelete& scan = adv.Scan();
    const storage::TDevice& device = scan.Device();
    if (data.FS != scan.FileSystem() || data.SourceType != (isImage(device) ? 1 : 0) ||
        data.SourceId != CheckpointSourceId(device)) {
        return false;
    }
    if (!(data.Source == CheckpointSourceOf(device, adv.ObjectSectors()))) return false;
    // The start sector always: a serial may repeat on two volumes of one disk.
    if (data.PartiStartLBA != static_cast<std::int64_t>(adv.ObjectStart())) return false;
    const std::int64_t serial = CheckpointVolumeSerial(scan);
    return data.VolumeSerial < 0 || serial < 0 || data.VolumeSerial == serial;
}

bool ValidateCheckpoint(const std::string& path, const AdvancedScan* adv, TCheckpointData& data, std::string& reason) {
    FreeScanCheckpoint(data);
    if (!adv) {
        reason = kCheckpointNoObject;
        return false;
    }
    const int loaded = LoadScanCheckpoint(path, data);
    if (loaded == kCheckpointMissing) {
        reason = kCheckpointMissingText;
        return false;
    }
    if (loaded != kCheckpointLoaded) {
        reason = kCheckpointInvalidText;
        return false;
    }
    if (!CheckpointMatches(data, *adv)) {
        FreeScanCheckpoint(data);
        reason = kCheckpointMismatch;
        return false;
    }
    reason.clear();
    return true;
}

namespace {

// The saved entries into the scan object, with their folders as saved.
void adoptRecords(const TCheckpointData& data, scan::TUndelete& scan) {
    std::vector<scan::TScanEntry*> added;
    added.reserve(data.Records.size());
    for (const scan::TScanEntry* e : data.Records) added.push_back(scan.AdoptEntry(*e));
    for (std::size_t i = 0; i < added.size() && i < data.RecordParents.size(); ++i) {
        const std::uint32_t p = data.RecordParents[i];
        if (p == kNoParent || p >= added.size()) continue;
        scan::TScanEntry* e = added[i];
        scan::TScanEntry* parent = added[p];
        // A folder of another kind than its entry is damage: left without.
        const bool mid = [](scan::EntryKind k) { return k == scan::EntryKind::Fat || k == scan::EntryKind::ExFat; }(e->Kind());
        const bool midParent = parent->Kind() == scan::EntryKind::Fat || parent->Kind() == scan::EntryKind::ExFat;
        if (mid && midParent) {
            static_cast<scan::TMidEntry*>(e)->Parent = static_cast<scan::TMidEntry*>(parent);
        } else if (e->Kind() == scan::EntryKind::Fat32 && parent->Kind() == scan::EntryKind::Fat32) {
            static_cast<scan::TMidEntry32*>(e)->Parent = static_cast<scan::TMidEntry32*>(parent);
        } else if (e->Kind() == scan::EntryKind::Ntfs && parent->Kind() == scan::EntryKind::Ntfs) {
            static_cast<scan::tntfsfilerecord*>(e)->Parent = static_cast<scan::tntfsfilerecord*>(parent);
        }
    }
}

}  // namespace

void ApplyCheckpoint(TCheckpointData& data, AdvancedScan& adv) {
    scan::TUndelete& scan = adv.Scan();
    const auto start = static_cast<std::int64_t>(adv.ObjectStart());
    adv.StandardProgress = data.Progress;
    adv.StandardLastRecord = data.LastRecordNum;
    if (data.AdvPhase == 0) {
        // The standard-scan stage goes on: finished folders (or records) are skipped and
        // their entries put back.
        auto saved = std::make_shared<TCheckpointData>(std::move(data));
        FreeScanCheckpoint(data);
        scan.FResumeRecords = [saved](scan::TUndelete& s) { adoptRecords(*saved, s); };
        scan.FResumeSkipClus.emplace(saved->DoneClus.begin(), saved->DoneClus.end());
        scan.FResumeSkipRecordNum = saved->LastRecordNum;
        adv.StandardDoneClus = saved->DoneClus;
        adv.SkipNormalScan = false;
        adv.StopLba = -1;
        adv.Phase = 0;
        return;
    }

    // The standard scan's entries come back unless the object has its own already; the
    // harvest always does.
    if (scan.ScannedFiles.empty()) {
        adoptRecords(data, scan);
        scan.ScannedDirSectors = data.AdvScannedDirSectors;
        scan.FScaned = true;
    }
    HarvestLists& l = adv.Lists;
    l.Clear();
    adv.Raw().Clear();
    for (const scan::tntfsfilerecord* r : data.AdvNTFSFileList) {
        scan::tntfsfilerecord& copy = l.NtfsRecords.emplace_back(*r);
        copy.Parent = nullptr;
        l.NTFSFileList.push_back(&copy);
    }
    for (const scan::TMidEntry* e : data.AdvFatFileList) {
        scan::TMidEntry& copy = l.MidEntries.emplace_back(*e);
        copy.Parent = nullptr;
        l.FatFileList.push_back(&copy);
    }
    l.FDTs = data.AdvFDTs;
    l.Fat32Count = data.AdvFat32Count;
    l.ExFatDirs = data.AdvExFatDirs;
    l.ExFatCount = data.AdvExFatCount;
    l.Votes = data.AdvStats;
    l.RecordLength = data.AdvRecordLength;
    l.DeferredRecords = data.AdvDeferred;
    l.ExtensionRecords = data.AdvExtensionRecords;
    l.HeldBack = data.AdvHeldBack;
    l.HeldBackRel = data.AdvHeldBackRel;
    if (!data.AdvRawState.empty()) {
        storage::CheckpointReader r(data.AdvRawState);
        static_cast<void>(adv.Raw().LoadState(r));
    }
    // The walk's sectors name this object's sectors only when the object is its volume.
    const bool ownVolume = adv.ObjectStart() == static_cast<std::uint64_t>(partitions::PartitionStart(&scan.Partition()));
    RefillKnownSets(l, scan.ScannedFiles, ownVolume ? scan.ScannedDirSectors : std::vector<std::uint32_t>{}, adv.Known);

    adv.StopLba = start + std::max<std::int64_t>(data.AdvLBA, 0);
    adv.AdvRangeStart = data.AdvLBAEnd < 0 ? 0 : start;
    adv.AdvRangeEnd = data.AdvLBAEnd < 0 ? -1 : start + data.AdvLBAEnd;
    adv.SkipNormalScan = true;
    adv.Phase = data.AdvPhase;
    scan.SectorsPerClus = data.AdvSectorsPerClus;
    scan.RootSectNum = data.AdvRootSectNum;
    FreeScanCheckpoint(data);
}

void RemoveOwnCheckpoint(const std::string& path, const AdvancedScan& adv) {
    TCheckpointData data;
    const int loaded = LoadScanCheckpoint(path, data);
    if (loaded == kCheckpointMissing) return;
    // Another object's checkpoint still has work to do; a damaged one has none.
    if (loaded == kCheckpointLoaded && !CheckpointMatches(data, adv)) return;
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

bool LoadScanResults(const std::string& path, AdvancedScan& adv, std::string& reason) {
    TCheckpointData data;
    if (!ValidateCheckpoint(path, &adv, data, reason)) return false;
    if (data.AdvPhase != 2) {
        reason = kResultsUnfinished;
        FreeScanCheckpoint(data);
        return false;
    }
    ApplyCheckpoint(data, adv);
    // The pass has nothing left to read past the saved point; only the stages run.
    std::atomic<bool> stop{false};
    if (adv.AdvScan(stop) == kAdvDeviceLost) {
        reason = kResultsUnreadable;
        return false;
    }
    return true;
}

}  // namespace brenvale::advscan
