#pragma once
// The entry record of the standard scan of NTFS volumes, and the extents of the master file
// table the walk read.

#include <cstdint>
#include <string>

#include "scan/mid_entry.h"
#include "storage/ntfs_records.h"

namespace brenvale::scan {

struct tntfsfilerecord : TScanEntry {
    tntfsfilerecord() : TScanEntry(EntryKind::Ntfs) {}

    std::int64_t sectornumber = 0;  // partition-relative sector of the file record
    std::int64_t recordnumber = 0;
    std::uint64_t allocsize = 0;    // of the unnamed data stream
    std::uint64_t realsize = 0;
    std::string filename;           // UTF-8
    storage::TFileNameAttrHead head{};  // the chosen name's value, with the standard-information times
    std::uint16_t flag = 0;         // record header flags: bit 0 in use, bit 1 directory
    std::int64_t tmpsectnum = 0;
    bool torn = false;              // a sector of the record failed its update-sequence check
    tntfsfilerecord* Parent = nullptr;
};

inline std::string EntryDisplayName(const tntfsfilerecord& e) { return e.filename; }
inline std::uint64_t ParentRecordOf(const tntfsfilerecord& e) { return e.head.FileReferenceOfParentDir.recordNumber(); }
inline bool IsFolder(const tntfsfilerecord& e) { return (e.flag & storage::kFileRecordDirectory) != 0; }
inline bool IsDeleted(const tntfsfilerecord& e) { return (e.flag & storage::kFileRecordInUse) == 0; }

// One extent of the master file table.
struct TRunForTable {
    std::int64_t FromSect = 0;  // partition-relative first sector
    std::uint32_t RecCount = 0;
};

inline constexpr std::int64_t kNtfsRootRecord = 5;
inline constexpr std::int64_t kOrphanFolderRecord = -2;
inline constexpr std::uint32_t kOrphanFolderKey = 0xFFFFFFFE;
inline constexpr char kOrphanFolderName[] = "!!! Orphaned Files !!!";

// What the entries of a folder carry as their parent: its record number (48 bits), and for
// the orphan folder its key.
inline std::uint64_t FolderKeyOf(const tntfsfilerecord& e) {
    return e.recordnumber == kOrphanFolderRecord ? kOrphanFolderKey : static_cast<std::uint64_t>(e.recordnumber);
}

}  // namespace brenvale::scan
