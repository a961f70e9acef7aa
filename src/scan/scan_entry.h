#pragma once
// The common base of every record a scan lists. Each record carries its kind, so one list may
// hold records of several file systems (as an advanced scan's does) and code that reads a
// record asks the record, not the volume, which kind it is.

#include <cstdint>

namespace brenvale::scan {

enum class EntryKind : std::uint8_t {
    Fat,    // FAT12 and FAT16: TMidEntry
    Fat32,  // TMidEntry32
    ExFat,  // TMidEntry
    Ntfs,   // tntfsfilerecord
};

struct TScanEntry {
    EntryKind Kind() const { return FKind; }

protected:
    explicit constexpr TScanEntry(EntryKind kind) : FKind(kind) {}

private:
    EntryKind FKind;
};

// The entry kind of a volume's file-system code (0 FAT12, 1 FAT16, 2 FAT32, 3 NTFS, 4 exFAT).
constexpr EntryKind EntryKindOf(std::uint8_t fileSystem) {
    switch (fileSystem) {
        case 2: return EntryKind::Fat32;
        case 3: return EntryKind::Ntfs;
        case 4: return EntryKind::ExFat;
        default: return EntryKind::Fat;
    }
}

}  // namespace brenvale::scan
