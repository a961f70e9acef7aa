#pragma once
// Where a path lives on the physical disks: used to refuse destinations (recovered files,
// images, checkpoints) on the very disk area being read.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace brenvale::storage {

struct TPhysExtent {
    std::uint32_t DiskNumber = 0;  // 0-based index of the physical drive (drive number - 0x80)
    std::int64_t StartByte = 0;
    std::int64_t LenByte = 0;
};
using TPhysExtents = std::vector<TPhysExtent>;

inline constexpr std::size_t kMaxExtents = 32;

// The extents of the volume holding Path (at most 32, in the order reported). True when there
// is at least one.
bool PathDiskExtents(platform::Platform& os, const std::string& Path, TPhysExtents& Extents);

// True when an extent of Path's volume on DiskNumber overlaps [FromByte, ToByte).
bool PathOverlapsDiskRange(platform::Platform& os, const std::string& Path, int DiskNumber, std::int64_t FromByte,
                           std::int64_t ToByte);

// Disk and first sector (in 512-byte units, whatever the sector size) of volume 1..26.
bool VolumeFirstExtent(platform::Platform& os, std::uint8_t VolumeNumber, std::uint8_t& DiskNumber,
                       std::int64_t& StartSector);

// Disk index and first byte on that disk of the block device at `devicePath` (a whole disk
// or one of its partitions). False for anything that is not a listed block device.
bool DeviceDiskPosition(platform::Platform& os, const std::string& devicePath, std::uint32_t& DiskNumber,
                        std::int64_t& StartByte);

}  // namespace brenvale::storage
