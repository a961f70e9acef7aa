// A real block device: an image file attached as a loop device with a partition table and an
// ext4 file system. Needs root and the util-linux tools; skipped otherwise.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>

#include "platform/linux/linux_platform.h"
#include "platform_test_util.h"

namespace brenvale::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::run;

constexpr std::uint64_t kImageBytes = 64u << 20;
constexpr std::uint64_t kPart1Start = 2048, kPart1Sectors = 40960;
constexpr std::uint64_t kPart2Start = 43008;

// Detaches the loop device on every path out of the test.
class AttachedLoop {
public:
    static std::optional<AttachedLoop> attach(const fs::path& image, const fs::path& scratch) {
        const fs::path out = scratch / "losetup.txt";
        if (!run("losetup -f --show --partscan '" + image.string() + "' > '" + out.string() + "'")) {
            return std::nullopt;
        }
        std::string device;
        std::ifstream(out) >> device;
        if (!device.starts_with("/dev/")) return std::nullopt;
        return AttachedLoop(device);
    }
    AttachedLoop(AttachedLoop&& other) noexcept : device_(std::exchange(other.device_, {})) {}
    AttachedLoop& operator=(AttachedLoop&&) = delete;
    ~AttachedLoop() {
        if (device_.empty()) return;
        run("partx -d '" + device_ + "'");
        run("losetup -d '" + device_ + "'");
    }
    const std::string& device() const { return device_; }
    std::string name() const { return fs::path(device_).filename().string(); }

private:
    explicit AttachedLoop(std::string device) : device_(std::move(device)) {}
    std::string device_;
};

class Mounted {
public:
    explicit Mounted(fs::path where) : where_(std::move(where)) {}
    Mounted(const Mounted&) = delete;
    Mounted& operator=(const Mounted&) = delete;
    ~Mounted() { run("umount '" + where_.string() + "'"); }

private:
    fs::path where_;
};

std::optional<std::string> missingPrerequisite() {
    if (!run("test \"$(id -u)\" -eq 0")) return "needs root to attach loop devices";
    for (const char* tool : {"losetup", "partx", "sfdisk", "mkfs.ext4", "mount", "umount"}) {
        if (!run(std::string("command -v ") + tool)) return std::string(tool) + " is not installed";
    }
    return std::nullopt;
}

TEST(LinuxLoopDevice, AttachedImageIsListedReadAndLocated) {
    if (auto missing = missingPrerequisite()) GTEST_SKIP() << *missing;
    test::TempDir dir;
    const fs::path image = dir / "disk.img";
    { std::ofstream(image, std::ios::binary); }
    fs::resize_file(image, kImageBytes);
    std::ofstream(dir / "layout.txt") << "label: dos\n"
                                      << "start=" << kPart1Start << ", size=" << kPart1Sectors
                                      << ", type=83\n"
                                      << "start=" << kPart2Start << ", type=83\n";
    ASSERT_TRUE(run("sfdisk -q '" + image.string() + "' < '" + (dir / "layout.txt").string() + "'"));

    auto loop = AttachedLoop::attach(image, dir.path());
    if (!loop) GTEST_SKIP() << "no loop device could be attached here";
    // Kernels built without MBR support find no partitions on their own; partx reads the table
    // in user space and registers them.
    if (!fs::exists("/sys/block/" + loop->name() + "/" + loop->name() + "p1")) {
        run("partx -a '" + loop->device() + "'");
    }
    LinuxPlatform platform;

    // Listed as a whole disk with both partitions at their byte offsets.
    const auto disks = platform.wholeDisks();
    const auto disk = std::find_if(disks.begin(), disks.end(),
                                   [&](const auto& d) { return d.name == loop->name(); });
    ASSERT_NE(disk, disks.end());
    const auto diskNumber = static_cast<std::uint32_t>(disk - disks.begin());
    EXPECT_EQ(disk->path, loop->device());
    EXPECT_EQ(disk->sizeBytes, kImageBytes);
    EXPECT_EQ(disk->logicalSectorSize, 512u);

    std::vector<BlockDeviceInfo> mine;
    for (const auto& p : platform.partitions()) {
        if (p.parent == loop->name()) mine.push_back(p);
    }
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_EQ(mine[0].name, loop->name() + "p1");
    EXPECT_EQ(mine[0].startByte, kPart1Start * 512);
    EXPECT_EQ(mine[0].sizeBytes, kPart1Sectors * 512);
    EXPECT_EQ(mine[1].name, loop->name() + "p2");
    EXPECT_EQ(mine[1].startByte, kPart2Start * 512);
    EXPECT_EQ(mine[1].sizeBytes, kImageBytes - kPart2Start * 512);

    // Opened as a block device: size, sector size, geometry, and the partition table's bytes.
    {
        OpenResult opened = platform.openReadOnly(loop->device());
        ASSERT_NE(opened.source, nullptr) << "errno " << opened.error;
        BlockSource& source = *opened.source;
        EXPECT_TRUE(source.isBlockDevice());
        EXPECT_EQ(source.sizeBytes(), kImageBytes);
        EXPECT_EQ(source.logicalSectorSize(), 512u);
        const auto geo = source.geometry();
        ASSERT_TRUE(geo);
        EXPECT_EQ(geo->bytesPerSector, 512u);
        ASSERT_GT(geo->tracksPerCylinder * geo->sectorsPerTrack, 0u);
        EXPECT_EQ(geo->cylinders,
                  kImageBytes / (std::uint64_t{geo->tracksPerCylinder} * geo->sectorsPerTrack * 512));
        EXPECT_EQ(geo->mediaType, 12u);

        std::vector<std::byte> sector(512);
        const ReadOutcome out = source.readTimed(sector, 0, 1000ms);
        ASSERT_EQ(out.status, ReadStatus::Ok);
        ASSERT_EQ(out.bytes, 512u);
        EXPECT_EQ(sector[510], std::byte{0x55});
        EXPECT_EQ(sector[511], std::byte{0xAA});
        const auto fileBytes = test::readFile(image);
        EXPECT_TRUE(std::equal(sector.begin(), sector.end(), fileBytes.begin()));
    }

    // A file on the first partition's file system lies on that partition's byte range of the
    // loop disk, and on whatever holds the image file itself.
    const std::string part1 = "/dev/" + mine[0].name;
    ASSERT_TRUE(run("mkfs.ext4 -q -F '" + part1 + "'"));
    const fs::path mountDir = dir / "mnt";
    fs::create_directory(mountDir);
    ASSERT_TRUE(run("mount -t ext4 '" + part1 + "' '" + mountDir.string() + "'"));
    Mounted mounted(mountDir);
    std::ofstream(mountDir / "data.txt") << "recovered\n";

    std::vector<DiskExtent> expected = {
        {diskNumber, static_cast<std::int64_t>(kPart1Start * 512),
         static_cast<std::int64_t>(kPart1Sectors * 512)}};
    for (const DiskExtent& e : platform.pathDiskExtents(image)) expected.push_back(e);
    for (const fs::path& path : {mountDir / "data.txt", mountDir / "not" / "created" / "yet"}) {
        SCOPED_TRACE(path.string());
        const auto extents = platform.pathDiskExtents(path);
        ASSERT_EQ(extents.size(), expected.size());
        for (std::size_t i = 0; i < extents.size(); ++i) {
            EXPECT_EQ(extents[i].diskNumber, expected[i].diskNumber);
            EXPECT_EQ(extents[i].startByte, expected[i].startByte);
            EXPECT_EQ(extents[i].lenByte, expected[i].lenByte);
        }
    }

    const auto parts = platform.partitions();
    const auto mountedPart = std::find_if(parts.begin(), parts.end(),
                                          [&](const auto& p) { return p.name == mine[0].name; });
    ASSERT_NE(mountedPart, parts.end());
    EXPECT_EQ(fs::path(mountedPart->mountPoint), fs::canonical(mountDir));
}

}  // namespace
}  // namespace brenvale::platform
