#pragma once
// TPartition: one record of a drive's partition tree: a partition listed by a table, a
// free-space stretch, a link of the extended chain, the whole-disk record, or a lost
// partition found by the search.

#include <cstdint>
#include <string>
#include <vector>

#include "storage/boot_sectors.h"
#include "storage/gpt_types.h"
#include "storage/partition_table.h"

namespace brenvale::partitions {

struct TPartition {
    char16_t DriveLetter = 0;        // always 0 on Linux; see VolumePath
    std::string VolLabel;            // GPT partition name (UTF-8), empty for MBR partitions
    storage::TPartitionEntry Entry{};
    std::int64_t BaseLBA = 0;        // absolute sector Entry.SectNum is relative to
    std::vector<TPartition*> Children;  // borrowed: the drive object owns every record
    storage::TBootSector BootSector{255, {}};
    std::uint32_t BytesPerSector = 512;
    std::uint64_t Attributes = 0;    // GPT attribute bits
    storage::Guid GptTypeGuid{};
    std::int64_t SectCount64 = 0;    // 0: not set
    std::int64_t SectNum64 = 0;      // 0: not set
    std::int64_t ClaimedSectCount = 0;  // size the table claims when an image ends inside it
    TPartition* Parent = nullptr;
    bool Primary = false;
    bool Active = false;
    // Where the volume is on this system: its mount point, or its device name when it is
    // not mounted; empty when no block device matches. Stands where a drive letter would.
    std::string VolumePath;
    // Its number on its disk as the system counts them: MBR slots 1 to 4, logical partitions
    // from 5 in chain order, GPT entries from 1. 0 for records no table lists.
    std::int32_t Number = 0;
};

// Absolute first sector; 0 for a missing record.
std::int64_t PartitionStart(const TPartition* p);
// Size in sectors; 0 for a missing record.
std::int64_t PartitionSize(const TPartition* p);
// Hidden MBR types (bit 0x10) and the GPT hidden / no-drive-letter attributes (bits 62, 63).
bool PartitionHidden(const TPartition* p);

bool IsExtendedType(std::uint8_t systemFlag);

// No real disk has this many sectors (128 PiB of 512-byte sectors); larger starts and sizes read
// from a table or a boot sector are garbage, and capping them keeps every sum of starts and
// sizes far from overflowing.
inline constexpr std::uint64_t kMaxSectors = std::uint64_t{1} << 48;

}  // namespace brenvale::partitions
