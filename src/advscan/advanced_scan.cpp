#include "advscan/advanced_scan.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "raw/signature_scan.h"
#include "scan/undelete.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/le.h"

namespace brenvale::advscan {

namespace {

constexpr std::uint64_t kRootRecord = 5;
constexpr int kMaxDepth = 256;

}  // namespace

AdvancedScan::AdvancedScan(scan::TUndelete& scan, raw::RawScan& raw, std::uint64_t start, std::uint64_t sectors)
    : Fat(
          [&scan, start, sectors](std::int64_t rel, std::uint32_t count, std::span<std::byte> into) -> std::size_t {
              // Reads stay inside the object, whatever the entries claim.
              if (rel < 0 || static_cast<std::uint64_t>(rel) >= sectors) return 0;
              count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, sectors - static_cast<std::uint64_t>(rel)));
              return scan.Device().Read(start + static_cast<std::uint64_t>(rel), count, into);
          },
          scan.Device().BytesPerSector(), sectors),
      scan_(scan),
      raw_(raw),
      start_(start),
      sectors_(sectors) {}

void AdvancedScan::diag(const std::string& line) {
    // On an NTFS volume the boot sector answers every question: nothing to note.
    if (scan_.FileSystem() == 3) return;
    DiagLines.push_back(line);
    if (DiagLogPath.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(DiagLogPath).parent_path(), ec);
    std::ofstream log(DiagLogPath, std::ios::app);
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    log << fmt::format("{:%H:%M:%S}.{:03}  {}\n", local, ms, line);  // errors are of no matter here
}

void AdvancedScan::buildKnownSets() {
    Known = KnownSets{};
    const bool ownVolume = start_ == static_cast<std::uint64_t>(partitions::PartitionStart(&scan_.Partition()));
    for (const scan::TScanEntry* e : scan_.ScannedFiles) {
        if (scan::IsNtfsEntry(e)) {
            Known.RecordNumbers.insert(scan::AsNtfs(e)->recordnumber);
        } else if (e->Kind() == scan::EntryKind::ExFat) {
            Known.Clusters.insert(static_cast<const scan::TMidEntry*>(e)->DirClusNum);
        }
    }
    // The walk's sectors count from the volume's start: they name this object's sectors only
    // when the object is that volume.
    if (ownVolume) {
        for (std::uint32_t s : scan_.ScannedDirSectors) Known.DirSectors.insert(s);
    }
}

int AdvancedScan::AdvScan(const std::atomic<bool>& stop, const AdvCallbacks& callbacks) {
    if (!SkipNormalScan) {
        const std::int64_t keepStart = AdvRangeStart, keepEnd = AdvRangeEnd;
        Phase = 0;
        if (!scan_.FResumeRecords) {
            StandardDoneClus.clear();
            StandardLastRecord = 0;
            StandardProgress = 0;
        }
        // The standard scan's own reports, kept for a checkpoint taken in this stage.
        auto chained = scan_.FOnScanCheckpoint;
        scan_.FOnScanCheckpoint = [&, chained](std::uint8_t fs, std::int64_t record, std::uint32_t done, std::int32_t percent) {
            if (fs == 3) {
                StandardLastRecord = record;
                StandardProgress = static_cast<std::uint8_t>(std::clamp(percent, 0, 100));
            } else {
                StandardDoneClus.push_back(done);
            }
            if (chained) chained(fs, record, done, percent);
        };
        const std::int32_t normal = scan_.NormalScan(2);
        scan_.FOnScanCheckpoint = chained;
        scan_.FResumeSkipClus.reset();
        scan_.FResumeSkipRecordNum = 0;
        AdvRangeStart = keepStart;
        AdvRangeEnd = keepEnd;
        if (storage::DeviceAborted) return kAdvDeviceLost;
        if (normal == scan::kScanStopped || stop) {
            scan_.FTerminated = false;
            return kAdvStopped;
        }
    }
    SkipNormalScan = false;
    if (storage::DeviceAborted) return kAdvDeviceLost;

    const storage::TBootSector& boot = scan_.Partition().BootSector;
    storage::TDevice& device = scan_.Device();
    // The boot sector's sector size when it gives one; a whole disk, or a volume whose boot
    // sector is gone, counts in the device's sectors (a size of 0 would cast no cluster vote
    // and leave the volume start unsolved).
    std::uint32_t partitionBps = storage::le16(boot.Sector, 11);
    if (partitionBps != 512 && partitionBps != 1024 && partitionBps != 2048 && partitionBps != 4096)
        partitionBps = device.BytesPerSector() ? device.BytesPerSector() : 512;
    if (scan_.FileSystem() == 3) {
        BootRecordLength = advscan::BootRecordLength(std::to_integer<std::uint8_t>(boot.Sector[64]), partitionBps,
                                                     std::to_integer<std::uint8_t>(boot.Sector[13]));
    }
    const bool fresh = StopLba < 0;
    if (fresh) {
        raw_.Clear();
        Lists.Clear();
        buildKnownSets();
        Folders = {};
        VolumeStart = {};
    }

    PassRequest request;
    request.ObjectStart = start_;
    request.ObjectSectors = sectors_;
    request.Range = {static_cast<std::int64_t>(start_), AdvRangeStart, AdvRangeEnd};
    request.ResumeLba = StopLba;
    request.RecordLength = BootRecordLength;
    HarvestSetup setup;
    setup.SectorBytes = device.BytesPerSector() ? device.BytesPerSector() : 512;
    setup.PartitionBps = partitionBps;
    setup.ObjectSectors = sectors_;
    PassCallbacks pass;
    pass.Progress = callbacks.Progress;
    pass.Diag = [this](const std::string& s) { diag(s); };
    if (!stop) Phase = 1;
    const PassResult result = RunHarvestPass(device, request, Lists, Known, setup, &raw_, pass, stop);
    StopLba = result.NextLba;
    if (result.Outcome == PassOutcome::DeviceLost) return kAdvDeviceLost;
    HarvestDeferredRecords(Lists, Known, partitionBps, setup.SectorBytes, [&](std::int64_t rel, std::span<std::byte> into) {
        const auto sectors = static_cast<std::uint32_t>(into.size() / setup.SectorBytes);
        return rel >= 0 && device.Read(start_ + static_cast<std::uint64_t>(rel), sectors, into) == into.size();
    });

    std::sort(Lists.ExFatDirs.begin(), Lists.ExFatDirs.end());
    ExFatGeoDone = true;
    ExFatInferred = {};
    const ReadRelSector readOne = [&](std::int64_t rel, std::span<std::byte> into) {
        return rel >= 0 && static_cast<std::uint64_t>(rel) < sectors_ &&
               device.Read(start_ + static_cast<std::uint64_t>(rel), 1, into) >= 512;
    };
    if (!Lists.ExFatDirs.empty()) {
        std::optional<ExFatGeometry> bootGeometry;
        if (scan_.FileSystem() == 4) bootGeometry = ExFatGeometry{ExFatBootSPC(), ExFatBootHeap()};
        ExFatInferred = InferExFatGeometry(Lists.FatFileList, Lists.ExFatDirs, sectors_, setup.SectorBytes, readOne,
                                           bootGeometry);
    }
    // The tree is built on the geometry the accessors give once the scan is over (the boot
    // sector's on an exFAT volume when nothing was inferred), so it agrees with recovery.
    const ExFatGeometry treeGeometry = ExFatInferred.Geometry.Usable() ? ExFatInferred.Geometry
                                       : scan_.FileSystem() == 4 ? ExFatGeometry{ExFatBootSPC(), ExFatBootHeap()}
                                                                 : ExFatGeometry{};
    ExFatTree = BuildExFatSegments(Lists.ExFatDirs, treeGeometry);

    auto stage = [&](const char* text) {
        if (callbacks.Stage) callbacks.Stage(text);
        if (callbacks.Progress) callbacks.Progress(0);
    };
    stage(kStageSortNtfs);
    SectorsPerClusNtfs = ChooseSectorsPerCluster(Lists.Votes);
    Folders = AdvSortNtfsRecords(Lists, scan_.RootUnChained, callbacks.Progress);
    std::unordered_map<std::int64_t, std::int64_t> numbered;
    if (scan_.FileSystem() == 3) {
        for (const scan::TScanEntry* e : scan_.ScannedFiles) {
            if (!scan::IsNtfsEntry(e)) continue;
            const auto* n = scan::AsNtfs(e);
            if (n->recordnumber >= 0) numbered.emplace(n->sectornumber, n->recordnumber);
        }
    }
    AdvFixLegacyNtfsRecNumbers(Lists, partitionBps, numbered, [this](const std::string& s) { diag(s); });
    stage(kStageNtfsGeometry);
    VolumeStart = AdvSolveNtfsGeometry(Lists, SectorsPerClusNtfs, partitionBps, [this](const std::string& s) { diag(s); },
                                       callbacks.Progress);
    paths_.clear();
    if (scan_.FileSystem() == 3) {
        // The silent standard scan left its records unlinked: its folders, orphans and
        // placeholder folders are made here, once the pass is over.
        stage(kStageNtfsExtra);
        scan_.AddAdditionalRecords();
        stage(kStageNtfsLink);
        scan_.LinkNtfsParents(nullptr);
    }

    const std::uint8_t fs = scan_.FileSystem();
    Fat.Boot = boot;
    Fat.FsCode = fs;
    Fat.FatType = FatTypeFromBootSector(boot, fs);
    // Without a FAT boot sector to go by: FAT32 when a directory held a high cluster word, else
    // by size as a formatter would choose.
    const std::uint8_t guessed = Lists.Fat32Count >= 1 || sectors_ * setup.SectorBytes > 0x80000000ull ? kFat32 : kFat16;
    bool widthGuessed = Fat.FatType == kFatUnknown;
    if (widthGuessed) Fat.FatType = guessed;
    stage(kStageFatEnum);
    StageFDTs = Lists.FDTs;
    Fat.EnumFATFiles(StageFDTs, callbacks.Progress);
    if (!widthGuessed && Fat.FatType != guessed && Fat.RootSectNum && !Fat.AdvFatChainTrusted()) {
        // The boot sector is not the one the harvested folders were written under (a volume
        // formatted again with another layout): its width says nothing about their entries.
        Fat.FatType = guessed;
        widthGuessed = true;
        StageFDTs = Lists.FDTs;
        Fat.EnumFATFiles(StageFDTs, callbacks.Progress);
    }
    if (widthGuessed && Fat.FatType == kFat16 && Fat.SectorsPerClus > 0 && Fat.RootSectNum && *Fat.RootSectNum >= 0 &&
        (static_cast<std::int64_t>(sectors_) - *Fat.RootSectNum) / Fat.SectorsPerClus < kFat12MaxClusters) {
        // As a formatter chooses: so few clusters make FAT12 (whose entries read as FAT16's).
        Fat.FatType = kFat12;
    }
    stage(kStageFatOrphans);
    Fat.AdvCollectOrphanFatDirs(StageFDTs, Lists.ExFatDirs, callbacks.Progress);
    stage(kStageFatLink);
    Fat.AdvLinkFatEntries(callbacks.Progress);
    stage(kStageExFatTree);
    BuildExFatHierarchy(Lists.FatFileList, treeGeometry.SectorsPerClus, treeGeometry.HeapOffset, ExFatTree,
                        setup.SectorBytes, readOne, callbacks.Progress);
    ExFatGeoDone = ExFatInferred.Geometry.SectorsPerClus > 0;

    if (result.Outcome == PassOutcome::Stopped || stop) return kAdvStopped;
    Phase = 2;
    return kAdvCompleted;
}

std::int64_t AdvancedScan::AdvNtfsVolStart() const {
    if (scan_.FileSystem() == 3) return partitions::PartitionStart(&scan_.Partition());
    return VolumeStart.Solved ? static_cast<std::int64_t>(start_) + VolumeStart.Base : -1;
}

std::int32_t AdvancedScan::ExFatSPC() const {
    if (ExFatInferred.Geometry.SectorsPerClus > 0) return ExFatInferred.Geometry.SectorsPerClus;
    if (ExFatGeoDone || scan_.FileSystem() != 4) return 0;
    return ExFatBootSPC();
}

std::int64_t AdvancedScan::ExFatHeap() const {
    if (ExFatInferred.Geometry.HeapOffset >= 0) return ExFatInferred.Geometry.HeapOffset;
    if (ExFatGeoDone || scan_.FileSystem() != 4) return 0;
    return ExFatBootHeap();
}

std::int32_t AdvancedScan::ExFatBootSPC() const {
    return std::int32_t{1} << (std::to_integer<std::uint8_t>(scan_.Partition().BootSector.Sector[109]) & 31);
}

std::int64_t AdvancedScan::ExFatBootHeap() const {
    return storage::le32(scan_.Partition().BootSector.Sector, 88);
}

std::string AdvancedScan::NtfsPath(const scan::tntfsfilerecord& record) const {
    if (paths_.empty()) {
        for (const auto* r : Lists.NTFSFileList) {
            if (r->recordnumber >= 0) paths_.emplace(r->recordnumber, r);
        }
    }
    std::string path = record.filename;
    std::unordered_set<std::int64_t> seen{record.recordnumber};
    const scan::tntfsfilerecord* at = &record;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        const std::uint64_t parent = at->head.FileReferenceOfParentDir.recordNumber();
        if (parent == kRootRecord || parent == 0) return std::string(kNtfsRoot) + "/" + path;
        const auto p = paths_.find(static_cast<std::int64_t>(parent));
        if (p == paths_.end() || !seen.insert(p->first).second) break;
        at = p->second;
        path = at->filename + "/" + path;
    }
    // A parent that is not there or a loop: the record stands under the root as far as known.
    return std::string(kNtfsRoot) + "/" + path;
}

}  // namespace brenvale::advscan
