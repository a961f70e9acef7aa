// Date texts and day numbers: the two rules for FAT pairs (the properties panel's and the file
// list's), NTFS times, and the digits of unusual years.

#include <gtest/gtest.h>

#include <vector>

#include "app/date_texts.h"
#include "app/utc_zone.h"

namespace brenvale::app {
namespace {

constexpr std::uint16_t DosDate(int y, int m, int d) { return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d); }
constexpr std::uint16_t DosTime(int h, int mi, int s) { return static_cast<std::uint16_t>((h << 11) | (mi << 5) | (s / 2)); }

TEST(DateTexts, ShortFormsPadEveryField) {
    EXPECT_EQ(ShortDate({2024, 2, 9, 7, 5, 0}), "2024/02/09");
    EXPECT_EQ(ShortDateTime({2024, 2, 9, 7, 5, 58}), "2024/02/09 07:05");
    EXPECT_EQ(ShortDateTime({1899, 12, 30, 0, 0, 0}), "1899/12/30 00:00");
    EXPECT_EQ(ShortDateTime({987, 1, 2, 23, 59, 0}), "0987/01/02 23:59");
    EXPECT_EQ(ShortDateTime({30828, 9, 14, 2, 48, 5}), "30828/09/14 02:48");
}

TEST(DateTexts, DayNumbersCountFrom1899December30) {
    EXPECT_DOUBLE_EQ(DayNumber({1899, 12, 30, 0, 0, 0}), 0.0);
    EXPECT_DOUBLE_EQ(DayNumber({1900, 1, 1, 0, 0, 0}), 2.0);
    EXPECT_DOUBLE_EQ(DayNumber({2000, 1, 1, 12, 0, 0}), 36526.5);
    EXPECT_DOUBLE_EQ(DayNumber({2000, 1, 1, 6, 0, 2}), 36526.25 + 2 / 86400.0);
}

// The same pair read by the properties panel (a real moment, or "-") and by the file list (a
// pair recovery accepts, both words 0 standing for the zero date-time, or an empty cell).
TEST(DateTexts, DosPairsUnderBothRules) {
    struct Case {
        const char* what;
        std::uint16_t date, time;
        const char* properties;
        const char* list;
        double day;
    };
    const std::vector<Case> cases = {
        {"ordinary", DosDate(2021, 3, 4), DosTime(5, 6, 8), "2021/03/04 05:06", "2021/03/04 05:06", 44259 + (5 * 3600 + 6 * 60 + 8) / 86400.0},
        {"both words zero", 0, 0, "-", "1899/12/30 00:00", 0.0},
        {"zero date, some time", 0, DosTime(1, 0, 0), "-", "", -1},
        {"month 13", DosDate(2021, 13, 1), 0, "-", "", -1},
        {"February 30", DosDate(2021, 2, 30), 0, "-", "", -1},
        {"hour 24", DosDate(2021, 3, 4), DosTime(24, 0, 0), "-", "", -1},
        {"minute 60", DosDate(2021, 3, 4), DosTime(1, 60, 0), "-", "", -1},
        {"after 2050", DosDate(2051, 1, 1), 0, "2051/01/01 00:00", "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DosDateTimeText(c.date, c.time), c.properties);
        const auto listed = ModifiedDosTime(c.date, c.time);
        EXPECT_EQ(ModifiedText(listed), c.list);
        EXPECT_DOUBLE_EQ(ModifiedDay(listed), c.day);
    }
}

TEST(DateTexts, AccessDateHasNoTime) {
    EXPECT_EQ(DosDateText(DosDate(2022, 12, 31)), "2022/12/31");
    EXPECT_EQ(DosDateText(0), "-");
    EXPECT_EQ(DosDateText(DosDate(2022, 4, 31)), "-");
}

TEST(DateTexts, NtfsTimesInLocalTime) {
    const test::UtcZone utc;
    // 2020-01-02 03:04:07 UTC, and a tenth of a second more.
    const std::uint64_t t = test::FileTimeOfUnix(1577934247) + 1000000;
    EXPECT_EQ(FileTimeText(t), "2020/01/02 03:04");
    EXPECT_EQ(FileTimeText(0), "-");
    // The list keeps two-second steps, as the FAT times it sorts beside.
    const auto listed = ModifiedFileTime(t);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->second, 6);
    EXPECT_DOUBLE_EQ(ModifiedDay(listed), 43832 + (3 * 3600 + 4 * 60 + 6) / 86400.0);
    EXPECT_EQ(ModifiedText(ModifiedFileTime(0)), "");
    EXPECT_DOUBLE_EQ(ModifiedDay(ModifiedFileTime(0)), -1);
}

}  // namespace
}  // namespace brenvale::app
