#include "platform/linux/linux_platform.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/linux/linux_block_source.h"
#include "platform/linux/sysfs.h"

namespace brenvale::platform {

namespace fs = std::filesystem;
using linux_os::deviceNameLess;
using linux_os::readAttr;
using linux_os::readFlagAttr;
using linux_os::readUintAttr;

namespace {

// sysfs counts sizes and partition starts in 512-byte units whatever the sector size.
constexpr std::uint64_t kSysfsUnit = 512;
// Loop devices on file systems on loop devices, device-mapper stacks: real setups are a few
// levels deep; the bound only stops a malformed or cyclic chain.
constexpr int kMaxStackDepth = 8;
// As many extents as a volume query reports at most.
constexpr std::size_t kMaxExtents = 32;

std::string modelOf(const fs::path& diskDir, const std::string& name) {
    const fs::path device = diskDir / "device";
    std::string model = readAttr(device / "model").value_or("");
    if (name.starts_with("nvme")) return model;
    if (model.empty()) {
        // MMC cards name themselves; other devices without a model (virtio) stay unnamed.
        return name.starts_with("mmcblk") ? readAttr(device / "name").value_or("") : "";
    }
    const std::string vendor = readAttr(device / "vendor").value_or("");
    // libata reports every SATA disk with the vendor "ATA", which names the bus, not the maker.
    if (vendor.empty() || vendor == "ATA") return model;
    return vendor + " " + model;
}

std::string devKey(const fs::path& deviceDir) { return readAttr(deviceDir / "dev").value_or(""); }

std::vector<std::string> sortedNames(std::vector<std::string> names) {
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return deviceNameLess(a, b); });
    return names;
}

}  // namespace

LinuxPlatform::LinuxPlatform(LinuxSystemPaths paths) : paths_(std::move(paths)) {}

std::map<std::string, std::string> LinuxPlatform::mounts() const {
    std::ifstream in(paths_.mountInfo, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return linux_os::parseMountInfo(text.str());
}

BlockDeviceInfo LinuxPlatform::describeDisk(
    const std::string& name, const std::map<std::string, std::string>& mounts) const {
    const fs::path dir = paths_.sysfs / "block" / name;
    BlockDeviceInfo info;
    info.name = name;
    info.path = (paths_.dev / name).string();
    info.sizeBytes = readUintAttr(dir / "size").value_or(0) * kSysfsUnit;
    const auto sector = readUintAttr(dir / "queue" / "logical_block_size");
    if (sector && *sector > 0 && *sector <= UINT32_MAX) {
        info.logicalSectorSize = static_cast<std::uint32_t>(*sector);
    }
    info.removable = readFlagAttr(dir / "removable");
    info.optical = name.starts_with("sr");
    info.readOnly = readFlagAttr(dir / "ro");
    if (auto it = mounts.find(devKey(dir)); it != mounts.end()) info.mountPoint = it->second;
    info.model = modelOf(dir, name);
    return info;
}

std::vector<BlockDeviceInfo> LinuxPlatform::wholeDisks() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(paths_.sysfs / "block", ec)) {
        const std::string name = entry.path().filename().string();
        if (!linux_os::isListedDiskName(name)) continue;
        // Hidden: the per-path nodes of multipath NVMe, reachable only through their head.
        if (readFlagAttr(entry.path() / "hidden")) continue;
        // Size 0: a card reader or optical drive without a medium, or a detached loop device.
        if (readUintAttr(entry.path() / "size").value_or(0) == 0) continue;
        names.push_back(name);
    }
    const auto mountTable = mounts();
    std::vector<BlockDeviceInfo> disks;
    for (const std::string& name : sortedNames(std::move(names))) {
        disks.push_back(describeDisk(name, mountTable));
    }
    return disks;
}

std::vector<BlockDeviceInfo> LinuxPlatform::partitions() {
    const auto mountTable = mounts();
    std::vector<BlockDeviceInfo> parts;
    for (const BlockDeviceInfo& disk : wholeDisks()) {
        const fs::path diskDir = paths_.sysfs / "block" / disk.name;
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(diskDir, ec)) {
            std::error_code existsEc;
            if (fs::exists(entry.path() / "partition", existsEc)) {
                names.push_back(entry.path().filename().string());
            }
        }
        for (const std::string& name : sortedNames(std::move(names))) {
            const fs::path dir = diskDir / name;
            BlockDeviceInfo info;
            info.name = name;
            info.path = (paths_.dev / name).string();
            info.partition = true;
            info.parent = disk.name;
            info.startByte = readUintAttr(dir / "start").value_or(0) * kSysfsUnit;
            info.sizeBytes = readUintAttr(dir / "size").value_or(0) * kSysfsUnit;
            info.logicalSectorSize = disk.logicalSectorSize;
            info.removable = disk.removable;
            info.optical = disk.optical;
            info.readOnly = readFlagAttr(dir / "ro");
            if (auto it = mountTable.find(devKey(dir)); it != mountTable.end()) {
                info.mountPoint = it->second;
            }
            parts.push_back(std::move(info));
        }
    }
    return parts;
}

OpenResult LinuxPlatform::openReadOnly(const std::string& path) {
    return LinuxBlockSource::open(path);
}

std::uint32_t LinuxPlatform::tickCount() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

// Follows a path down to the disks under it: file system → its block device → partition and
// disk, loop device → the file system holding its backing file, device-mapper → its slaves.
class LinuxPlatform::ExtentWalk {
public:
    ExtentWalk(const LinuxSystemPaths& paths, const std::vector<BlockDeviceInfo>& disks)
        : paths_(paths) {
        for (std::uint32_t i = 0; i < disks.size(); ++i) diskIndex_[disks[i].name] = i;
    }

    void fromPath(const fs::path& path, int depth) {
        if (depth > kMaxStackDepth) return;
        const auto dev = linux_os::deviceNumberHolding(path);
        // Major 0: a file system without a block device (tmpfs, overlay, network, btrfs
        // subvolumes); there is no disk to name.
        if (!dev || dev->major == 0) return;
        std::error_code ec;
        const fs::path dir = fs::canonical(paths_.sysfs / "dev" / "block" / dev->key(), ec);
        if (!ec) fromDevice(dir, depth);
    }

    std::vector<DiskExtent> take() { return std::move(extents_); }

private:
    void fromDevice(const fs::path& dir, int depth) {
        if (depth > kMaxStackDepth) return;
        std::error_code ec;
        const std::uint64_t size = readUintAttr(dir / "size").value_or(0) * kSysfsUnit;
        fs::path diskDir = dir;
        std::uint64_t start = 0;
        if (fs::exists(dir / "partition", ec)) {
            diskDir = dir.parent_path();
            start = readUintAttr(dir / "start").value_or(0) * kSysfsUnit;
        }
        if (auto it = diskIndex_.find(diskDir.filename().string()); it != diskIndex_.end()) {
            add({it->second, static_cast<std::int64_t>(start), static_cast<std::int64_t>(size)});
        }
        // A loop device's data (or its partition's) lives in its backing file.
        if (auto backing = readAttr(diskDir / "loop" / "backing_file"); backing && !backing->empty()) {
            fromPath(*backing, depth + 1);
        }
        // Device-mapper and md: every device under it, in name order.
        std::vector<std::string> slaves;
        for (const auto& slave : fs::directory_iterator(dir / "slaves", ec)) {
            slaves.push_back(slave.path().filename().string());
        }
        for (const std::string& slave : sortedNames(std::move(slaves))) {
            std::error_code canonEc;
            const fs::path target = fs::canonical(dir / "slaves" / slave, canonEc);
            if (!canonEc) fromDevice(target, depth + 1);
        }
    }

    void add(const DiskExtent& extent) {
        if (extents_.size() >= kMaxExtents) return;
        const bool known = std::any_of(extents_.begin(), extents_.end(), [&](const DiskExtent& e) {
            return e.diskNumber == extent.diskNumber && e.startByte == extent.startByte &&
                   e.lenByte == extent.lenByte;
        });
        if (!known) extents_.push_back(extent);
    }

    const LinuxSystemPaths& paths_;
    std::map<std::string, std::uint32_t> diskIndex_;
    std::vector<DiskExtent> extents_;
};

std::vector<DiskExtent> LinuxPlatform::pathDiskExtents(const std::string& path) {
    ExtentWalk walk(paths_, wholeDisks());
    walk.fromPath(path, 0);
    return walk.take();
}

bool LinuxPlatform::runningAsRoot() { return ::geteuid() == 0; }

std::unique_ptr<Platform> makeLinuxPlatform() { return std::make_unique<LinuxPlatform>(); }

std::unique_ptr<Platform> makeSystemPlatform() { return makeLinuxPlatform(); }

}  // namespace brenvale::platform
