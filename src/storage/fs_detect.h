#pragma once
// Which file system a boot sector belongs to: the layout of its parameter block first, its
// type labels only when the layout says nothing.

#include <cstdint>
#include <span>

#include "storage/boot_sectors.h"

namespace brenvale::storage {

// The code from the signature, the OEM name and the FAT geometry; 255 when they do not fit.
std::uint8_t DetectFileSystemByLayout(std::span<const std::byte> sector);

// The code from the type labels at 54 and 82 and the OEM name; ignores the signature.
std::uint8_t DetectFileSystemByLabel(std::span<const std::byte> sector);

// The layout result unless it is 255, else the label result. Every test gives 255 for fewer
// than 512 bytes.
std::uint8_t DetectFileSystem(std::span<const std::byte> sector);

// The first 512 bytes of `sector` (zero-padded if it is shorter) and their file-system code.
TBootSector MakeBootSector(std::span<const std::byte> sector);

// Sector size of a volume: its boot sector's for codes 0 to 4, the device's otherwise.
std::uint32_t VolumeBytesPerSector(const TBootSector& boot, std::uint32_t deviceSectorSize);

// The sector count a boot sector of file system `fs` claims for its volume: FAT12/16
// SmallSectors (LargeSectors when 0), FAT32 LargeSectors, NTFS TotalSectors, exFAT
// VolumeLength; 0 for any other code.
std::uint64_t VolumeSectorCount(std::span<const std::byte> sector, std::uint8_t fs);

}  // namespace brenvale::storage
