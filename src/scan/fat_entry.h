#pragma once
// FAT directory entries decoded from bytes alone: what a 32-byte slot is, the long name the
// slots before a short entry spell, and which entries the folder walk lists. Nothing here reads
// a device, so the same decoding serves the folder walk and sectors found anywhere on a disk.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "storage/fat_dir_entry.h"

namespace brenvale::scan {

enum class FatEntryKind : std::uint8_t {
    EndOfFolder,   // blank 8.3 fields: nothing in use follows in the folder
    Dot,           // "." or ".."
    LongNamePart,  // attribute 0x0F
    Label,         // attribute bit 0x08: a volume label, live or deleted
    Regular,       // a file or a folder, live or deleted
};

// Byte 12 of a short entry: the 8.3 name and extension were stored upper case but are lower.
inline constexpr std::uint8_t kFatCaseLowerName = 0x08;
inline constexpr std::uint8_t kFatCaseLowerExt = 0x10;

// One 32-byte slot as read.
struct FatEntry {
    FatEntryKind kind = FatEntryKind::EndOfFolder;
    storage::TFDT32Entry rec{};  // the bytes unchanged; FAT12/16 read offset 20 as reserved
    bool deleted = false;        // first byte 0xE5 (the first name character is lost)
    bool folder = false;         // attribute bit 0x10

    std::uint8_t caseBits() const { return static_cast<std::uint8_t>(rec.reserved & 0xFF); }
    // FAT32 puts the high word of the first cluster at offset 20; FAT12/16 only use offset 26.
    std::uint32_t firstCluster(bool fat32) const { return fat32 ? rec.firstCluster() : rec.lo1stclusternumber; }
    std::uint32_t size() const { return rec.filesize; }

    // Long-name parts: the checksum of their short name (byte 13) and the sequence byte.
    std::uint8_t longNameChecksum() const { return static_cast<std::uint8_t>(rec.reserved >> 8); }
    std::uint8_t longNameSequence() const { return static_cast<std::uint8_t>(rec.filename[0]); }
    // The part's 13 UTF-16 units (5 + 6 + 2), each of the three pieces up to its first U+0000.
    std::u16string longNameUnits() const;

    // Trimmed as the lists show them (code-page bytes become UTF-8).
    std::string name() const;
    std::string ext() const;
};

// The 32-byte slot at `off`; nullopt when fewer than 32 bytes are there.
std::optional<FatEntry> DecodeFatEntry(std::span<const std::byte> data, std::size_t off = 0);

// Gathers the long-name parts of a folder's slots, fed in folder order, and hands the name they
// spell to the short entry after them. Parts are joined last to first as they sit on disk; a
// change of checksum starts a new name; the sequence byte is not used and the checksum is not
// compared with the short name. "." and ".." entries pass by without effect.
class FatLongNameJoiner {
public:
    // A long name needs at most 20 parts (255 characters); further parts of one sequence are
    // garbage and are left out.
    static constexpr int kMaxParts = 20;

    // nullopt for a long-name part or a dot entry; for any other slot, the units gathered
    // before it (empty for none), after which gathering starts over. The view lasts until the
    // next call.
    std::optional<std::u16string_view> Feed(const FatEntry& e);

private:
    // Parts are gathered from the end of the buffer towards its start: the last part on disk is
    // the first of the name. No allocation per slot.
    std::array<char16_t, kMaxParts * 13> units_{};
    std::size_t begin_ = kMaxParts * 13;
    int parts_ = 0;
    int checksum_ = -1;  // none yet: every checksum byte differs from it
};

// The long name a short entry is listed with: nullopt when the units are blank (the entry then
// shows its 8.3 name), else the text up to the first U+0000 or U+FFFF, as UTF-8.
std::optional<std::string> ListedLongName(std::u16string_view units);

// Lowers the 8.3 name and the extension as the case bits of byte 12 say, each on its own.
void ApplyCaseBits(storage::TArray8& name, std::array<char, 3>& ext, std::uint8_t caseBits);

// Why the folder walk leaves a regular entry out of its list.
enum class FatDrop : std::uint8_t {
    Kept,
    NoName,              // the 8.3 name is blank (only an extension)
    DeletedEmptyFile,    // nothing to recover
    LiveFolderWithSize,  // folders have no size: this is no folder
    SizedFileAtNoCluster,
    BadShortName,       // a byte no 8.3 name holds: bytes of something else read as a folder
    ReservedAttributes, // attribute bits 0x40 or 0x80
    ClusterPastVolume,  // a file whose data would start after the volume's last cluster
    SizePastVolume,     // more bytes than the whole volume holds
};

// What the walk knows of the volume the entry lies in; the defaults bound nothing.
struct FatVolumeBounds {
    std::uint64_t lastCluster = UINT64_MAX;  // the highest cluster number
    std::uint64_t bytes = UINT64_MAX;        // the volume's size
};

// The walk's rules, on the entry as read (the deleted mark included). FAT32 takes both words of
// the first cluster.
FatDrop WalkDropRule(const FatEntry& e, bool fat32, const FatVolumeBounds& volume = {});

}  // namespace brenvale::scan
