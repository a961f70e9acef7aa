#pragma once
// The advanced scan of one scan object: the silent standard scan first (what it finds is not
// harvested again), then one pass over the object that harvests file-system records and runs
// the signature scan, then the stages that make sense of the NTFS records. Its state lives here,
// beside the scan object, so a stopped scan can go on where it stopped.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "advscan/exfat_stages.h"
#include "advscan/fat_stages.h"
#include "advscan/harvest.h"
#include "advscan/harvest_pass.h"
#include "advscan/ntfs_stages.h"

namespace brenvale::scan {
class TUndelete;
}
namespace brenvale::raw {
class RawScan;
}

namespace brenvale::advscan {

// Results of AdvScan.
inline constexpr int kAdvCompleted = 0;
inline constexpr int kAdvStopped = 1;
inline constexpr int kAdvDeviceLost = 2;

inline constexpr char kStageSortNtfs[] = "Advanced scan: sorting NTFS records...";
inline constexpr char kStageNtfsGeometry[] = "Advanced scan: solving NTFS geometry...";
inline constexpr char kStageNtfsExtra[] = "Advanced scan: rebuilding extra NTFS records...";
inline constexpr char kStageNtfsLink[] = "Advanced scan: linking NTFS records to parents...";
inline constexpr char kStageFatEnum[] = "Advanced scan: enumerating FAT entries...";
inline constexpr char kStageFatOrphans[] = "Advanced scan: collecting orphan FAT dirs...";
inline constexpr char kStageFatLink[] = "Advanced scan: linking FAT records to parents...";
inline constexpr char kStageExFatTree[] = "Advanced scan: rebuilding exFAT hierarchy...";
inline constexpr char kAdvancedExtra[] = "!!! Advanced Extra !!!";
inline constexpr char kNtfsRoot[] = "NTFS Root";

struct AdvCallbacks {
    std::function<void(const std::string& stage)> Stage;  // a stage begins
    std::function<void(int percent)> Progress;            // of the pass or of the stage running
};

class AdvancedScan {
public:
    // The object is `sectors` device sectors from absolute sector `start`; a whole disk, a
    // volume or a free stretch. `raw` gets every batch.
    AdvancedScan(scan::TUndelete& scan, raw::RawScan& raw, std::uint64_t start, std::uint64_t sectors);

    // Runs the scan (or goes on with a stopped one): kAdvCompleted, kAdvStopped (the stages
    // still ran on what was harvested) or kAdvDeviceLost.
    int AdvScan(const std::atomic<bool>& stop, const AdvCallbacks& callbacks = {});

    // The range to read, absolute and inclusive; AdvRangeEnd below 0: the whole object.
    std::int64_t AdvRangeStart = 0;
    std::int64_t AdvRangeEnd = -1;
    // Skip the standard scan once (a resumed scan has it already).
    bool SkipNormalScan = false;

    // State between a stop and a resume, and the results.
    std::uint8_t Phase = 0;            // 0 not started, 1 the pass began, 2 all done without a stop
    std::int64_t StopLba = -1;         // absolute first sector of the next batch to read; -1: fresh
    HarvestLists Lists;
    KnownSets Known;
    std::int32_t SectorsPerClusNtfs = 0;
    NtfsFolders Folders;
    NtfsVolumeStart VolumeStart;       // relative to the object's start
    std::uint32_t BootRecordLength = 0;  // 0: the boot sector gave none
    FatRebuild Fat;                      // the FAT entries, their geometry and tree
    ExFatInference ExFatInferred;        // the exFAT geometry the entry sets imply
    ExFatFolders ExFatTree;              // their folders and tree
    bool ExFatGeoDone = false;           // an inference ran: the boot sector no longer answers
    // The FAT directory sectors as the FAT stages left them (they use some up); Lists.FDTs
    // stays as harvested, so the stages can run again after a resume.
    std::vector<std::int64_t> StageFDTs;
    // What the standard-scan stage last reported: a checkpoint taken in that stage resumes it.
    std::uint8_t StandardProgress = 0;
    std::int64_t StandardLastRecord = 0;
    std::vector<std::uint32_t> StandardDoneClus;  // FAT folders finished, subfolders included
    std::vector<std::string> DiagLines;  // also appended to the diagnostic log
    std::string DiagLogPath;             // "hh:mm:ss.zzz  line" appended here; empty: no file

    scan::TUndelete& Scan() const { return scan_; }
    raw::RawScan& Raw() const { return raw_; }
    std::uint64_t ObjectStart() const { return start_; }
    std::uint64_t ObjectSectors() const { return sectors_; }
    // Absolute first sector of the NTFS volume: the object's own when it is an NTFS volume,
    // else the solved start; -1 when unknown.
    std::int64_t AdvNtfsVolStart() const;
    // exFAT sectors per cluster and relative sector of cluster 2: inferred, else (before any
    // inference on an exFAT volume) the boot sector's; 0 when unknown.
    std::int32_t ExFatSPC() const;
    std::int64_t ExFatHeap() const;
    // "NTFS Root/Users/Documents/report.txt" for a harvested record: its parents' names up to
    // the root folder (record 5); a parent chain that loops or breaks ends at the record.
    std::string NtfsPath(const scan::tntfsfilerecord& record) const;

private:
    // The boot sector's exFAT sectors per cluster and relative sector of cluster 2.
    std::int32_t ExFatBootSPC() const;
    std::int64_t ExFatBootHeap() const;
    void diag(const std::string& line);
    void buildKnownSets();

    scan::TUndelete& scan_;
    raw::RawScan& raw_;
    std::uint64_t start_;
    std::uint64_t sectors_;
    // Harvested records by number, for the paths; built on first use after a scan.
    mutable std::unordered_map<std::int64_t, const scan::tntfsfilerecord*> paths_;
};

}  // namespace brenvale::advscan
