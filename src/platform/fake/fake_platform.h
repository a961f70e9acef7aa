#pragma once
// A scripted platform for tests: in-memory disks and files, a virtual clock, and faults on
// chosen sectors (bad sectors, time-outs, reads that only finish while being cancelled,
// hangs), a device that goes offline after N reads, short files.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace brenvale::platform::fake {

// How a read that touches a sector behaves. A read covering several scripted sectors takes the
// first fault in this order: hang, timeout, drain, bad.
struct FaultScript {
    std::set<std::uint64_t> bad;       // fails with `badError`
    int badError = 5;                  // EIO
    std::set<std::uint64_t> timeout;   // never completes; the cancellation drains (ECANCELED)
    std::set<std::uint64_t> drainOk;   // completes successfully only while being cancelled
    std::set<std::uint64_t> hang;      // never completes, the cancellation never drains either
    // After this many reads (counted from the start), every read fails with offlineError.
    std::optional<std::uint64_t> offlineAfterReads;
    int offlineError = 19;             // ENODEV
    bool reopenFails = false;          // opening fails while offline
    std::uint32_t latencyMs = 0;       // virtual time every completed read takes
};

struct FakeDisk {
    std::vector<std::byte> data;  // the whole content; its size is the device length
    std::uint32_t sectorSize = 512;
    bool blockDevice = true;
    std::optional<DiskGeometry> geometry;  // nullopt: the geometry query fails
    FaultScript faults;

    // Statistics the tests read back.
    std::uint64_t reads = 0;  // submitted reads
    std::uint64_t opens = 0;
    std::vector<std::pair<std::uint64_t, std::size_t>> log;  // (offset, length) of each read
    std::vector<std::uint32_t> waits;                        // time-outs passed to wait()
};

class FakePlatform : public Platform {
public:
    // Registers a device or file at `path`; the returned disk can be scripted afterwards.
    FakeDisk& addDisk(const std::string& path, std::vector<std::byte> data, std::uint32_t sectorSize = 512,
                      bool blockDevice = true);
    FakeDisk& disk(const std::string& path) { return *disks_.at(path); }

    std::vector<BlockDeviceInfo> whole;  // what wholeDisks() reports
    std::vector<BlockDeviceInfo> parts;  // what partitions() reports
    std::map<std::string, std::vector<DiskExtent>> extents;  // pathDiskExtents by path prefix
    std::map<std::string, int> openErrors;  // paths whose open fails with this errno
    bool root = false;                       // what runningAsRoot() says

    std::vector<BlockDeviceInfo> wholeDisks() override { return whole; }
    std::vector<BlockDeviceInfo> partitions() override { return parts; }
    OpenResult openReadOnly(const std::string& path) override;
    std::vector<DiskExtent> pathDiskExtents(const std::string& path) override;
    std::uint32_t tickCount() override { return now; }
    bool runningAsRoot() override { return root; }

    void advance(std::uint32_t ms) { now += ms; }
    std::uint32_t now = 1000;

private:
    std::map<std::string, std::unique_ptr<FakeDisk>> disks_;
};

}  // namespace brenvale::platform::fake
