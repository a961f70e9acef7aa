#pragma once
// NTFS file records in memory: record length, fix-ups, finding and reading attributes, and
// decoding run lists. Pure functions over spans: every offset and length read from the record
// is checked against it.

#include <cstdint>
#include <optional>
#include <span>

#include "storage/boot_sectors.h"
#include "storage/ntfs_records.h"

namespace brenvale::scan {

// Puts the sector-end bytes the update sequence array saved back in place (512-byte stride).
// False when the record is torn: a stride did not end with the update sequence number (a
// write that did not finish) or the array does not lie inside the record. What fits is put
// back either way.
[[nodiscard]] bool ApplyFixups(std::span<std::byte> rec);

// True for "FILE" and "BAAD" (a record the system marked bad).
bool HasRecordSignature(std::span<const std::byte> rec);

// Offset of the first attribute of `type` (and of id `id` when it is not 0) reached from the
// record's first attribute, or nullopt.
std::optional<std::size_t> FindAttribute(std::span<const std::byte> rec, std::uint32_t type, std::uint16_t id = 0);

// Offset of the attribute after the one at `off`, when one follows inside the record.
std::optional<std::size_t> NextAttribute(std::span<const std::byte> rec, std::size_t off);

// Fills `out` from the attribute at `off`: headers, name, and the body (a resident value, or
// a non-resident attribute's run-list bytes). False when the attribute does not fit.
bool ParseAttribute(std::span<const std::byte> rec, std::size_t off, storage::TAttribute& out);

// How much of a run list could be decoded.
enum class RunListStatus : std::uint8_t {
    Whole,     // up to its terminating zero byte
    CutShort,  // the bytes end inside a run or before the terminator; the runs before it hold
    Invalid,   // a field over 8 bytes, a zero length, or an offset past 2^63; runs stop there
};
const char* RunListStatusText(RunListStatus status);
// The worse of two.
inline RunListStatus Worse(RunListStatus a, RunListStatus b) { return a > b ? a : b; }

// Decodes the run list in Bytes[0..LastIndex] and appends its runs up to the first fault.
// Offsets are absolute (each relative offset, sign-extended from its bytes, added to the
// previous one); a run without offset bytes is sparse (offset 0).
[[nodiscard]] RunListStatus getrunlist(std::span<const std::byte> Bytes, std::size_t LastIndex, storage::trunlist& Runs);

// The value of a resident $FILE_NAME (or any resident attribute) at `off`, or an empty span.
std::span<const std::byte> ResidentValue(std::span<const std::byte> rec, std::size_t off);

}  // namespace brenvale::scan
