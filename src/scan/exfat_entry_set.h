#pragma once
// exFAT entry sets decoded from bytes alone: a file entry with the stream-extension and
// file-name entries after it, and the volume label entry. Nothing here reads a device, so the
// same decoding serves the folder walk and entry sets found anywhere on a disk.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "storage/exfat_dir_entry.h"

namespace brenvale::scan {

// Longest name a set carries, in UTF-16 units; name entries past it are left out.
inline constexpr std::size_t kExfatMaxNameUnits = 255;

struct ExfatEntrySet {
    bool inUse = false;               // the file entry's in-use bit; clear for a deleted set
    std::uint8_t secondaryCount = 0;  // as the file entry claims it
    std::size_t entries = 0;          // slots the set spans, its file entry included
    std::uint16_t attributes = 0;     // FAT attribute bits: 0x10 folder
    std::uint32_t createTimestamp = 0;        // DOS time in the low word, date in the high word
    std::uint32_t lastModifiedTimestamp = 0;
    bool hasStream = false;
    std::uint8_t streamFlags = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t dataLength = 0;
    std::u16string name;              // at most kExfatMaxNameUnits units

    bool noFatChain() const { return (streamFlags & storage::kExfatNoFatChain) != 0; }
    bool folder() const { return (attributes & 0x10) != 0; }
    std::string nameUtf8() const;
};

enum class ExfatSetStatus : std::uint8_t {
    Ok,
    NotASet,   // no file entry (in use or not) at the offset, or not 32 bytes left there
    CutShort,  // the span ends before the secondary entries the file entry claims
};

struct ExfatSetResult {
    ExfatSetStatus status = ExfatSetStatus::NotASet;
    ExfatEntrySet set;  // filled when status is Ok
};

// The set whose file entry is at `off`. Of the secondary entries the file entry claims, a stream
// extension gives the cluster, length and flags (the last one wins) and each file-name entry
// adds its units up to its first zero unit; their in-use bits are not looked at. A primary entry
// (an end-of-folder entry too) ends the set early, however many secondaries were claimed. An
// empty name is no error here: callers decide whether such a set counts.
ExfatSetResult DecodeExfatEntrySet(std::span<const std::byte> data, std::size_t off = 0);

struct ExfatLabel {
    bool inUse = false;
    std::string text;  // its character count (at most 11) units, up to a zero unit, as UTF-8
};

// The volume label entry at `off` (type 0x83, or 0x03 once removed); nullopt for any other
// entry or fewer than 32 bytes.
std::optional<ExfatLabel> DecodeExfatLabel(std::span<const std::byte> data, std::size_t off = 0);

}  // namespace brenvale::scan
