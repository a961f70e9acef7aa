#pragma once
// The entry records of the standard scan of FAT and exFAT volumes, and the names built from
// their 32-byte directory-entry copies.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scan/scan_entry.h"
#include "storage/fat_dir_entry.h"

namespace brenvale::scan {

// Entry status.
inline constexpr std::uint8_t kStatusLive = 0;
inline constexpr std::uint8_t kStatusDeleted = 1;  // the entry or one of its folders is deleted
inline constexpr std::uint8_t kStatusDamaged = 2;

// FAT12, FAT16 and exFAT entries.
struct TMidEntry : TScanEntry {
    TMidEntry() : TScanEntry(EntryKind::Fat) {}
    // EntryKind::Fat or EntryKind::ExFat.
    explicit TMidEntry(EntryKind kind) : TScanEntry(kind) {}

    storage::TFDTEntry FDTEntry{};  // deleted FAT entries carry "_" for the lost first byte
    std::string LongFileName;        // UTF-8; empty when the entry has none
    std::uint32_t ClusNumber = 0;    // first cluster of the containing folder (0: FAT12/16 root)
    std::uint8_t Status = kStatusLive;
    TMidEntry* Parent = nullptr;
    // First sector of the cluster read, relative to the volume (to the object for harvested
    // entries: 64-bit, a whole disk may pass 2 TiB).
    std::int64_t DirSectNum = 0;
    std::uint32_t DirClusNum = 0;    // exFAT: the entry's own first cluster
    bool RegularDir = false;
    bool NoFatChain = false;         // exFAT: contiguous data without a FAT chain
    std::uint32_t SizeHigh = 0;      // exFAT: the high 32 bits of the data length
};

// The whole data length: exFAT files may pass 4 GiB.
inline std::uint64_t EntrySize(const TMidEntry& e) {
    return (std::uint64_t{e.SizeHigh} << 32) | e.FDTEntry.filesize;
}

// FAT32 entries: the copy's offset 20 holds the high word of the first cluster.
struct TMidEntry32 : TScanEntry {
    TMidEntry32() : TScanEntry(EntryKind::Fat32) {}

    storage::TFDT32Entry FDT32Entry{};
    std::string LongFileName;
    std::uint32_t ClusNumber = 0;
    std::uint8_t Status = kStatusLive;
    TMidEntry32* Parent = nullptr;
    std::int64_t DirSectNum = 0;
    std::uint32_t DirClusNum = 0;
    bool RegularDir = false;
};

using TDWordArray = std::vector<std::uint32_t>;
using TFDTArray = std::vector<std::int64_t>;
using TClusterBuf = std::vector<std::uint32_t>;
using TByteBuf = std::vector<std::uint8_t>;
using TLongFileName = std::u16string;

// The 8-byte name field up to its first zero byte, and the 3-byte extension, with characters
// up to the space trimmed from both ends; code-page bytes above 0x7F become UTF-8.
std::string TrimmedShortName(const storage::TArray8& name);
std::string TrimmedShortExt(const std::array<char, 3>& ext);
// UTF-16 text with the characters up to the space trimmed from both ends, as long names are.
std::u16string_view TrimmedWide(std::u16string_view s);

// A volume label entry's 11 bytes as one trimmed text.
std::string TrimmedLabel(const storage::TArray8& name, const std::array<char, 3>& ext);
// "NAME.EXT", or "NAME" when the extension is empty.
std::string ShortDisplayName(const storage::TArray8& name, const std::array<char, 3>& ext);

// What a list shows for an entry: the long name, else the 8.3 name; a leading "?" as "@".
std::string EntryDisplayName(const TMidEntry& e);
std::string EntryDisplayName(const TMidEntry32& e);

// First cluster of the entry's own data: FAT12/16 low word, FAT32 both words.
inline std::uint32_t FirstCluster(const TMidEntry& e) { return e.FDTEntry.firstclusternumber; }
inline std::uint32_t FirstCluster(const TMidEntry32& e) { return e.FDT32Entry.firstCluster(); }

inline bool IsFolder(const TMidEntry& e) { return (e.FDTEntry.attribute & storage::kFatAttrDirectory) != 0; }
inline bool IsFolder(const TMidEntry32& e) { return (e.FDT32Entry.attribute & storage::kFatAttrDirectory) != 0; }

}  // namespace brenvale::scan
