#pragma once
// What the core needs from the operating system. One implementation talks to Linux
// (platform/linux), another is scripted for tests (platform/fake).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_source.h"

namespace brenvale::platform {

// A block device as the system lists it.
struct BlockDeviceInfo {
    std::string name;          // kernel name: "sda", "sda1", "nvme0n1", "loop3"
    std::string path;          // "/dev/sda1"
    bool partition = false;    // a partition of `parent`
    std::string parent;        // whole-disk name of a partition, empty otherwise
    std::uint64_t startByte = 0;  // partition start on its parent disk; 0 for whole disks
    std::uint64_t sizeBytes = 0;
    std::uint32_t logicalSectorSize = 512;
    bool removable = false;
    bool optical = false;
    bool readOnly = false;
    std::string mountPoint;    // first mount point, empty when not mounted
    std::string model;         // vendor and model as the kernel reports them, trimmed
};

// One stretch of a disk that a volume (or file) occupies.
struct DiskExtent {
    std::uint32_t diskNumber = 0;  // index into wholeDisks()
    std::int64_t startByte = 0;
    std::int64_t lenByte = 0;
};

struct OpenResult {
    std::unique_ptr<BlockSource> source;  // null on failure
    int error = 0;                        // errno when `source` is null
};

class Platform {
public:
    virtual ~Platform() = default;

    // Whole disks in name order (drive number 0x80 + index).
    virtual std::vector<BlockDeviceInfo> wholeDisks() = 0;
    // Partitions of every whole disk, in name order.
    virtual std::vector<BlockDeviceInfo> partitions() = 0;

    // Opens a block device or a regular file for reading only.
    virtual OpenResult openReadOnly(const std::string& path) = 0;

    // The disk stretches holding the file system that contains `path` (following loop devices
    // to their backing files and device-mapper targets to their slaves). Empty when the path
    // is on no block device (tmpfs, network) or cannot be resolved.
    virtual std::vector<DiskExtent> pathDiskExtents(const std::string& path) = 0;

    // Monotonic milliseconds, wrapping like a 32-bit tick counter.
    virtual std::uint32_t tickCount() = 0;

    // Whether the process has root's rights: a disk that refuses it is refused by the kernel
    // (a container, a locked device), not for want of rights.
    virtual bool runningAsRoot() { return false; }
};

// The platform of the system the program runs on (Linux: platform/linux); what main() uses.
std::unique_ptr<Platform> makeSystemPlatform();

}  // namespace brenvale::platform
