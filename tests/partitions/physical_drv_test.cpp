// Partition trees of hand-built disks: MBR, the extended chain, GPT, superfloppies, free
// space and image clipping.

#include <gmock/gmock.h>

#include "partitions/disk_builder.h"
#include "partitions/physical_drv.h"
#include "storage/device_test_util.h"
#include "platform/linux/linux_platform.h"
#include "storage/fs_types.h"
#include "support/temp_dir.h"
#include "support/fixtures.h"

namespace brenvale::test {
namespace {

using partitions::PartitionSize;
using partitions::PartitionStart;
using partitions::TPartition;
using partitions::TPhysicalDrv;

struct Span {
    std::int64_t start, size;
    std::uint8_t type;
    bool operator==(const Span&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Span& s) {
    return os << "{" << s.start << ", " << s.size << ", 0x" << std::hex << unsigned{s.type} << std::dec << "}";
}

// The records after the disk record; `withFree` false leaves the free-space records out.
std::vector<Span> Records(const TPhysicalDrv& drv, bool withFree = true) {
    std::vector<Span> out;
    for (std::size_t i = 1; i < drv.PartitionList.size(); ++i) {
        const TPartition* p = drv.PartitionList[i];
        if (withFree || p->Entry.SystemFlag != 0x00) out.push_back({PartitionStart(p), PartitionSize(p), p->Entry.SystemFlag});
    }
    return out;
}

const TPartition* At(const TPhysicalDrv& drv, std::int64_t start, std::uint8_t type) {
    for (const TPartition* p : drv.PartitionList) {
        if (PartitionStart(p) == start && p->Entry.SystemFlag == type) return p;
    }
    ADD_FAILURE() << "no record of type " << unsigned{type} << " at " << start;
    static const TPartition none;
    return &none;
}

class PhysicalDrvTest : public ::testing::Test {
protected:
    // A fixed disk (physical drive 0x80) holding the builder's bytes.
    std::unique_ptr<TPhysicalDrv> Disk(DiskBuilder& b, std::uint32_t mediaType = 12) {
        auto& d = os.addDisk("/dev/sdt", b.bytes());
        d.geometry->mediaType = mediaType;
        os.whole = {BlockDevice("sdt")};
        return std::make_unique<TPhysicalDrv>(os, std::uint8_t{0x80});
    }
    std::unique_ptr<TPhysicalDrv> Image(DiskBuilder& b, std::size_t keepBytes = SIZE_MAX) {
        auto bytes = b.bytes();
        if (keepBytes < bytes.size()) bytes.resize(keepBytes);
        os.addDisk("/img/disk.img", bytes, 512, false);
        return std::make_unique<TPhysicalDrv>(os, "/img/disk.img");
    }
    platform::fake::FakePlatform os;
    DeviceEventRecorder events;
};

TEST_F(PhysicalDrvTest, OnePartitionAndTheFreeSpaceAfterIt) {
    DiskBuilder b(100000);
    b.entry(0, 0, 0x07, 2048, 50000).ntfs(2048, 50000, 0x1234);
    auto drv = Disk(b);
    // No free record before sector 2048: 2048 - 63 is not over 2048 sectors.
    EXPECT_THAT(Records(*drv), ::testing::ElementsAre(Span{2048, 50000, 0x07}, Span{52048, 100000 - 1 - 52048, 0x00}));
    EXPECT_EQ(drv->PartitionList[1]->BootSector.FileSystemType, storage::kFsNtfs);
    EXPECT_EQ(drv->PartitionCount, 2);
    EXPECT_EQ(drv->PartitionList[0], &drv->Partition);
    EXPECT_EQ(drv->Partition.Entry.SectCount, 100000u);
}

TEST_F(PhysicalDrvTest, ExtendedChainWithTwoLogicalDrives) {
    DiskBuilder b(200000);
    b.entry(0, 0, 0x06, 63, 40000).fat16(63, 40000, 1);
    b.entry(0, 1, 0x0F, 50000, 100000);                      // extended partition at 50000
    b.entry(50000, 0, 0x06, 63, 40000).fat16(50063, 40000, 2);  // logical 1, relative to its EBR
    b.entry(50000, 1, 0x05, 45000, 50000);                   // link, relative to the extended start
    b.entry(95000, 0, 0x07, 63, 40000).ntfs(95063, 40000, 3);   // logical 2
    auto drv = Disk(b);
    EXPECT_THAT(Records(*drv, false), ::testing::ElementsAre(Span{63, 40000, 0x06}, Span{50000, 100000, 0x0F},
                                                             Span{50063, 40000, 0x06}, Span{95000, 50000, 0x05},
                                                             Span{95063, 40000, 0x07}));
    EXPECT_EQ(drv->ExtParti_SectNum, 50000);
    const TPartition* logical2 = At(*drv, 95063, 0x07);
    EXPECT_EQ(logical2->BaseLBA, 95000) << "relative to the second extended boot record";
    EXPECT_EQ(logical2->BootSector.FileSystemType, storage::kFsNtfs);
    EXPECT_TRUE(drv->IsInnerExtParti(At(*drv, 95000, 0x05)));
    EXPECT_FALSE(drv->IsInnerExtParti(At(*drv, 50000, 0x0F)));
    const auto r = Records(*drv);
    // Free space inside the extended partition after logical 2, and on the disk after it.
    EXPECT_THAT(r, ::testing::Contains(Span{135063, 150000 - 135063, 0x00}));
    EXPECT_THAT(r, ::testing::Contains(Span{150000, 200000 - 1 - 150000, 0x00}));
}

TEST_F(PhysicalDrvTest, ExtendedChainThatLoopsBackStops) {
    DiskBuilder b(100000);
    b.entry(0, 0, 0x05, 10000, 50000);
    b.entry(10000, 0, 0x06, 63, 20000).fat16(10063, 20000, 1);
    b.entry(10000, 1, 0x05, 0, 50000);  // the link points back to the first EBR
    auto drv = Disk(b);
    // The extended partition, its logical drive and the link; the second visit is refused.
    EXPECT_EQ(std::count_if(drv->PartitionList.begin(), drv->PartitionList.end(),
                            [](const TPartition* p) { return p->Entry.SystemFlag == 0x06; }),
              1);
}

TEST_F(PhysicalDrvTest, BrokenTablesGiveOnlyFreeSpace) {
    struct Case {
        const char* name;
        std::function<void(DiskBuilder&)> damage;
    };
    const Case cases[] = {
        {"boot indicator", [](DiskBuilder& b) { b.sector(0)[446] = std::byte{0x01}; }},
        {"signature", [](DiskBuilder& b) { b.sector(0)[510] = std::byte{0}; }},
    };
    for (const auto& c : cases) {
        DiskBuilder b(100000);
        b.entry(0, 0, 0x07, 2048, 50000).ntfs(2048, 50000, 7);
        c.damage(b);
        platform::fake::FakePlatform fresh;
        fresh.addDisk("/img/x.img", b.bytes(), 512, false);
        // A fixed disk, so sector 0 is not taken for a volume.
        storage::TDevice* raw = nullptr;
        auto dev = std::make_unique<storage::TDevice>(fresh, "/img/x.img");
        raw = dev.get();
        TPhysicalDrv drv(fresh, std::move(dev));
        ASSERT_NE(raw, nullptr);
        std::vector<std::uint8_t> types;
        for (std::size_t i = 1; i < drv.PartitionList.size(); ++i) types.push_back(drv.PartitionList[i]->Entry.SystemFlag);
        EXPECT_THAT(types, ::testing::Each(0x00)) << c.name;
        // The quick probe still finds the volume in the free space.
        ASSERT_EQ(drv.LostPartitionList.size(), 1u) << c.name;
        EXPECT_EQ(PartitionStart(drv.LostPartitionList[0]), 2048) << c.name;
    }
}

TEST_F(PhysicalDrvTest, GptEntriesAndNames) {
    DiskBuilder b(100000);
    b.gptHeader(2, 128, 128);
    b.gptEntry(0, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 2048, 40959, u"Data").fat16(2048, 38912, 5);
    b.gptEntry(1, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", 0, 100, u"empty slot");  // first sector 0
    b.gptEntry(2, "0FC63DAF-8483-4772-8E79-3D69D8477DE4", 50000, 59999, u"Linux \u00e9t\u00e9", std::uint64_t{1} << 62);
    auto drv = Disk(b);
    ASSERT_EQ(drv->PartitionCount, 4);  // two partitions and two free stretches
    const TPartition* data = drv->PartitionList[1];
    EXPECT_EQ(PartitionStart(data), 2048);
    EXPECT_EQ(PartitionSize(data), 38912);
    EXPECT_EQ(data->VolLabel, "Data");
    EXPECT_EQ(drv->GptTypeName(data), "Basic Data");
    EXPECT_EQ(data->BootSector.FileSystemType, storage::kFsFat16);
    EXPECT_TRUE(data->Primary);
    const TPartition* linux = drv->PartitionList[3];
    EXPECT_EQ(linux->VolLabel, "Linux \xc3\xa9t\xc3\xa9");
    EXPECT_EQ(drv->GptTypeName(linux), "Linux");
    EXPECT_TRUE(partitions::PartitionHidden(linux));
    // 128 entries of 128 bytes on 512-byte sectors: one read of 32 sectors at the array.
    const auto& log = os.disk("/dev/sdt").log;
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const auto& r) { return r == std::make_pair(std::uint64_t{1024}, std::size_t{32 * 512}); }));
}

TEST_F(PhysicalDrvTest, GptEntrySizeOutOfRangeMeans128) {
    for (std::uint32_t size : {64u, 8192u}) {
        DiskBuilder b(100000);
        b.gptHeader(2, 4, 128);
        b.gptEntry(1, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 4096, 8191, u"second");  // at byte 128
        ASSERT_TRUE(storage::putLe32(b.sector(1), 84, size));
        platform::fake::FakePlatform fresh;
        fresh.addDisk("/img/g.img", b.bytes(), 512, false);
        TPhysicalDrv drv(fresh, "/img/g.img");
        EXPECT_EQ(At(drv, 4096, 0xEE)->VolLabel, "second") << size;
    }
}

TEST_F(PhysicalDrvTest, VolumeWithoutATableCountsOnRemovableAndFixedMedia) {
    // Sticks and cards formatted without a table often say they are fixed disks.
    DiskBuilder b(40000);
    b.fat16(0, 40000, 9);
    for (const std::uint32_t media : {11u, 12u}) {
        SCOPED_TRACE(media);
        platform::fake::FakePlatform mediaOs;
        auto& d = mediaOs.addDisk("/dev/sdt", b.bytes());
        d.geometry->mediaType = media;
        mediaOs.whole = {BlockDevice("sdt")};
        TPhysicalDrv stick(mediaOs, std::uint8_t{0x80});
        ASSERT_EQ(stick.PartitionList.size(), 2u);
        EXPECT_EQ(PartitionStart(stick.PartitionList[1]), 0);
        EXPECT_EQ(PartitionSize(stick.PartitionList[1]), 40000);
        EXPECT_EQ(stick.PartitionList[1]->BootSector.FileSystemType, storage::kFsFat16);
        EXPECT_EQ(stick.PartitionList[1]->VolumePath, "/dev/sdt");
        EXPECT_TRUE(stick.LostPartitionList.empty()) << "the probe starts at SectorsPerTrack, after the boot sector";
    }
    // A fixed disk whose sector 0 is neither a table nor a boot sector is free space.
    platform::fake::FakePlatform blankOs;
    blankOs.addDisk("/dev/sdf", std::vector<std::byte>(40000 * 512));
    blankOs.whole = {BlockDevice("sdf")};
    TPhysicalDrv blank(blankOs, std::uint8_t{0x80});
    for (std::size_t i = 1; i < blank.PartitionList.size(); ++i) EXPECT_EQ(blank.PartitionList[i]->Entry.SystemFlag, 0x00);
}

TEST_F(PhysicalDrvTest, VolumeClaimingAnImpossibleSizeIsCapped) {
    DiskBuilder b(40000);
    b.ntfs(0, std::uint64_t{1} << 63, 9);
    auto stick = Disk(b, 11);
    ASSERT_EQ(stick->PartitionList.size(), 2u);
    EXPECT_EQ(PartitionSize(stick->PartitionList[1]), std::int64_t{1} << 48);
}

TEST_F(PhysicalDrvTest, ImageEndingInsideAPartition) {
    DiskBuilder b(100000);
    b.entry(0, 0, 0x06, 2048, 30000).fat16(2048, 30000, 1);
    b.entry(0, 1, 0x07, 40000, 50000).ntfs(40000, 50000, 2);
    b.entry(0, 2, 0x07, 95000, 4000);
    auto drv = Image(b, 60000 * 512);
    const TPartition* second = At(*drv, 40000, 0x07);
    EXPECT_EQ(second->ClaimedSectCount, 50000);
    EXPECT_EQ(second->SectCount64, 20000);
    EXPECT_EQ(PartitionSize(second), 20000);
    const auto third = std::find_if(drv->PartitionList.begin(), drv->PartitionList.end(),
                                    [](const TPartition* p) { return PartitionStart(p) == 95000; });
    ASSERT_NE(third, drv->PartitionList.end());
    EXPECT_EQ((*third)->ClaimedSectCount, 4000);
    EXPECT_EQ(PartitionSize(*third), 0) << "not in the image";
}

// Tables that lie: each must give a finite, sane tree.
TEST_F(PhysicalDrvTest, HostileTablesEndCleanly) {
    struct Case {
        const char* name;
        std::function<void(DiskBuilder&)> build;
        std::function<void(const TPhysicalDrv&)> check;
    };
    const Case cases[] = {
        {"GPT claiming 100000 entries",
         [](DiskBuilder& b) {
             b.gptHeader(2, 128, 128).gptEntry(0, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 2048, 4095, u"a");
             ASSERT_TRUE(storage::putLe32(b.sector(1), 80, 100000));
         },
         [](const TPhysicalDrv& d) { EXPECT_EQ(PartitionSize(At(d, 2048, 0xEE)), 2048); }},
        {"GPT entry size 0",
         [](DiskBuilder& b) {
             b.gptHeader(2, 4, 128).gptEntry(0, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 2048, 4095, u"a");
             ASSERT_TRUE(storage::putLe32(b.sector(1), 84, 0));
         },
         [](const TPhysicalDrv& d) { EXPECT_EQ(PartitionSize(At(d, 2048, 0xEE)), 2048); }},
        {"GPT entry ending before it starts",
         [](DiskBuilder& b) { b.gptHeader(2, 4, 128).gptEntry(0, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 4095, 2048, u"a"); },
         [](const TPhysicalDrv& d) { EXPECT_EQ(d.PartitionCount, 1) << "only the free space"; }},
        {"GPT entry at a sector no disk has",
         [](DiskBuilder& b) {
             b.gptHeader(2, 4, 128).gptEntry(0, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", std::uint64_t{1} << 63,
                                             (std::uint64_t{1} << 63) + 100, u"far");
         },
         [](const TPhysicalDrv& d) { EXPECT_EQ(d.PartitionCount, 1) << "only the free space"; }},
        {"partition past the end of the disk",
         [](DiskBuilder& b) { b.entry(0, 0, 0x07, 5000000, 100000); },
         [](const TPhysicalDrv& d) {
             const TPartition* p = At(d, 5000000, 0x07);
             EXPECT_EQ(p->BootSector.FileSystemType, storage::kFsUnknown) << "nothing could be read there";
         }},
        {"entry whose end overflows 32 bits",
         [](DiskBuilder& b) { b.entry(0, 0, 0x0B, 0xFFFFFFF0u, 0xFFFFFFF0u); },
         [](const TPhysicalDrv& d) { EXPECT_EQ(PartitionSize(At(d, 0xFFFFFFF0ll, 0x0B)), 0xFFFFFFF0ll); }},
        {"extended partition containing itself",
         [](DiskBuilder& b) {
             b.entry(0, 0, 0x05, 1000, 50000);
             b.entry(1000, 0, 0x05, 0, 50000);  // a link back to the same sector
         },
         [](const TPhysicalDrv& d) { EXPECT_LT(d.PartitionList.size(), 8u); }},
        {"boot sector with absurd geometry",
         [](DiskBuilder& b) {
             b.entry(0, 0, 0x06, 2048, 40000).fat16(2048, 40000, 1);
             ASSERT_TRUE(storage::putLe16(b.sector(2048), 11, 7));  // 7 bytes per sector
         },
         [](const TPhysicalDrv& d) {
             const TPartition* p = At(d, 2048, 0x06);
             EXPECT_EQ(p->BootSector.FileSystemType, storage::kFsUnknown);
             EXPECT_EQ(p->BytesPerSector, 512u);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DiskBuilder b(100000);
        c.build(b);
        platform::fake::FakePlatform fresh;
        auto& disk = fresh.addDisk("/dev/sdh", b.bytes());
        disk.geometry->mediaType = 12;
        fresh.whole = {BlockDevice("sdh")};
        TPhysicalDrv drv(fresh, std::uint8_t{0x80});
        c.check(drv);
        for (std::size_t i = 1; i < drv.PartitionList.size(); ++i) {
            const TPartition* p = drv.PartitionList[i];
            if (p->Entry.SystemFlag == 0x00) {
                EXPECT_GE(PartitionStart(p), 0);
                EXPECT_LE(PartitionStart(p) + PartitionSize(p), 100000) << "free space stays on the disk";
            }
        }
    }
}

TEST_F(PhysicalDrvTest, VolumesOfThisSystemAreNamed) {
    DiskBuilder b(100000);
    b.entry(0, 0, 0x07, 2048, 50000).ntfs(2048, 50000, 0x1234);
    auto part = BlockDevice("sdt1", "sdt", 2048 * 512);
    part.mountPoint = "/media/data";
    os.parts = {part};
    auto drv = Disk(b);
    EXPECT_EQ(At(*drv, 2048, 0x07)->VolumePath, "/media/data");
    EXPECT_EQ(At(*drv, 2048, 0x07)->DriveLetter, 0);
}

}  // namespace
}  // namespace brenvale::test

namespace brenvale::test {
namespace {

// The demo disk made by sfdisk and the mkfs tools.
TEST(PhysicalDrvFixture, DemoDiskMatchesItsLayout) {
    BRENVALE_REQUIRE_FIXTURE(image, "demo.img");
    BRENVALE_REQUIRE_FIXTURE(layoutFile, "demo.layout.tsv");
    auto os = platform::makeLinuxPlatform();
    TPhysicalDrv drv(*os, image.string());
    std::vector<Span> want;
    for (const auto& row : loadLayout(layoutFile)) {
        want.push_back({static_cast<std::int64_t>(row.start), static_cast<std::int64_t>(row.sectors),
                        static_cast<std::uint8_t>(std::stoul(row.type, nullptr, 16))});
    }
    EXPECT_EQ(Records(drv, false), want);
    EXPECT_TRUE(drv.LostPartitionList.empty());
}

TEST(PhysicalDrvFixture, GptDiskNamesItsPartitions) {
    BRENVALE_REQUIRE_FIXTURE(image, "gpt.img");
    BRENVALE_REQUIRE_FIXTURE(layoutFile, "gpt.layout.tsv");
    auto os = platform::makeLinuxPlatform();
    TPhysicalDrv drv(*os, image.string());
    const auto layout = loadLayout(layoutFile);
    ASSERT_FALSE(layout.empty());
    for (const auto& row : layout) {
        const TPartition* p = At(drv, static_cast<std::int64_t>(row.start), 0xEE);
        EXPECT_EQ(PartitionSize(p), static_cast<std::int64_t>(row.sectors));
        EXPECT_EQ(p->VolLabel, row.name);
        EXPECT_EQ(p->GptTypeGuid.toString(), row.type);
    }
}

// With its table entry gone, each demo partition is found again by the search.
TEST(PhysicalDrvFixture, DeletedEntriesAreFoundAgain) {
    BRENVALE_REQUIRE_FIXTURE(image, "demo.img");
    BRENVALE_REQUIRE_FIXTURE(layoutFile, "demo.layout.tsv");
    auto bytes = ReadWholeFile(image);
    std::fill(bytes.begin() + 446, bytes.begin() + 510, std::byte{0});  // an empty table
    platform::fake::FakePlatform os;
    os.addDisk("/img/demo.img", std::move(bytes), 512, false);
    TPhysicalDrv drv(os, "/img/demo.img");
    ASSERT_EQ(drv.DetectLostParti(&drv.Partition, 0, static_cast<std::int64_t>(drv.Device->Sectors()), false),
              partitions::kSearchDone);
    std::vector<std::int64_t> found;
    for (const TPartition* p : drv.LostPartitionList) found.push_back(PartitionStart(p));
    for (const auto& row : loadLayout(layoutFile)) {
        EXPECT_THAT(found, ::testing::Contains(static_cast<std::int64_t>(row.start))) << row.fs;
        const auto it = std::find(found.begin(), found.end(), static_cast<std::int64_t>(row.start));
        if (it != found.end()) {
            // The size is the volume's own: mkfs rounds it down a little inside its partition.
            const auto size = PartitionSize(drv.LostPartitionList[it - found.begin()]);
            EXPECT_LE(size, static_cast<std::int64_t>(row.sectors)) << row.fs;
            EXPECT_GT(size, static_cast<std::int64_t>(row.sectors) - 64) << row.fs;
        }
    }
}

}  // namespace
}  // namespace brenvale::test
