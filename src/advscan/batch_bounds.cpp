#include "advscan/batch_bounds.h"

#include <algorithm>

namespace brenvale::advscan {

BatchSpan AdvRangeBatchBounds(std::int64_t count, std::int64_t perBatch, std::int64_t from, const RangeLimits& r) {
    perBatch = std::max<std::int64_t>(perBatch, 1);
    BatchSpan s{std::max<std::int64_t>(from, 0), count - 1};
    if (r.rangeEnd < 0) return s;
    const std::int64_t low = std::max(r.rangeStart, r.lba0);
    const std::int64_t high = std::min(r.rangeEnd, r.lba0 + count * perBatch - 1);
    if (high < low) return {0, -1};
    s.last = std::min((high - r.lba0) / perBatch, count - 1);
    s.first = std::max(s.first, (low - r.lba0) / perBatch);
    // A resume past the range's last batch has nothing left to read (reading that batch again
    // would harvest its sectors twice).
    return s;
}

}  // namespace brenvale::advscan
