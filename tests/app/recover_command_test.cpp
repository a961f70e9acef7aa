// The recovery command: a destination on the disk area being read is refused before anything
// is written; a device that is offline stops it before it starts; counters and failure lines.

#include <gmock/gmock.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/recover_command.h"
#include "app/scripted_ui.h"
#include "storage/device_test_util.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

class RecoverCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        os.addDisk("/dev/sda", PatternedSectors(4096));
        os.addDisk("/dev/sda2", PatternedSectors(1024));
        os.whole = {BlockDevice("sda")};
        os.parts = {BlockDevice("sda2", "sda", 2048 * 512)};
        // The scanned partition is mounted at the temporary folder's "mounted"; "other" is a
        // file system on the first 1024 sectors of the same disk.
        os.extents[tmp.file("mounted")] = {{0, 2048 * 512, 1024 * 512}};
        os.extents[tmp.file("other")] = {{0, 0, 1024 * 512}};
        part.SectNum64 = 2048;
        part.SectCount64 = 1024;
    }
    app::RecoverySummary Recover(scan::TUndelete& scan, const std::string& dest) {
        app::RecoverCommand command(ui, log, os);
        return command.Run(scan, {{nullptr, "", true}}, dest, false);
    }

    TempDir tmp;
    platform::fake::FakePlatform os;
    partitions::TPartition part;
    ScriptedUi ui;
    app::EventLog log;
};

TEST_F(RecoverCommandTest, ADestinationOnTheScannedAreaIsRefusedBeforeAnythingIsCreated) {
    storage::TDevice disk(os, std::uint8_t{0x80});
    scan::TUndelete scan(disk, part, &ui);
    EXPECT_TRUE(scan.DestInsideScannedObject(os, tmp.file("mounted/new folder")));
    EXPECT_FALSE(scan.DestInsideScannedObject(os, tmp.file("other/new folder")));

    const auto refused = Recover(scan, tmp.file("mounted/new folder"));
    EXPECT_EQ(refused.outcome, app::RecoveryOutcome::DestinationRefused);
    EXPECT_FALSE(std::filesystem::exists(tmp.file("mounted")));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].first, app::MessageKind::Warning);
    EXPECT_THAT(ui.messages[0].second, ::testing::StartsWith("The folder you selected is on the drive being recovered."));

    // The whole disk covers the other file system too.
    scan.FWholeDiskObject = true;
    EXPECT_TRUE(scan.DestInsideScannedObject(os, tmp.file("other/x")));
}

TEST_F(RecoverCommandTest, ImagesAndOtherDisksAreNeverRefused) {
    os.addDisk("/img/disk.img", PatternedSectors(4096), 512, false);
    storage::TDevice image(os, "/img/disk.img");
    scan::TUndelete scan(image, part, &ui);
    EXPECT_FALSE(scan.DestInsideScannedObject(os, tmp.file("mounted/x")));
}

TEST_F(RecoverCommandTest, AnOfflineDeviceStopsTheCommandBeforeItStarts) {
    storage::TDevice disk(os, std::uint8_t{0x80});
    scan::TUndelete scan(disk, part, &ui);
    auto& d = os.disk("/dev/sda");
    d.faults.offlineAfterReads = d.reads;
    d.faults.reopenFails = true;
    const auto s = Recover(scan, tmp.file("elsewhere"));
    EXPECT_EQ(s.outcome, app::RecoveryOutcome::DeviceOffline);
    EXPECT_EQ(s.numProcessed, 0);
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_THAT(ui.messages.back().second, ::testing::StartsWith("The device is offline - recovery cannot proceed."));
    EXPECT_FALSE(std::filesystem::exists(tmp.file("elsewhere")));
    EXPECT_FALSE(storage::DeviceAborted);
}

// A destination that cannot take a file is named with the system's reason before anything is
// recovered, in the message and the event log.
TEST_F(RecoverCommandTest, AnUnwritableDestinationIsNamedWithItsReason) {
    os.addDisk("/img/disk.img", PatternedSectors(4096), 512, false);
    storage::TDevice image(os, "/img/disk.img");
    scan::TUndelete scan(image, part, &ui);
    { std::ofstream file(tmp.file("a file")); }
    const struct {
        std::string destination;
        int error;
    } cases[] = {
        {"/proc/brenvale-no-such-folder", ENOENT},
        {tmp.file("a file") + "/inside", ENOTDIR},
        {tmp.file("a file"), ENOTDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination);
        ui.messages.clear();
        const auto s = Recover(scan, c.destination);
        EXPECT_EQ(s.outcome, app::RecoveryOutcome::DestinationUnwritable);
        EXPECT_EQ(s.numProcessed, 0);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].first, app::MessageKind::Error);
        const std::string want = "Cannot write to the destination folder \"" + c.destination + "\": " + std::strerror(c.error);
        EXPECT_EQ(ui.messages[0].second, want);
        ASSERT_FALSE(log.Entries().empty());
        EXPECT_EQ(log.Entries().back().Description, want);
    }
}

}  // namespace
}  // namespace brenvale::test
