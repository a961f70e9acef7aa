#pragma once
// What one NTFS file record says about its file, read from the record's bytes alone: the
// names, times, sizes, parent and flags a listing shows, and where the unnamed data stream
// lies. Attributes kept in extension records (through an attribute list) are asked of a
// source, so the same parser serves a volume walk and records found anywhere on a disk.

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "scan/ntfs_record.h"
#include "storage/ntfs_records.h"

namespace brenvale::scan {

// Where a record's attribute list points.
class NtfsRecordSource {
public:
    virtual ~NtfsRecordSource() = default;
    // Record `number`, read and fixed up into `out`; false when it cannot be had.
    virtual bool ReadRecord(std::uint64_t number, std::vector<std::byte>& out) = 0;
    // At most `size` bytes of the clusters `runs` name, in run order (a non-resident
    // attribute list); fewer when they cannot all be read.
    virtual std::vector<std::byte> ReadRuns(const storage::trunlist& runs, std::uint64_t size) = 0;
};

// One entry of an $ATTRIBUTE_LIST: which record holds which attribute.
struct NtfsListEntry {
    std::uint32_t type = 0;
    std::uint8_t nameLength = 0;
    std::uint64_t startVcn = 0;
    std::uint64_t record = 0;  // 48-bit record number
    std::uint16_t id = 0;
};

// Entries of at least 26 bytes each; a shorter one, or one past the end, ends the list.
std::vector<NtfsListEntry> ParseAttributeList(std::span<const std::byte> list);

// No real attribute list comes near this; a larger claim is damage.
inline constexpr std::uint64_t kMaxAttributeList = 1u << 20;

// The bytes of the record's attribute list, resident or not (then through `source`, which
// may be null); empty when it has none.
std::vector<std::byte> ReadAttributeList(std::span<const std::byte> rec, NtfsRecordSource* source);

// The record number the header carries (48 bits: high word at 42, low at 44); nullopt for
// records of the older layout, whose update sequence starts at 42.
std::optional<std::uint64_t> HeaderRecordNumber(std::span<const std::byte> rec);

struct NtfsFileRecord {
    std::uint16_t flags = 0;  // header flags: bit 0 in use, bit 1 directory
    // The chosen $FILE_NAME value, with the standard-information times and attributes copied
    // over its own, its name, and the long name found beside a DOS name.
    std::vector<std::byte> nameValue;
    std::u16string name;
    std::u16string longName;
    std::size_t nameAttrOfs = std::numeric_limits<std::size_t>::max();  // max: from another record
    std::uint64_t allocSize = 0;  // of the unnamed data stream; 0 for folders
    std::uint64_t realSize = 0;
    // The other $FILE_NAME values (hard links, the long name beside a DOS one): those of the
    // record after its chosen one, in record order, then those in extension records.
    std::vector<std::vector<std::byte>> otherNames;

    storage::TFileNameAttrHead head() const;
    std::uint64_t parent() const { return head().FileReferenceOfParentDir.recordNumber(); }
};

// The entry a base record yields; nullopt for what yields none: no "FILE" signature, an
// extension record, no usable file name. `clusterBytes` is the allocated size of resident
// data. `source` may be null: then only the record's own attributes count.
std::optional<NtfsFileRecord> ParseFileRecord(std::span<const std::byte> rec, NtfsRecordSource* source,
                                              std::uint64_t clusterBytes);

// The unnamed data stream of a record: its value when resident, else its runs (through the
// attribute list into extension records when the record has one).
struct NtfsDataStream {
    bool found = false;
    bool resident = false;
    std::vector<std::byte> value;  // resident data
    storage::trunlist runs;
    RunListStatus runStatus = RunListStatus::Whole;
    std::uint16_t attrFlags = 0;  // the attribute header's flags (bit 0: compressed)
};
NtfsDataStream ParseDataStream(std::span<const std::byte> rec, NtfsRecordSource* source);

}  // namespace brenvale::scan
