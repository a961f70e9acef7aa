#pragma once
// The 512-byte descriptor at the end of a drive image, its checksum, and the prefix (synthetic
// MBR and padding) that makes a volume image loadable as a disk.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/drive_params.h"

namespace brenvale::storage {

inline constexpr std::size_t kImageDescriptorSize = 512;
// The checksum covers the descriptor up to, not including, its CRC field.
inline constexpr std::size_t kDescriptorCrcSpan = 70;
inline constexpr std::array<char16_t, 10> kImageVersion{u'D', u'S', u'K', u'I', u'M',
                                                        u'G', u'0', u'1', u'0', u'1'};

// SourceType values (the source device's type).
inline constexpr std::uint8_t kImageSourcePhysicalDrive = 0;
inline constexpr std::uint8_t kImageSourceVolume = 1;
inline constexpr std::uint8_t kImageSourceImage = 2;

#pragma pack(push, 1)

struct TImageDescriptor {
    std::array<char16_t, 10> Version;  // "DSKIMG0101", no terminator
    TDriveParams Params;
    std::uint8_t SourceType;
    std::uint64_t LBA0;     // first source sector copied
    std::uint64_t Sectors;  // sectors in front of the descriptor, prefix included
    std::uint8_t Compressed;
    std::uint32_t BytesPerSector;
    std::uint32_t CRC;
    std::array<std::uint8_t, 438> Reserved;
};

#pragma pack(pop)

static_assert(sizeof(TImageDescriptor) == kImageDescriptorSize);
static_assert(offsetof(TImageDescriptor, Params) == 20);
static_assert(offsetof(TImageDescriptor, SourceType) == 48);
static_assert(offsetof(TImageDescriptor, LBA0) == 49);
static_assert(offsetof(TImageDescriptor, Sectors) == 57);
static_assert(offsetof(TImageDescriptor, Compressed) == 65);
static_assert(offsetof(TImageDescriptor, BytesPerSector) == 66);
static_assert(offsetof(TImageDescriptor, CRC) == kDescriptorCrcSpan);

// CRC-32 with the reflected 0xEDB88320 table, initial value 0 and no final inversion, over all
// of `data` (for a descriptor: its first kDescriptorCrcSpan bytes).
std::uint32_t ImageDescriptorCrc(std::span<const std::byte> data);

// The checksum of a descriptor's first kDescriptorCrcSpan bytes, and whether CRC holds it.
std::uint32_t descriptorCrc(const TImageDescriptor& desc);
bool descriptorCrcMatches(const TImageDescriptor& desc);

// A descriptor with Version, the given fields, Compressed 0, zero Reserved bytes and its CRC.
TImageDescriptor MakeImageDescriptor(const TDriveParams& params, std::uint8_t sourceType,
                                     std::uint64_t lba0, std::uint64_t sectors,
                                     std::uint32_t bytesPerSector);

// Sectors in front of a volume image's data: (s + 32255) div s, so 63 for 512-byte sectors.
// A sector size of 0 counts as 512.
std::uint32_t ImagePrefixSectors(std::uint32_t bytesPerSector);

// Sector 0 of the prefix: one entry of type `systemFlag` starting at `prefixSectors` and
// covering the low 32 bits of `copiedSectors`, then 0xAA55. For sectors larger than 512 bytes
// the rest of the sector is zeros.
std::array<std::byte, 512> SyntheticMbr(std::uint8_t systemFlag, std::uint32_t prefixSectors,
                                        std::uint64_t copiedSectors);

// The caller's `mbrType` when it is not 0, else the type for the file-system code.
std::uint8_t MbrTypeFor(std::uint8_t fileSystem, std::uint8_t mbrType);

}  // namespace brenvale::storage
