#include "app/volume_texts.h"

#include <cstddef>

#include <fmt/format.h>

#include "partitions/partition.h"
#include "scan/undelete.h"
#include "storage/boot_sectors.h"
#include "storage/device.h"
#include "storage/le.h"

namespace brenvale::app {

namespace {

// Where each file system keeps its volume serial number in the boot sector (NTFS: the low
// half of its 64-bit number).
constexpr std::size_t kFatSerialOffset =
    offsetof(storage::TFat16BootSector, ExtBPB) + offsetof(storage::TFat16ExtBPB, VolumeSerialNumber);
constexpr std::size_t kFat32SerialOffset =
    offsetof(storage::TFat32BootSector, ExtBPB) + offsetof(storage::TFat32ExtBPB, VolumeSerialNumber);
constexpr std::size_t kNtfsSerialOffset =
    offsetof(storage::TNtfsBootSector, ExtBPB) + offsetof(storage::TNtfsExtBPB, VolumeSerialNumber);
constexpr std::size_t kExfatSerialOffset =
    offsetof(storage::TExfatBootSector, BPB) + offsetof(storage::TExfatBPB, VolumeSerialNumber);
static_assert(kFatSerialOffset == 39 && kFat32SerialOffset == 67 && kNtfsSerialOffset == 72 &&
              kExfatSerialOffset == 100);

constexpr std::size_t kSerialSplit = 4;
constexpr char kSerialSeparator[] = " - ";

bool removable(const storage::TDevice& device) {
    const storage::TDriveParams p = device.DeviceParam();
    return p.MediaAttr == 1;
}

}  // namespace

std::optional<std::uint32_t> VolumeSerial(const storage::TBootSector& boot) {
    std::size_t at = 0;
    switch (boot.FileSystemType) {
        case storage::kFsFat12:
        case storage::kFsFat16: at = kFatSerialOffset; break;
        case storage::kFsFat32: at = kFat32SerialOffset; break;
        case storage::kFsNtfs: at = kNtfsSerialOffset; break;
        case storage::kFsExfat: at = kExfatSerialOffset; break;
        default: return std::nullopt;
    }
    return storage::le32(boot.Sector, at);
}

std::string SerialText(std::uint32_t serial) {
    std::string s = fmt::format("{:04X}", serial);
    if (s.size() > kSerialSplit) s.insert(kSerialSplit, kSerialSeparator);
    return s;
}

std::string VolumeSerialText(const storage::TBootSector& boot) {
    const auto serial = VolumeSerial(boot);
    return serial ? SerialText(*serial) : kNoSerialText;
}

std::string_view DiskTypeText(const storage::TDevice& device) {
    return removable(device) ? kRemovableDriveText : kPhysicalDriveText;
}

std::string PartitionPlace(const partitions::TPartition& p) {
    if (!p.VolumePath.empty()) return p.VolumePath;
    if (p.Number > 0) return fmt::format(kPartitionNumberFormat, p.Number);
    return fmt::format(kPartitionAtFormat, partitions::PartitionStart(&p));
}

std::string_view VolumeTypeText(NodeKind kind, const scan::TUndelete& scan) {
    if (scan.FWholeDiskObject) return kWholeDiskTypeText;
    if (kind == NodeKind::Floppy) return kFloppyDriveText;
    if (scan.Device().DeviceType() == storage::kDeviceImage) return kImagePartitionText;
    return removable(scan.Device()) ? kRemovableDriveText : kFixedDriveText;
}

std::string_view StretchTypeText(const scan::TUndelete& scan) {
    return scan.FWholeDiskObject ? kWholeDiskTypeText : kLostFreeSpaceText;
}

}  // namespace brenvale::app
