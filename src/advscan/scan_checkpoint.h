#pragma once
// The scan checkpoint (".qvc"): everything a stopped advanced scan had gathered and where it
// stood, so a later run of the program goes on from there; the same file keeps a completed
// scan's results. The record is filled from a scan for writing (its lists then point at the
// scan's own entries) or by the reader (it then owns every entry it holds).
//
// Layout, little-endian: the magic "QVSCP001", the version, the source (type, image path, start
// sector, volume serial, file-system code, label), the standard-scan progress, the phase, then
// the source's identity (device kind, number, model, size and sector size, object size), the
// finished folder clusters and the standard scan's entries. With a phase other than 0 the
// harvest follows: the range, the FAT directory sectors, the geometry, the harvested NTFS
// records and exFAT entries, the records waiting for their extension records, the sectors
// held back at the stop, the votes, the exFAT sectors and the signature scan's state.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "advscan/harvest.h"
#include "scan/mid_entry.h"
#include "scan/ntfs_entry.h"

namespace brenvale::raw {
class RawScan;
}

namespace brenvale::advscan {

inline constexpr std::array<char, 8> kScanCheckpointMagic{'Q', 'V', 'S', 'C', 'P', '0', '0', '1'};
inline constexpr std::uint32_t kScanCheckpointVersion = 8;
inline constexpr char kScanCheckpointExt[] = ".qvc";
inline constexpr char kDefaultCheckpointName[] = "scan.qvc";
inline constexpr char kAdvScanCheckpointName[] = "adv_scan.qvc";

// LoadScanCheckpoint results.
inline constexpr int kCheckpointLoaded = 0;
inline constexpr int kCheckpointMissing = 1;
inline constexpr int kCheckpointInvalid = 2;

// Entry tags: each entry says which record it is, whatever the volume's file system.
inline constexpr std::uint8_t kTagFat = 0;    // FAT12/16 TMidEntry
inline constexpr std::uint8_t kTagFat32 = 1;  // TMidEntry32
inline constexpr std::uint8_t kTagNtfs = 2;   // tntfsfilerecord
inline constexpr std::uint8_t kTagExFat = 3;  // exFAT TMidEntry
inline constexpr std::uint32_t kNoParent = 0xFFFFFFFF;

// The folder an entry lies in, as its record says; null when none.
const scan::TScanEntry* EntryParentOf(const scan::TScanEntry* e);

// Who the scanned source is, beyond its start sector: a checkpoint of another disk of the same
// layout, or of an image that was replaced, is refused.
struct TCheckpointSource {
    std::uint8_t DeviceType = 0;   // storage::kDevicePhysical, kDeviceVolume, kDeviceImage
    std::uint8_t DeviceNum = 0;
    std::string Model;             // the drive's model; empty for images
    std::uint64_t DeviceSectors = 0;
    std::uint32_t SectorBytes = 0;
    std::uint64_t ObjectSectors = 0;
    bool operator==(const TCheckpointSource&) const = default;
};

struct TCheckpointData {
    std::uint8_t SourceType = 0;  // 1: a drive image
    std::string SourceId;         // the image's absolute path; empty for drives
    std::int64_t PartiStartLBA = 0;
    std::int64_t VolumeSerial = -1;
    std::uint8_t FS = 255;
    std::string VolumeLabel;
    std::uint8_t ScanMode = 2;
    std::uint8_t Progress = 0;
    std::int64_t LastRecordNum = 0;
    bool Complete = false;
    std::uint32_t RecordCount = 0;
    std::uint8_t AdvPhase = 0;
    TCheckpointSource Source;
    std::vector<std::uint32_t> DoneClus;
    std::vector<scan::TScanEntry*> Records;
    // Read back: each record's folder as an index into Records (kNoParent: none).
    std::vector<std::uint32_t> RecordParents;

    // Only with AdvPhase other than 0. Sectors are relative to PartiStartLBA.
    std::int64_t AdvLBA = 0;
    std::int64_t AdvLBAEnd = -1;
    std::vector<std::int64_t> AdvFDTs;
    std::int32_t AdvFat32Count = 0;
    std::int32_t AdvSectorsPerClus = 0;
    std::int32_t AdvRootSectNum = 0;
    std::vector<std::uint32_t> AdvScannedDirSectors;
    std::vector<scan::tntfsfilerecord*> AdvNTFSFileList;
    std::vector<scan::TMidEntry*> AdvFatFileList;
    SpcVotes AdvStats{};
    std::vector<std::int64_t> AdvExFatDirs;
    std::uint32_t AdvExFatCount = 0;
    std::uint32_t AdvRecordLength = 0;
    std::vector<HarvestLists::Deferred> AdvDeferred;
    std::unordered_map<std::int64_t, std::int64_t> AdvExtensionRecords;
    std::vector<std::byte> AdvHeldBack;
    std::int64_t AdvHeldBackRel = -1;
    // Writing: the scan whose signature-scan state is written. Reading: that state's bytes,
    // checked, for RawScan::LoadState.
    const raw::RawScan* AdvRaw = nullptr;
    std::vector<std::byte> AdvRawState;

    // The entries the reader made; the lists above point into them.
    std::deque<scan::TMidEntry> OwnedMid;
    std::deque<scan::TMidEntry32> OwnedMid32;
    std::deque<scan::tntfsfilerecord> OwnedNtfs;
};

using CheckpointFilter = std::function<bool(const scan::TScanEntry*)>;

// The file's bytes; `filter` (optional) chooses the entries of Records that are written.
// Empty when a string or a count does not fit the format.
std::vector<std::byte> EncodeScanCheckpoint(const TCheckpointData& data, const CheckpointFilter& filter = {});
// The record from a file's bytes: kCheckpointLoaded or kCheckpointInvalid (a bad magic or
// version, an unknown tag, a count or length the bytes left cannot hold, a value out of its
// range, a type outside the catalogue). On failure `data` is left empty.
int DecodeScanCheckpoint(std::span<const std::byte> bytes, TCheckpointData& data);

// Written to a temporary file in the same folder, flushed and renamed into place: an older
// checkpoint there is replaced whole or kept. True when the whole file was written.
bool SaveScanCheckpoint(const std::string& fileName, const TCheckpointData& data, const CheckpointFilter& filter = {});
// kCheckpointLoaded, kCheckpointMissing or kCheckpointInvalid; on the last two `data` is empty.
int LoadScanCheckpoint(const std::string& fileName, TCheckpointData& data);
// Disposes every entry a loaded record owns and empties it.
void FreeScanCheckpoint(TCheckpointData& data);

}  // namespace brenvale::advscan
