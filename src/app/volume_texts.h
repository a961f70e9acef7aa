#pragma once
// Texts the device list and the properties panel share: drive kinds, volume serial numbers and
// file-system names.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/node_kind.h"
#include "storage/boot_sectors.h"
#include "storage/fs_types.h"

namespace brenvale::storage {
class TDevice;
}
namespace brenvale::scan {
class TUndelete;
}
namespace brenvale::partitions {
struct TPartition;
}

namespace brenvale::app {

inline constexpr char kFloppyDriveText[] = "Floppy Drive";
inline constexpr char kRemovableDriveText[] = "Removable Drive";
inline constexpr char kFixedDriveText[] = "Fixed Drive";
// A partition read from a drive image: what geometry the image was given says nothing of it.
inline constexpr char kImagePartitionText[] = "Partition in Drive Image";
inline constexpr char kPartitionNumberFormat[] = "partition {}";
inline constexpr char kPartitionAtFormat[] = "at sector {}";
inline constexpr char kWholeDiskTypeText[] = "Whole Disk";
inline constexpr char kPhysicalDriveText[] = "Physical Drive";
inline constexpr char kDriveImageText[] = "Drive Image";            // the device list's type
inline constexpr char kDriveImageFileText[] = "Drive Image File";   // the properties panel's
inline constexpr char kLostFreeSpaceText[] = "Lost/Free Space";
inline constexpr char kNoSerialText[] = "-";

// "FAT12", "FAT16", "FAT32", "NTFS", "exFAT"; "Unknown" for any other code.
using storage::FileSystemName;

// The 32-bit volume serial number of a boot-sector copy, read where its file system keeps it;
// nullopt when the file system is not one of the five.
std::optional<std::uint32_t> VolumeSerial(const storage::TBootSector& boot);
// At least four upper-case hexadecimal digits, with " - " after the fourth when there are more:
// 0x1A2B3C4D gives "1A2B - 3C4D", 0 gives "0000".
std::string SerialText(std::uint32_t serial);
// SerialText of the copy's serial; "-" when it has none.
std::string VolumeSerialText(const storage::TBootSector& boot);

// Where a partition is, in the brackets after its label (no drive letters here): its mount
// point or device, else its number on its disk ("partition 2"), else its first sector ("at
// sector 2048", for lost partitions and free space).
std::string PartitionPlace(const partitions::TPartition& p);

// A drive's kind: "Removable Drive" for removable media, else "Physical Drive".
std::string_view DiskTypeText(const storage::TDevice& device);
// A volume's kind as the properties panel names it: "Whole Disk" for a whole-disk object,
// "Floppy Drive" for a floppy node, "Partition in Drive Image" for a partition of an image,
// "Removable Drive" on removable media, else "Fixed Drive". Volume and partition rows of the
// device list use it too.
std::string_view VolumeTypeText(NodeKind kind, const scan::TUndelete& scan);
// A whole-disk or free-space row of the device list: "Whole Disk" or "Lost/Free Space".
std::string_view StretchTypeText(const scan::TUndelete& scan);

}  // namespace brenvale::app
