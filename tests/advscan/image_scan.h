#pragma once
// An advanced scan over the whole of an image file, as the fixture tests run it: the image's
// first sector taken as the object's boot sector, or none (a volume whose boot sector is gone).

#include <atomic>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "advscan/advanced_scan.h"
#include "platform/linux/linux_platform.h"
#include "raw/signature_scan.h"
#include "scan/undelete.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/fs_detect.h"

namespace brenvale::advscan {

enum class BootSector { FirstSector, Gone };

inline partitions::TPartition ImageRecord(storage::TDevice& device, BootSector boot) {
    std::vector<std::byte> first(512);
    if (boot == BootSector::FirstSector && device.Read(0, 1, first) != first.size()) first.assign(512, std::byte{0});
    partitions::TPartition record;
    record.BootSector = storage::MakeBootSector(first);
    record.SectCount64 = static_cast<std::int64_t>(device.Sectors());
    return record;
}

struct ImageScan {
    // `platform`: another way to reach the image (a test's wrapper); the Linux one by default.
    ImageScan(const std::filesystem::path& image, BootSector boot, std::unique_ptr<platform::Platform> platform = nullptr)
        : os((storage::DeviceAborted = false, platform ? std::move(platform) : platform::makeLinuxPlatform())),
          device(*os, image.string()),
          record(ImageRecord(device, boot)),
          scan(device, record),
          raw(sizes, 512, raw::DeviceSectors(device)),
          adv(scan, raw, 0, device.Sectors()) {}

    int Run(const AdvCallbacks& callbacks = {}) {
        std::atomic<bool> stop{false};
        return adv.AdvScan(stop, callbacks);
    }

    std::unique_ptr<platform::Platform> os;
    storage::TDevice device;
    partitions::TPartition record;
    scan::TUndelete scan;
    const raw::SizeTables sizes;
    raw::RawScan raw;
    AdvancedScan adv;
};

}  // namespace brenvale::advscan
