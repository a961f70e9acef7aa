#pragma once
// The read loop of the advanced scan: one pass over an object, batch by batch, the next batch
// read while the current one is worked on. Each batch goes to the raw signature scan and to the
// sector harvest; the NTFS record length, when the boot sector does not give it, is found from
// the records themselves.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "advscan/batch_bounds.h"
#include "advscan/harvest.h"

namespace brenvale::storage {
class TDevice;
}
namespace brenvale::raw {
class RawScan;
}

namespace brenvale::advscan {

// The NTFS record length an NTFS boot sector gives (its clusters-per-record byte); 0 when the
// value is no record length (only 1024, 2048 and 4096 are), so the pass finds it instead.
std::uint32_t BootRecordLength(std::uint8_t clustersPerRecord, std::uint32_t bytesPerSector,
                               std::uint32_t sectorsPerCluster);

struct PassRequest {
    std::uint64_t ObjectStart = 0;    // absolute first sector of the object
    std::uint64_t ObjectSectors = 0;  // in device sectors
    RangeLimits Range;                // Range.lba0 is set from ObjectStart
    std::int64_t ResumeLba = -1;      // absolute sector a resumed pass goes on from; -1: fresh
    std::uint32_t BatchSectors = 0;   // 0: the signature scan's rule (1 MiB, 256 to 16384 sectors)
    std::uint32_t RecordLength = 0;   // from the boot sector; 0: found from the records
};

struct PassCallbacks {
    std::function<void(int percent)> Progress;       // after each batch, 0-100 over the range
    std::function<void(const std::string&)> Diag;    // the NTFS diagnostic lines
};

enum class PassOutcome : std::uint8_t { Completed, Stopped, DeviceLost };

struct PassResult {
    PassOutcome Outcome = PassOutcome::Completed;
    std::int64_t NextLba = 0;      // absolute first sector of the batch after the last one read
    std::uint64_t BytesRead = 0;
    std::uint32_t SkippedRawBatches = 0;
};

// Reads the batches the range and the resume point choose. `raw` may be null (no signature
// scan). A stop takes effect between batches: the batch in memory is always finished. A device
// that goes offline ends the pass at once, its last batch unread.
PassResult RunHarvestPass(storage::TDevice& device, const PassRequest& request, HarvestLists& lists,
                          KnownSets& known, const HarvestSetup& setup, raw::RawScan* raw,
                          const PassCallbacks& callbacks, const std::atomic<bool>& stop);

}  // namespace brenvale::advscan
