// Arbitrary bytes as a disk: the partition-table reader (MBR, extended chain, GPT), the free
// space and clipping rules, the quick probe, a full lost-partition search and the plausibility
// check must all end with a finite, in-bounds result.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "partitions/lost_partitions.h"
#include "partitions/physical_drv.h"
#include "platform/fake/fake_platform.h"
#include "storage/fs_detect.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brenvale;
    // At least a few sectors, whole sectors only; the last input bytes tail the image.
    std::vector<std::byte> disk(std::max<std::size_t>((size + 511) / 512, 4) * 512);
    for (std::size_t i = 0; i < size; ++i) disk[i] = std::byte{data[i]};
    const bool asFixedDisk = size > 0 && (data[size - 1] & 1);

    platform::fake::FakePlatform os;
    try {
        std::unique_ptr<partitions::TPhysicalDrv> drv;
        if (asFixedDisk) {
            auto& d = os.addDisk("/dev/fz", disk);
            d.geometry->mediaType = 12;
            platform::BlockDeviceInfo info;
            info.name = "fz";
            info.path = "/dev/fz";
            os.whole = {info};
            drv = std::make_unique<partitions::TPhysicalDrv>(os, std::uint8_t{0x80});
        } else {
            os.addDisk("/in.img", disk, 512, false);
            drv = std::make_unique<partitions::TPhysicalDrv>(os, "/in.img");
        }
        const auto sectors = static_cast<std::int64_t>(drv->Device->Sectors());
        (void)drv->DetectLostParti(&drv->Partition, 0, sectors, false);
        for (const auto* p : drv->PartitionList) (void)partitions::PartitionHidden(p);
    } catch (const storage::DeviceError&) {
    }

    for (std::size_t off = 0; off + 512 <= disk.size(); off += 512) {
        const auto sector = std::span<const std::byte>(disk).subspan(off, 512);
        const auto p = partitions::MakeLostPartition(sector, storage::DetectFileSystem(sector), off / 512, 512,
                                                     disk.size() / 512);
        (void)partitions::IsPlausibleLostPartition(p, disk.size() / 512);
        (void)partitions::IsPlausibleLostPartition(p, 0);
    }
    return 0;
}
