#pragma once
// What a sector found anywhere on a disk may be, from its bytes alone: an NTFS file record, an
// exFAT directory sector or a FAT directory sector. The advanced scan tries them in that order
// on every sector it reads, so each looks at a handful of bytes before it says no.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace brenvale::advscan {

using Bytes = std::span<const std::byte>;

// "FILE" and a standard-information attribute (type 0x10) where the header says the first
// attribute lies, or an extension record (one that names its base record) and another
// attribute type there.
bool LooksLikeNtfsRecord(Bytes record);

// Every 32-byte slot up to the first unused one is an exFAT entry type, and at least one file
// entry with its stream and name entries is among them (a set's last entries may lie in the
// next sector).
bool IsExFatDirSectorByLayout(Bytes sector);
// One of the first five slots is a file entry whose set checksum is right.
bool IsExFatDirSectorByChecksum(Bytes sector);

// The first 16 slots are FAT directory entries: a "." and ".." pair, or plausible names and
// dates with nothing that rules the sector out, and a first slot that looks right itself.
bool IsFatDirSector(Bytes sector);
// A FAT short slot's 8-byte name and 3-byte extension as stored, blanks trimmed from both.
struct FatShortName {
    std::string_view name;
    std::string_view ext;
};
FatShortName ShortNameOf(Bytes slot);  // the slot must hold 11 bytes
// One FAT short slot: its modification, creation and access dates are each unset or a real
// moment from 1980 to 2050.
bool PlausibleFatDates(Bytes slot);
// The same with any year a FAT date holds (to 2107): a directory already recognised goes on
// past a file stamped far ahead.
bool RealFatDates(Bytes slot);
// One FAT short slot: the trimmed name and extension are not both empty and hold none of the
// characters a short name cannot.
bool UsableFatShortName(Bytes slot);
// The checksum long-name parts carry of the short name (the slot's first 11 bytes).
std::uint8_t FatShortNameChecksum(Bytes slot);
// A byte an 8.3 name can begin with (upper case, no character the format forbids; not the
// deleted mark).
bool FatShortNameCanBegin(std::uint8_t b);
// The same for a slot that may be deleted: true when some first byte it could have had gives
// `sum`.
bool FatShortNameMayHaveChecksum(Bytes slot, std::uint8_t sum);
// Some live short entry before the end marker has a high cluster word: only FAT32 writes one.
bool HasFat32Evidence(Bytes sector);

// The NTFS record length the records of a batch agree on (1024, 2048 or 4096): the length most
// records that start at a sector, or at a multiple of the length inside a larger sector, give
// as their allocated size, when at least two agree.
struct RecordLengthVote {
    std::uint32_t length = 0;
    int agreeing = 0;
};
std::optional<RecordLengthVote> DiscoverRecordLength(Bytes batch, std::uint32_t bytesPerSector);

}  // namespace brenvale::advscan
