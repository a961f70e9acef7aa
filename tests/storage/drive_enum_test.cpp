// Drive and volume enumeration, geometry, model names and disk extents over the fake platform.

#include <gmock/gmock.h>

#include "storage/device_test_util.h"
#include "storage/disk_extents.h"
#include "storage/drive_enum.h"
#include "storage/fs_types.h"
#include "storage/le.h"

namespace brenvale::test {
namespace {

std::vector<std::byte> NtfsVolume(std::uint32_t sectors, std::uint64_t claimed) {
    std::vector<std::byte> v(std::size_t{sectors} * 512);
    std::memcpy(v.data() + 3, "NTFS    ", 8);
    EXPECT_TRUE(storage::putLe16(v, 11, 512));
    EXPECT_TRUE(storage::putLe64(v, 40, claimed));
    EXPECT_TRUE(storage::putLe16(v, 510, 0xAA55));
    return v;
}

class DriveEnumTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Disk 0: an MBR disk with a FAT16 partition, an unformatted one and an NTFS one.
        os.addDisk("/dev/sda", PatternedSectors(64));
        os.addDisk("/dev/sda1", Fat16Volume(64));
        os.addDisk("/dev/sda2", PatternedSectors(8));
        os.addDisk("/dev/sda3", NtfsVolume(64, 123456));
        // Disk 1: a stick formatted without a partition table.
        os.addDisk("/dev/sdb", Fat16Volume(64)).geometry->mediaType = 11;
        os.whole = {BlockDevice("sda"), BlockDevice("sdb")};
        os.whole[0].model = "Acme Drive USB Device";
        os.parts = {BlockDevice("sda1", "sda", 2048 * 512), BlockDevice("sda2", "sda", 4096 * 512),
                    BlockDevice("sda3", "sda", 8192 * 512)};
    }
    platform::fake::FakePlatform os;
    DeviceEventRecorder events;
};

TEST_F(DriveEnumTest, VolumesAreTheDevicesHoldingAKnownFileSystemInNameOrder) {
    const auto vols = storage::EnumVolumes(os);
    ASSERT_EQ(vols.size(), 3u);
    EXPECT_EQ(vols[0].number, 1);
    EXPECT_EQ(vols[0].device.path, "/dev/sda1");
    EXPECT_EQ(vols[0].fileSystem, storage::kFsFat16);
    EXPECT_EQ(vols[1].device.path, "/dev/sda3");
    EXPECT_EQ(vols[1].fileSystem, storage::kFsNtfs);
    EXPECT_EQ(vols[2].device.path, "/dev/sdb");
}

TEST_F(DriveEnumTest, PhysicalDrivesAndTheirGeometry) {
    EXPECT_THAT(storage::EnumPhysicalDrives(os), ::testing::ElementsAre(0x80, 0x81));
    os.disk("/dev/sda").geometry = platform::DiskGeometry{2, 12, 16, 4, 512};  // 128 sectors by CHS
    storage::TDriveParams p{};
    ASSERT_TRUE(storage::GetDriveParams(os, 0x80, p));
    EXPECT_EQ(Value(p.Heads), 2u) << "holds the cylinders";
    EXPECT_EQ(Value(p.TracksPerHead), 16u);
    EXPECT_EQ(Value(p.SectorsPerTrack), 4u);
    EXPECT_EQ(Value(p.TotalPhysSec), 128u) << "the length (64 sectors) is smaller, so CHS stands";
    os.disk("/dev/sda").geometry = platform::DiskGeometry{0, 12, 255, 63, 512};
    ASSERT_TRUE(storage::GetDriveParams(os, 0x80, p));
    EXPECT_EQ(Value(p.TotalPhysSec), 64u) << "the length wins when larger";
    EXPECT_EQ(Value(p.MediaType), storage::kMediaFixed);

    os.disk("/dev/sdb").geometry.reset();
    EXPECT_FALSE(storage::GetDriveParams(os, 0x81, p));
    EXPECT_THAT(storage::EnumPhysicalDrives(os), ::testing::ElementsAre(0x80));
    EXPECT_THROW(storage::TDevice(os, std::uint8_t{0x81}), storage::DeviceError);
    EXPECT_FALSE(storage::GetDriveParams(os, 0x82, p));
}

TEST(MediaType, MapsTheOsValues) {
    struct Case {
        std::uint32_t os;
        std::uint16_t type, attr;
    };
    for (const auto& c : {Case{0, 0, 0}, Case{11, 2, 1}, Case{12, 3, 0}, Case{5, 1, 1}, Case{22, 1, 1}, Case{23, 9, 9}}) {
        storage::TDriveParams p{};
        p.MediaType = 9;
        p.MediaAttr = 9;
        storage::ApplyMediaType(c.os, p);
        EXPECT_EQ(Value(p.MediaType), c.type) << c.os;
        EXPECT_EQ(Value(p.MediaAttr), c.attr) << c.os;
    }
}

TEST_F(DriveEnumTest, VolumeSectorCountComesFromItsBootSector) {
    storage::TDriveParams p{};
    ASSERT_TRUE(storage::GetDriveParams(os, 2, p));
    EXPECT_EQ(Value(p.TotalPhysSec), 123456u);
    storage::TDevice fat(os, std::uint8_t{1});
    EXPECT_EQ(fat.DeviceType(), storage::kDeviceVolume);
    EXPECT_EQ(fat.Sectors(), 40000u);
    EXPECT_TRUE(fat.Model.empty());
    storage::TDevice stick(os, std::uint8_t{3});
    EXPECT_EQ(Value(stick.DeviceParam().MediaType), storage::kMediaRemovable);
    EXPECT_THROW(storage::TDevice(os, std::uint8_t{4}), storage::DeviceError);
}

TEST_F(DriveEnumTest, VolumeParamsNeedItsBootSector) {
    storage::TDriveParams p{};
    // Enumeration still sees the boot sector; the geometry query's own read then fails.
    os.disk("/dev/sda1").faults.offlineAfterReads = 1;
    EXPECT_FALSE(storage::GetDriveParams(os, 1, p));
    EXPECT_THAT(events.messages, ::testing::ElementsAre(
                                     "Device offline (LBA=0, error 19: No such device) - operation aborted"));
}

TEST_F(DriveEnumTest, BlockDevicePathsKeepTheirNumbers) {
    storage::TDevice disk(os, std::string("/dev/sda"));
    EXPECT_EQ(disk.DeviceType(), storage::kDevicePhysical);
    EXPECT_EQ(disk.DeviceNum(), 0x80);
    EXPECT_EQ(disk.Model, "Acme Drive");
    storage::TDevice vol(os, std::string("/dev/sda3"));
    EXPECT_EQ(vol.DeviceType(), storage::kDeviceVolume);
    EXPECT_EQ(vol.DeviceNum(), 2);
    // An unformatted partition has no volume number but still reads.
    storage::TDevice raw(os, std::string("/dev/sda2"));
    EXPECT_EQ(raw.DeviceType(), storage::kDeviceVolume);
    EXPECT_EQ(raw.DeviceNum(), 0);
    EXPECT_EQ(raw.Sectors(), 8u);
}

TEST(ModelName, CutsBusSuffixes) {
    struct Case {
        std::string in, out;
    };
    for (const auto& c : {Case{"Kingston DataTraveler USB Device", "Kingston DataTraveler"},
                          Case{"Generic SCSI Disk Device", "Generic"},
                          Case{"WD USB Drive Device", "WD"},
                          Case{"Maker FIREWARE Disk Device", "Maker"},
                          Case{"Samsung SSD 870", "Samsung SSD 870"},
                          Case{"USB Device", ""}}) {
        EXPECT_EQ(storage::ShortenModelName(c.in), c.out) << c.in;
    }
}

TEST_F(DriveEnumTest, ModelOfAnUnknownDriveIsEmpty) {
    EXPECT_EQ(storage::QueryDriveModel(os, 0), "Acme Drive");
    EXPECT_EQ(storage::QueryDriveModel(os, 7), "");
}

TEST_F(DriveEnumTest, VolumeFirstExtentIsInHalfKilobyteUnits) {
    std::uint8_t disk = 99;
    std::int64_t start = -1;
    ASSERT_TRUE(storage::VolumeFirstExtent(os, 2, disk, start));
    EXPECT_EQ(disk, 0);
    EXPECT_EQ(start, 8192);
    ASSERT_TRUE(storage::VolumeFirstExtent(os, 3, disk, start));
    EXPECT_EQ(disk, 1);
    EXPECT_EQ(start, 0);
    EXPECT_FALSE(storage::VolumeFirstExtent(os, 9, disk, start));
}

TEST(DiskExtents, OverlapRules) {
    platform::fake::FakePlatform os;
    os.extents["/mnt/usb"] = {{1, 1000, 500}, {2, 0, 100}};
    struct Case {
        std::string path;
        int disk;
        std::int64_t from, to;
        bool overlaps;
    };
    for (const auto& c : {Case{"/mnt/usb/x", 1, 1200, 1300, true}, Case{"/mnt/usb/x", 1, 0, 1001, true},
                          Case{"/mnt/usb/x", 1, 0, 1000, false} /* ends where it starts */,
                          Case{"/mnt/usb/x", 1, 1500, 2000, false} /* starts where it ends */,
                          Case{"/mnt/usb/x", 2, 50, 60, true}, Case{"/mnt/usb/x", 3, 0, 1 << 30, false},
                          Case{"/mnt/usb/x", 1, 1300, 1200, false} /* empty range */,
                          Case{"/mnt/usb/x", -1, 0, 1 << 30, false}, Case{"/tmp/x", 1, 0, 1 << 30, false}}) {
        EXPECT_EQ(storage::PathOverlapsDiskRange(os, c.path, c.disk, c.from, c.to), c.overlaps)
            << c.path << " disk " << c.disk << " [" << c.from << "," << c.to << ")";
    }
    storage::TPhysExtents ext;
    EXPECT_TRUE(storage::PathDiskExtents(os, "/mnt/usb/a/b", ext));
    EXPECT_EQ(ext.size(), 2u);
    EXPECT_FALSE(storage::PathDiskExtents(os, "/home", ext));
    EXPECT_TRUE(ext.empty());
}

TEST(DiskExtents, AtMostThirtyTwoAreKept) {
    platform::fake::FakePlatform os;
    for (int i = 0; i < 40; ++i) os.extents["/big"].push_back({0, i * 10, 10});
    storage::TPhysExtents ext;
    ASSERT_TRUE(storage::PathDiskExtents(os, "/big/file", ext));
    ASSERT_EQ(ext.size(), storage::kMaxExtents);
    EXPECT_EQ(ext.back().StartByte, 310);
}

}  // namespace
}  // namespace brenvale::test
