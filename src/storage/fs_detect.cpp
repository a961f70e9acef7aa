#include "storage/fs_detect.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "storage/fs_types.h"
#include "storage/le.h"

namespace brenvale::storage {

namespace {

constexpr std::size_t kOemOffset = 3;
constexpr std::size_t kLabelWidth = 8;
constexpr std::size_t kFat16LabelOffset = 54;
constexpr std::size_t kFat32LabelOffset = 82;

constexpr std::size_t kBytesPerSectorOffset = 11;
constexpr std::size_t kSectorsPerClusterOffset = 13;
constexpr std::size_t kReservedSectorsOffset = 14;
constexpr std::size_t kNumberOfFatsOffset = 16;
constexpr std::size_t kRootEntriesOffset = 17;
constexpr std::size_t kSmallSectorsOffset = 19;
constexpr std::size_t kSectorsPerFatOffset = 22;
constexpr std::size_t kLargeSectorsOffset = 32;
constexpr std::size_t kSectorsPerFat32Offset = 36;
constexpr std::size_t kExfatSectorShiftOffset = 108;

constexpr std::int64_t kMaxFat12Clusters = 4084;
constexpr std::int64_t kMaxFat16Clusters = 65524;
constexpr std::uint32_t kMaxClusterBytes = 65536;

char asciiLower(std::byte b) {
    const auto c = std::to_integer<unsigned char>(b);
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// The OEM name with every 0x00 and 0x20 byte dropped, wherever it stands.
std::string compactOemName(std::span<const std::byte> sector) {
    std::string out;
    for (std::byte b : sector.subspan(kOemOffset, kLabelWidth)) {
        if (b != std::byte{0x00} && b != std::byte{0x20}) out += asciiLower(b);
    }
    return out;
}

// Up to 8 characters stopping at a zero byte, lower-cased, trimmed of codes 0 to 32.
std::string label(std::span<const std::byte> sector, std::size_t off) {
    std::string out;
    for (std::byte b : sector.subspan(off, kLabelWidth)) {
        if (b == std::byte{0}) break;
        out += asciiLower(b);
    }
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    const auto first = std::find_if_not(out.begin(), out.end(), blank);
    const auto last = std::find_if_not(out.rbegin(), out.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

bool oneOf(std::uint32_t v, std::initializer_list<std::uint32_t> allowed) {
    return std::find(allowed.begin(), allowed.end(), v) != allowed.end();
}

std::uint8_t fatByGeometry(std::span<const std::byte> s) {
    const std::uint32_t bytesPerSector = le16(s, kBytesPerSectorOffset);
    const std::uint32_t sectorsPerCluster = u8(s, kSectorsPerClusterOffset);
    const std::uint32_t reserved = le16(s, kReservedSectorsOffset);
    const std::uint32_t fats = u8(s, kNumberOfFatsOffset);
    const std::uint32_t rootEntries = le16(s, kRootEntriesOffset);

    if (!oneOf(bytesPerSector, {512, 1024, 2048, 4096})) return kFsUnknown;
    if (!oneOf(sectorsPerCluster, {1, 2, 4, 8, 16, 32, 64, 128})) return kFsUnknown;
    if (sectorsPerCluster * bytesPerSector > kMaxClusterBytes) return kFsUnknown;
    if (reserved < 1 || fats < 1 || fats > 4) return kFsUnknown;

    const std::uint32_t small = le16(s, kSmallSectorsOffset);
    const std::uint32_t large = le32(s, kLargeSectorsOffset);
    const std::uint32_t fat16Size = le16(s, kSectorsPerFatOffset);
    const std::uint32_t fat32Size = le32(s, kSectorsPerFat32Offset);

    std::int64_t fatSize = 0;
    std::int64_t total = 0;
    std::int64_t rootSectors = 0;
    if (rootEntries == 0 && fat16Size == 0 && fat32Size > 0) {
        fatSize = fat32Size;
        total = large != 0 ? large : small;
    } else {
        fatSize = fat16Size;
        total = small != 0 ? small : large;
        rootSectors = (std::int64_t{rootEntries} * 32 + bytesPerSector - 1) / bytesPerSector;
    }
    if (fatSize < 1 || total <= 0) return kFsUnknown;

    // All terms are below 2^40, so signed 64-bit arithmetic cannot overflow.
    const std::int64_t data = total - (reserved + std::int64_t{fats} * fatSize + rootSectors);
    if (data <= 0) return kFsUnknown;

    const std::int64_t clusters = data / sectorsPerCluster;
    if (clusters <= kMaxFat12Clusters) return kFsFat12;
    if (clusters <= kMaxFat16Clusters) return kFsFat16;
    return kFsFat32;
}

}  // namespace

std::uint8_t DetectFileSystemByLayout(std::span<const std::byte> sector) {
    if (sector.size() < kBootSectorSize) return kFsUnknown;
    if (le16(sector, kBootSignatureOffset) != kBootSignature) return kFsUnknown;
    const std::string oem = compactOemName(sector);
    if (oem == "ntfs") return kFsNtfs;
    if (oem == "exfat") return kFsExfat;
    return fatByGeometry(sector);
}

std::uint8_t DetectFileSystemByLabel(std::span<const std::byte> sector) {
    if (sector.size() < kBootSectorSize) return kFsUnknown;
    const std::string fat16Label = label(sector, kFat16LabelOffset);
    if (fat16Label == "fat12") return kFsFat12;
    if (fat16Label == "fat16") return kFsFat16;
    if (label(sector, kFat32LabelOffset) == "fat32") return kFsFat32;
    const std::string oem = label(sector, kOemOffset);
    if (oem == "ntfs") return kFsNtfs;
    if (oem == "exfat") return kFsExfat;
    return kFsUnknown;
}

std::uint8_t DetectFileSystem(std::span<const std::byte> sector) {
    const std::uint8_t byLayout = DetectFileSystemByLayout(sector);
    const std::uint8_t byLabel = DetectFileSystemByLabel(sector);
    return byLayout != kFsUnknown ? byLayout : byLabel;
}

TBootSector MakeBootSector(std::span<const std::byte> sector) {
    TBootSector boot{};
    const std::size_t n = std::min(sector.size(), boot.Sector.size());
    std::copy_n(sector.begin(), n, boot.Sector.begin());
    boot.FileSystemType = DetectFileSystem(sector);
    return boot;
}

std::uint32_t VolumeBytesPerSector(const TBootSector& boot, std::uint32_t deviceSectorSize) {
    switch (boot.FileSystemType) {
        case kFsFat12:
        case kFsFat16:
        case kFsFat32:
        case kFsNtfs:
            return le16(boot.Sector, kBytesPerSectorOffset);
        case kFsExfat:
            return std::uint32_t{1} << (u8(boot.Sector, kExfatSectorShiftOffset) & 31);
        default:
            return deviceSectorSize;
    }
}

std::uint64_t VolumeSectorCount(std::span<const std::byte> sector, std::uint8_t fs) {
    switch (fs) {
        case kFsFat12:
        case kFsFat16: {
            const std::uint16_t small = le16(sector, 19);
            return small ? small : le32(sector, 32);
        }
        case kFsFat32: return le32(sector, 32);
        case kFsNtfs: return le64(sector, 40);
        case kFsExfat: return le64(sector, 72);
        default: return 0;
    }
}

}  // namespace brenvale::storage
