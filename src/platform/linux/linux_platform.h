#pragma once
// The operating-system layer on Linux: disks from sysfs, sources through LinuxBlockSource.

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace brenvale::platform {

// Where the kernel's views live; tests point these at a prepared tree.
struct LinuxSystemPaths {
    std::filesystem::path sysfs = "/sys";
    std::filesystem::path mountInfo = "/proc/self/mountinfo";
    std::filesystem::path dev = "/dev";
};

class LinuxPlatform final : public Platform {
public:
    explicit LinuxPlatform(LinuxSystemPaths paths = {});

    std::vector<BlockDeviceInfo> wholeDisks() override;
    std::vector<BlockDeviceInfo> partitions() override;
    OpenResult openReadOnly(const std::string& path) override;
    std::vector<DiskExtent> pathDiskExtents(const std::string& path) override;
    std::uint32_t tickCount() override;
    bool runningAsRoot() override;

private:
    class ExtentWalk;
    std::map<std::string, std::string> mounts() const;
    BlockDeviceInfo describeDisk(const std::string& name,
                                 const std::map<std::string, std::string>& mounts) const;

    LinuxSystemPaths paths_;
};

std::unique_ptr<Platform> makeLinuxPlatform();

}  // namespace brenvale::platform
