#pragma once
// Which batches of a scan object the advanced scan reads. Batches are aligned to the object's
// first sector; a range given by the user only chooses whole batches, so up to a batch less
// one sector is read on either side of it. Sector numbers are 64-bit throughout.

#include <cstdint>

namespace brenvale::advscan {

// The batches to read, first..last; nothing when last < first.
struct BatchSpan {
    std::int64_t first = 0;
    std::int64_t last = -1;
    bool empty() const { return last < first; }
};

struct RangeLimits {
    std::int64_t lba0 = 0;         // the object's first sector (absolute)
    std::int64_t rangeStart = 0;   // absolute; the range's first sector
    std::int64_t rangeEnd = -1;    // absolute, inclusive; below 0: no range, the whole object
};

// `count` batches of `perBatch` sectors make the object; `from` is the earliest batch allowed
// (where a resumed scan goes on).
BatchSpan AdvRangeBatchBounds(std::int64_t count, std::int64_t perBatch, std::int64_t from, const RangeLimits& r);

}  // namespace brenvale::advscan
