#include "storage/disk_extents.h"

#include <optional>

#include "storage/drive_enum.h"

namespace brenvale::storage {

bool PathDiskExtents(platform::Platform& os, const std::string& Path, TPhysExtents& Extents) {
    Extents.clear();
    for (const auto& e : os.pathDiskExtents(Path)) {
        if (Extents.size() >= kMaxExtents) break;
        Extents.push_back({e.diskNumber, e.startByte, e.lenByte});
    }
    return !Extents.empty();
}

bool PathOverlapsDiskRange(platform::Platform& os, const std::string& Path, int DiskNumber, std::int64_t FromByte,
                           std::int64_t ToByte) {
    if (ToByte <= FromByte || DiskNumber < 0) return false;
    TPhysExtents extents;
    if (!PathDiskExtents(os, Path, extents)) return false;
    for (const auto& e : extents) {
        if (e.DiskNumber == static_cast<std::uint32_t>(DiskNumber) && e.StartByte < ToByte &&
            e.StartByte + e.LenByte > FromByte) {
            return true;
        }
    }
    return false;
}

bool DeviceDiskPosition(platform::Platform& os, const std::string& devicePath, std::uint32_t& DiskNumber,
                        std::int64_t& StartByte) {
    const auto disks = os.wholeDisks();
    auto diskIndex = [&](const std::string& name) -> std::optional<std::uint32_t> {
        for (std::size_t i = 0; i < disks.size(); ++i) {
            if (disks[i].name == name) return static_cast<std::uint32_t>(i);
        }
        return std::nullopt;
    };
    for (const auto& d : disks) {
        if (d.path == devicePath) {
            DiskNumber = *diskIndex(d.name);
            StartByte = 0;
            return true;
        }
    }
    for (const auto& p : os.partitions()) {
        if (p.path != devicePath) continue;
        const auto idx = diskIndex(p.parent);
        if (!idx) return false;
        DiskNumber = *idx;
        StartByte = static_cast<std::int64_t>(p.startByte);
        return true;
    }
    return false;
}

bool VolumeFirstExtent(platform::Platform& os, std::uint8_t VolumeNumber, std::uint8_t& DiskNumber,
                       std::int64_t& StartSector) {
    const auto dev = ResolveDriveNumber(os, VolumeNumber);
    if (!dev || VolumeNumber >= kFirstPhysicalDrive) return false;
    const auto disks = os.wholeDisks();
    const std::string& diskName = dev->partition ? dev->parent : dev->name;
    for (std::size_t i = 0; i < disks.size(); ++i) {
        if (disks[i].name == diskName) {
            DiskNumber = static_cast<std::uint8_t>(i);
            StartSector = static_cast<std::int64_t>(dev->startByte / 512);
            return true;
        }
    }
    return false;
}

}  // namespace brenvale::storage
