#include "storage/format_size.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string_view>

namespace brenvale::storage {
namespace {

TEST(FormatSize, Table) {
    constexpr std::int64_t KB = 1024, MB = KB * 1024, GB = MB * 1024;
    const struct {
        std::int64_t size;
        std::string_view text;
    } cases[] = {
        {-1, "by setting"},
        {-2, "-2  B"},
        {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808  B"},
        {0, "0  B"},
        {1, "1  B"},
        {1000, "1000  B"},
        {1023, "1023  B"},
        {1024, "1 KB"},
        {1025, "1 KB"},     // 100.09 hundredths round down
        {1030, "1.01 KB"},  // 100.59 round up
        {1126, "1.1 KB"},   // 109.96: a trailing zero is dropped
        {1152, "1.12 KB"},  // exactly 112.5: stays on the even 112
        {1408, "1.38 KB"},  // exactly 137.5: goes to the even 138
        {1536, "1.5 KB"},
        {MB - 1, "1024 KB"},  // rounds up to the next unit's value but keeps KB
        {MB, "1 MB"},
        {MB + MB / 4, "1.25 MB"},
        {GB - 1, "1024 MB"},
        {GB, "1 GB"},
        {GB + GB / 2, "1.5 GB"},
        {1207959552, "1.12 GB"},  // exactly 112.5 hundredths
        {1476395008, "1.38 GB"},  // exactly 137.5
        {std::numeric_limits<std::int64_t>::max(), "8589934592 GB"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatSize(c.size), c.text) << c.size;
}

}  // namespace
}  // namespace brenvale::storage
