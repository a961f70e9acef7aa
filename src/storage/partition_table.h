#pragma once
// Partition-table sectors (MBR and extended boot records), the type bytes the program gives a
// meaning, and the GPT header fields and entry record.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "storage/gpt_types.h"

namespace brenvale::storage {

// Partition-table sector: boot code, four entries, signature 0xAA55 at 510.
inline constexpr std::size_t kMbrSectorSize = 512;
inline constexpr std::size_t kMbrEntriesOffset = 446;
inline constexpr std::size_t kMbrEntrySize = 16;
inline constexpr std::size_t kMbrEntryCount = 4;
inline constexpr std::size_t kMbrSignatureOffset = 510;
inline constexpr std::uint16_t kMbrSignature = 0xAA55;
inline constexpr std::uint8_t kPartiActive = 0x80;
inline constexpr std::uint8_t kPartiInactive = 0x00;

// Type bytes with a fixed meaning.
inline constexpr std::uint8_t kPartTypeEmpty = 0x00;  // also an unallocated gap in our records
inline constexpr std::uint8_t kPartTypeExtended = 0x05;
inline constexpr std::uint8_t kPartTypeExtendedLba = 0x0F;
inline constexpr std::uint8_t kPartTypeGptProtective = 0xEE;
// Type bytes written into the records and images the program makes itself.
inline constexpr std::uint8_t kPartTypeFat12 = 0x01;
inline constexpr std::uint8_t kPartTypeFat16 = 0x06;
inline constexpr std::uint8_t kPartTypeFat32 = 0x0B;
inline constexpr std::uint8_t kPartTypeNtfs = 0x07;  // NTFS and exFAT
inline constexpr std::uint8_t kPartTypeLinux = 0x83;

// GPT header: the sector after the protective MBR.
inline constexpr std::array<char, 8> kGptSignature{'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
inline constexpr std::size_t kGptSignatureOffset = 0;
inline constexpr std::size_t kGptEntryArrayLbaOffset = 72;  // 8 bytes
inline constexpr std::size_t kGptEntryCountOffset = 80;     // 4 bytes
inline constexpr std::size_t kGptEntrySizeOffset = 84;      // 4 bytes
inline constexpr std::size_t kGptEntryRecordSize = 128;     // the part of each entry we read

#pragma pack(push, 1)

struct TPartitionEntry {
    std::uint8_t PartiActive;
    std::uint8_t Header0;
    std::uint16_t SectCylin0;
    std::uint8_t SystemFlag;
    std::uint8_t Header1;
    std::uint16_t SectCylin1;
    std::uint32_t SectNum;  // relative to the table's base
    std::uint32_t SectCount;
};

struct TGptEntry {
    Guid TypeGuid;
    Guid UniqueGuid;
    std::uint64_t FirstLba;  // 0: empty slot
    std::uint64_t LastLba;   // inclusive
    std::uint64_t Attributes;
    std::array<std::uint8_t, 72> Name;  // 36 UTF-16LE characters, zero padded; see gptEntryName
};

#pragma pack(pop)

static_assert(sizeof(TPartitionEntry) == kMbrEntrySize);
static_assert(offsetof(TPartitionEntry, SystemFlag) == 4);
static_assert(offsetof(TPartitionEntry, SectNum) == 8);
static_assert(offsetof(TPartitionEntry, SectCount) == 12);
static_assert(kMbrEntriesOffset + kMbrEntryCount * kMbrEntrySize == kMbrSignatureOffset);
static_assert(sizeof(TGptEntry) == kGptEntryRecordSize);
static_assert(offsetof(TGptEntry, FirstLba) == 32);
static_assert(offsetof(TGptEntry, LastLba) == 40);
static_assert(offsetof(TGptEntry, Attributes) == 48);
static_assert(offsetof(TGptEntry, Name) == 56);

// The entry's name up to its first zero character.
inline std::u16string gptEntryName(const TGptEntry& entry) {
    std::u16string name;
    for (std::size_t i = 0; i + 1 < entry.Name.size(); i += 2) {
        const auto c = static_cast<char16_t>(entry.Name[i] | (entry.Name[i + 1] << 8));
        if (c == u'\0') break;
        name += c;
    }
    return name;
}

}  // namespace brenvale::storage
