// The batches the advanced scan reads for a range, a resume and both.

#include <gtest/gtest.h>

#include "advscan/batch_bounds.h"

namespace brenvale::advscan {
namespace {

TEST(AdvBatchBounds, RangesAndResumes) {
    struct Case {
        const char* name;
        std::int64_t count, perBatch, from;
        RangeLimits range;
        std::int64_t first, last;  // last < first: nothing
    };
    const Case cases[] = {
        {"no range: every batch", 10, 2048, 0, {1000, 0, -1}, 0, 9},
        {"no range, resumed at batch 4", 10, 2048, 4, {1000, 0, -1}, 4, 9},
        {"a range inside: the whole batches that hold it", 10, 2048, 0, {1000, 1000 + 2048 * 3 + 5, 1000 + 2048 * 5}, 3, 5},
        {"a range starting before the object", 10, 2048, 0, {1000, 0, 1000 + 100}, 0, 0},
        {"a range running past the object", 10, 2048, 0, {1000, 1000 + 2048 * 8, 1'000'000'000}, 8, 9},
        {"a range outside the object", 10, 2048, 0, {1000, 1000 + 2048 * 20, 1000 + 2048 * 30}, 0, -1},
        {"a range whose end is below its start", 10, 2048, 0, {1000, 5000, 4000}, 0, -1},
        {"a range resumed inside it", 10, 2048, 4, {1000, 1000 + 2048 * 2, 1000 + 2048 * 6}, 4, 6},
        {"a range resumed past its end: nothing left", 10, 2048, 8, {1000, 1000 + 2048 * 2, 1000 + 2048 * 6}, 8, 6},
        {"past 2 TiB of 512-byte sectors", 3'000'000, 2048, 0,
         {0, std::int64_t{5'000'000'000}, std::int64_t{5'000'000'000} + 4096}, 2'441'406, 2'441'408},
        {"a batch size below 1 counts as 1", 5, 0, 0, {0, 2, 3}, 2, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BatchSpan s = AdvRangeBatchBounds(c.count, c.perBatch, c.from, c.range);
        if (c.last < c.first) {
            EXPECT_TRUE(s.empty());
        } else {
            EXPECT_EQ(s.first, c.first);
            EXPECT_EQ(s.last, c.last);
        }
    }
}

}  // namespace
}  // namespace brenvale::advscan
