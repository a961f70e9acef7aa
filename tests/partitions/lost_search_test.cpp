// The lost-partition search: candidates, fingerprints, batches, stop and resume, and the
// plausibility check.

#include <gmock/gmock.h>

#include "partitions/disk_builder.h"
#include "partitions/lost_partitions.h"
#include "partitions/parti_checkpoint.h"
#include "partitions/physical_drv.h"
#include "storage/device_test_util.h"
#include "storage/fs_types.h"
#include "support/temp_dir.h"

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

// A volume as the search found it: where it starts, what the image holds of it, what it claims.
struct FoundVolume {
    std::int64_t start, size, claimed;
    friend bool operator==(const FoundVolume&, const FoundVolume&) = default;
    friend std::ostream& operator<<(std::ostream& os, const FoundVolume& v) {
        return os << v.start << "+" << v.size << " (claims " << v.claimed << ")";
    }
};

// Live FAT32 and NTFS volumes with their backup boot sectors, and lost volumes with theirs: a
// search stopped at any batch and resumed finds exactly what one uninterrupted search finds,
// whether it resumes in the same object, from a checkpoint file, or from an older checkpoint
// that does not hold the fingerprint.
TEST(LostSearchResume, ResumedSearchFindsWhatAnUninterruptedOneFinds) {
    constexpr std::uint64_t kSectors = 400000;  // 196 batches of 2048 sectors
    DiskBuilder b(kSectors);
    // FAT32 volumes have enough clusters to be FAT32. The live one's backup (6 sectors on) lies
    // in the next batch.
    b.entry(0, 0, 0x0B, 4094, 70000).fat32(4094, 70000, 0xF32).copySector(4094, 4100);
    b.entry(0, 1, 0x07, 80000, 50000).ntfs(80000, 50000, 0x1EAF).copySector(80000, 129999);
    b.entry(0, 2, 0x83, 130000, static_cast<std::uint32_t>(kSectors - 130000));
    // Lost: an NTFS volume with its backup, a FAT32 volume whose backup crosses a batch, and an
    // NTFS volume that claims more than the image holds.
    b.ntfs(150000, 30000, 0x7).copySector(150000, 179999);
    b.fat32(200702, 70000, 0x8).copySector(200702, 200708);
    b.ntfs(380000, 60000, 0x9);
    const std::vector<std::int64_t> want = {150000, 200702, 380000};

    const auto found = [](const TPhysicalDrv& d) {
        std::vector<FoundVolume> out;
        for (const TPartition* p : d.LostPartitionList) out.push_back({PartitionStart(p), PartitionSize(p), p->ClaimedSectCount});
        return out;
    };
    platform::fake::FakePlatform os;
    os.addDisk("/img/backups.img", b.bytes(), 512, false);
    const auto open = [&] {
        auto d = std::make_unique<TPhysicalDrv>(os, "/img/backups.img");
        d->LostPartitionList.clear();  // only the full search counts
        return d;
    };
    auto whole = open();
    ASSERT_EQ(whole->DetectLostParti(&whole->Partition, 0, kSectors, false), partitions::kSearchDone);
    const auto uninterrupted = found(*whole);
    std::vector<std::int64_t> starts;
    for (const auto& f : uninterrupted) starts.push_back(f.start);
    ASSERT_EQ(starts, want);
    EXPECT_EQ(uninterrupted.back().claimed, 60000) << "the last volume passes the image's end";

    enum class Resume { SameObject, CheckpointFile, OlderCheckpoint };
    test::TempDir dir;
    // Batches that hold the FAT32 backups (2, 98), the NTFS backups (63, 87), and others.
    for (const int stopBatch : {1, 2, 3, 40, 63, 64, 87, 88, 97, 98, 120, 190, 195}) {
        for (const Resume how : {Resume::SameObject, Resume::CheckpointFile, Resume::OlderCheckpoint}) {
            SCOPED_TRACE("stopped at batch " + std::to_string(stopBatch) + ", resumed " +
                         std::to_string(static_cast<int>(how)));
            auto d = open();
            int batch = 0;
            d->FOnPump = [&] {
                if (batch++ == stopBatch) d->TerminateProgress();
            };
            ASSERT_EQ(d->DetectLostParti(&d->Partition, 0, kSectors, false), partitions::kSearchStopped);
            ASSERT_EQ(d->ResumeCurrLBA, stopBatch * 2048);
            d->FOnPump = nullptr;
            if (how != Resume::SameObject) {
                partitions::TPartiCheckpointData data;
                data.SourceType = 2;
                data.Blocks = static_cast<std::int64_t>(kSectors);
                data.CurrLBA = d->ResumeCurrLBA;
                data.LastPrint = how == Resume::CheckpointFile ? d->ResumeLastPrint : std::nullopt;
                for (const TPartition* p : d->LostPartitionList) data.Partitions.push_back(*p);
                const std::string file = dir.file("parti_scan.prc");
                ASSERT_TRUE(partitions::SavePartiCheckpoint(file, data));
                partitions::TPartiCheckpointData loaded;
                ASSERT_EQ(partitions::LoadPartiCheckpoint(file, loaded), partitions::kPartiCheckpointLoaded);
                d = open();
                d->ResumeCurrLBA = loaded.CurrLBA;
                d->ResumeLastPrint = loaded.LastPrint;
                d->ResumeLostParts = std::move(loaded.Partitions);
            }
            ASSERT_EQ(d->DetectLostParti(&d->Partition, 0, kSectors, false), partitions::kSearchDone);
            EXPECT_EQ(found(*d), uninterrupted);
        }
    }
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
