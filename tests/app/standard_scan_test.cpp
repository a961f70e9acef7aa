// The standard-scan command: its event-log lines for every outcome, progress reaching the UI,
// and the warning for a device that went offline during the scan.

#include <gmock/gmock.h>

#include "app/scripted_ui.h"
#include "app/standard_scan.h"
#include "partitions/physical_drv.h"
#include "platform/fake/fake_platform.h"
#include "storage/device_events.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using ::testing::ElementsAre;

class StandardScanTest : public ::testing::Test {
protected:
    void TearDown() override { storage::DeviceAborted = false; }

    // The volume image as the only disk of the fake platform.
    partitions::TPhysicalDrv& Open(std::vector<std::byte> bytes) {
        disk = &os.addDisk("/vol.img", std::move(bytes), 512, false);
        drv = std::make_unique<partitions::TPhysicalDrv>(os, "/vol.img");
        return *drv;
    }
    int Scan() {
        scan = std::make_unique<scan::TUndelete>(*drv->Device, *drv->PartitionList.back(), &ui);
        return command.Run(*scan, "vol.img");
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (const auto& e : log.Entries()) {
            if (e.Event == app::kStandardScanEvent) out.push_back(e.Description);
        }
        return out;
    }
    std::vector<std::byte> Fat12Fixture() {
        const auto path = fixture("fat12.img");
        return path ? ReadWholeFile(*path) : std::vector<std::byte>{};
    }

    platform::fake::FakePlatform os;
    platform::fake::FakeDisk* disk = nullptr;
    std::unique_ptr<partitions::TPhysicalDrv> drv;
    std::unique_ptr<scan::TUndelete> scan;
    ScriptedUi ui;
    app::EventLog log;
    app::StandardScanCommand command{ui, log};
};

TEST_F(StandardScanTest, CompletedScanLogsStartAndEndAndReportsEachFolder) {
    auto bytes = Fat12Fixture();
    if (bytes.empty()) GTEST_SKIP() << "fixture fat12.img not built";
    Open(std::move(bytes));
    EXPECT_EQ(Scan(), scan::kScanCompleted);
    // The exact count is checked on the demo image; this image's manifest also lists an empty
    // deleted file, which the scan does not show.
    EXPECT_THAT(Lines(), ElementsAre("Starting scan \"vol.img\"", "Scan progress completed",
                                     ::testing::MatchesRegex("[0-9]+ files and folders, [0-9]+ deleted")));
    EXPECT_FALSE(scan->ScannedFiles.empty());
    // Every folder is named on the status bar before it is read; the root has no name.
    EXPECT_THAT(ui.statusTexts, ::testing::Contains(""));
    EXPECT_THAT(ui.statusTexts, ::testing::Contains("Deep Level Four"));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(command.ActionInProgress());
}

TEST_F(StandardScanTest, StoppedScanKeepsWhatItFoundAndLogsUserTerminated) {
    auto bytes = Fat12Fixture();
    if (bytes.empty()) GTEST_SKIP() << "fixture fat12.img not built";
    Open(std::move(bytes));
    int pumps = 0;
    ui.onPump = [&] {
        if (++pumps == 40) command.Stop();
    };
    EXPECT_EQ(Scan(), scan::kScanStopped);
    EXPECT_THAT(Lines(), ElementsAre("Starting scan \"vol.img\"",
                                     "Scan progress finished with return code \"User Terminated\"",
                                     ::testing::MatchesRegex("[0-9]+ files and folders, [0-9]+ deleted")));
    EXPECT_FALSE(scan->ScannedFiles.empty());
    EXPECT_FALSE(scan->FTerminated);
    // A later scan of the same object runs to the end and finds more.
    const auto partial = scan->ScannedFiles.size();
    ui.onPump = nullptr;
    EXPECT_EQ(command.Run(*scan, "vol.img"), scan::kScanCompleted);
    EXPECT_GT(scan->ScannedFiles.size(), partial);
}

TEST_F(StandardScanTest, UnsupportedFileSystemIsAnAbnormalEnd) {
    Open(std::vector<std::byte>(64 * 512));
    EXPECT_EQ(Scan(), scan::kScanNotScannable);
    EXPECT_THAT(Lines(), ElementsAre("Starting scan \"vol.img\"", "Scan progress abnormal finished"));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].second, "Unsupported file system type.");
}

TEST_F(StandardScanTest, DeviceGoingOfflineIsLoggedWarnedAndCleared) {
    auto bytes = Fat12Fixture();
    if (bytes.empty()) GTEST_SKIP() << "fixture fat12.img not built";
    Open(std::move(bytes));
    scan = std::make_unique<scan::TUndelete>(*drv->Device, *drv->PartitionList.back(), &ui);
    disk->faults.offlineAfterReads = disk->reads + 3;
    disk->faults.reopenFails = true;
    command.Run(*scan, "vol.img");
    EXPECT_THAT(Lines(), ElementsAre("Starting scan \"vol.img\"", "Scan aborted - the device went offline"));
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back().first, app::MessageKind::Warning);
    EXPECT_THAT(ui.messages.back().second, ::testing::StartsWith("The device went offline - the scan was aborted."));
    EXPECT_FALSE(storage::DeviceAborted);
}

}  // namespace
}  // namespace brenvale::test
