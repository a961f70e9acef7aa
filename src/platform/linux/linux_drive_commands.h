#pragma once
// Drive commands on Linux: SG_IO with ATA PASS-THROUGH (16) and (12), HDIO_DRIVE_CMD, and
// NVME_IOCTL_ADMIN_CMD, on a descriptor opened read-only; queue facts from sysfs.

#include <filesystem>
#include <memory>

#include "platform/drive_commands.h"

namespace brenvale::platform {

class LinuxDriveCommands final : public DriveCommands {
public:
    explicit LinuxDriveCommands(std::filesystem::path sysfs = "/sys") : sysfs_(std::move(sysfs)) {}
    OpenDriveResult openDrive(const std::string& path) override;
    TrimFacts trimFacts(const std::string& devicePath) override;

    // The kind of a kernel disk name, with `sysfs` consulted for SCSI optical drives.
    static DriveKind kindOf(const std::string& name, const std::filesystem::path& sysfs);

private:
    std::filesystem::path sysfs_;
};

std::unique_ptr<DriveCommands> makeLinuxDriveCommands();

}  // namespace brenvale::platform
