#include "storage/drive_enum.h"

#include <algorithm>
#include <cerrno>
#include <array>
#include <string_view>

#include "platform/errors.h"
#include "storage/batch_reader.h"
#include "storage/boot_sectors.h"
#include "storage/fs_detect.h"
#include "storage/fs_types.h"

namespace brenvale::storage {

namespace {

constexpr std::uint32_t kOsMediaRemovable = 11;
constexpr std::uint32_t kOsMediaFixed = 12;
constexpr std::uint32_t kOsMediaTypeMax = 22;
constexpr std::size_t kBootSectorSize = 512;

void fillGeometry(const platform::DiskGeometry& g, TDriveParams& p) {
    p.Heads = static_cast<std::uint32_t>(g.cylinders);
    p.TracksPerHead = g.tracksPerCylinder;
    p.SectorsPerTrack = g.sectorsPerTrack;
    p.BytesPerSector = g.bytesPerSector;
}

bool volumeParams(platform::Platform& os, const platform::BlockDeviceInfo& dev, TDriveParams& p) {
    auto opened = os.openReadOnly(dev.path);
    if (!opened.source) return false;
    p = TDriveParams{};
    if (dev.optical) {
        p.MediaType = 4;
        p.MediaAttr = 1;
        p.BytesPerSector = 2048;
        return true;
    }
    const auto g = opened.source->geometry();
    if (!g) return false;
    fillGeometry(*g, p);
    const std::uint32_t s = p.BytesPerSector ? p.BytesPerSector : 512;
    std::vector<std::byte> sector(std::max<std::size_t>(s, kBootSectorSize));
    BatchRequest req;
    req.handle = opened.source.get();
    req.sectors = 1;
    req.dest = sector.data();
    req.sectorSize = s;
    req.retries = 1;
    req.clock = &os;
    if (ReadBatch(req) < kBootSectorSize) return false;
    const auto fs = DetectFileSystem(sector);
    p.TotalPhysSec = VolumeSectorCount(sector, fs);
    if (fs == kFsUnknown) p.TotalPhysSec = opened.source->sizeBytes().value_or(0) / s;
    ApplyMediaType(g->mediaType, p);
    return true;
}

bool physicalParams(platform::Platform& os, const platform::BlockDeviceInfo& dev, TDriveParams& p) {
    auto opened = os.openReadOnly(dev.path);
    if (!opened.source) return false;
    const auto g = opened.source->geometry();
    if (!g) return false;
    p = TDriveParams{};
    fillGeometry(*g, p);
    p.TotalPhysSec = g->cylinders * g->tracksPerCylinder * g->sectorsPerTrack;
    if (g->bytesPerSector != 0) {
        const auto len = opened.source->sizeBytes();
        // Compared by value: a packed field must not bind to a reference.
        const std::uint64_t bySize = len ? *len / g->bytesPerSector : 0;
        if (bySize > p.TotalPhysSec) p.TotalPhysSec = bySize;
    }
    ApplyMediaType(g->mediaType, p);
    return true;
}

// First sector of a block device, read once with the default time-out.
std::uint8_t probeFileSystem(platform::Platform& os, const platform::BlockDeviceInfo& dev) {
    auto opened = os.openReadOnly(dev.path);
    if (!opened.source) return kFsUnknown;
    std::vector<std::byte> sector(std::max<std::size_t>(dev.logicalSectorSize, kBootSectorSize));
    const auto out = opened.source->readTimed(sector, 0, platform::Millis{0});
    if (out.status != platform::ReadStatus::Ok || out.bytes < kBootSectorSize) return kFsUnknown;
    return DetectFileSystem(sector);
}

}  // namespace

void ApplyMediaType(std::uint32_t osMediaType, TDriveParams& p) {
    if (osMediaType > kOsMediaTypeMax) return;
    p.MediaAttr = 0;
    if (osMediaType == 0) {
        p.MediaType = 0;
    } else if (osMediaType == kOsMediaRemovable) {
        p.MediaType = 2;
        p.MediaAttr = 1;
    } else if (osMediaType == kOsMediaFixed) {
        p.MediaType = 3;
    } else {
        p.MediaType = 1;
        p.MediaAttr = 1;
    }
}

std::vector<VolumeInfo> EnumVolumes(platform::Platform& os) {
    // Whole disks that hold a file system directly (no partition table) count as volumes too.
    std::vector<platform::BlockDeviceInfo> candidates = os.wholeDisks();
    for (auto& part : os.partitions()) candidates.push_back(std::move(part));
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.name < b.name; });
    std::vector<VolumeInfo> out;
    for (auto& dev : candidates) {
        if (out.size() >= kMaxVolumes) break;
        const auto fs = probeFileSystem(os, dev);
        if (fs == kFsUnknown) continue;
        out.push_back({static_cast<std::uint8_t>(out.size() + 1), std::move(dev), fs});
    }
    return out;
}

std::optional<platform::BlockDeviceInfo> ResolveDriveNumber(platform::Platform& os, std::uint8_t DriveNum) {
    if (DriveNum >= kFirstPhysicalDrive) {
        auto disks = os.wholeDisks();
        const std::size_t n = DriveNum - kFirstPhysicalDrive;
        if (n < disks.size()) return std::move(disks[n]);
        return std::nullopt;
    }
    if (DriveNum == 0 || DriveNum > kMaxVolumes) return std::nullopt;
    for (auto& v : EnumVolumes(os)) {
        if (v.number == DriveNum) return std::move(v.device);
    }
    return std::nullopt;
}

bool GetDriveParams(platform::Platform& os, std::uint8_t DriveNum, TDriveParams& params) {
    const auto dev = ResolveDriveNumber(os, DriveNum);
    if (!dev) return false;
    return DriveNum >= kFirstPhysicalDrive ? physicalParams(os, *dev, params) : volumeParams(os, *dev, params);
}

std::vector<UnopenedDisk> UnopenedDisks(platform::Platform& os) {
    std::vector<UnopenedDisk> out;
    for (const auto& disk : os.wholeDisks()) {
        auto opened = os.openReadOnly(disk.path);
        if (!opened.source) {
            out.push_back({disk.path, opened.error});
        } else if (!opened.source->geometry()) {
            out.push_back({disk.path, 0});
        }
    }
    return out;
}

std::string UnopenedDiskText(const UnopenedDisk& disk, bool runningAsRoot) {
    if (disk.error == 0) return "Cannot read the geometry of " + disk.path;
    std::string text = "Cannot open " + disk.path + ": " + platform::errorText(disk.error);
    if (!runningAsRoot && (disk.error == EACCES || disk.error == EPERM)) text += " (reading disks needs root)";
    return text;
}

std::vector<std::uint8_t> EnumPhysicalDrives(platform::Platform& os) {
    std::vector<std::uint8_t> out;
    const std::size_t count = os.wholeDisks().size();
    for (unsigned num = kFirstPhysicalDrive; num <= 0xFF && num - kFirstPhysicalDrive < count; ++num) {
        TDriveParams p{};
        if (GetDriveParams(os, static_cast<std::uint8_t>(num), p)) out.push_back(static_cast<std::uint8_t>(num));
    }
    return out;
}

std::string ShortenModelName(const std::string& model) {
    struct Suffix {
        std::string_view text;
        std::size_t cut;
    };
    static constexpr std::array<Suffix, 9> kSuffixes{{
        {"USB Device", 11},
        {"SCSI Device", 12},
        {"FIREWARE Device", 16},
        {"USB Drive Device", 17},
        {"SCSI Drive Device", 18},
        {"FIREWARE Drive Device", 22},
        {"USB Disk Device", 16},
        {"SCSI Disk Device", 17},
        {"FIREWARE Disk Device", 21},
    }};
    for (const auto& s : kSuffixes) {
        if (model.find(s.text) != std::string::npos) {
            return model.size() > s.cut ? model.substr(0, model.size() - s.cut) : std::string{};
        }
    }
    return model;
}

std::string QueryDriveModel(platform::Platform& os, unsigned n) {
    const auto disks = os.wholeDisks();
    if (n >= disks.size()) return {};
    return ShortenModelName(disks[n].model);
}

}  // namespace brenvale::storage
