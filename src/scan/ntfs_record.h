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

// File record length from the boot sector (0xF6 in the clusters-per-record byte gives 1024);
// never below 1024. partitionBps stands in for a boot sector sector size of 0.
std::uint32_t GetNtfsRecordSize(const storage::TBootSector& boot, std::uint32_t partitionBps);

// Puts the sector-end bytes the update sequence array saved back in place (512-byte stride).
void ApplyFixups(std::span<std::byte> rec);

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

// Decodes the run list in Bytes[0..LastIndex] and appends its runs. Offsets are absolute
// (each relative offset added to the previous one); a run without offset bytes is sparse
// (offset 0).
bool getrunlist(std::span<const std::byte> Bytes, std::size_t LastIndex, storage::trunlist& Runs);

// The value of a resident $FILE_NAME (or any resident attribute) at `off`, or an empty span.
std::span<const std::byte> ResidentValue(std::span<const std::byte> rec, std::size_t off);

}  // namespace brenvale::scan
