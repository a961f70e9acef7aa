// Drive commands on Linux: the kinds of kernel disk names, the queue facts of a prepared sysfs
// tree (a partition's disk, loop devices), and a real device that refuses the commands.

#include <gtest/gtest.h>

#include <fstream>

#include "platform/ata_reply.h"
#include "platform/linux/linux_drive_commands.h"
#include "support/temp_dir.h"

namespace brenvale::platform {
namespace {

namespace fs = std::filesystem;

class SysfsTree {
public:
    // A disk under devices/, linked from class/block/ as the kernel does, with its queue
    // facts; partitions are folders inside the disk's folder.
    void disk(const std::string& name, std::uint64_t discardMax, int rotational,
              const std::vector<std::string>& partitions = {}) {
        const fs::path dir = dir_.path() / "devices/virtual/block" / name;
        fs::create_directories(dir / "queue");
        std::ofstream(dir / "queue/discard_max_bytes") << discardMax << '\n';
        std::ofstream(dir / "queue/rotational") << rotational << '\n';
        link(name, dir);
        for (const std::string& p : partitions) {
            fs::create_directories(dir / p);
            link(p, dir / p);
        }
    }
    void scsiType(const std::string& name, int type) {
        const fs::path dir = dir_.path() / "devices/virtual/block" / name / "device";
        fs::create_directories(dir);
        std::ofstream(dir / "type") << type << '\n';
    }
    fs::path root() const { return dir_.path(); }

private:
    void link(const std::string& name, const fs::path& target) {
        fs::create_directories(dir_.path() / "class/block");
        fs::create_directory_symlink(target, dir_.path() / "class/block" / name);
    }
    test::TempDir dir_;
};

TEST(LinuxDriveCommandsTest, TrimFactsComeFromTheDiskUnderTheDevice) {
    SysfsTree t;
    t.disk("sda", 2147450880, 0, {"sda1", "sda2"});
    t.disk("sdb", 0, 1, {"sdb1"});
    t.disk("loop0", 4096, 0, {"loop0p1"});
    LinuxDriveCommands c(t.root());
    struct Case {
        const char* device;
        bool known, rotational, discard, image;
    };
    // Device paths that do not exist here are taken by their last name.
    const Case cases[] = {
        {"/nonexistent/sda", true, false, true, false},  {"/nonexistent/sda2", true, false, true, false},
        {"/nonexistent/sdb1", true, true, false, false}, {"/nonexistent/loop0p1", true, false, true, true},
        {"/nonexistent/sdz1", false, false, false, false},
    };
    for (const Case& k : cases) {
        const TrimFacts f = c.trimFacts(k.device);
        EXPECT_EQ(f.known, k.known) << k.device;
        EXPECT_EQ(f.rotational, k.rotational) << k.device;
        EXPECT_EQ(f.discard, k.discard) << k.device;
        EXPECT_EQ(f.image, k.image) << k.device;
    }
}

TEST(LinuxDriveCommandsTest, KindsOfDiskNames) {
    SysfsTree t;
    t.disk("sdc", 0, 0);
    t.scsiType("sdc", 5);  // a CD/DVD drive that got a disk name
    const struct {
        const char* name;
        DriveKind kind;
    } cases[] = {{"sda", DriveKind::Ata},       {"hdb", DriveKind::Ata},      {"nvme0n1", DriveKind::Nvme},
                 {"sr0", DriveKind::Optical},   {"sdc", DriveKind::Optical},  {"loop7", DriveKind::Image},
                 {"vda", DriveKind::Other},     {"mmcblk0", DriveKind::Other}};
    for (const auto& c : cases) EXPECT_EQ(LinuxDriveCommands::kindOf(c.name, t.root()), c.kind) << c.name;
}

TEST(LinuxDriveCommandsTest, DeviceWithoutDriveCommandsRefusesEveryForm) {
    // A compressed RAM disk: a block device that no ATA or NVMe command reaches.
    LinuxDriveCommands c;
    OpenDriveResult opened = c.openDrive("/dev/zram0");
    if (!opened.handle) GTEST_SKIP() << "/dev/zram0 cannot be opened here (errno " << opened.error << ")";
    EXPECT_EQ(opened.handle->kind(), DriveKind::Other);
    for (const AtaForm form : kAtaForms) {
        std::vector<std::byte> page(512);
        const AtaRegisters identify{0, 1, 0, 0, 0, 0xA0, 0xEC};
        const AtaOutcome o = DecodeAtaReply(form, opened.handle->ata(form, identify, page, 2000));
        EXPECT_EQ(o.status, AtaStatus::Refused) << AtaFormName(form);
        EXPECT_NE(o.error, 0) << AtaFormName(form);
    }
    std::vector<std::byte> log(512);
    EXPECT_EQ(opened.handle->nvmeAdmin({0x02, 0xFFFFFFFF, (127u << 16) | 2, 0}, log, 2000).outcome,
              TransportReply::Outcome::Refused);
}

TEST(LinuxDriveCommandsTest, MissingDeviceCannotBeOpened) {
    LinuxDriveCommands c;
    const OpenDriveResult r = c.openDrive("/dev/brenvale-no-such-disk");
    EXPECT_FALSE(r.handle);
    EXPECT_NE(r.error, 0);
}

}  // namespace
}  // namespace brenvale::platform
