// The partition-scan command: resume offers, checkpoints after a stop, and the event log.

#include <gmock/gmock.h>

#include <filesystem>

#include "app/partition_scan.h"
#include "app/scripted_ui.h"
#include "partitions/disk_builder.h"
#include "storage/device_test_util.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using ::testing::ElementsAre;

class PartitionScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        DiskBuilder b(20480);
        b.entry(0, 0, 0x83, 63, 20000);  // one Linux partition over everything: nothing in free space
        b.fat16(9000, 5000, 1).ntfs(15000, 4000, 2);
        auto& d = os.addDisk("/dev/sdp", b.bytes());
        d.geometry->mediaType = 12;
        os.addDisk("/dev/sdq", b.bytes()).geometry->mediaType = 12;
        os.whole = {BlockDevice("sdp"), BlockDevice("sdq")};
    }

    std::unique_ptr<partitions::TPhysicalDrv> Drive(std::uint8_t num = 0x80) {
        return std::make_unique<partitions::TPhysicalDrv>(os, num);
    }
    int Scan(partitions::TPhysicalDrv& drv) { return command.Run(drv, {"Disk 0", {0, 20480}}); }
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (const auto& e : log.Entries()) {
            if (e.Event == app::kPartitionScanEvent) out.push_back(e.Description);
        }
        return out;
    }
    // Stops the search once it has read batch `batch` (2048 sectors each, 10 batches).
    void StopAt(int percent) {
        ui.onProgress = [this, percent](int p) {
            if (p == percent && running) running->TerminateProgress();
        };
    }
    int ScanStopped(partitions::TPhysicalDrv& drv, int percent) {
        running = &drv;
        StopAt(percent);
        const int r = Scan(drv);
        ui.onProgress = nullptr;
        return r;
    }
    std::string CheckpointFile() const { return tmp.file("parti_scan.prc"); }

    platform::fake::FakePlatform os;
    DeviceEventRecorder events;
    TempDir tmp;
    ScriptedUi ui;
    app::EventLog log;
    std::string configured;
    app::PartitionScanCommand command{ui, log, configured, tmp.path().string()};
    partitions::TPhysicalDrv* running = nullptr;
};

TEST_F(PartitionScanTest, CompletedScanFindsTheVolumes) {
    auto drv = Drive();
    ASSERT_EQ(Scan(*drv), partitions::kSearchDone);
    ASSERT_EQ(drv->LostPartitionList.size(), 2u);
    // The two volumes the disk was built with.
    EXPECT_THAT(Lines(), ElementsAre("Starting scan \"Disk 0\"", "Scan progress completed", "2 lost partition(s) found"));
    EXPECT_THAT(ui.proposedRanges, ::testing::SizeIs(1));
    EXPECT_EQ(ui.progress.front(), 0);
    EXPECT_EQ(ui.progress.back(), 90);
    EXPECT_FALSE(command.ActionInProgress());
}

TEST_F(PartitionScanTest, StopSavesACheckpointThatTheNextScanResumes) {
    auto drv = Drive();
    ASSERT_EQ(ScanStopped(*drv, 50), partitions::kSearchStopped);  // batch 5: the FAT16 volume is found
    ASSERT_TRUE(std::filesystem::exists(CheckpointFile()));
    EXPECT_EQ(configured, CheckpointFile()) << "the default path is remembered";
    EXPECT_THAT(Lines(), ElementsAre("Starting scan \"Disk 0\"", "Checkpoint saved (auto)",
                                     "Scan progress finished with return code \"User Terminated\"",
                                     "1 lost partition(s) found before the stop"));

    auto again = Drive();
    ui.answer = true;
    ASSERT_EQ(Scan(*again), partitions::kSearchDone);
    ASSERT_THAT(ui.questions, ::testing::SizeIs(1));
    EXPECT_EQ(ui.questions[0],
              "Found an unfinished partition scan (range: sector 0 to 20479, scanned up to sector 10240, 1 partitions "
              "found).\r\n\r\nContinue scanning from the checkpoint?\r\n\r\nYes = continue scanning    No = scan "
              "from the beginning");
    EXPECT_EQ(ui.proposedRanges.size(), 1u) << "a resumed scan takes its range from the checkpoint";
    EXPECT_EQ(again->LostPartitionList.size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(CheckpointFile())) << "a completed scan removes it";
    EXPECT_THAT(Lines(), ::testing::Contains("Resume from checkpoint"));
}

TEST_F(PartitionScanTest, RefusedOfferDeletesTheCheckpoint) {
    auto drv = Drive();
    ASSERT_EQ(ScanStopped(*drv, 50), partitions::kSearchStopped);
    ui.answer = false;
    ui.cancelRange = true;
    EXPECT_EQ(Scan(*Drive()), app::kPartitionScanCancelled);
    EXPECT_EQ(ui.questions.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(CheckpointFile()));
}

TEST_F(PartitionScanTest, StopBeforeTheFirstBatchSavesNothing) {
    auto drv = Drive();
    ASSERT_EQ(ScanStopped(*drv, 0), partitions::kSearchStopped);
    EXPECT_FALSE(std::filesystem::exists(CheckpointFile()));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].first, app::MessageKind::Information);
    EXPECT_EQ(ui.messages[0].second, app::kStoppedBeforeFirstBatch);
}

TEST_F(PartitionScanTest, CheckpointOfAnotherDriveIsLeftAlone) {
    auto other = Drive(0x81);
    ASSERT_EQ(ScanStopped(*other, 50), partitions::kSearchStopped);
    ui.answer = true;
    auto drv = Drive(0x80);
    ASSERT_EQ(Scan(*drv), partitions::kSearchDone);
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_TRUE(std::filesystem::exists(CheckpointFile())) << "kept for drive 0x81";
}

TEST_F(PartitionScanTest, UnreadableCheckpointIsDeletedWithoutAsking) {
    WriteWholeFile(CheckpointFile(), std::vector<std::byte>(40, std::byte{'Q'}));
    ui.answer = true;
    auto drv = Drive();
    ASSERT_EQ(Scan(*drv), partitions::kSearchDone);
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_FALSE(std::filesystem::exists(CheckpointFile()));
}

TEST_F(PartitionScanTest, QuestionShowsSectorsRelativeToTheReferenceStart) {
    partitions::TPartiCheckpointData d;
    d.LBA = 5000;
    d.Blocks = 1000;
    d.CurrLBA = 5500;
    EXPECT_THAT(app::PartitionScanCommand::ResumeQuestion(d),
                ::testing::StartsWith("Found an unfinished partition scan (range: sector 5000 to 5999, scanned up to "
                                      "sector 5500, 0 partitions found)."));
    d.RefFrame = 1;
    d.RefPartiStart = 4000;
    EXPECT_THAT(app::PartitionScanCommand::ResumeQuestion(d),
                ::testing::StartsWith("Found an unfinished partition scan (range: sector 1000 to 1999, scanned up to "
                                      "sector 1500, 0 partitions found)."));
}

TEST_F(PartitionScanTest, DeviceGoingOfflineWarnsAndSavesNothing) {
    auto drv = Drive();
    os.disk("/dev/sdp").faults.offlineAfterReads = os.disk("/dev/sdp").reads + 3;
    EXPECT_EQ(Scan(*drv), partitions::kSearchDeviceAborted);
    EXPECT_FALSE(std::filesystem::exists(CheckpointFile()));
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back().second, app::kPartitionScanOffline);
    EXPECT_FALSE(storage::DeviceAborted) << "cleared once reported";
    EXPECT_EQ(Lines().back(), "Scan progress abnormal finished");
}

TEST_F(PartitionScanTest, RefusedWhileBusy) {
    auto drv = Drive();
    int nested = 0;
    ui.onPump = [&] {
        if (nested == 0) nested = command.Run(*drv, {"again", {0, 1}});
    };
    ASSERT_EQ(Scan(*drv), partitions::kSearchDone);
    EXPECT_EQ(nested, app::kPartitionScanBusy);
}

}  // namespace
}  // namespace brenvale::test
