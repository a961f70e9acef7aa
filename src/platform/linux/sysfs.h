#pragma once
// Reading the kernel's device lists: sysfs attributes, device-name order, mount table.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace brenvale::platform::linux_os {

// One sysfs attribute with surrounding blanks and the newline removed; nullopt if unreadable.
std::optional<std::string> readAttr(const std::filesystem::path& file);
std::optional<std::uint64_t> readUintAttr(const std::filesystem::path& file);
bool readFlagAttr(const std::filesystem::path& file);  // "1" → true, anything else false

std::string trimBlanks(std::string_view text);

// Order of kernel device names as people count them: sdz before sdaa, loop2 before loop10,
// nvme0n1p2 before nvme0n1p10.
bool deviceNameLess(std::string_view a, std::string_view b);

// Whole-disk kinds we offer: sd*, hd*, vd*, xvd*, nvme<c>n<n>, mmcblk<n> (without its boot
// and rpmb areas), sr<n>, loop<n>. RAM disks, zram, device-mapper and md are not disks.
bool isListedDiskName(std::string_view name);

// Mount table fields escape blanks, tabs, newlines and backslashes as octal ("\040").
std::string unescapeMountField(std::string_view field);

struct DeviceNumber {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::string key() const { return std::to_string(major) + ":" + std::to_string(minor); }
};

// The device of the file system holding `path`, or of its nearest existing ancestor when the
// path does not exist yet (a destination folder about to be created).
std::optional<DeviceNumber> deviceNumberHolding(std::filesystem::path path);

// "major:minor" → first mount point, from the text of /proc/self/mountinfo.
std::map<std::string, std::string> parseMountInfo(std::string_view text);

}  // namespace brenvale::platform::linux_os
