// The create-image command's logic: the proposed plan per kind of source, the destination
// check and the event-log lines.

#include <gmock/gmock.h>

#include "app/create_image.h"
#include "storage/device_test_util.h"
#include "storage/fs_types.h"
#include "storage/image_descriptor.h"
#include "storage/le.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

std::vector<std::byte> WithExtSuperblockAt(std::vector<std::byte> data, std::uint64_t lba) {
    data[lba * 512 + 1080] = std::byte{0x53};
    data[lba * 512 + 1081] = std::byte{0xEF};
    return data;
}

TEST(CreateImagePlan, PerKindOfSource) {
    platform::fake::FakePlatform os;
    os.addDisk("/disk.img", PatternedSectors(100), 512, false);
    storage::TDevice disk(os, "/disk.img");
    const auto p = app::ProposeImagePlan(disk);
    EXPECT_EQ(p.LBA, 0u);
    EXPECT_EQ(p.Blocks, 100u);
    EXPECT_EQ(p.ImgType, 0);

    // A volume with no known file system but an ext superblock becomes a Linux volume image.
    std::vector<std::byte> ext(200 * 512);
    os.addDisk("/dev/sdz1", WithExtSuperblockAt(ext, 0));
    os.parts = {BlockDevice("sdz1", "sdz")};
    storage::TDevice vol(os, std::string("/dev/sdz1"));
    ASSERT_EQ(vol.DeviceType(), storage::kDeviceVolume);
    const auto v = app::ProposeImagePlan(vol);
    EXPECT_EQ(v.ImgType, 1);
    EXPECT_EQ(v.FileSystem, storage::kFsUnknown);
    EXPECT_EQ(v.MbrType, 0x83);
    EXPECT_EQ(v.Blocks, 200u);
}

TEST(CreateImagePlan, AnImageOfAVolumeIsImagedFromBehindItsPrefix) {
    TempDir tmp;
    platform::fake::FakePlatform os;
    os.addDisk("/dev/vol", PatternedSectors(300));
    os.parts = {BlockDevice("vol", "disk")};
    storage::TDevice vol(os, std::string("/dev/vol"));
    const auto first = tmp.file("vol.dif");
    ASSERT_TRUE(vol.CreateImage(first, 0, 300, 1, storage::kFsFat32, 0));
    // The copy reports itself as a volume image: a second image skips the 63-sector prefix.
    os.addDisk(first, ReadWholeFile(first), 512, false);
    storage::TDevice img(os, first);
    ASSERT_EQ(Value(img.Desc().SourceType), storage::kImageSourceVolume);
    const auto plan = app::ProposeImagePlan(img);
    EXPECT_EQ(plan.LBA, 63u);
    EXPECT_EQ(plan.Blocks, 300u);
    EXPECT_EQ(plan.ImgType, 1);
}

TEST(CreateImageCommand, RefusesATargetOnTheAreaBeingRead) {
    platform::fake::FakePlatform os;
    os.addDisk("/dev/sda", PatternedSectors(4096));
    os.addDisk("/dev/sda2", PatternedSectors(1024));
    os.whole = {BlockDevice("sda")};
    os.parts = {BlockDevice("sda2", "sda", 2048 * 512)};
    // /mnt/data is a file system on sectors 2048..3071 of disk 0.
    os.extents["/mnt/data"] = {{0, 2048 * 512, 1024 * 512}};

    storage::TDevice whole(os, std::uint8_t{0x80});
    EXPECT_TRUE(app::ImageTargetOnSource(os, whole, "/mnt/data/x.dif", 0, 4096));
    EXPECT_FALSE(app::ImageTargetOnSource(os, whole, "/mnt/data/x.dif", 0, 2048)) << "stops before the file system";
    EXPECT_FALSE(app::ImageTargetOnSource(os, whole, "/elsewhere/x.dif", 0, 4096));

    // A partition's sectors are relative to its start on the disk.
    storage::TDevice vol(os, std::string("/dev/sda2"));
    EXPECT_TRUE(app::ImageTargetOnSource(os, vol, "/mnt/data/x.dif", 1000, 10));

    os.addDisk("/img/disk.img", PatternedSectors(16), 512, false);
    storage::TDevice image(os, "/img/disk.img");
    EXPECT_FALSE(app::ImageTargetOnSource(os, image, "/mnt/data/x.dif", 0, 16)) << "images are never checked";
}

TEST(CreateImageCommand, WritesStartAndOutcomeLines) {
    TempDir tmp;
    platform::fake::FakePlatform os;
    os.addDisk("/d.img", PatternedSectors(1200), 512, false);
    storage::TDevice dev(os, "/d.img");
    app::EventLog log;
    const auto out = tmp.file("d.dif");

    EXPECT_EQ(app::RunCreateImage(dev, log, out, {0, 1200, 0, 0, 0}), app::kImageCompleted);
    dev.FOnPump = [&] { dev.TerminateProgress(); };
    EXPECT_EQ(app::RunCreateImage(dev, log, out, {0, 1200, 0, 0, 0}), app::kImageStopped);
    dev.FOnPump = nullptr;
    os.disk("/d.img").faults.offlineAfterReads = os.disk("/d.img").reads + 1;
    EXPECT_EQ(app::RunCreateImage(dev, log, out, {0, 1200, 0, 0, 0}), app::kImageEndedEarly);

    std::vector<std::string> lines;
    for (const auto& e : log.Entries()) {
        if (e.Event == "Create Image") lines.push_back(e.Description);
    }
    const std::string start = "Starting image \"" + out + "\" (LBA 0, 1200 sectors)";
    EXPECT_THAT(lines, ::testing::ElementsAre(start, "Image creation completed (\"" + out + "\")", start,
                                              "Image creation stopped - partial image saved (\"" + out + "\")", start,
                                              "Image creation ended early by read errors - partial image saved (\"" +
                                                  out + "\")"));
}

}  // namespace
}  // namespace brenvale::test
