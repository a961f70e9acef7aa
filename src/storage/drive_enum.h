#pragma once
// Enumeration of physical drives and volumes, their geometry and model names.
// Physical drive n (0x80 + n) is the n-th whole disk in name order; volume v (1..26) is the
// v-th block device, in name order, whose first sector holds a FAT, exFAT or NTFS boot sector.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "storage/drive_params.h"

namespace brenvale::storage {

inline constexpr std::uint8_t kFirstPhysicalDrive = 0x80;
inline constexpr std::uint8_t kMaxVolumes = 26;

struct VolumeInfo {
    std::uint8_t number = 0;  // 1..26
    platform::BlockDeviceInfo device;
    std::uint8_t fileSystem = 255;
};

// The geometry query of a drive number; false when the drive cannot be opened or queried.
bool GetDriveParams(platform::Platform& os, std::uint8_t DriveNum, TDriveParams& params);

// Drive numbers 0x80.. whose geometry can be read, ascending.
std::vector<std::uint8_t> EnumPhysicalDrives(platform::Platform& os);

// A whole disk EnumPhysicalDrives leaves out, and why: the errno of its open, or 0 when it
// opened but told no geometry.
struct UnopenedDisk {
    std::string path;
    int error = 0;
};
std::vector<UnopenedDisk> UnopenedDisks(platform::Platform& os);
// "Cannot open /dev/sda: Permission denied (reading disks needs root)": the path and the
// system's reason; the hint about root only where it is the cause.
std::string UnopenedDiskText(const UnopenedDisk& disk, bool runningAsRoot);

// Volumes in number order.
std::vector<VolumeInfo> EnumVolumes(platform::Platform& os);

// The block device behind a drive number, if there is one.
std::optional<platform::BlockDeviceInfo> ResolveDriveNumber(platform::Platform& os, std::uint8_t DriveNum);

// Model name of physical drive n (0-based), with bus suffixes such as " USB Device" cut.
std::string QueryDriveModel(platform::Platform& os, unsigned n);
std::string ShortenModelName(const std::string& model);

// Maps the OS media-type value onto TDriveParams.MediaType / MediaAttr.
void ApplyMediaType(std::uint32_t osMediaType, TDriveParams& params);

}  // namespace brenvale::storage
