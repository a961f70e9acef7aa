#pragma once
// The batch reader: one request to the device, retried sector by sector when it fails, with
// unreadable sectors zero-filled and reported, and the abort rules for a device that hangs or
// disappears.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"
#include "storage/aligned_buffer.h"

namespace brenvale::storage {

// Abort state of one device.
struct TDeviceAbort {
    bool Aborted = false;
    bool Offline = false;  // the device reported an error meaning it is gone
    bool Hanging = false;  // an I/O did not complete even after cancellation
    std::uint32_t Since = 0;  // tick count at which it was aborted
};

// A batch larger than this is never issued; it also bounds a single TDevice::Read request.
inline constexpr std::uint32_t kMaxBatchSectors = 65535;
// Consecutive sector time-outs after which the device counts as not responding.
inline constexpr int kMaxConsecutiveTimeouts = 8;
// A batch of at least this many sectors in which none could be read means the device is gone.
inline constexpr std::uint32_t kAllFailedOfflineSectors = 64;

struct BatchRequest {
    platform::BlockSource* handle = nullptr;  // null reads as an invalid handle (offline)
    std::uint32_t sectors = 0;                // N, at most kMaxBatchSectors
    std::byte* dest = nullptr;                // room for N * sectorSize bytes
    platform::Millis timeout{0};              // 0: the default time-out
    TDeviceAbort* abort = nullptr;            // null: gate on DeviceAborted only
    std::uint32_t sectorSize = 512;
    std::uint8_t retries = 0;                 // extra whole-batch attempts
    std::uint64_t first = 0;                  // first sector (device-relative)
    platform::Platform* clock = nullptr;      // stamps the abort record's Since
    AlignedBuffer* work = nullptr;            // reusable buffer for the sector-by-sector pass
};

// Returns the bytes placed in dest: N * sectorSize when every sector was delivered (bad ones
// as zeros), fewer on a short transfer at the end of a file, 0 when the read aborted (the abort
// record and DeviceAborted are then set and the reason reported; dest holds nothing but
// correctly read data, at most what the source had in memory).
std::uint32_t ReadBatch(const BatchRequest& req);

}  // namespace brenvale::storage
