#pragma once
// The partition-scan checkpoint: where a stopped lost-partition search stood and what it had
// found, so the next scan of the same drive can continue from there.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "partitions/partition.h"

namespace brenvale::partitions {

inline constexpr std::array<char, 8> kPartiCheckpointMagic{'Q', 'V', 'P', 'C', 'P', '0', '0', '1'};
// Written; 1 to 3 are read. Version 3 adds the search's last fingerprint after RefPartiStart.
inline constexpr std::uint32_t kPartiCheckpointVersion = 3;
inline constexpr char kPartiCheckpointFileName[] = "parti_scan.prc";
// Bytes of a stored partition record besides its label.
inline constexpr std::size_t kPartiRecordFixedSize = 589;
// Thousands of lost partitions fit in a few MiB; anything past this is not a checkpoint, and
// the loader reads the whole file into memory.
inline constexpr std::size_t kMaxPartiCheckpointBytes = std::size_t{64} << 20;

// LoadPartiCheckpoint results.
inline constexpr int kPartiCheckpointLoaded = 0;
inline constexpr int kPartiCheckpointMissing = 1;
inline constexpr int kPartiCheckpointInvalid = 2;

struct TPartiCheckpointData {
    std::uint8_t SourceType = 0;  // 0 physical drive, 1 volume, 2 image
    std::string SourceId;         // image file path; empty for drives
    std::uint8_t DeviceNum = 0;   // 0x80 + n for a physical drive
    std::int64_t PartiStartLBA = 0;
    std::uint8_t FS = 0;
    std::int64_t LBA = 0, Blocks = 0, CurrLBA = 0;
    std::uint8_t RefFrame = 0;  // 1: the range is shown relative to RefPartiStart
    std::int64_t RefPartiStart = 0;
    // The fingerprint the search had last seen at CurrLBA (ResumeLastPrint); versions 1 and 2
    // do not hold it.
    std::optional<std::uint32_t> LastPrint;
    // Stored without Children, Parent, ClaimedSectCount and VolumePath.
    std::vector<TPartition> Partitions;
};

// Writes version 3 to a temporary file beside FileName, flushes it to the disk and renames it
// into place (storage::saveFileAtomically), so an existing checkpoint is replaced whole or not
// at all. False on any error.
bool SavePartiCheckpoint(const std::string& FileName, const TPartiCheckpointData& Data);

// 0 loaded, 1 no such file, 2 invalid. Records the plausibility check refuses are dropped.
// Data is reset first, so on 1 and 2 it is empty.
int LoadPartiCheckpoint(const std::string& FileName, TPartiCheckpointData& Data);

// Releases the stored partition records.
void FreePartiCheckpoint(TPartiCheckpointData& Data);

// The configured path when set, else "parti_scan.prc" in the data folder.
std::string PartiCheckpointPath(const std::string& configured, const std::string& dataDir);

}  // namespace brenvale::partitions
