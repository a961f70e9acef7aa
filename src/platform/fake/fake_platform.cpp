#include "platform/fake/fake_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace brenvale::platform::fake {

namespace {

enum class Behaviour { Complete, Fail, Timeout, DrainOk, Hang };

class FakeSource final : public BlockSource, private AsyncRead {
public:
    FakeSource(FakeDisk& disk, FakePlatform& os) : disk_(disk), os_(os) {}

    ReadOutcome readTimed(std::span<std::byte> dst, std::uint64_t offset, Millis timeout) override {
        return readWithTimeout(*this, dst, offset, timeout);
    }
    std::optional<std::uint64_t> sizeBytes() override { return disk_.data.size(); }
    std::optional<DiskGeometry> geometry() override { return disk_.blockDevice ? disk_.geometry : std::nullopt; }
    std::optional<std::uint32_t> logicalSectorSize() override {
        if (!disk_.blockDevice) return std::nullopt;
        return disk_.sectorSize;
    }
    bool isBlockDevice() const override { return disk_.blockDevice; }

private:
    std::optional<Done> submit(std::span<std::byte> buf, std::uint64_t offset) override {
        ++disk_.reads;
        disk_.log.emplace_back(offset, buf.size());
        buf_ = buf;
        offset_ = offset;
        behaviour_ = classify(offset, buf.size());
        cancelled_ = false;
        if (behaviour_ == Behaviour::Fail) {
            return Done{offline() ? disk_.faults.offlineError : disk_.faults.badError, 0};
        }
        if (behaviour_ == Behaviour::Complete && disk_.faults.latencyMs == 0) return finish();
        return std::nullopt;
    }

    std::optional<Done> wait(Millis timeout) override {
        disk_.waits.push_back(static_cast<std::uint32_t>(timeout.count()));
        const auto t = static_cast<std::uint32_t>(timeout.count());
        switch (behaviour_) {
            case Behaviour::Complete:
                if (disk_.faults.latencyMs <= t) {
                    os_.advance(disk_.faults.latencyMs);
                    return finish();
                }
                break;
            case Behaviour::Timeout:
                if (cancelled_) return Done{ECANCELED, 0};
                break;
            case Behaviour::DrainOk:
                if (cancelled_) {
                    os_.advance(std::min<std::uint32_t>(t, 100));
                    return finish();
                }
                break;
            default:
                break;
        }
        os_.advance(t);
        return std::nullopt;
    }

    void cancel() override { cancelled_ = true; }

    bool offline() const {
        const auto& after = disk_.faults.offlineAfterReads;
        return after && disk_.reads > *after;
    }

    Behaviour classify(std::uint64_t offset, std::size_t len) const {
        if (offline()) return Behaviour::Fail;
        const auto& f = disk_.faults;
        const std::uint64_t first = offset / disk_.sectorSize;
        const std::uint64_t last = len ? (offset + len - 1) / disk_.sectorSize : first;
        auto touches = [&](const std::set<std::uint64_t>& set) {
            auto it = set.lower_bound(first);
            return it != set.end() && *it <= last;
        };
        if (touches(f.hang)) return Behaviour::Hang;
        if (touches(f.timeout)) return Behaviour::Timeout;
        if (touches(f.drainOk)) return Behaviour::DrainOk;
        if (touches(f.bad)) return Behaviour::Fail;
        return Behaviour::Complete;
    }

    Done finish() {
        const std::size_t size = disk_.data.size();
        const std::size_t n = offset_ >= size ? 0 : std::min<std::size_t>(buf_.size(), size - offset_);
        if (n) std::memcpy(buf_.data(), disk_.data.data() + offset_, n);
        return Done{0, n};
    }

    FakeDisk& disk_;
    FakePlatform& os_;
    std::span<std::byte> buf_;
    std::uint64_t offset_ = 0;
    Behaviour behaviour_ = Behaviour::Complete;
    bool cancelled_ = false;
};

}  // namespace

FakeDisk& FakePlatform::addDisk(const std::string& path, std::vector<std::byte> data, std::uint32_t sectorSize,
                                bool blockDevice) {
    auto d = std::make_unique<FakeDisk>();
    d->data = std::move(data);
    d->sectorSize = sectorSize;
    d->blockDevice = blockDevice;
    if (blockDevice) {
        const std::uint64_t sectors = d->data.size() / sectorSize;
        d->geometry = DiskGeometry{sectors / (255 * 63), 12, 255, 63, sectorSize};
    }
    auto& ref = *d;
    disks_[path] = std::move(d);
    return ref;
}

OpenResult FakePlatform::openReadOnly(const std::string& path) {
    if (const auto refused = openErrors.find(path); refused != openErrors.end()) return {nullptr, refused->second};
    auto it = disks_.find(path);
    if (it == disks_.end()) return {nullptr, ENOENT};
    FakeDisk& d = *it->second;
    ++d.opens;
    const auto& after = d.faults.offlineAfterReads;
    if (d.faults.reopenFails && after && d.reads >= *after) return {nullptr, d.faults.offlineError};
    return {std::make_unique<FakeSource>(d, *this), 0};
}

std::vector<DiskExtent> FakePlatform::pathDiskExtents(const std::string& path) {
    // The longest registered prefix wins, like the mount that holds the path.
    const std::vector<DiskExtent>* best = nullptr;
    std::size_t bestLen = 0;
    for (const auto& [prefix, ext] : extents) {
        if (path.compare(0, prefix.size(), prefix) == 0 && prefix.size() >= bestLen) {
            best = &ext;
            bestLen = prefix.size();
        }
    }
    return best ? *best : std::vector<DiskExtent>{};
}

}  // namespace brenvale::platform::fake
