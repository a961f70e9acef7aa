#pragma once
// File-system codes as stored in boot-sector copies, partition records and checkpoints.

#include <cstdint>
#include <string_view>

namespace brenvale::storage {

inline constexpr std::uint8_t kFsFat12 = 0;
inline constexpr std::uint8_t kFsFat16 = 1;
inline constexpr std::uint8_t kFsFat32 = 2;
inline constexpr std::uint8_t kFsNtfs = 3;
inline constexpr std::uint8_t kFsExfat = 4;
inline constexpr std::uint8_t kFsUnknown = 255;

// "FAT12" ... "exFAT"; every other code is "Unknown".
constexpr std::string_view FileSystemName(std::uint8_t code) {
    switch (code) {
        case kFsFat12:
            return "FAT12";
        case kFsFat16:
            return "FAT16";
        case kFsFat32:
            return "FAT32";
        case kFsNtfs:
            return "NTFS";
        case kFsExfat:
            return "exFAT";
        default:
            return "Unknown";
    }
}

}  // namespace brenvale::storage
