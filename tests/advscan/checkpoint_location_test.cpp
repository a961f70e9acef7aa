// Where a scan checkpoint may not go: on the disk area the scan reads (the partition, or any
// volume of a disk scanned whole), by the same overlap test recovery uses for its destination;
// drive images are never in the way. And the default file name.

#include <gtest/gtest.h>

#include "advscan/checkpoint_resume.h"
#include "platform/fake/fake_platform.h"
#include "scan/undelete.h"
#include "storage/device_test_util.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

TEST(CheckpointLocation, RefusedOnTheScannedArea) {
    TempDir tmp;
    platform::fake::FakePlatform os;
    os.addDisk("/dev/sda", PatternedSectors(4096));
    os.addDisk("/dev/sda2", PatternedSectors(1024));
    os.whole = {BlockDevice("sda")};
    os.parts = {BlockDevice("sda2", "sda", 2048 * 512)};
    // The scanned partition is mounted at "mounted"; "other" lies on the disk's first sectors.
    os.extents[tmp.file("mounted")] = {{0, 2048 * 512, 1024 * 512}};
    os.extents[tmp.file("other")] = {{0, 0, 1024 * 512}};
    partitions::TPartition part;
    part.SectNum64 = 2048;
    part.SectCount64 = 1024;
    part.BootSector.FileSystemType = 255;
    storage::TDevice disk(os, std::uint8_t{0x80});
    scan::TUndelete scan(disk, part);

    std::string reason;
    EXPECT_TRUE(advscan::CheckpointLocationRefused(os, scan, tmp.file("mounted/scan.qvc"), reason));
    EXPECT_EQ(reason, advscan::kCheckpointAreaRefused);
    EXPECT_FALSE(advscan::CheckpointLocationRefused(os, scan, tmp.file("other/scan.qvc"), reason));
    EXPECT_TRUE(reason.empty());

    scan.FWholeDiskObject = true;
    EXPECT_TRUE(advscan::CheckpointLocationRefused(os, scan, tmp.file("other/scan.qvc"), reason));
    EXPECT_EQ(reason,
              "The scan covers the whole of physical drive 0, so the checkpoint file cannot be saved on any volume of that "
              "drive.\r\n\r\nPlease choose a location on another disk.");

    os.addDisk("/img/disk.img", PatternedSectors(4096), 512, false);
    storage::TDevice image(os, "/img/disk.img");
    scan::TUndelete imageScan(image, part);
    EXPECT_FALSE(advscan::CheckpointLocationRefused(os, imageScan, tmp.file("mounted/scan.qvc"), reason));
}

TEST(CheckpointLocation, DefaultName) {
    platform::fake::FakePlatform os;
    os.addDisk("/img/disk.img", PatternedSectors(4096), 512, false);
    storage::TDevice image(os, "/img/disk.img");
    partitions::TPartition part;
    part.BootSector.FileSystemType = 255;  // no file system: a free stretch
    scan::TUndelete scan(image, part);
    EXPECT_EQ(advscan::CheckpointFileName(nullptr), "scan.qvc");
    EXPECT_EQ(advscan::CheckpointFileName(&scan), "img_nopl_Freespace.qvc");
    EXPECT_EQ(advscan::CheckpointVolumeSerial(scan), -1);
}

}  // namespace
}  // namespace brenvale::test
