#pragma once
// Runs the signature scan over a sector range of a scan object with the batch geometry of the
// advanced scan, so the hits are the ones that scan finds in its own pass.

#include <atomic>
#include <cstdint>
#include <functional>

#include "raw/signature_scan.h"

namespace brenvale::storage {
class TDevice;
}

namespace brenvale::raw {

// Sectors per batch: 1 MiB of device sectors (512 bytes when the device says 0), kept within
// 256..16384, and never more than the object has.
std::uint32_t BatchSectors(std::uint32_t deviceBytesPerSector, std::uint64_t objectSectors);

// The scan object: a partition, a free stretch or a whole disk. Batches are counted from its
// first sector.
struct ScanObject {
    std::uint64_t start = 0;
    std::uint64_t sectors = 0;
};

enum class RangeOutcome { Completed, Stopped, DeviceLost };

struct RangeResult {
    RangeOutcome outcome = RangeOutcome::Completed;
    std::uint64_t nextLba = 0;     // the first sector of the batch after the last one scanned
    std::uint64_t bytesRead = 0;
    std::uint32_t skippedBatches = 0;  // batches whose scan failed (their tests are lost)
};

// Called after every batch with the sectors done and the sectors to do in all.
using RangePump = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Scans the whole batches that cover [first, first + count) (clipped to the object): each is
// read through the device, the next one while the current one is scanned. Stops after the
// batch in which `stop` was seen, or when the device is lost. Does not finish the pending hits:
// a caller whose range was the whole scan calls FinishPending when the outcome is Completed.
RangeResult ScanRange(RawScan& raw, storage::TDevice& device, ScanObject object, std::uint64_t first,
                      std::uint64_t count, const RangePump& pump, const std::atomic<bool>& stop);

}  // namespace brenvale::raw
