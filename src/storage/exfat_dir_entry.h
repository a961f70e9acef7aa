#pragma once
// The 32-byte exFAT directory entries the scans read: the file entry, its stream extension and
// file-name entries, the volume label, and the allocation bitmap and up-case table entries only
// the root directory holds.

#include <array>
#include <cstddef>
#include <cstdint>

namespace brenvale::storage {

inline constexpr std::size_t kExfatDirEntrySize = 32;

// Type byte: bit 7 says the entry is in use, bit 6 that it is a secondary entry of a set; the
// low 7 bits select the kind.
inline constexpr std::uint8_t kExfatInUse = 0x80;
inline constexpr std::uint8_t kExfatSecondary = 0x40;
inline constexpr std::uint8_t kExfatKindMask = 0x7F;
inline constexpr std::uint8_t kExfatKindBitmap = 0x01;
inline constexpr std::uint8_t kExfatKindUpCase = 0x02;
inline constexpr std::uint8_t kExfatKindLabel = 0x03;
inline constexpr std::uint8_t kExfatKindFile = 0x05;
inline constexpr std::uint8_t kExfatKindStream = 0x40;
inline constexpr std::uint8_t kExfatKindName = 0x41;

// Stream extension flags: the data is contiguous and the FAT holds nothing for it.
inline constexpr std::uint8_t kExfatNoFatChain = 0x02;

inline constexpr std::size_t kExfatNameUnitsPerEntry = 15;
inline constexpr std::size_t kExfatLabelUnits = 11;

#pragma pack(push, 1)

struct TExfatFileEntry {
    std::uint8_t EntryType;
    std::uint8_t SecondaryCount;
    std::uint16_t SetChecksum;
    std::uint16_t FileAttributes;
    std::uint16_t Reserved1;
    std::uint32_t CreateTimestamp;        // DOS time in the low word, date in the high word
    std::uint32_t LastModifiedTimestamp;
    std::uint32_t LastAccessedTimestamp;
    std::uint8_t Create10msIncrement;
    std::uint8_t LastModified10msIncrement;
    std::uint8_t CreateUtcOffset;
    std::uint8_t LastModifiedUtcOffset;
    std::uint8_t LastAccessedUtcOffset;
    std::array<std::uint8_t, 7> Reserved2;
};

struct TExfatStreamEntry {
    std::uint8_t EntryType;
    std::uint8_t GeneralSecondaryFlags;
    std::uint8_t Reserved1;
    std::uint8_t NameLength;
    std::uint16_t NameHash;
    std::uint16_t Reserved2;
    std::uint64_t ValidDataLength;
    std::uint32_t Reserved3;
    std::uint32_t FirstCluster;
    std::uint64_t DataLength;
};

struct TExfatNameEntry {
    std::uint8_t EntryType;
    std::uint8_t GeneralSecondaryFlags;
    std::array<std::uint16_t, kExfatNameUnitsPerEntry> FileName;
};

struct TExfatLabelEntry {
    std::uint8_t EntryType;
    std::uint8_t CharacterCount;
    std::array<std::uint16_t, kExfatLabelUnits> VolumeLabel;
    std::array<std::uint8_t, 8> Reserved;
};

struct TExfatBitmapEntry {
    std::uint8_t EntryType;
    std::uint8_t BitmapFlags;  // bit 0: which FAT the bitmap belongs to
    std::array<std::uint8_t, 18> Reserved;
    std::uint32_t FirstCluster;
    std::uint64_t DataLength;
};

struct TExfatUpCaseEntry {
    std::uint8_t EntryType;
    std::array<std::uint8_t, 3> Reserved1;
    std::uint32_t TableChecksum;
    std::array<std::uint8_t, 12> Reserved2;
    std::uint32_t FirstCluster;
    std::uint64_t DataLength;
};

#pragma pack(pop)

static_assert(sizeof(TExfatFileEntry) == kExfatDirEntrySize);
static_assert(sizeof(TExfatStreamEntry) == kExfatDirEntrySize);
static_assert(sizeof(TExfatNameEntry) == kExfatDirEntrySize);
static_assert(sizeof(TExfatLabelEntry) == kExfatDirEntrySize);
static_assert(sizeof(TExfatBitmapEntry) == kExfatDirEntrySize);
static_assert(sizeof(TExfatUpCaseEntry) == kExfatDirEntrySize);
static_assert(offsetof(TExfatFileEntry, FileAttributes) == 4);
static_assert(offsetof(TExfatFileEntry, CreateTimestamp) == 8);
static_assert(offsetof(TExfatFileEntry, LastModifiedTimestamp) == 12);
static_assert(offsetof(TExfatStreamEntry, FirstCluster) == 20);
static_assert(offsetof(TExfatStreamEntry, DataLength) == 24);
static_assert(offsetof(TExfatBitmapEntry, FirstCluster) == 20 && offsetof(TExfatBitmapEntry, DataLength) == 24);
static_assert(offsetof(TExfatUpCaseEntry, FirstCluster) == 20 && offsetof(TExfatUpCaseEntry, DataLength) == 24);
static_assert(offsetof(TExfatNameEntry, FileName) == 2);
static_assert(offsetof(TExfatLabelEntry, VolumeLabel) == 2);

}  // namespace brenvale::storage
