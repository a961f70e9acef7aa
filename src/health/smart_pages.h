#pragma once
// Parsing what a drive returned: the S.M.A.R.T. data and threshold pages into attributes,
// and the identify data into model, serial and firmware. Pages come from drives, USB bridges
// and files users send us; every one is checked before use.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brenvale::health {

struct SmartAttribute {
    std::uint8_t Id = 0;
    std::uint16_t Flags = 0;
    std::uint8_t Value = 0;
    std::uint8_t Worst = 0;
    std::uint64_t Raw = 0;      // 48 bits
    std::uint8_t Threshold = 0; // 0 when the threshold page has no entry for this ID
};

// A data page worth using: 512 bytes, revision 1 to 16 with a zero high byte, and at least
// three attribute slots in use. Bridges that do not pass the command on return zeros or
// their own sense bytes, which this rejects.
bool ValidSmartData(std::span<const std::byte> page);

// The attributes of the used slots in slot order, each with the threshold of the same ID
// (drives do not promise to keep the two pages in the same slot order). Nullopt when the data
// page is not valid or the threshold page is shorter than a page.
std::optional<std::vector<SmartAttribute>> ParseSmartPages(std::span<const std::byte> data,
                                                           std::span<const std::byte> thresholds);

struct DriveIdentity {
    std::string Model, Serial, Firmware;  // trimmed
};

// ATA IDENTIFY DEVICE data. Nullopt when it looks like sense bytes (70h/72h) or its model
// field holds fewer than three printable characters or anything unprintable besides zeros.
std::optional<DriveIdentity> ParseIdentify(std::span<const std::byte> data);
// NVMe Identify Controller data; nullopt when its model field is empty or unprintable.
std::optional<DriveIdentity> ParseNvmeIdentify(std::span<const std::byte> data);

}  // namespace brenvale::health
