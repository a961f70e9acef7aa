#pragma once
// The 32-byte FAT directory entry, in its FAT12/16 and FAT32 readings.

#include <array>
#include <cstddef>
#include <cstdint>

#include "storage/boot_sectors.h"

namespace brenvale::storage {

inline constexpr std::size_t kFatDirEntrySize = 32;

inline constexpr std::uint8_t kFatAttrReadOnly = 0x01;
inline constexpr std::uint8_t kFatAttrHidden = 0x02;
inline constexpr std::uint8_t kFatAttrSystem = 0x04;
inline constexpr std::uint8_t kFatAttrVolumeLabel = 0x08;
inline constexpr std::uint8_t kFatAttrDirectory = 0x10;
inline constexpr std::uint8_t kFatAttrArchive = 0x20;
inline constexpr std::uint8_t kFatAttrLongName = 0x0F;  // the whole byte, not a bit
inline constexpr std::uint8_t kFatDeletedMark = 0xE5;   // first name byte of a deleted entry

#pragma pack(push, 1)

struct TFDTEntry {
    TArray8 filename;
    std::array<char, 3> fileext;
    std::uint8_t attribute;
    std::uint16_t reserved;
    std::uint16_t createtime;
    std::uint16_t createdate;
    std::uint16_t accessdate;
    std::uint16_t reserved1;
    std::uint16_t updatetime;
    std::uint16_t updatedate;
    std::uint16_t firstclusternumber;
    std::uint32_t filesize;
};

struct TFDT32Entry {
    TArray8 filename;
    std::array<char, 3> fileext;
    std::uint8_t attribute;
    std::uint16_t reserved;
    std::uint16_t createtime;
    std::uint16_t createdate;
    std::uint16_t accessdate;
    std::uint16_t hi1stclusternumber;
    std::uint16_t updatetime;
    std::uint16_t updatedate;
    std::uint16_t lo1stclusternumber;
    std::uint32_t filesize;

    std::uint32_t firstCluster() const {
        return (std::uint32_t{hi1stclusternumber} << 16) | lo1stclusternumber;
    }
};

#pragma pack(pop)

static_assert(sizeof(TFDTEntry) == kFatDirEntrySize);
static_assert(sizeof(TFDT32Entry) == kFatDirEntrySize);
static_assert(offsetof(TFDTEntry, attribute) == 11);
static_assert(offsetof(TFDTEntry, reserved1) == 20);
static_assert(offsetof(TFDTEntry, firstclusternumber) == 26);
static_assert(offsetof(TFDTEntry, filesize) == 28);
static_assert(offsetof(TFDT32Entry, hi1stclusternumber) == 20);
static_assert(offsetof(TFDT32Entry, lo1stclusternumber) == 26);

}  // namespace brenvale::storage
