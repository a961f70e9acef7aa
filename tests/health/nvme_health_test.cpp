// NVMe health logs mapped onto the levels and texts of ATA attributes.

#include <gtest/gtest.h>

#include "health/drive_health.h"
#include "health/health_cache.h"
#include "health/health_pages.h"

namespace brenvale::health {
namespace {

using test::NvmeLogFields;

DrivePages nvmePages(const NvmeLogFields& f) {
    DrivePages p;
    p.Kind = platform::DriveKind::Nvme;
    p.State = ReadState::Read;
    p.NvmeIdentify = test::NvmeIdentifyPage("Samsung SSD 980 PRO 1TB", "S5GXNX0T123456", "5B2QGXA7");
    p.NvmeHealth = test::NvmeHealthLogPage(f);
    return p;
}

std::string verdict(const DrivePages& p) {
    std::string name;
    const int level = DriveHealth(p, name);
    return HealthLevelText(level, name);
}

TEST(NvmeHealthTest, EachCriticalWarningBit) {
    struct Case {
        std::uint8_t bits;
        const char* text;
    };
    const Case cases[] = {
        {0x00, "Good"},
        {0x01, "Dangerous - Available Spare Below Threshold"},
        {0x02, "Warning - Temperature Threshold Exceeded"},
        {0x04, "Dangerous - Reliability Degraded"},
        {0x08, "Dangerous - Media Read-Only"},
        {0x10, "Warning - Volatile Memory Backup Failed"},
        {0x20, "Warning - Persistent Memory Region Read-Only"},
        {0x12, "Warning - Temperature Threshold Exceeded"},  // the first bit at the worst level names it
        {0x06, "Dangerous - Reliability Degraded"},
        {0xC0, "Good"},  // reserved bits
    };
    for (const Case& c : cases) {
        NvmeLogFields f;
        f.criticalWarning = c.bits;
        EXPECT_EQ(verdict(nvmePages(f)), c.text) << int{c.bits};
    }
}

TEST(NvmeHealthTest, SpareWearAndMediaErrors) {
    struct Case {
        const char* name;
        NvmeLogFields f;
        const char* text;
    };
    const auto fields = [](auto change) {
        NvmeLogFields f;
        change(f);
        return f;
    };
    const Case cases[] = {
        {"spare at its threshold", fields([](auto& f) { f.spare = 10; }), "Dangerous - Available Spare"},
        {"spare close to its threshold", fields([](auto& f) { f.spare = 20; }), "Warning - Available Spare"},
        {"spare above", fields([](auto& f) { f.spare = 21; }), "Good"},
        {"no spare threshold", fields([](auto& f) { f.spare = 0, f.spareThreshold = 0; }), "Good"},
        {"life nearly used", fields([](auto& f) { f.used = 90; }), "Warning - Percentage Used"},
        {"life used up", fields([](auto& f) { f.used = 100; }), "Dangerous - Percentage Used"},
        {"beyond rated life", fields([](auto& f) { f.used = 255; }), "Dangerous - Percentage Used"},
        {"media errors", fields([](auto& f) { f.mediaErrors = 1; }), "Warning - Media and Data Integrity Errors"},
    };
    for (const Case& c : cases) EXPECT_EQ(verdict(nvmePages(c.f)), c.text) << c.name;
}

TEST(NvmeHealthTest, IdentityFactsAndShortLogs) {
    NvmeLogFields f;
    f.powerCycles = 1234;
    f.powerOnHours = 5678;
    DrivePages p = nvmePages(f);
    const HealthReport r = Evaluate(p);
    EXPECT_EQ(r.Identity.Model, "Samsung SSD 980 PRO 1TB");
    EXPECT_EQ(r.Identity.Serial, "S5GXNX0T123456");
    EXPECT_EQ(r.PowerCycles, "1234 Times");
    EXPECT_EQ(r.PowerOnHours, "5678");
    EXPECT_EQ(r.Temperature, "35 Deg. Celsius");

    p.NvmeHealth.resize(511);
    EXPECT_EQ(verdict(p), "Unknown (SMART data could not be read)");
    p.NvmeHealth.clear();
    EXPECT_EQ(Evaluate(p).Level, kLevelUnreadable);
}

}  // namespace
}  // namespace brenvale::health
