// brenvale-cli health over scripted drives: the disk list, one disk's table, a volume's TRIM
// line, exit codes, and pages saved and replayed.

#include <gmock/gmock.h>

#include <nlohmann/json.hpp>
#include <fstream>
#include <sstream>

#include "cli/cli_app.h"
#include "health/health_pages.h"
#include "platform/fake/fake_drive_commands.h"
#include "scan/ntfs_builder.h"
#include "scan/volume_builder.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using platform::AtaForm;
using platform::fake::FakeDrive;
using platform::fake::FormBehaviour;

struct CliResult {
    int code;
    std::string out, err;
};

class CliHealthTest : public ::testing::Test {
protected:
    void SetUp() override {
        // sda: a drive with two reallocated sectors; vda: a disk that takes no drive commands.
        FakeDrive sda;
        sda.forms = {{AtaForm::PassThrough16, FormBehaviour::Works}};
        sda.identify = IdentifyPage("TOSHIBA DT01ACA100", "X3H4ABCDE", "MS2OA750");
        sda.smartData = SmartDataPage({{1, 100, 100, 0}, {5, 100, 100, 2}, {9, 80, 80, 12345}, {194, 150, 140, 40}});
        sda.smartThresholds = SmartThresholdPage({{1, 16}, {5, 5}, {9, 0}, {194, 0}});
        addDisk("sda", sda);
        addDisk("vda", FakeDrive{});
    }

    void addDisk(const std::string& name, FakeDrive d) {
        platform::BlockDeviceInfo info;
        info.name = name;
        info.path = "/dev/" + name;
        os.whole.push_back(info);
        os.addDisk(info.path, std::vector<std::byte>(2048 * 512));
        drives.add(info.path, std::move(d));
    }

    CliResult Run(std::vector<std::string> args, bool withDrives = true) {
        args.insert(args.begin(), "brenvale-cli");
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream out, err;
        const int code = cli::Run(static_cast<int>(argv.size()), argv.data(), os, out, err, withDrives ? &drives : nullptr);
        return {code, out.str(), err.str()};
    }

    platform::fake::FakePlatform os;
    platform::fake::FakeDriveCommands drives{os};
};

TEST_F(CliHealthTest, EveryDiskWithItsVerdict) {
    const CliResult r = Run({"health"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("/dev/sda  TOSHIBA DT01ACA100  Warning - Reallocated Sector Count"));
    EXPECT_THAT(r.out, HasSubstr("/dev/vda  -                   S.M.A.R.T. not available: the kernel refused the command"));

    const CliResult j = Run({"health", "--json"});
    const auto doc = nlohmann::json::parse(j.out);
    ASSERT_EQ(doc["drives"].size(), 2u);
    EXPECT_EQ(doc["drives"][0]["level"], 1);
    EXPECT_EQ(doc["drives"][1]["level"], -1);
    EXPECT_THAT(doc["drives"][1]["not_available"].get<std::string>(), HasSubstr("not available"));
}

TEST_F(CliHealthTest, ExitsOneWhenNothingCouldBeRead) {
    drives.drive("/dev/sda").forms.clear();
    const CliResult r = Run({"health"});
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.out, HasSubstr("not available"));
    const CliResult one = Run({"health", "/dev/vda"});
    EXPECT_EQ(one.code, 1);
    EXPECT_THAT(one.out, HasSubstr("Health:       Unknown (SMART data could not be read)"));
    // A disk that cannot even be opened says so, by number as by path.
    drives.drive("/dev/vda").openError = 1;  // EPERM
    const CliResult closed = Run({"health", "drive:1"});
    EXPECT_EQ(closed.code, 1);
    EXPECT_THAT(closed.out, HasSubstr("Cannot open the device handle - SMART cannot be read (Operation not permitted)"));
    EXPECT_EQ(Run({"health", "drive:7"}).code, 2);
    // A program without drive commands says so instead of guessing.
    const CliResult none = Run({"health"}, false);
    EXPECT_EQ(none.code, 1);
    EXPECT_THAT(none.err, HasSubstr("drive commands are not available"));
}

TEST_F(CliHealthTest, OneDiskShowsItsAttributeTable) {
    const CliResult r = Run({"health", "/dev/sda"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Serial:       X3H4ABCDE"));
    EXPECT_THAT(r.out, HasSubstr("05  Reallocated Sector Count"));
    EXPECT_THAT(r.out, HasSubstr("000000000002"));
    EXPECT_THAT(r.out, HasSubstr("Warning (raw > 0)"));
    EXPECT_THAT(r.out, HasSubstr("Temperature:    40 Deg. Celsius"));
    EXPECT_THAT(r.out, HasSubstr("Health:       Warning - Reallocated Sector Count"));
    EXPECT_THAT(r.out, HasSubstr("S.M.A.R.T reported some attributes are closing to their threshold"));

    const CliResult j = Run({"health", "drive:0", "--json"});
    EXPECT_EQ(j.code, 0) << j.err;
    const auto doc = nlohmann::json::parse(j.out);
    EXPECT_EQ(doc["health"], "Warning - Reallocated Sector Count");
    ASSERT_EQ(doc["attributes"].size(), 4u);
    EXPECT_EQ(doc["attributes"][3]["name"], "Temperature");  // trimmed outside the list
    EXPECT_EQ(doc["attributes"][1]["status"], "Warning (raw > 0)");
}

TEST_F(CliHealthTest, SavedPagesReplayToTheSameVerdict) {
    TempDir dir;
    const CliResult live = Run({"health", "/dev/sda", "--save-pages", dir.path().string()});
    ASSERT_EQ(live.code, 0) << live.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "sda" / "smart-data.bin"));

    // Replayed without any drive: the saved folder of one drive, then the folder of all.
    const CliResult one = Run({"health", "--from-pages", (dir / "sda").string()}, false);
    EXPECT_EQ(one.code, 0) << one.err;
    EXPECT_EQ(one.out, live.out);

    const CliResult all = Run({"health", "--save-pages", dir.path().string()});
    const CliResult replay = Run({"health", "--from-pages", dir.path().string()}, false);
    EXPECT_EQ(replay.code, all.code);
    EXPECT_THAT(replay.out, HasSubstr("Warning - Reallocated Sector Count"));
    EXPECT_THAT(replay.out, HasSubstr("S.M.A.R.T. not available"));
}

TEST_F(CliHealthTest, DamagedSavedPagesAreNotTrusted) {
    TempDir dir;
    ASSERT_EQ(Run({"health", "/dev/sda", "--save-pages", dir.path().string()}).code, 0);
    // A page cut short and a page of noise: no verdict, exit 1.
    std::filesystem::resize_file(dir / "sda" / "smart-data.bin", 200);
    CliResult r = Run({"health", "--from-pages", (dir / "sda").string()}, false);
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.out, HasSubstr("No SMART attributes read"));
    {
        std::ofstream noise(dir / "sda" / "smart-data.bin", std::ios::binary | std::ios::trunc);
        for (int i = 0; i < 512; ++i) noise.put(static_cast<char>(i * 91 + 7));
    }
    r = Run({"health", "--from-pages", (dir / "sda").string()}, false);
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.out, Not(HasSubstr("Health:       Good")));
    // A folder without saved pages is a usage error.
    TempDir empty;
    EXPECT_EQ(Run({"health", "--from-pages", empty.path().string()}, false).code, 2);
}

TEST_F(CliHealthTest, VolumeShowsItsTrimLine) {
    // Partitions of a disk that accepts discards: NTFS asks the disk, FAT never does.
    os.addDisk("/dev/sdb1", NtfsBuilder().finish(), 512, true);
    drives.add("/dev/sdb1").trim = {true, false, true, false};
    VolumeBuilder fat(Fs::Fat16);
    os.addDisk("/dev/sdb2", std::move(fat.bytes()), 512, true);
    os.addDisk("/dev/sdc1", NtfsBuilder().finish(), 512, true);  // its disk says nothing

    CliResult r = Run({"health", "/dev/sdb1"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("File system:  NTFS"));
    EXPECT_THAT(r.out, HasSubstr("TRIM:         On - deleted data on this drive may already be erased"));
    r = Run({"health", "/dev/sdb2"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("TRIM:         Not used on FAT/exFAT volumes"));
    r = Run({"health", "/dev/sdc1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.out, HasSubstr("TRIM:         Unknown - the device did not report its type"));
}

}  // namespace
}  // namespace brenvale::test
