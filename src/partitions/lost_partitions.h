#pragma once
// The plausibility check of a found boot sector, shared by the lost-partition search and the
// checkpoint loader.

#include <cstdint>
#include <span>

#include "partitions/partition.h"

namespace brenvale::partitions {

// True when P's boot sector describes a volume that can exist. DeviceSectors 0 skips the
// bounds part (records restored from a checkpoint).
bool IsPlausibleLostPartition(const TPartition& P, std::uint64_t DeviceSectors);

// Builds the record of a lost volume whose boot sector `sector` (file-system code `fs`) lies at
// absolute sector `lba`; `imageSectors` > 0 clips it to an image of that many sectors.
TPartition MakeLostPartition(std::span<const std::byte> sector, std::uint8_t fs, std::uint64_t lba,
                             std::uint32_t deviceSectorSize, std::uint64_t imageSectors);

}  // namespace brenvale::partitions
