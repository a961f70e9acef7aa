// Device names, the mount table, and the disk lists read from a prepared sysfs tree.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "platform/linux/sysfs.h"
#include "platform_test_util.h"

namespace brenvale::platform {
namespace {

namespace fs = std::filesystem;
using linux_os::deviceNameLess;

TEST(DeviceNames, SortAsPeopleCountThem) {
    const std::vector<std::string> ordered = {
        "loop2",   "loop10", "mmcblk0", "mmcblk1", "nvme0n1", "nvme0n1p2", "nvme0n1p10",
        "nvme1n1", "nvme10n1", "sda",   "sda1",    "sda2",    "sda10",     "sdb",
        "sdz",     "sdaa",   "sdaa1",   "sdab",    "sdba",    "sr0",       "vda",
        "xvda"};
    std::vector<std::string> shuffled = ordered;
    std::mt19937 rng(42);
    for (int round = 0; round < 5; ++round) {
        std::shuffle(shuffled.begin(), shuffled.end(), rng);
        std::sort(shuffled.begin(), shuffled.end(),
                  [](const std::string& a, const std::string& b) { return deviceNameLess(a, b); });
        EXPECT_EQ(shuffled, ordered);
    }
    // Strict: no name is before itself, and names that differ only in zero padding still order.
    EXPECT_FALSE(deviceNameLess("sda", "sda"));
    EXPECT_NE(deviceNameLess("sda01", "sda1"), deviceNameLess("sda1", "sda01"));
}

TEST(DeviceNames, OnlyWholeDisksOfTheKnownKindsAreListed) {
    for (const char* name : {"sda", "sdaa", "hdb", "vda", "xvdf", "nvme0n1", "nvme12n3",
                             "mmcblk0", "sr0", "loop7"}) {
        EXPECT_TRUE(linux_os::isListedDiskName(name)) << name;
    }
    for (const char* name : {"sda1", "nvme0n1p1", "nvme0c0n1", "nvme0", "mmcblk0boot0",
                             "mmcblk0rpmb", "mmcblk0p1", "ram0", "zram0", "dm-0", "md127", "loop",
                             "sd", "sdA", "loop-control", "sr", ""}) {
        EXPECT_FALSE(linux_os::isListedDiskName(name)) << name;
    }
}

TEST(MountTable, EscapesAreUndone) {
    struct Case {
        const char* raw;
        std::string expected;
    };
    const Case cases[] = {
        {"/mnt/plain", "/mnt/plain"},
        {"/mnt/my\\040disk", "/mnt/my disk"},
        {"/a\\011b\\012c", "/a\tb\nc"},
        {"/back\\134slash", "/back\\slash"},
        {"/cut\\04", "/cut\\04"},      // too short to be an escape
        {"/not\\999", "/not\\999"},    // not octal
        {"/end\\", "/end\\"},
    };
    for (const Case& c : cases) EXPECT_EQ(linux_os::unescapeMountField(c.raw), c.expected) << c.raw;
}

TEST(MountTable, FirstMountOfEachDeviceWins) {
    const auto mounts = linux_os::parseMountInfo(
        "22 28 0:21 / /proc rw,relatime - proc proc rw\n"
        "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "40 28 8:1 / /media/usb\\040stick rw - vfat /dev/sda1 rw\n"
        "41 28 8:1 /sub /srv/bound rw - vfat /dev/sda1 rw\n"
        "garbage\n"
        "\n");
    EXPECT_EQ(mounts, (std::map<std::string, std::string>{
                          {"0:21", "/proc"}, {"254:0", "/"}, {"8:1", "/media/usb stick"}}));
}

// A sysfs tree as the kernel lays it out: devices under /sys/devices, /sys/block and
// /sys/dev/block as links to them, partitions as subfolders of their disk.
class FakeSysfs {
public:
    using Attrs = std::map<std::string, std::string>;

    explicit FakeSysfs(const fs::path& root) : root_(root) {
        fs::create_directories(sys() / "block");
        fs::create_directories(sys() / "dev" / "block");
        fs::create_directories(sys() / "devices" / "fake");
        mountInfo("");
    }

    fs::path disk(const std::string& name, const Attrs& attrs) {
        const fs::path dir = sys() / "devices" / "fake" / name;
        write(dir, attrs);
        fs::create_directory_symlink(dir, sys() / "block" / name);
        return dir;
    }
    fs::path partition(const std::string& disk, const std::string& name, Attrs attrs) {
        attrs["partition"] = "1";
        const fs::path dir = sys() / "devices" / "fake" / disk / name;
        write(dir, attrs);
        return dir;
    }
    void slave(const std::string& holder, const fs::path& slaveDir) {
        const fs::path dir = sys() / "devices" / "fake" / holder / "slaves";
        fs::create_directories(dir);
        fs::create_directory_symlink(slaveDir, dir / slaveDir.filename());
    }
    void deviceNumber(const std::string& key, const fs::path& dir) {
        fs::create_directory_symlink(dir, sys() / "dev" / "block" / key);
    }
    void mountInfo(const std::string& text) {
        std::ofstream(root_ / "mountinfo") << text;
    }
    LinuxSystemPaths paths() const { return {sys(), root_ / "mountinfo", "/dev"}; }

private:
    fs::path sys() const { return root_ / "sys"; }
    static void write(const fs::path& dir, const Attrs& attrs) {
        fs::create_directories(dir);
        for (const auto& [file, value] : attrs) {
            fs::create_directories((dir / file).parent_path());
            std::ofstream(dir / file) << value << "\n";
        }
    }
    fs::path root_;
};

// The machine every sysfs test looks at.
struct FakeMachine {
    test::TempDir dir;
    FakeSysfs sysfs{dir.path()};
    std::map<std::string, fs::path> dirs;

    FakeMachine() {
        auto disk = [&](const std::string& name, FakeSysfs::Attrs attrs) {
            attrs.try_emplace("queue/logical_block_size", "512");
            attrs.try_emplace("removable", "0");
            attrs.try_emplace("ro", "0");
            dirs[name] = sysfs.disk(name, attrs);
        };
        auto part = [&](const std::string& diskName, const std::string& name,
                        FakeSysfs::Attrs attrs) { dirs[name] = sysfs.partition(diskName, name, attrs); };

        disk("sda", {{"size", "2000000"}, {"dev", "8:0"}, {"device/vendor", "ATA     "},
                     {"device/model", "Samsung SSD 860 "}});
        part("sda", "sda1", {{"start", "2048"}, {"size", "1024000"}, {"dev", "8:1"}});
        part("sda", "sda2", {{"start", "1026048"}, {"size", "900000"}, {"dev", "8:2"}, {"ro", "1"}});
        part("sda", "sda10", {{"start", "1930000"}, {"size", "1000"}, {"dev", "8:10"}});
        disk("sdb", {{"size", "60000000"}, {"dev", "8:16"}, {"removable", "1"},
                     {"queue/logical_block_size", "4096"}, {"device/vendor", "Generic"},
                     {"device/model", "Flash Disk"}});
        part("sdb", "sdb1", {{"start", "8"}, {"size", "7000"}, {"dev", "8:17"}});
        disk("sdaa", {{"size", "100"}, {"dev", "65:160"}, {"device/vendor", "QEMU"},
                      {"device/model", "QEMU HARDDISK"}});
        disk("sdc", {{"size", "0"}, {"dev", "8:32"}, {"removable", "1"}});  // no medium
        disk("nvme0n1", {{"size", "500000"}, {"dev", "259:0"}, {"device/model", "  Fast NVMe 1TB "}});
        part("nvme0n1", "nvme0n1p1", {{"start", "2048"}, {"size", "1000"}, {"dev", "259:1"}});
        part("nvme0n1", "nvme0n1p2", {{"start", "4096"}, {"size", "2000"}, {"dev", "259:2"}});
        part("nvme0n1", "nvme0n1p10", {{"start", "8192"}, {"size", "3000"}, {"dev", "259:3"}});
        disk("nvme1n1", {{"size", "10"}, {"dev", "259:9"}, {"hidden", "1"}});
        disk("mmcblk0", {{"size", "1000"}, {"dev", "179:0"}, {"device/name", "SD32G"}});
        disk("mmcblk0boot0", {{"size", "8192"}, {"dev", "179:8"}});
        disk("loop0", {{"size", "4096"}, {"dev", "7:0"}});
        part("loop0", "loop0p1", {{"start", "64"}, {"size", "2000"}, {"dev", "259:5"}});
        disk("loop1", {{"size", "0"}, {"dev", "7:1"}});  // detached
        disk("sr0", {{"size", "2000"}, {"dev", "11:0"}, {"removable", "1"}, {"ro", "1"}});
        disk("vda", {{"size", "50"}, {"dev", "254:0"}, {"device/vendor", "0x1af4"}});
        for (const char* other : {"zram0", "ram0", "dm-0", "md127"}) {
            disk(other, {{"size", "100"}, {"dev", "1:1"}});
        }
        sysfs.slave("dm-0", dirs["sda1"]);
        sysfs.slave("dm-0", dirs["nvme0n1p2"]);
        sysfs.mountInfo(
            "25 1 8:1 / /mnt/data\\040disk rw - ext4 /dev/sda1 rw\n"
            "26 1 8:1 / /mnt/again rw - ext4 /dev/sda1 rw\n"
            "27 1 259:0 / / rw - ext4 /dev/nvme0n1 rw\n");
    }
};

template <typename T>
std::vector<std::string> namesOf(const std::vector<T>& devices) {
    std::vector<std::string> names;
    for (const auto& d : devices) names.push_back(d.name);
    return names;
}

TEST(LinuxPlatformSysfs, WholeDisksAreTheKnownKindsWithAMediumInNameOrder) {
    FakeMachine machine;
    LinuxPlatform platform(machine.sysfs.paths());

    const auto disks = platform.wholeDisks();

    ASSERT_EQ(namesOf(disks), (std::vector<std::string>{"loop0", "mmcblk0", "nvme0n1", "sda",
                                                        "sdb", "sdaa", "sr0", "vda"}));
    struct Expect {
        std::uint64_t size;
        std::uint32_t sector;
        bool removable, optical, readOnly;
        std::string mountPoint, model;
    };
    const std::map<std::string, Expect> expected = {
        {"loop0", {4096 * 512ull, 512, false, false, false, "", ""}},
        {"mmcblk0", {1000 * 512ull, 512, false, false, false, "", "SD32G"}},
        {"nvme0n1", {500000 * 512ull, 512, false, false, false, "/", "Fast NVMe 1TB"}},
        {"sda", {2000000 * 512ull, 512, false, false, false, "", "Samsung SSD 860"}},
        {"sdb", {60000000 * 512ull, 4096, true, false, false, "", "Generic Flash Disk"}},
        {"sdaa", {100 * 512ull, 512, false, false, false, "", "QEMU QEMU HARDDISK"}},
        {"sr0", {2000 * 512ull, 512, true, true, true, "", ""}},
        {"vda", {50 * 512ull, 512, false, false, false, "", ""}},
    };
    for (const BlockDeviceInfo& d : disks) {
        SCOPED_TRACE(d.name);
        const Expect& e = expected.at(d.name);
        EXPECT_EQ(d.path, "/dev/" + d.name);
        EXPECT_FALSE(d.partition);
        EXPECT_EQ(d.parent, "");
        EXPECT_EQ(d.startByte, 0u);
        EXPECT_EQ(d.sizeBytes, e.size);
        EXPECT_EQ(d.logicalSectorSize, e.sector);
        EXPECT_EQ(d.removable, e.removable);
        EXPECT_EQ(d.optical, e.optical);
        EXPECT_EQ(d.readOnly, e.readOnly);
        EXPECT_EQ(d.mountPoint, e.mountPoint);
        EXPECT_EQ(d.model, e.model);
    }
}

TEST(LinuxPlatformSysfs, PartitionsFollowTheirDisksWithByteRanges) {
    FakeMachine machine;
    LinuxPlatform platform(machine.sysfs.paths());

    const auto parts = platform.partitions();

    ASSERT_EQ(namesOf(parts), (std::vector<std::string>{"loop0p1", "nvme0n1p1", "nvme0n1p2",
                                                        "nvme0n1p10", "sda1", "sda2", "sda10",
                                                        "sdb1"}));
    struct Expect {
        std::string parent;
        std::uint64_t start, size;
        std::uint32_t sector;
        bool removable, readOnly;
        std::string mountPoint;
    };
    const std::map<std::string, Expect> expected = {
        {"loop0p1", {"loop0", 64 * 512ull, 2000 * 512ull, 512, false, false, ""}},
        {"nvme0n1p1", {"nvme0n1", 2048 * 512ull, 1000 * 512ull, 512, false, false, ""}},
        {"nvme0n1p2", {"nvme0n1", 4096 * 512ull, 2000 * 512ull, 512, false, false, ""}},
        {"nvme0n1p10", {"nvme0n1", 8192 * 512ull, 3000 * 512ull, 512, false, false, ""}},
        {"sda1", {"sda", 2048 * 512ull, 1024000 * 512ull, 512, false, false, "/mnt/data disk"}},
        {"sda2", {"sda", 1026048 * 512ull, 900000 * 512ull, 512, false, true, ""}},
        {"sda10", {"sda", 1930000 * 512ull, 1000 * 512ull, 512, false, false, ""}},
        // sysfs counts in 512-byte units even on a 4096-byte-sector disk.
        {"sdb1", {"sdb", 8 * 512ull, 7000 * 512ull, 4096, true, false, ""}},
    };
    for (const BlockDeviceInfo& p : parts) {
        SCOPED_TRACE(p.name);
        const Expect& e = expected.at(p.name);
        EXPECT_TRUE(p.partition);
        EXPECT_EQ(p.path, "/dev/" + p.name);
        EXPECT_EQ(p.parent, e.parent);
        EXPECT_EQ(p.startByte, e.start);
        EXPECT_EQ(p.sizeBytes, e.size);
        EXPECT_EQ(p.logicalSectorSize, e.sector);
        EXPECT_EQ(p.removable, e.removable);
        EXPECT_EQ(p.readOnly, e.readOnly);
        EXPECT_EQ(p.mountPoint, e.mountPoint);
    }
}

TEST(LinuxPlatformSysfs, DeviceNumberOfAPathMatchesTheMountTable) {
    test::TempDir dir;
    const auto number = linux_os::deviceNumberHolding(dir.path());
    ASSERT_TRUE(number);
    // A path that does not exist yet resolves through its nearest existing ancestor.
    const auto below = linux_os::deviceNumberHolding(dir / "not" / "there" / "yet");
    ASSERT_TRUE(below);
    EXPECT_EQ(below->key(), number->key());
    EXPECT_FALSE(linux_os::deviceNumberHolding(""));

    const fs::path out = dir / "findmnt.txt";
    if (!test::run("findmnt -no MAJ:MIN -T '" + dir.path().string() + "' > '" + out.string() + "'")) {
        GTEST_SKIP() << "findmnt is not available to cross-check";
    }
    std::ifstream in(out);
    std::string key;
    in >> key;
    EXPECT_EQ(number->key(), key);
}

struct Extent {
    std::string disk;
    std::int64_t start;
    std::int64_t length;
    bool operator==(const Extent&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Extent& e) {
    return os << "{" << e.disk << ", " << e.start << ", " << e.length << "}";
}

std::vector<Extent> named(const std::vector<DiskExtent>& extents,
                          const std::vector<BlockDeviceInfo>& disks) {
    std::vector<Extent> out;
    for (const DiskExtent& e : extents) {
        out.push_back({e.diskNumber < disks.size() ? disks[e.diskNumber].name : "?", e.startByte,
                       e.lenByte});
    }
    return out;
}

struct ExtentCase {
    const char* name;
    const char* device;  // what the temporary folder's device number resolves to; "" for none
    std::vector<Extent> expected;
};

TEST(LinuxPlatformSysfs, PathExtentsFollowPartitionsStacksAndLoops) {
    const std::vector<ExtentCase> cases = {
        {"partition", "sda2", {{"sda", 1026048 * 512LL, 900000 * 512LL}}},
        {"whole disk", "sdb", {{"sdb", 0, 60000000 * 512LL}}},
        {"device mapper over two disks", "dm-0",
         {{"nvme0n1", 4096 * 512LL, 2000 * 512LL}, {"sda", 2048 * 512LL, 1024000 * 512LL}}},
        // Its backing file lives on this same folder: a cycle the walk must cut.
        {"loop partition backed by a file here", "loop0p1", {{"loop0", 64 * 512LL, 2000 * 512LL}}},
        {"device that is no listed disk", "zram0", {}},
        {"no device entry", "", {}},
    };
    for (const ExtentCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine machine;
        const auto key = linux_os::deviceNumberHolding(machine.dir.path());
        ASSERT_TRUE(key);
        if (*c.device != '\0') machine.sysfs.deviceNumber(key->key(), machine.dirs.at(c.device));
        std::ofstream(machine.dirs.at("loop0") / "loop" / "backing_file")
            << (machine.dir / "image.bin").string() << "\n";
        LinuxPlatform platform(machine.sysfs.paths());
        const auto disks = platform.wholeDisks();

        for (const fs::path& path : {machine.dir.path() / "mountinfo",
                                     machine.dir.path() / "new" / "folder"}) {
            EXPECT_EQ(named(platform.pathDiskExtents(path), disks), c.expected) << path;
        }
    }
}

TEST(LinuxPlatformSystem, ListsAndExtentsAreConsistent) {
    LinuxPlatform platform;
    const auto disks = platform.wholeDisks();
    EXPECT_TRUE(std::is_sorted(disks.begin(), disks.end(), [](const auto& a, const auto& b) {
        return deviceNameLess(a.name, b.name);
    }));
    std::map<std::string, std::uint64_t> sizes;
    for (const BlockDeviceInfo& d : disks) {
        SCOPED_TRACE(d.name);
        EXPECT_TRUE(linux_os::isListedDiskName(d.name));
        EXPECT_EQ(d.path, "/dev/" + d.name);
        EXPECT_GT(d.sizeBytes, 0u);
        sizes[d.name] = d.sizeBytes;
    }
    for (const BlockDeviceInfo& p : platform.partitions()) {
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(sizes.count(p.parent));
        EXPECT_LE(p.startByte + p.sizeBytes, sizes[p.parent]);
    }

    // Kernel file systems have no block device under them.
    EXPECT_TRUE(platform.pathDiskExtents("/proc/self").empty());
    test::TempDir dir;
    for (const DiskExtent& e : platform.pathDiskExtents(dir.path())) {
        ASSERT_LT(e.diskNumber, disks.size());
        EXPECT_GT(e.lenByte, 0);
        EXPECT_LE(static_cast<std::uint64_t>(e.startByte + e.lenByte),
                  disks[e.diskNumber].sizeBytes);
    }
}

TEST(LinuxPlatformSystem, TickCountIsMonotonicMilliseconds) {
    LinuxPlatform platform;
    const std::uint32_t before = platform.tickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::uint32_t elapsed = platform.tickCount() - before;  // wraps like the counter
    EXPECT_GE(elapsed, 50u);
    EXPECT_LT(elapsed, 5000u);
}

}  // namespace
}  // namespace brenvale::platform
