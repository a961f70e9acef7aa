#include "app/adv_volume.h"

#include "scan/undelete.h"

namespace brenvale::app {

AdvVolume::AdvVolume(scan::TUndelete& scan, const raw::SizeTables& sizes, std::uint64_t start, std::uint64_t sectors) {
    storage::TDevice& device = scan.Device();
    const std::uint32_t bps = device.BytesPerSector() ? device.BytesPerSector() : 512;
    Raw = std::make_unique<raw::RawScan>(sizes, bps, raw::DeviceSectors(device));
    Adv = std::make_unique<advscan::AdvancedScan>(scan, *Raw, start, sectors);
}

AdvVolume::~AdvVolume() = default;

void AdvVolume::RebuildTree() { Tree = std::make_unique<advscan::AdvTree>(*Adv); }

}  // namespace brenvale::app
