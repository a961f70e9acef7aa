// brenvale-cli end to end over the fake platform: output, exit codes and files written.

#include <gmock/gmock.h>

#include <nlohmann/json.hpp>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "cli/cli_app.h"
#include "storage/device_test_util.h"
#include "storage/image_descriptor.h"
#include "storage/le.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using ::testing::HasSubstr;

struct CliResult {
    int code;
    std::string out, err;
    nlohmann::json json() const { return nlohmann::json::parse(out); }
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A FAT16 boot sector, then patterned sectors.
        auto vol = PatternedSectors(2000);
        const auto boot = Fat16Volume(1);
        std::copy(boot.begin(), boot.end(), vol.begin());
        os.addDisk("/img/vol.img", vol, 512, false);
    }

    CliResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), "brenvale-cli");
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream out, err;
        const int code = cli::Run(static_cast<int>(argv.size()), argv.data(), os, out, err);
        return {code, out.str(), err.str()};
    }

    platform::fake::FakePlatform os;
    TempDir tmp;
};

TEST_F(CliTest, InfoDescribesARawImage) {
    const auto r = Run({"info", "/img/vol.img", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = r.json();
    EXPECT_EQ(j["kind"], "raw");
    EXPECT_EQ(j["sector_size"], 512);
    EXPECT_EQ(j["sectors"], 2000);
    EXPECT_EQ(j["file_system"], "FAT16");
    EXPECT_EQ(j["model"], "");
}

TEST_F(CliTest, InfoTextForPeople) {
    const auto r = Run({"info", "/img/vol.img"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "Source:       /img/vol.img\n"
              "Kind:         raw\n"
              "Sector size:  512\n"
              "Sectors:      2000\n"
              "Size:         1000 KB\n"
              "File system:  FAT16\n");
}

TEST_F(CliTest, SectorSizeOptionAppliesToRawImages) {
    const auto r = Run({"--sector-size", "4096", "info", "/img/vol.img", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.json()["sectors"], 2000 * 512 / 4096);
    EXPECT_EQ(Run({"--sector-size", "1000", "info", "/img/vol.img"}).code, 2);
}

TEST_F(CliTest, UnusableInputEndsWithExitTwoAndOneLine) {
    auto corrupt = PatternedSectors(4);
    os.addDisk("/img/corrupt.dif", corrupt, 512, false);
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    for (const auto& c : {Case{{"info", "/img/none.dif"}, "brenvale-cli: /img/none.dif: Cannot open drive image.\n"},
                          Case{{"info", "/img/corrupt.dif"}, "brenvale-cli: /img/corrupt.dif: Invalid or corrupted drive image.\n"},
                          Case{{"info", "drive:3"}, "brenvale-cli: drive:3: No such device\n"},
                          Case{{"info", "volume:0"}, "brenvale-cli: volume:0: not a drive or volume number (see 'brenvale-cli sources')\n"},
                          Case{{"info", "drive:x"}, "brenvale-cli: drive:x: not a drive or volume number (see 'brenvale-cli sources')\n"},
                          Case{{"image", "info", "/img/none.dif"}, "brenvale-cli: /img/none.dif: Cannot open drive image.\n"},
                          Case{{"info", "/dev/sdx"}, "brenvale-cli: /dev/sdx: No such file or directory\n"}}) {
        const auto r = Run(c.args);
        EXPECT_EQ(r.code, 2) << c.args.back();
        EXPECT_EQ(r.err, c.message);
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(CliTest, BadUsageIsExitTwo) {
    EXPECT_EQ(Run({}).code, 2);
    EXPECT_EQ(Run({"frobnicate"}).code, 2);
    EXPECT_EQ(Run({"info"}).code, 2);
    EXPECT_EQ(Run({"image", "create", "/img/vol.img"}).code, 2) << "--to is required";
    EXPECT_EQ(Run({"--help"}).code, 0);
}

TEST_F(CliTest, ImageCreateThenInfo) {
    const auto target = tmp.file("vol.dif");
    const auto r = Run({"image", "create", "/img/vol.img", "--to", target, "--from", "0", "--count", "1500", "--volume"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Image creation completed (\"" + target + "\")\n");

    os.addDisk(target, ReadWholeFile(target), 512, false);
    const auto info = Run({"image", "info", target, "--json"});
    ASSERT_EQ(info.code, 0) << info.err;
    const auto j = info.json();
    EXPECT_EQ(j["version"], "DSKIMG0101");
    EXPECT_EQ(j["sectors"], 1500 + 63);
    EXPECT_EQ(j["file_sectors"], 1500 + 63);
    EXPECT_EQ(j["source_type"], 2);
    EXPECT_EQ(j["crc_valid"], true);

    // The copy loads as a disk whose partition holds the FAT16 volume.
    const auto again = Run({"info", target, "--json"});
    ASSERT_EQ(again.code, 0);
    EXPECT_EQ(again.json()["kind"], "dif");
    EXPECT_EQ(again.json()["file_system"], "Unknown") << "sector 0 is the synthetic MBR";

    // A damaged descriptor is reported, with exit 1.
    auto bytes = ReadWholeFile(target);
    bytes[bytes.size() - 512 + 49] ^= std::byte{1};
    os.addDisk(target, bytes, 512, false);
    const auto bad = Run({"image", "info", target});
    EXPECT_EQ(bad.code, 1);
    EXPECT_THAT(bad.out, HasSubstr("(INVALID)"));
}

TEST_F(CliTest, ImageCreateChecksItsRange) {
    const auto target = tmp.file("x.dif");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--from", "2000"}, {"--from", "1999", "--count", "2"}, {"--count", "0"}}) {
        std::vector<std::string> all{"image", "create", "/img/vol.img", "--to", target};
        all.insert(all.end(), args.begin(), args.end());
        const auto r = Run(all);
        EXPECT_EQ(r.code, 2) << args[0];
        EXPECT_FALSE(std::filesystem::exists(target));
    }
    EXPECT_EQ(Run({"image", "create", "/img/vol.img", "--to", tmp.file("no/such/dir.dif")}).code, 2);
}

TEST_F(CliTest, ImageCreateRefusesATargetOnTheDiskBeingRead) {
    os.addDisk("/dev/sdq", PatternedSectors(100));
    os.whole = {BlockDevice("sdq")};
    os.extents[tmp.path().string()] = {{0, 0, 100 * 512}};
    const auto r = Run({"image", "create", "drive:0", "--to", tmp.file("on-source.dif")});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr("The file you selected is on the disk being imaged.\nWriting the image there"));
    EXPECT_FALSE(std::filesystem::exists(tmp.file("on-source.dif")));
}

TEST_F(CliTest, EventLogFileIsWrittenAtExit) {
    const auto target = tmp.file("e.dif");
    const auto logFile = tmp.file("run.log");
    os.disk("/img/vol.img").faults.bad = {1000};
    const auto r = Run({"--event-log", logFile, "image", "create", "/img/vol.img", "--to", target});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto bytes = ReadWholeFile(logFile);
    const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    EXPECT_THAT(text, ::testing::StartsWith("Event\t\tTime\t\tDescription\r\n"));
    EXPECT_THAT(text, HasSubstr("\tStarting image \"" + target + "\" (LBA 0, 2000 sectors)\r\n"));
    EXPECT_THAT(text, HasSubstr("Drive I/O\t"));
    EXPECT_THAT(text, HasSubstr("\tBad sectors 1000 - 1000 (1 sectors): skipped and zero-filled\r\n"));
    EXPECT_THAT(text, HasSubstr("\tImage creation completed (\"" + target + "\")\r\n"));
}

TEST_F(CliTest, SourcesListsDrivesAndVolumes) {
    os.addDisk("/dev/sdq", PatternedSectors(100));
    auto disk = BlockDevice("sdq");
    disk.model = "Thumb USB Device";
    disk.removable = true;
    os.whole = {disk};
    auto part = BlockDevice("sdq1", "sdq");
    part.removable = true;
    part.sizeBytes = 2000 * 512;
    part.mountPoint = "/media/thumb";
    os.parts = {part};
    os.addDisk("/dev/sdq1", os.disk("/img/vol.img").data);
    const auto r = Run({"sources", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = r.json();
    ASSERT_EQ(j["drives"].size(), 1u);
    EXPECT_EQ(j["drives"][0]["source"], "drive:0");
    EXPECT_EQ(j["drives"][0]["model"], "Thumb");
    EXPECT_EQ(j["drives"][0]["size"], 100 * 512);
    EXPECT_EQ(j["drives"][0]["removable"], true);
    ASSERT_EQ(j["volumes"].size(), 1u);
    EXPECT_EQ(j["volumes"][0]["source"], "volume:1");
    EXPECT_EQ(j["volumes"][0]["file_system"], "FAT16");
    EXPECT_EQ(j["volumes"][0]["mount_point"], "/media/thumb");

    const auto text = Run({"sources"});
    EXPECT_THAT(text.out, HasSubstr("drive:0  /dev/sdq  Thumb  50 KB     512  yes"));
    EXPECT_THAT(text.out, HasSubstr("volume:1  /dev/sdq1  /media/thumb  FAT16"));
}

// A disk `sources` cannot open is named with the system's reason; "needs root" is said only
// to a user who is not root and was refused for want of rights.
TEST_F(CliTest, SourcesSaysWhyADiskCouldNotBeOpened) {
    os.whole = {BlockDevice("sda")};
    struct Case {
        bool root;
        int error;
        std::string line;
    };
    const Case cases[] = {
        {true, EPERM, "brenvale-cli: Cannot open /dev/sda: " + std::string(std::strerror(EPERM)) + "\n"},
        {false, EACCES,
         "brenvale-cli: Cannot open /dev/sda: " + std::string(std::strerror(EACCES)) + " (reading disks needs root)\n"},
        {false, EIO, "brenvale-cli: Cannot open /dev/sda: " + std::string(std::strerror(EIO)) + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        os.root = c.root;
        os.openErrors["/dev/sda"] = c.error;
        const auto r = Run({"sources"});
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.err, c.line);
    }
}

}  // namespace
}  // namespace brenvale::test
