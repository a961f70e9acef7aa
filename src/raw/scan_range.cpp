#include "raw/scan_range.h"

#include <fmt/format.h>

#include <algorithm>
#include <typeinfo>

#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/read_ahead.h"

namespace brenvale::raw {

namespace {

constexpr std::uint32_t kBatchBytes = 1048576;
constexpr std::uint32_t kMinBatchSectors = 256;
constexpr std::uint32_t kMaxBatchSectors = 16384;

}  // namespace

std::uint32_t BatchSectors(std::uint32_t deviceBytesPerSector, std::uint64_t objectSectors) {
    const std::uint32_t bps = deviceBytesPerSector ? deviceBytesPerSector : 512;
    std::uint32_t n = std::clamp(kBatchBytes / bps, kMinBatchSectors, kMaxBatchSectors);
    if (objectSectors > 0 && objectSectors < n) n = static_cast<std::uint32_t>(objectSectors);
    return std::max<std::uint32_t>(n, 1);
}

RangeResult ScanRange(RawScan& raw, storage::TDevice& device, ScanObject object, std::uint64_t first,
                      std::uint64_t count, const RangePump& pump, const std::atomic<bool>& stop) {
    RangeResult result;
    const std::uint32_t batch = BatchSectors(device.BytesPerSector(), object.sectors);
    const std::uint64_t objectEnd = object.start + object.sectors;
    // Whole batches, aligned to the object's start, that cover the part of the range inside it.
    const std::uint64_t low = std::max(first, object.start);
    const std::uint64_t high = std::min(first + std::min(count, UINT64_MAX - first), objectEnd);
    result.nextLba = low;
    if (high <= low) return result;
    const std::uint64_t firstBatch = (low - object.start) / batch;
    const std::uint64_t lastBatch = (high - 1 - object.start) / batch;
    const std::uint64_t total = lastBatch - firstBatch + 1;
    auto batchLba = [&](std::uint64_t b) { return object.start + b * batch; };
    // The last batch of the object stops at its end.
    auto batchLength = [&](std::uint64_t b) {
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(batch, objectEnd - batchLba(b)));
    };

    storage::ReadAhead reader(device);
    reader.Start(batchLba(firstBatch), batchLength(firstBatch));
    for (std::uint64_t b = firstBatch; b <= lastBatch; ++b) {
        const std::span<const std::byte> data = reader.Wait();
        const bool more = b < lastBatch && !stop && !storage::DeviceAborted;
        if (more) reader.Start(batchLba(b + 1), batchLength(b + 1));
        result.bytesRead += data.size();
        try {
            raw.RawSignatureScan(data, static_cast<std::int64_t>(batchLba(b)));
        } catch (const std::exception& e) {
            ++result.skippedBatches;
            storage::OnDeviceEvent(fmt::format("Raw scan: skipped a batch (LBA={}, {}: {})", batchLba(b),
                                               typeid(e).name(), e.what()));
        }
        result.nextLba = batchLba(b) + batchLength(b);
        if (pump) pump((b - firstBatch + 1) * std::uint64_t{batch}, total * batch);
        if (!more) {
            if (storage::DeviceAborted) {
                result.outcome = RangeOutcome::DeviceLost;
            } else if (b < lastBatch) {
                result.outcome = RangeOutcome::Stopped;
            }
            break;
        }
    }
    return result;
}

}  // namespace brenvale::raw
