// Arbitrary bytes as a scan checkpoint file: the reader refuses them or returns a record whose
// every list is in bounds; a record it returns writes back to bytes it reads again the same
// way, and its signature-scan state loads into a scan.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "advscan/scan_checkpoint.h"
#include "raw/signature_scan.h"
#include "storage/checkpoint_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brenvale;
    const auto bytes = std::as_bytes(std::span(data, size));
    advscan::TCheckpointData d;
    if (advscan::DecodeScanCheckpoint(bytes, d) != advscan::kCheckpointLoaded) return 0;
    // What was read is whole: written again, it reads back to the same bytes.
    const std::vector<std::byte> again = advscan::EncodeScanCheckpoint(d);
    advscan::TCheckpointData d2;
    if (advscan::DecodeScanCheckpoint(again, d2) != advscan::kCheckpointLoaded) std::abort();
    if (advscan::EncodeScanCheckpoint(d2) != again) std::abort();
    if (!d.AdvRawState.empty()) {
        const raw::SizeTables sizes;  // the scan keeps a reference
        raw::RawScan scan(sizes, 512);
        storage::CheckpointReader r(d.AdvRawState);
        if (!scan.LoadState(r)) std::abort();
        // The loaded hits go on through a batch of zeros.
        std::vector<std::byte> batch(64 * 512);
        scan.RawSignatureScan(batch, 0);
        scan.FinishPending();
    }
    return 0;
}
