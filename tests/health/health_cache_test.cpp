// The health and TRIM lines of the properties panel: their texts, evaluated once per drive
// and kept until the drive list is rebuilt.

#include <gtest/gtest.h>

#include "health/health_cache.h"
#include "health/health_pages.h"
#include "platform/fake/fake_drive_commands.h"
#include "storage/fs_types.h"

namespace brenvale::health {
namespace {

using platform::AtaForm;
using platform::fake::FakeDrive;
using platform::fake::FormBehaviour;

class HealthCacheTest : public ::testing::Test {
protected:
    // Disk n of the fake platform at /dev/sd<a+n>, answering through ATA PASS-THROUGH (16).
    FakeDrive& addDisk(std::vector<test::Attr> attrs, bool predicts = false) {
        const std::string name = std::string("sd") + static_cast<char>('a' + os_.whole.size());
        platform::BlockDeviceInfo info;
        info.name = name;
        info.path = "/dev/" + name;
        os_.whole.push_back(info);
        FakeDrive d;
        d.forms = {{AtaForm::PassThrough16, FormBehaviour::Works}};
        d.identify = test::IdentifyPage("Disk " + name, "SN" + name, "1.0");
        d.smartData = test::SmartDataPage(attrs);
        d.smartThresholds = test::SmartThresholdPage({{1, 50}, {5, 36}, {9, 0}, {197, 0}});
        d.predictsFailure = predicts;
        return drives_.add(info.path, d);
    }

    platform::fake::FakePlatform os_;
    platform::fake::FakeDriveCommands drives_{os_};
    HealthCache cache_{os_, drives_};
};

const std::vector<test::Attr> kGood = {{1, 100, 100, 0}, {5, 100, 100, 0}, {9, 90, 90, 100}, {197, 100, 100, 0}};

TEST_F(HealthCacheTest, HealthTextsOfDrives) {
    addDisk(kGood);
    addDisk({{1, 100, 100, 0}, {5, 100, 100, 2}, {9, 90, 90, 100}});
    addDisk(kGood, true);
    FakeDrive& silent = addDisk(kGood);
    silent.forms.clear();
    EXPECT_EQ(cache_.HealthText(0x80), "Good");
    EXPECT_EQ(cache_.HealthText(0x81), "Warning - Reallocated Sector Count");
    EXPECT_EQ(cache_.HealthText(0x82), "Dangerous - the drive reports an impending failure");
    EXPECT_EQ(cache_.HealthText(0x83), "Unknown (SMART data could not be read)");
    EXPECT_EQ(cache_.HealthText(0x84), "Unknown (SMART data could not be read)");  // no such drive
    EXPECT_EQ(cache_.HealthText(3), "Unknown (SMART data could not be read)");     // a volume
    EXPECT_EQ(cache_.HealthText(0), "Unknown (SMART data could not be read)");     // an image
}

TEST_F(HealthCacheTest, LoopDevicesHaveNoHealth) {
    FakeDrive& loop = addDisk(kGood);
    loop.kind = platform::DriveKind::Image;
    EXPECT_EQ(cache_.HealthText(0x80), "Not applicable (drive image)");
    EXPECT_TRUE(loop.sent.empty());
}

TEST_F(HealthCacheTest, EvaluatedOnceUntilReset) {
    FakeDrive& d = addDisk(kGood);
    EXPECT_FALSE(cache_.CachedHealthText(0x80));
    EXPECT_EQ(cache_.HealthText(0x80), "Good");
    EXPECT_EQ(cache_.CachedHealthText(0x80), "Good");
    d.smartData = test::SmartDataPage({{1, 40, 40, 0}, {5, 100, 100, 0}, {9, 90, 90, 1}});
    EXPECT_EQ(cache_.HealthText(0x80), "Good");
    EXPECT_EQ(d.opens, 1u);
    cache_.Reset();
    EXPECT_FALSE(cache_.CachedHealthText(0x80));
    EXPECT_EQ(cache_.HealthText(0x80), "Dangerous - Raw Read Error Rate");
}

TEST_F(HealthCacheTest, TrimTexts) {
    const auto facts = [](bool known, bool discard, bool image = false) {
        platform::TrimFacts f;
        f.known = known;
        f.discard = discard;
        f.image = image;
        return f;
    };
    drives_.add("/dev/ssd1").trim = facts(true, true);
    drives_.add("/dev/hdd1").trim = facts(true, false);
    drives_.add("/dev/loop0p1").trim = facts(true, true, true);
    // "/dev/usb1" is not known to the fake: its facts cannot be read.
    struct Case {
        const char* name;
        TrimSubject s;
        const char* text;
    };
    const auto ntfs = [](std::uint8_t number, std::string path) {
        return TrimSubject{false, storage::kFsNtfs, true, false, number, std::move(path)};
    };
    const Case cases[] = {
        {"whole disk", {true, storage::kFsNtfs, true, false, 0x80, "/dev/ssd"}, "Unknown (whole disk covers several volumes)"},
        {"ntfs on an ssd", ntfs(1, "/dev/ssd1"), "On - deleted data on this drive may already be erased"},
        {"ntfs on a disk", ntfs(2, "/dev/hdd1"), "Off - this device does not report TRIM support"},
        {"ntfs on a stick that does not say", ntfs(3, "/dev/usb1"), "Unknown - the device did not report its type"},
        {"ntfs on a loop device", ntfs(4, "/dev/loop0p1"), "Not applicable (drive image)"},
        {"ntfs in an image", {false, storage::kFsNtfs, true, true, 0, "/images/a.dif"}, "Not applicable (drive image)"},
        {"ntfs without a device", {false, storage::kFsNtfs, false, false, 5, ""}, "Unknown"},
        {"fat12", {false, storage::kFsFat12, true, false, 6, "/dev/ssd1"}, "Not used on FAT/exFAT volumes"},
        {"fat32", {false, storage::kFsFat32, true, false, 6, "/dev/ssd1"}, "Not used on FAT/exFAT volumes"},
        {"exfat", {false, storage::kFsExfat, true, false, 6, "/dev/ssd1"}, "Not used on FAT/exFAT volumes"},
        {"unknown file system", {false, storage::kFsUnknown, true, false, 7, "/dev/ssd1"}, "Unknown"},
    };
    for (const Case& c : cases) EXPECT_EQ(cache_.TrimText(c.s), c.text) << c.name;
}

TEST_F(HealthCacheTest, TrimAskedOncePerDriveNumber) {
    drives_.add("/dev/ssd1").trim = {true, false, true, false};
    const TrimSubject s{false, storage::kFsNtfs, true, false, 1, "/dev/ssd1"};
    EXPECT_FALSE(cache_.CachedTrimText(s));
    EXPECT_EQ(cache_.TrimText(s), "On - deleted data on this drive may already be erased");
    drives_.drive("/dev/ssd1").trim.discard = false;
    EXPECT_EQ(cache_.CachedTrimText(s), "On - deleted data on this drive may already be erased");
    cache_.Reset();
    EXPECT_EQ(cache_.TrimText(s), "Off - this device does not report TRIM support");
}

}  // namespace
}  // namespace brenvale::health
