#include "storage/byte_source.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "storage/device.h"

namespace brenvale::storage {
namespace {

// Sectors asked of the device at once: large enough for its read-ahead, small enough for a
// modest bounce buffer.
constexpr std::uint64_t kChunkBytes = std::uint64_t{1} << 20;

}  // namespace

std::size_t MemoryByteSource::read(std::uint64_t offset, std::span<std::byte> out) {
    if (offset >= data_.size() || out.empty()) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), data_.size() - offset));
    std::memcpy(out.data(), data_.data() + offset, n);
    return n;
}

std::unique_ptr<ExtentByteSource> ExtentByteSource::create(TDevice& device, std::span<const ByteExtent> extents) {
    const std::uint64_t bps = device.BytesPerSector();
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    if (bps == 0 || bps > kChunkBytes || device.Sectors() > kMax - device.LBA0() ||
        device.LBA0() + device.Sectors() > kMax / bps) {
        return nullptr;
    }
    // The device's sectors are LBA0 to LBA0 + Sectors().
    const std::uint64_t firstByte = device.LBA0() * bps;
    const std::uint64_t deviceBytes = (device.LBA0() + device.Sectors()) * bps;
    std::vector<ByteExtent> kept;
    std::vector<std::uint64_t> starts;
    std::uint64_t size = 0;
    for (const auto& e : extents) {
        if (e.length == 0) continue;
        if (e.offset < -1) return nullptr;
        if (e.offset >= 0) {
            const auto at = static_cast<std::uint64_t>(e.offset);
            if (at < firstByte || at > deviceBytes || e.length > deviceBytes - at) return nullptr;
        }
        if (e.length > kMax - size) return nullptr;
        kept.push_back(e);
        starts.push_back(size);
        size += e.length;
    }
    return std::unique_ptr<ExtentByteSource>(
        new ExtentByteSource(device, std::move(kept), std::move(starts), size));
}

ExtentByteSource::ExtentByteSource(TDevice& device, std::vector<ByteExtent> extents, std::vector<std::uint64_t> starts,
                                   std::uint64_t size)
    : device_(device), extents_(std::move(extents)), starts_(std::move(starts)), size_(size) {}

std::size_t ExtentByteSource::read(std::uint64_t offset, std::span<std::byte> out) {
    if (offset >= size_ || out.empty()) return 0;
    out = out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size_ - offset)));
    // The last extent that starts at or before `offset`.
    std::size_t i = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin()) - 1;
    std::size_t done = 0;
    while (done < out.size()) {
        const ByteExtent& e = extents_[i];
        const std::uint64_t within = offset + done - starts_[i];
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(e.length - within, out.size() - done));
        const auto piece = out.subspan(done, n);
        if (e.offset < 0) {
            std::memset(piece.data(), 0, n);
        } else if (!readDevice(static_cast<std::uint64_t>(e.offset) + within, piece)) {
            return done;
        }
        done += n;
        ++i;
    }
    return done;
}

bool ExtentByteSource::readDevice(std::uint64_t at, std::span<std::byte> out) {
    const std::uint64_t bps = device_.BytesPerSector();
    while (!out.empty()) {
        const std::uint64_t lba = at / bps;
        const std::uint64_t head = at % bps;
        const std::uint64_t want = std::min<std::uint64_t>(out.size(), kChunkBytes - head);
        const auto sectors = static_cast<std::uint32_t>((head + want + bps - 1) / bps);
        bounce_.reserve(std::size_t{sectors} * bps);
        if (device_.Read(lba, sectors, bounce_.data()) < std::uint64_t{sectors} * bps) return false;
        std::memcpy(out.data(), bounce_.data() + head, static_cast<std::size_t>(want));
        out = out.subspan(static_cast<std::size_t>(want));
        at += want;
    }
    return true;
}

}  // namespace brenvale::storage
