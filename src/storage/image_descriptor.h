#pragma once
// The 512-byte descriptor at the end of a drive image, its checksum, and the prefix (synthetic
// MBR and padding) that makes a volume image loadable as a disk.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "storage/drive_params.h"

namespace brenvale::storage {

inline constexpr std::size_t kImageDescriptorSize = 512;
// The checksum covers the descriptor up to, not including, its CRC field.
inline constexpr std::size_t kDescriptorCrcSpan = 70;
// "DSKIMG0101" as ten UTF-16LE characters, no terminator.
inline constexpr std::array<std::uint8_t, 20> kImageVersion = [] {
    constexpr std::u16string_view text = u"DSKIMG0101";
    std::array<std::uint8_t, 20> v{};
    for (std::size_t i = 0; i < text.size(); ++i) {
        v[2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
        v[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
    }
    return v;
}();

// SourceType values (the source device's type).
inline constexpr std::uint8_t kImageSourcePhysicalDrive = 0;
inline constexpr std::uint8_t kImageSourceVolume = 1;
inline constexpr std::uint8_t kImageSourceImage = 2;

// Arrays are byte arrays so that no member needs more than byte alignment.
#pragma pack(push, 1)

struct TImageDescriptor {
    std::array<std::uint8_t, 20> Version;  // kImageVersion
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
