#include "advscan/harvest_pass.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <typeinfo>

#include "advscan/sector_tests.h"
#include "raw/scan_range.h"
#include "raw/signature_scan.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/read_ahead.h"

namespace brenvale::advscan {

std::uint32_t BootRecordLength(std::uint8_t clustersPerRecord, std::uint32_t bytesPerSector,
                               std::uint32_t sectorsPerCluster) {
    std::uint64_t length = 0;
    if (clustersPerRecord < 128) {
        length = std::uint64_t{clustersPerRecord} * bytesPerSector * sectorsPerCluster;
    } else {
        const int shift = -static_cast<int>(static_cast<std::int8_t>(clustersPerRecord));
        if (shift < 32) length = std::uint64_t{1} << shift;
    }
    return length == 1024 || length == 2048 || length == 4096 ? static_cast<std::uint32_t>(length) : 0;
}

PassResult RunHarvestPass(storage::TDevice& device, const PassRequest& request, HarvestLists& lists,
                          KnownSets& known, const HarvestSetup& setup, raw::RawScan* raw,
                          const PassCallbacks& callbacks, const std::atomic<bool>& stop) {
    PassResult result;
    const std::uint32_t bps = setup.SectorBytes ? setup.SectorBytes : 512;
    const std::int64_t lba0 = static_cast<std::int64_t>(request.ObjectStart);
    const std::int64_t perBatch =
        request.BatchSectors ? request.BatchSectors : raw::BatchSectors(device.BytesPerSector(), request.ObjectSectors);
    const std::int64_t count = (static_cast<std::int64_t>(request.ObjectSectors) + perBatch - 1) / perBatch;
    const std::int64_t objectEnd = lba0 + static_cast<std::int64_t>(request.ObjectSectors);
    if (request.RecordLength) lists.RecordLength = request.RecordLength;

    RangeLimits limits = request.Range;
    limits.lba0 = lba0;
    // Where a resume goes on: at or after the object's start, never past its end.
    std::int64_t fromBatch = 0;
    if (request.ResumeLba >= 0) {
        const std::int64_t at = std::clamp<std::int64_t>(request.ResumeLba, lba0, lba0 + count * perBatch);
        fromBatch = std::min((at - lba0) / perBatch, count);
    }
    const BatchSpan span = AdvRangeBatchBounds(count, perBatch, fromBatch, limits);
    const BatchSpan whole = AdvRangeBatchBounds(count, perBatch, 0, limits);
    result.NextLba = lba0 + std::max<std::int64_t>(fromBatch, 0) * perBatch;
    if (span.empty()) {
        if (!whole.empty() && span.first > whole.last) result.NextLba = lba0 + span.first * perBatch;
        return result;
    }

    auto batchLength = [&](std::int64_t b) {
        return static_cast<std::uint32_t>(std::min<std::int64_t>(perBatch, objectEnd - (lba0 + b * perBatch)));
    };
    HarvestSetup withStart = setup;
    withStart.Lba0 = lba0;
    SectorHarvester harvester(lists, known, withStart);
    storage::ReadAhead reader(device);
    reader.Start(static_cast<std::uint64_t>(lba0 + span.first * perBatch), batchLength(span.first));
    for (std::int64_t b = span.first; b <= span.last; ++b) {
        const std::int64_t batchLba = lba0 + b * perBatch;
        const std::span<const std::byte> data = reader.Wait();
        if (storage::DeviceAborted) {
            result.Outcome = PassOutcome::DeviceLost;
            result.NextLba = batchLba;
            break;
        }
        const bool more = b < span.last && !stop;
        if (more) reader.Start(static_cast<std::uint64_t>(batchLba + perBatch), batchLength(b + 1));
        result.BytesRead += data.size();

        if (lists.RecordLength == 0 && !data.empty()) {
            if (const auto vote = DiscoverRecordLength(data, bps)) {
                lists.RecordLength = vote->length;
                if (callbacks.Diag) {
                    callbacks.Diag(fmt::format("Record length found from the records: {} bytes ({} records agreed)",
                                               vote->length, vote->agreeing));
                }
            }
        }
        if (raw) {
            try {
                raw->RawSignatureScan(data, batchLba);
            } catch (const std::exception& e) {
                ++result.SkippedRawBatches;
                storage::OnDeviceEvent(fmt::format("Advanced scan: skipped a raw-data batch (LBA={}, {}: {})", batchLba,
                                                   typeid(e).name(), e.what()));
            }
        }
        if (!data.empty()) {
            harvester.Batch(data, batchLba - lba0);
            if (callbacks.Progress) {
                const double share = double(b - whole.first + 1) / double(whole.last - whole.first + 1);
                callbacks.Progress(static_cast<int>(std::lround(share * 100)));
            }
        }
        result.NextLba = batchLba + perBatch;
        if (!more) {
            if (b < span.last) result.Outcome = PassOutcome::Stopped;
            break;
        }
    }
    if (result.Outcome == PassOutcome::Stopped) {
        harvester.Hold();
    } else if (result.Outcome != PassOutcome::DeviceLost) {
        harvester.Finish();
    }
    std::sort(lists.ExFatDirs.begin(), lists.ExFatDirs.end());
    return result;
}

}  // namespace brenvale::advscan
