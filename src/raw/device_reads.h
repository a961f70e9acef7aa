#pragma once
// Reads of a scan object's device shared by raw extraction, the picture re-measure and
// thumbnails.

#include <cstdint>
#include <vector>

namespace brenvale::storage {
class TDevice;
}
namespace brenvale::scan {
class TUndelete;
}

namespace brenvale::raw {

// The device's sector size, 512 when it says 0.
std::uint32_t DeviceSectorSize(scan::TUndelete& scan);

// `sectors` sectors from `lba`, read in pieces of at most `piece` sectors, up to the first piece
// that comes back short: what the device delivered, nothing after it.
std::vector<std::byte> ReadSectorsUpTo(storage::TDevice& device, std::uint64_t lba, std::uint64_t sectors,
                                       std::uint32_t bps, std::uint32_t piece);

}  // namespace brenvale::raw
