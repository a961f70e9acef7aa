// The lost-partition search: candidates, fingerprints, batches, stop and resume, and the
// plausibility check.

#include <gmock/gmock.h>

#include "partitions/disk_builder.h"
#include "partitions/lost_partitions.h"
#include "partitions/physical_drv.h"
#include "storage/device_test_util.h"
#include "storage/fs_types.h"

namespace brenvale::test {
namespace {

using partitions::PartitionSize;
using partitions::PartitionStart;
using partitions::TPartition;
using partitions::TPhysicalDrv;

class LostSearchTest : public ::testing::Test {
protected:
    // A disk whose one Linux partition covers everything, so building the tree probes nothing.
    DiskBuilder NewDisk(std::uint64_t sectors) {
        DiskBuilder b(sectors);
        b.entry(0, 0, 0x83, 63, static_cast<std::uint32_t>(sectors - 63));
        return b;
    }
    TPhysicalDrv& Open(DiskBuilder& b) {
        disk = &os.addDisk("/img/lost.img", b.bytes(), 512, false);
        drv = std::make_unique<TPhysicalDrv>(os, "/img/lost.img");
        disk->log.clear();
        return *drv;
    }
    std::vector<std::int64_t> Starts() const {
        std::vector<std::int64_t> out;
        for (const TPartition* p : drv->LostPartitionList) out.push_back(PartitionStart(p));
        return out;
    }

    platform::fake::FakePlatform os;
    platform::fake::FakeDisk* disk = nullptr;
    std::unique_ptr<TPhysicalDrv> drv;
    DeviceEventRecorder events;
};

TEST_F(LostSearchTest, FindsEveryKindOfVolumeWithItsSize) {
    auto b = NewDisk(400000);
    b.fat16(1000, 40000, 1).fat32(50000, 100000, 2).ntfs(160000, 50000, 3).exfat(220000, 60000, 4);
    auto& d = Open(b);
    ASSERT_EQ(d.DetectLostParti(&d.Partition, 0, 400000, false), partitions::kSearchDone);
    ASSERT_THAT(Starts(), ::testing::ElementsAre(1000, 50000, 160000, 220000));
    struct Want {
        std::uint8_t type, fs;
        std::int64_t size;
    };
    const Want want[] = {{0x06, storage::kFsFat16, 40000}, {0x0B, storage::kFsFat32, 100000},
                         {0x07, storage::kFsNtfs, 50000}, {0x07, storage::kFsExfat, 60000}};
    for (std::size_t i = 0; i < 4; ++i) {
        const TPartition* p = d.LostPartitionList[i];
        EXPECT_EQ(p->Entry.SystemFlag, want[i].type) << i;
        EXPECT_EQ(p->BootSector.FileSystemType, want[i].fs) << i;
        EXPECT_EQ(PartitionSize(p), want[i].size) << i;
        EXPECT_EQ(p->BaseLBA, 0);
    }
    EXPECT_EQ(d.LostPartitionList[3]->SectCount64, 60000) << "exFAT keeps its 64-bit length";
}

TEST_F(LostSearchTest, BackupBootSectorIsNotASecondVolume) {
    auto b = NewDisk(200000);
    b.fat32(3000, 100000, 0xBEEF).fat32(3006, 100000, 0xBEEF);  // FAT32 keeps a copy 6 sectors on
    auto& d = Open(b);
    ASSERT_EQ(d.DetectLostParti(&d.Partition, 0, 200000, false), partitions::kSearchDone);
    EXPECT_THAT(Starts(), ::testing::ElementsAre(3000));
}

TEST_F(LostSearchTest, SameSerialWithNothingBetweenIsSkipped) {
    auto b = NewDisk(200000);
    b.ntfs(3000, 40000, 0x77).ntfs(90000, 40000, 0x77).ntfs(150000, 40000, 0x78);
    auto& d = Open(b);
    ASSERT_EQ(d.DetectLostParti(&d.Partition, 0, 200000, false), partitions::kSearchDone);
    EXPECT_THAT(Starts(), ::testing::ElementsAre(3000, 150000));
}

TEST_F(LostSearchTest, ListedPartitionsAreNotLost) {
    auto b = NewDisk(100000);
    b.entry(0, 0, 0x06, 2048, 40000).fat16(2048, 40000, 1).fat16(60000, 20000, 2);
    auto& d = Open(b);
    ASSERT_EQ(d.DetectLostParti(&d.Partition, 0, 100000, false), partitions::kSearchDone);
    EXPECT_THAT(Starts(), ::testing::ElementsAre(60000));
}

TEST_F(LostSearchTest, BatchSizes) {
    auto b = NewDisk(100000);
    auto& d = Open(b);
    ASSERT_EQ(d.DetectLostParti(&d.Partition, 500, 100, false), partitions::kSearchDone);
    EXPECT_THAT(disk->log, ::testing::ElementsAre(std::make_pair(std::uint64_t{500 * 512}, std::size_t{100 * 512})));
    disk->log.clear();
    ASSERT_EQ(d.DetectLostParti(&d.Partition, 0, 5000, false), partitions::kSearchDone);
    ASSERT_EQ(disk->log.size(), 3u);
    EXPECT_EQ(disk->log[0].second, 2048u * 512) << "1 MiB batches";
    // Near the end of the device the last batch is shortened rather than skipped.
    disk->log.clear();
    ASSERT_EQ(d.DetectLostParti(&d.Partition, 99000, 1000, false), partitions::kSearchDone);
    ASSERT_EQ(disk->log.size(), 1u);
    EXPECT_EQ(disk->log[0].second, 1000u * 512);
    EXPECT_EQ(d.DetectLostParti(&d.Partition, 100000, 10, false), partitions::kSearchNothingDone);
    EXPECT_EQ(d.DetectLostParti(&d.Partition, 0, 0, false), partitions::kSearchNothingDone);
}

TEST_F(LostSearchTest, StopInABatchResumesAtThatBatch) {
    auto b = NewDisk(20480);
    b.fat16(9000, 5000, 1);
    auto& d = Open(b);
    std::vector<int> progress;
    d.FOnScan = [&](int percent) {
        progress.push_back(percent);
        if (percent == 40) d.TerminateProgress();  // in batch 4, before its sectors are examined
    };
    ASSERT_EQ(d.DetectLostParti(&d.Partition, 0, 20480, false), partitions::kSearchStopped);
    EXPECT_THAT(progress, ::testing::ElementsAre(0, 10, 20, 30, 40));
    EXPECT_EQ(d.ResumeCurrLBA, 4 * 2048);
    EXPECT_TRUE(d.LostPartitionList.empty());
    EXPECT_FALSE(d.Processing);
    EXPECT_FALSE(d.Terminated);

    progress.clear();
    disk->log.clear();
    d.FOnScan = [&](int percent) { progress.push_back(percent); };
    ASSERT_EQ(d.DetectLostParti(&d.Partition, 0, 20480, false), partitions::kSearchDone);
    EXPECT_EQ(disk->log.front().first, std::uint64_t{4 * 2048 * 512}) << "batch 4 is read again";
    EXPECT_THAT(progress, ::testing::ElementsAre(40, 50, 60, 70, 80, 90));
    EXPECT_THAT(Starts(), ::testing::ElementsAre(9000));
    EXPECT_EQ(d.ResumeCurrLBA, 0);
}

TEST_F(LostSearchTest, RestoredRecordsJoinTheResults) {
    auto b = NewDisk(20480);
    b.fat16(9000, 5000, 1);
    auto& d = Open(b);
    TPartition restored = partitions::MakeLostPartition(b.sector(9000), storage::kFsFat16, 9000, 512, 0);
    TPartition other = partitions::MakeLostPartition(b.sector(9000), storage::kFsFat16, 300, 512, 0);
    d.ResumeLostParts = {restored, other};
    d.ResumeCurrLBA = 8192;
    ASSERT_EQ(d.DetectLostParti(&d.Partition, 0, 20480, false), partitions::kSearchDone);
    EXPECT_THAT(Starts(), ::testing::ElementsAre(300, 9000)) << "the one found again is not doubled";
    EXPECT_TRUE(d.ResumeLostParts.empty());
}

TEST_F(LostSearchTest, DeviceFailureEndsTheSearch) {
    auto b = NewDisk(20480);
    b.fat16(1000, 5000, 1);
    auto& d = Open(b);
    disk->faults.hang = {6000};
    EXPECT_EQ(d.DetectLostParti(&d.Partition, 0, 20480, false), partitions::kSearchDeviceAborted);
    EXPECT_THAT(Starts(), ::testing::ElementsAre(1000)) << "what was found stays";
    EXPECT_FALSE(d.Processing);
}

TEST_F(LostSearchTest, OneSearchAtATime) {
    auto b = NewDisk(20480);
    auto& d = Open(b);
    d.Processing = true;
    EXPECT_EQ(d.DetectLostParti(&d.Partition, 0, 20480, false), partitions::kSearchNothingDone);
    EXPECT_TRUE(disk->log.empty());
}

TEST_F(LostSearchTest, QuickProbeFindsADeletedPartitionInFreeSpace) {
    DiskBuilder b(200000);
    b.entry(0, 0, 0x07, 2048, 40000).ntfs(2048, 40000, 1);
    b.fat16(42048 + 2048, 30000, 2);  // its table entry was deleted: it sits in free space
    b.exfat(150000, 20000, 3);        // too far into the gap for the probe to see
    auto& d = Open(b);
    ASSERT_EQ(d.LostPartitionList.size(), 1u);
    EXPECT_EQ(PartitionStart(d.LostPartitionList[0]), 44096);
}

TEST(LostPlausibility, Rules) {
    struct Case {
        const char* name;
        std::function<void(DiskBuilder&)> build;
        std::uint8_t fs;
        std::uint64_t deviceSectors;
        bool plausible;
    };
    const Case cases[] = {
        {"fat16", [](DiskBuilder& b) { b.fat16(0, 40000, 1); }, storage::kFsFat16, 100000, true},
        {"fat16 few root entries", [](DiskBuilder& b) { b.fat16(0, 40000, 1); ASSERT_TRUE(storage::putLe16(b.sector(0), 17, 8)); }, storage::kFsFat16, 100000, false},
        {"fat16 past the device", [](DiskBuilder& b) { b.fat16(0, 40000, 1); }, storage::kFsFat16, 39999, false},
        {"fat16 with no device bound", [](DiskBuilder& b) { b.fat16(0, 40000, 1); }, storage::kFsFat16, 0, true},
        {"fat32", [](DiskBuilder& b) { b.fat32(0, 100000, 1); }, storage::kFsFat32, 100000, true},
        {"fat32 root cluster 1", [](DiskBuilder& b) { b.fat32(0, 100000, 1); ASSERT_TRUE(storage::putLe32(b.sector(0), 44, 1)); }, storage::kFsFat32, 100000, false},
        {"ntfs", [](DiskBuilder& b) { b.ntfs(0, 50000, 1); }, storage::kFsNtfs, 100000, true},
        {"ntfs no mft", [](DiskBuilder& b) { b.ntfs(0, 50000, 1); ASSERT_TRUE(storage::putLe64(b.sector(0), 48, 0)); }, storage::kFsNtfs, 100000, false},
        {"exfat", [](DiskBuilder& b) { b.exfat(0, 50000, 1); }, storage::kFsExfat, 100000, true},
        {"exfat 8 KiB sectors", [](DiskBuilder& b) { b.exfat(0, 50000, 1, 13); }, storage::kFsExfat, 100000, false},
        {"unknown", [](DiskBuilder& b) { b.fat16(0, 40000, 1); }, storage::kFsUnknown, 100000, false},
    };
    for (const auto& c : cases) {
        DiskBuilder b(1);
        c.build(b);
        const TPartition p = partitions::MakeLostPartition(b.sector(0), c.fs, 0, 512, 0);
        EXPECT_EQ(partitions::IsPlausibleLostPartition(p, c.deviceSectors), c.plausible) << c.name;
    }
}

TEST(LostPartitionRecord, ClippedToTheImage) {
    DiskBuilder b(1);
    b.ntfs(0, 50000, 1);
    const TPartition p = partitions::MakeLostPartition(b.sector(0), storage::kFsNtfs, 70000, 512, 100000);
    EXPECT_EQ(p.ClaimedSectCount, 50000);
    EXPECT_EQ(p.SectCount64, 30000);
    EXPECT_EQ(Value(p.Entry.SectCount), 30000u);
    EXPECT_EQ(PartitionStart(&p), 70000);
}

}  // namespace
}  // namespace brenvale::test
