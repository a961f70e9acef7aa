// The status of one attribute against its threshold, the meaning column, and the names.

#include <gtest/gtest.h>

#include "health/attribute_names.h"
#include "health/attribute_status.h"

namespace brenvale::health {
namespace {

TEST(AttributeStatusTest, LevelsAndTextsAroundTheThreshold) {
    struct Case {
        std::uint8_t id, value;
        std::uint64_t raw;
        std::uint8_t threshold;
        int level;
        const char* text;
    };
    const Case cases[] = {
        {1, 1, 0, 0, kLevelNormal, "Always Passing"},          // no failure point, whatever the value
        {1, 90, 0, 90, kLevelDangerous, "Dangerous"},          // at the threshold
        {1, 89, 0, 90, kLevelDangerous, "Dangerous"},
        {1, 100, 0, 90, kLevelWarning, "Warning"},             // within ten of it
        {1, 101, 0, 90, kLevelNormal, "Value Normal"},
        {197, 100, 3, 0, kLevelWarning, "Warning (raw > 0)"},  // pending sectors, no threshold
        {197, 200, 3, 90, kLevelWarning, "Warning (raw > 0)"},
        {5, 200, 1, 36, kLevelWarning, "Warning (raw > 0)"},
        {187, 200, 1, 36, kLevelWarning, "Warning (raw > 0)"},
        {198, 200, 1, 36, kLevelWarning, "Warning (raw > 0)"},
        {199, 200, 1, 36, kLevelWarning, "Warning (raw > 0)"},
        {9, 200, 3, 36, kLevelNormal, "Value Normal"},         // hours are no defect count
        {5, 20, 1, 36, kLevelDangerous, "Dangerous"},          // the worse status stands
        {5, 40, 1, 36, kLevelWarning, "Warning"},
        {255, 255, 0, 244, kLevelNormal, "Value Normal"},      // no overflow at the top
        {255, 255, 0, 250, kLevelWarning, "Warning"},
        {255, 255, 0, 255, kLevelDangerous, "Dangerous"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << int{c.id} << " value " << int{c.value} << " raw " << c.raw
                                        << " threshold " << int{c.threshold});
        const AttributeState s = AttributeStatus(c.id, c.value, c.raw, c.threshold);
        EXPECT_EQ(s.Level, c.level);
        EXPECT_EQ(s.Text, c.text);
    }
}

TEST(AttributeStatusTest, MeaningOfCountsHoursAndTemperature) {
    struct Case {
        std::uint8_t id;
        std::uint64_t raw;
        const char* meaning;
    };
    const Case cases[] = {
        {4, 0x0000000004D2, "1234 Times"},
        {12, 0x123400000007, "7 Times"},   // only the low 32 bits count
        {192, 0, "0 Times"},
        {9, 0x0001000061A8, "25000"},
        {194, 0x002D0012002A, "42 Deg. Celsius"},  // min and max in the upper words are not shown
        {5, 12, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(MeaningText(c.id, c.raw), c.meaning) << int{c.id};
}

TEST(AttributeNamesTest, PaddedNamesTrimOutsideTheListAndUnknownIdsSaySo) {
    EXPECT_EQ(AttributeName(194), "Temperature             ");
    EXPECT_EQ(TrimmedName(194), "Temperature");
    EXPECT_EQ(TrimmedName(5), "Reallocated Sector Count");
    EXPECT_EQ(AttributeName(14), "Unknown attribute");
    EXPECT_EQ(AttributeDescription(14), "Unknown attribute");
    EXPECT_EQ(AttributeName(255), "Unknown attribute");
    EXPECT_EQ(AttributeName(254), "Free Fall Protection");
    EXPECT_EQ(AttributeDescription(194), "Temperature of a drive.");
    EXPECT_EQ(AttributeDescription(243),
              "Expanded total number of LBAs written over the lifetime of the drive, used when the count exceeds the "
              "32-bit range.");
}

}  // namespace
}  // namespace brenvale::health
