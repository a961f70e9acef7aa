#pragma once
// TPhysicalDrv: the partition tree of a physical drive or a drive image (MBR with its
// extended chain, or GPT), free-space stretches, where each volume is on this system, and the
// search for partitions that no table lists any more.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "partitions/partition.h"
#include "platform/platform.h"
#include "storage/device.h"

namespace brenvale::partitions {

// Progress of the lost-partition search, in percent.
using TOnScan = std::function<void(int)>;

// Results of DetectLostParti.
enum : int { kSearchDone = 0, kSearchStopped = 1, kSearchDeviceAborted = 2, kSearchNothingDone = -1 };

// The fingerprint a search starts with: no boot sector seen yet.
inline constexpr std::uint32_t kNoFingerprint = 0x00001F1F;

// Free stretches up to this many sectors are not worth a record.
inline constexpr std::int64_t kMinFreeSpaceSectors = 2048;

class TPhysicalDrv {
public:
    // Physical drive DrvNum (0x80 + n); the device's exception passes to the caller.
    TPhysicalDrv(platform::Platform& os, std::uint8_t DrvNum);
    // A drive image (".dif" or raw); the device's exception passes to the caller.
    TPhysicalDrv(platform::Platform& os, const std::string& DrvImg, std::uint32_t rawSectorSize = 0);
    // A device opened by the caller (a block device given by path, say).
    TPhysicalDrv(platform::Platform& os, std::unique_ptr<storage::TDevice> device);
    TPhysicalDrv(const TPhysicalDrv&) = delete;
    TPhysicalDrv& operator=(const TPhysicalDrv&) = delete;
    ~TPhysicalDrv();

    // Searches Blocks sectors from PartitionStart(Parti) + LBA for boot sectors of volumes no
    // table lists. Returns kSearchDone, kSearchStopped, kSearchDeviceAborted or kSearchNothingDone.
    int DetectLostParti(TPartition* Parti, std::int64_t LBA, std::int64_t Blocks, bool Quick);
    void TerminateProgress();

    // A link to the next extended boot record (an extended entry below the MBR).
    bool IsInnerExtParti(const TPartition* Parti) const;
    // The GPT type name of a GPT record, else empty.
    std::string GptTypeName(const TPartition* P) const;

    std::unique_ptr<storage::TDevice> Device;
    std::atomic<bool> Processing{false};
    TPartition Partition;                    // the whole-disk record
    std::vector<TPartition*> PartitionList;  // disk record first, the rest by PartitionStart
    std::vector<TPartition*> LostPartitionList;
    std::int32_t PartitionCount = 0;
    std::int64_t ExtParti_SectNum = 0;
    std::int64_t ResumeCurrLBA = 0;
    std::vector<TPartition> ResumeLostParts;  // restored from a checkpoint before a resumed search
    // The fingerprint the search had last seen when it reached ResumeCurrLBA. A resumed search
    // needs it to skip the copies of a boot sector met before the stop, as an uninterrupted
    // one does; when it is unknown (an older checkpoint) the search looks it up on the disk.
    std::optional<std::uint32_t> ResumeLastPrint;
    TPartition* QuickLastParti = nullptr;
    std::atomic<bool> Terminated{false};
    TOnScan FOnScan;
    // Called once per batch of the search so the front end can process its events.
    std::function<void()> FOnPump;
    // Receives the message of an error that ended a search (caption "DetectLostParti").
    std::function<void(const std::string&)> FOnError;

private:
    void build();
    TPartition* newRecord();
    void readTopLevelTable();
    void readMbrChain(TPartition* P, int depth);
    void readGpt();
    void fillRecord(TPartition* rec, const storage::TPartitionEntry& entry, TPartition* parent);
    void readBootSector(TPartition* rec, std::int64_t lba);
    void addSuperfloppy();
    // Whether the first sector is the boot sector of a file system this program reads.
    bool sectorZeroHoldsVolume();
    void clipToImage();
    void addFreeSpace();
    void addFreeRecord(TPartition* parent, std::int64_t from, std::int64_t to);
    void sortList();
    void quickProbe(TPartition* gap);
    // The fingerprint of the last boot-sector candidate in [from, to), kNoFingerprint when
    // there is none; nullopt when the search was stopped or a read failed on the way.
    std::optional<std::uint32_t> lastPrintBefore(std::int64_t from, std::int64_t to, std::int64_t batch);
    void GetDriveLetter(TPartition* Parti);

    platform::Platform& FOs;
    std::vector<std::unique_ptr<TPartition>> FRecords;  // owns every record but the disk's
    std::unordered_set<std::int64_t> FTablesRead;       // guards the extended chain against loops
    std::vector<platform::BlockDeviceInfo> FSystemParts;  // this disk's partitions, for VolumePath
    std::string FDiskVolumePath;
    std::int32_t FNextLogical = 5;  // the number of the next logical partition of the chain
};

}  // namespace brenvale::partitions
