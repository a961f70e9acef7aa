#include "app/create_image.h"

#include <fmt/format.h>

#include <vector>

#include "storage/device_events.h"
#include "storage/disk_extents.h"
#include "storage/fs_detect.h"
#include "storage/fs_types.h"
#include "storage/image_descriptor.h"

namespace brenvale::app {

namespace {

std::uint8_t fileSystemAt(storage::TDevice& dev, std::uint64_t LBA) {
    std::vector<std::byte> sector(dev.BytesPerSector());
    if (dev.Read(LBA, 1, sector.data()) < 512) return storage::kFsUnknown;
    return storage::DetectFileSystem(sector);
}

}  // namespace

ImagePlan VolumePlan(storage::TDevice& dev, std::uint64_t LBA, std::uint64_t Blocks) {
    ImagePlan plan{LBA, Blocks, 1, fileSystemAt(dev, LBA), 0};
    if (plan.FileSystem == storage::kFsUnknown) plan.MbrType = dev.ProbeLinuxType(LBA);
    return plan;
}

ImagePlan ProposeImagePlan(storage::TDevice& dev) {
    const std::uint64_t sectors = dev.Sectors();
    if (dev.DeviceType() == storage::kDeviceVolume) return VolumePlan(dev, 0, sectors);
    if (dev.DeviceType() == storage::kDeviceImage && !dev.IsRawImage() &&
        dev.Desc().SourceType == storage::kImageSourceVolume) {
        const std::uint64_t prefix = storage::ImagePrefixSectors(dev.BytesPerSector());
        const std::uint64_t start = prefix < sectors ? prefix : 0;
        return VolumePlan(dev, start, sectors - start);
    }
    return ImagePlan{0, sectors, 0, 0, 0};
}

bool ImageTargetOnSource(platform::Platform& os, const storage::TDevice& dev, const std::string& fileName,
                         std::uint64_t LBA, std::uint64_t Blocks) {
    if (dev.DeviceType() == storage::kDeviceImage) return false;
    std::uint32_t disk = 0;
    std::int64_t origin = 0;
    if (!storage::DeviceDiskPosition(os, dev.Path(), disk, origin)) return false;
    const auto s = static_cast<std::int64_t>(dev.BytesPerSector());
    const std::int64_t from = origin + static_cast<std::int64_t>(LBA) * s;
    const std::int64_t to = from + static_cast<std::int64_t>(Blocks) * s;
    return storage::PathOverlapsDiskRange(os, fileName, static_cast<int>(disk), from, to);
}

std::string RunCreateImage(storage::TDevice& dev, EventLog& log, const std::string& fileName, const ImagePlan& plan) {
    storage::DeviceAborted = false;
    dev.PrepareForNewOperation();
    log.AddEvent(kCreateImageEvent, fmt::format("Starting image \"{}\" (LBA {}, {} sectors)", fileName, plan.LBA, plan.Blocks));
    const bool ok = dev.CreateImage(fileName, static_cast<std::int64_t>(plan.LBA), static_cast<std::int64_t>(plan.Blocks),
                                    plan.ImgType, plan.FileSystem, plan.MbrType);
    std::string outcome;
    if (ok) {
        outcome = kImageCompleted;
    } else if (!dev.CreateError().empty()) {
        outcome = dev.CreateError();
    } else if (dev.Terminated()) {
        outcome = kImageStopped;
    } else {
        outcome = kImageEndedEarly;
    }
    log.AddEvent(kCreateImageEvent, outcome + " (\"" + fileName + "\")");
    return outcome;
}

}  // namespace brenvale::app
