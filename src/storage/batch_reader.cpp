#include "storage/batch_reader.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/errors.h"
#include "storage/device_events.h"

namespace brenvale::storage {

namespace {

using platform::ReadStatus;

void abortDevice(const BatchRequest& req, bool offline, bool hanging) {
    if (req.abort) {
        req.abort->Aborted = true;
        req.abort->Offline = offline;
        req.abort->Hanging = hanging;
        req.abort->Since = req.clock ? req.clock->tickCount() : 0;
    }
    DeviceAborted = true;
}

platform::ReadOutcome readAt(const BatchRequest& req, std::byte* dst, std::size_t len,
                             std::uint64_t sector, platform::Millis timeout) {
    if (!req.handle) return {ReadStatus::Failed, EBADF, 0};
    return req.handle->readTimed(std::span(dst, len), sector * req.sectorSize, timeout);
}

// An open run of unreadable sectors; reported once it closes.
struct BadRun {
    std::uint64_t first = 0;
    std::uint64_t length = 0;

    void extend(std::uint64_t sector) {
        if (length == 0) first = sector;
        ++length;
    }
    void report() {
        if (length > 0) {
            OnDeviceEvent(fmt::format("Bad sectors {} - {} ({} sectors): skipped and zero-filled",
                                      first, first + length - 1, length));
        }
        length = 0;
    }
};

}  // namespace

std::uint32_t ReadBatch(const BatchRequest& req) {
    const bool gated = req.abort ? req.abort->Aborted : DeviceAborted.load();
    if (gated || req.sectors == 0 || req.sectors > kMaxBatchSectors || !req.dest) return 0;

    const std::size_t s = req.sectorSize;
    const std::size_t total = std::size_t{req.sectors} * s;

    // Whole-batch attempts straight into the destination: a failing read leaves nothing in it
    // but correct bytes.
    int lastError = 0;
    for (unsigned attempt = 0;; ++attempt) {
        const auto out = readAt(req, req.dest, total, req.first, req.timeout);
        if (out.status == ReadStatus::Ok) return static_cast<std::uint32_t>(std::min(out.bytes, total));
        if (out.status == ReadStatus::Hung) {
            OnDeviceEvent(fmt::format("Device not responding (LBA={}) - operation aborted", req.first));
            abortDevice(req, false, true);
            return 0;
        }
        lastError = out.error;
        if (lastError == platform::kErrTimedOut || attempt + 1 >= unsigned{req.retries} + 1u) break;
    }

    if (platform::isOfflineError(lastError)) {
        OnDeviceEvent(fmt::format("Device offline (LBA={}, error {}: {}) - operation aborted",
                                  req.first, lastError, platform::errorText(lastError)));
        abortDevice(req, true, false);
        return 0;
    }

    // Sector-by-sector pass into a work buffer, so an abort half way leaves no zeros in dest.
    AlignedBuffer localWork;
    AlignedBuffer& work = req.work ? *req.work : localWork;
    try {
        work.reserve(total);
    } catch (const std::bad_alloc&) {
        OnDeviceEvent(fmt::format("Failed to allocate the read buffer ({} bytes) - operation aborted", total));
        abortDevice(req, false, true);
        return 0;
    }

    BadRun run;
    std::uint32_t good = 0;
    int timeouts = 0;
    for (std::uint32_t i = 0; i < req.sectors; ++i) {
        const std::uint64_t sector = req.first + i;
        std::byte* place = work.data() + std::size_t{i} * s;
        const auto out = readAt(req, place, s, sector, platform::Millis{0});
        if (out.status == ReadStatus::Hung) {
            OnDeviceEvent(fmt::format("Device not responding (sector {}) - operation aborted", sector));
            abortDevice(req, false, true);
            run.report();
            return 0;
        }
        if (out.status == ReadStatus::Ok) {
            // A short transfer can only happen at the very end of a file; keep the tail defined.
            if (out.bytes < s) std::memset(place + out.bytes, 0, s - out.bytes);
            ++good;
            run.report();
            timeouts = 0;
            continue;
        }
        if (platform::isOfflineError(out.error)) {
            OnDeviceEvent(fmt::format("Device offline (sector {}, error {}: {}) - operation aborted",
                                      sector, out.error, platform::errorText(out.error)));
            abortDevice(req, true, false);
            run.report();
            return 0;
        }
        std::memset(place, 0, s);
        run.extend(sector);
        if (out.error == platform::kErrTimedOut) {
            if (++timeouts >= kMaxConsecutiveTimeouts) {
                OnDeviceEvent(fmt::format(
                    "Device not responding ({} consecutive timeouts starting at sector {}) - operation aborted",
                    kMaxConsecutiveTimeouts, sector - (kMaxConsecutiveTimeouts - 1)));
                abortDevice(req, false, true);
                run.report();
                return 0;
            }
        } else {
            timeouts = 0;
        }
    }
    run.report();

    if (good == 0 && req.sectors >= kAllFailedOfflineSectors) {
        OnDeviceEvent(fmt::format(
            "All {} sectors of the batch failed to read (starting at LBA={}) - treated as device offline, operation aborted",
            req.sectors, req.first));
        abortDevice(req, true, false);
        return 0;
    }
    std::memcpy(req.dest, work.data(), total);
    return static_cast<std::uint32_t>(total);
}

}  // namespace brenvale::storage
