#pragma once
// The record walk shared by the archive formats (and later the picture formats): step from
// record to record, add each record's length to the hit's `Size`, and stop at the last record,
// at a broken one, or where the data handed over runs out.

#include <cstdint>

#include "raw/formats/formats.h"

namespace brenvale::raw::formats {

enum RecordCode : int {
    kRecordLast = 0,        // the final record; its length ends the file
    kRecordNext = 1,        // an ordinary record
    kRecordInvalid = 2,     // not a record of this format
    kRecordIncomplete = 3,  // its head runs past the data handed over
};

struct Record {
    int code = kRecordInvalid;
    std::int64_t length = 0;
};

// Reads the record that starts at p[0] (p runs to the end of the data handed over) of `hit`.
using RecordReader = Record (*)(const ScanContext& ctx, const TFoundFile& hit, Bytes p);

// Walks data from its first byte: each record's length is added to `Size` (a record that would
// carry `Size` past the type's maximum ends the walk as broken, leaving `Size` as it was).
// When the next record lies beyond the data, or its head is cut by the data's end, the walk
// answers kParseMore with `Size` at that record's start: the next batch hands the walk that
// very byte (through the carried tail of this batch when the head was cut).
int WalkRecords(ScanContext& ctx, Bytes data, TFoundFile& hit, RecordReader read);

// Adds `length` to `Size` unless that would pass the hit's maximum size.
[[nodiscard]] bool AddWithinMax(const ScanContext& ctx, TFoundFile& hit, std::int64_t length);

}  // namespace brenvale::raw::formats
