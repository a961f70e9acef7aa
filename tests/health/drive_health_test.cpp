// Verdicts over drive pages: the pages of healthy and failing drives, pages a bridge mangled,
// and what the health window and the properties panel say about each.

#include <gtest/gtest.h>

#include "health/drive_health.h"
#include "health/health_cache.h"
#include "health/smart_pages.h"
#include "health/health_pages.h"

namespace brenvale::health {
namespace {

using test::Attr;
using test::SmartDataPage;
using test::SmartThresholdPage;

// A typical desktop drive: every attribute well above its threshold, no defect counts.
std::vector<Attr> goodAttributes() {
    return {{1, 200, 200, 0}, {3, 180, 175, 5000}, {4, 100, 100, 812}, {5, 200, 200, 0},
            {9, 70, 70, 26000}, {12, 100, 100, 811}, {194, 110, 95, 37}, {197, 200, 200, 0}};
}
const std::vector<std::pair<std::uint8_t, std::uint8_t>> kThresholds = {
    {1, 51}, {3, 21}, {4, 0}, {5, 140}, {9, 0}, {12, 0}, {194, 0}, {197, 0}};

std::vector<Attr> with(std::vector<Attr> attrs, Attr changed) {
    for (Attr& a : attrs) {
        if (a.id == changed.id) a = changed;
    }
    return attrs;
}

DrivePages ataPages(std::vector<std::byte> data, std::vector<std::byte> thresholds, int predict = 0) {
    DrivePages p;
    p.Kind = platform::DriveKind::Ata;
    p.State = ReadState::Read;
    p.Identify = test::IdentifyPage("WDC WD10EZEX-08WN4A0", "WD-WCC6Y0ABCDEF", "01.01A01");
    p.SmartData = std::move(data);
    p.SmartThresholds = std::move(thresholds);
    p.Predict = predict;
    return p;
}

TEST(DriveHealthTest, VerdictsOfRecordedPages) {
    struct Case {
        const char* name;
        DrivePages pages;
        int level;
        const char* text;
    };
    std::vector<std::byte> shortPage = SmartDataPage(goodAttributes());
    shortPage.resize(300);
    std::vector<std::byte> garbage(512);
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::byte>((i * 37 + 11) & 0xFF);
    // Fixed-format sense bytes where the page should be: what some bridges hand back.
    std::vector<std::byte> senseAsData(512);
    senseAsData[0] = std::byte{0x70};
    senseAsData[2] = std::byte{0x05};

    const Case cases[] = {
        {"good drive", ataPages(SmartDataPage(goodAttributes()), SmartThresholdPage(kThresholds)), 0, "Good"},
        {"reallocated sectors", ataPages(SmartDataPage(with(goodAttributes(), {5, 200, 200, 8})), SmartThresholdPage(kThresholds)), 1,
         "Warning - Reallocated Sector Count"},
        {"pending sectors", ataPages(SmartDataPage(with(goodAttributes(), {197, 200, 200, 2})), SmartThresholdPage(kThresholds)), 1,
         "Warning - Current Pending Sector Count"},
        {"threshold crossed", ataPages(SmartDataPage(with(goodAttributes(), {1, 50, 50, 0})), SmartThresholdPage(kThresholds)), 2,
         "Dangerous - Raw Read Error Rate"},
        {"closing in on a threshold", ataPages(SmartDataPage(with(goodAttributes(), {3, 31, 31, 0})), SmartThresholdPage(kThresholds)), 1,
         "Warning - Spin Up Time"},
        {"threshold 0 with a low value", ataPages(SmartDataPage(with(goodAttributes(), {194, 1, 1, 60})), SmartThresholdPage(kThresholds)),
         0, "Good"},
        {"failure prediction with normal attributes", ataPages(SmartDataPage(goodAttributes()), SmartThresholdPage(kThresholds), 1), 2,
         "Dangerous - the drive reports an impending failure"},
        {"unknown attributes only read as unknown", ataPages(SmartDataPage({{14, 100, 100, 0}, {15, 100, 100, 0}, {255, 10, 10, 0}}),
                                                              SmartThresholdPage({{14, 0}, {15, 0}, {255, 5}})),
         1, "Warning - Unknown attribute"},
        {"garbage data page", ataPages(garbage, SmartThresholdPage(kThresholds)), -1, "Unknown (SMART data could not be read)"},
        {"sense bytes as data", ataPages(senseAsData, SmartThresholdPage(kThresholds)), -1, "Unknown (SMART data could not be read)"},
        {"short data page", ataPages(shortPage, SmartThresholdPage(kThresholds)), -1, "Unknown (SMART data could not be read)"},
        {"no threshold page", ataPages(SmartDataPage(goodAttributes()), {}), -1, "Unknown (SMART data could not be read)"},
        {"revision word with a high byte", ataPages(SmartDataPage(goodAttributes(), 0x0110), SmartThresholdPage(kThresholds)), -1,
         "Unknown (SMART data could not be read)"},
        {"only two slots used", ataPages(SmartDataPage({{5, 100, 100, 0}, {9, 100, 100, 0}}), SmartThresholdPage(kThresholds)), -1,
         "Unknown (SMART data could not be read)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string name;
        const int level = DriveHealth(c.pages, name);
        EXPECT_EQ(level, c.level);
        EXPECT_EQ(HealthLevelText(level, name), c.text);
    }
}

TEST(DriveHealthTest, ThresholdsFollowTheAttributeIdNotTheSlot) {
    // The threshold page lists the IDs in another order; attribute 1 sits at its threshold.
    const auto data = SmartDataPage({{1, 51, 51, 0}, {5, 200, 200, 0}, {9, 99, 99, 10}});
    const auto thresholds = SmartThresholdPage({{9, 0}, {1, 51}, {5, 140}});
    const auto attrs = ParseSmartPages(data, thresholds);
    ASSERT_TRUE(attrs);
    ASSERT_EQ(attrs->size(), 3u);
    EXPECT_EQ((*attrs)[0].Threshold, 51);
    EXPECT_EQ((*attrs)[1].Threshold, 140);
    EXPECT_EQ((*attrs)[2].Threshold, 0);
    std::string name;
    EXPECT_EQ(DriveHealth(ataPages(data, thresholds), name), kLevelDangerous);
    EXPECT_EQ(name, "Raw Read Error Rate");
}

TEST(DriveHealthTest, FirstAttributeToReachTheWorstLevelNamesIt) {
    const auto data = SmartDataPage({{7, 60, 60, 0}, {5, 200, 200, 4}, {197, 200, 200, 1}, {10, 40, 40, 0}});
    const auto thresholds = SmartThresholdPage({{7, 50}, {5, 36}, {197, 0}, {10, 35}});
    const HealthReport r = Evaluate(ataPages(data, thresholds));
    EXPECT_EQ(r.Level, kLevelWarning);
    EXPECT_EQ(r.WorstName, "Seek Error Rate");
}

TEST(DriveHealthTest, ReportRowsIdentityAndSentences) {
    const HealthReport r = Evaluate(ataPages(SmartDataPage(goodAttributes()), SmartThresholdPage(kThresholds)));
    EXPECT_EQ(r.Identity.Model, "WDC WD10EZEX-08WN4A0");
    EXPECT_EQ(r.Identity.Serial, "WD-WCC6Y0ABCDEF");
    EXPECT_EQ(r.Identity.Firmware, "01.01A01");
    ASSERT_EQ(r.Rows.size(), goodAttributes().size());
    const HealthRow& temp = r.Rows[6];
    EXPECT_EQ(temp.Name, "Temperature             ");
    EXPECT_EQ(temp.Id, "C2");
    EXPECT_EQ(temp.Worst, "95");
    EXPECT_EQ(temp.Value, "110");
    EXPECT_EQ(temp.Threshold, "0");
    EXPECT_EQ(temp.Raw, "000000000025");
    EXPECT_EQ(temp.Status, "Always Passing");
    EXPECT_EQ(r.PowerCycles, "811 Times");
    EXPECT_EQ(r.PowerOnHours, "26000");
    EXPECT_EQ(r.Temperature, "37 Deg. Celsius");
    EXPECT_EQ(StatusSentence(r), " S.M.A.R.T reported good status.");

    const HealthReport failing =
        Evaluate(ataPages(SmartDataPage(with(goodAttributes(), {5, 200, 200, 9})), SmartThresholdPage(kThresholds), 1));
    EXPECT_EQ(StatusSentence(failing),
              " S.M.A.R.T reported this HDD is in dangerous, you should consider to replace this HDD. The drive itself "
              "reports an impending failure.");

    DrivePages unreadable;
    EXPECT_EQ(Evaluate(unreadable).Temperature, "-");
    EXPECT_EQ(EmptyStatusSentence(unreadable),
              "No SMART attributes read: this device or bridge chip does not return valid SMART data");
    unreadable.State = ReadState::CannotOpen;
    EXPECT_EQ(EmptyStatusSentence(unreadable), "Cannot open the device handle - SMART cannot be read");
}

TEST(SmartPagesTest, IdentifyDataIsCheckedBeforeUse) {
    EXPECT_TRUE(ParseIdentify(test::IdentifyPage("ST2000DM008", "ZFL0ABCD", "0001")));
    // Sense bytes, an empty model, a model with control characters, a short buffer.
    auto sense = test::IdentifyPage("ST2000DM008", "ZFL0ABCD", "0001");
    sense[0] = std::byte{0x72};
    EXPECT_FALSE(ParseIdentify(sense));
    EXPECT_FALSE(ParseIdentify(test::IdentifyPage("", "ZFL0ABCD", "0001")));
    EXPECT_FALSE(ParseIdentify(test::IdentifyPage("AB", "ZFL0ABCD", "0001")));
    auto control = test::IdentifyPage("ST2000DM008", "ZFL0ABCD", "0001");
    control[60] = std::byte{0x07};
    EXPECT_FALSE(ParseIdentify(control));
    EXPECT_FALSE(ParseIdentify(std::vector<std::byte>(100, std::byte{'A'})));
}

}  // namespace
}  // namespace brenvale::health
