// The statistics message and its numbers.

#include <gtest/gtest.h>

#include "app/statistics.h"
#include "storage/format_size.h"

namespace brenvale::app {
namespace {

TEST(Statistics, NumbersAreGroupedByThousands) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}, {100000, "100,000"}};
    for (const auto& [n, text] : cases) EXPECT_EQ(GroupedNumber(n), text);
}

TEST(Statistics, MessageLinesAndSkippedRows) {
    const StatTotals t{3, 1234567, 2048};
    EXPECT_EQ(StatisticsMessage("C:\\data", t, 0),
              "C:\\data\r\n\r\nDirectories: 3\r\nFiles: 1,234,567\r\nTotal size: " + storage::FormatSize(2048));
    EXPECT_EQ(StatisticsMessage("x", {}, 2), "x\r\n\r\nDirectories: 0\r\nFiles: 0\r\nTotal size: " + storage::FormatSize(0) +
                                                  "\r\n\r\n2 selected item(s) were skipped (not a file or folder).");
}

}  // namespace
}  // namespace brenvale::app
