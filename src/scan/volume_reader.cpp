#include "scan/volume_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace brenvale::scan {

namespace {
constexpr std::uint64_t kMaxRequestSectors = 65535;
}

std::size_t VolumeReader::readSectors(std::uint64_t lba, std::uint64_t count, std::byte* dst) {
    const std::uint32_t bps = FDevice.BytesPerSector();
    std::size_t done = 0;
    while (count > 0) {
        const auto n = static_cast<std::uint32_t>(std::min(count, kMaxRequestSectors));
        const std::uint32_t got = FDevice.Read(lba, n, dst + done);
        done += got;
        if (got < std::uint64_t{n} * bps) break;
        lba += n;
        count -= n;
    }
    return done;
}

std::size_t VolumeReader::Read(std::uint64_t offset, std::span<std::byte> dst) {
    if (dst.empty()) return 0;
    const std::uint32_t bps = FDevice.BytesPerSector();
    std::size_t got = 0;
    if (bps != 0 && FStartLba <= std::numeric_limits<std::uint64_t>::max() / bps) {
        const std::uint64_t base = FStartLba * bps;
        if (offset <= std::numeric_limits<std::uint64_t>::max() - base - dst.size()) {
            const std::uint64_t abs = base + offset;
            const std::uint64_t lba = abs / bps;
            const std::size_t head = abs % bps;
            if (head == 0 && dst.size() % bps == 0) {
                got = readSectors(lba, dst.size() / bps, dst.data());
            } else {
                const std::uint64_t sectors = (head + dst.size() + bps - 1) / bps;
                FBounce.reserve(sectors * bps);
                const std::size_t raw = readSectors(lba, sectors, FBounce.data());
                got = raw > head ? std::min(raw - head, dst.size()) : 0;
                std::memcpy(dst.data(), FBounce.data() + head, got);
            }
        }
    }
    got = std::min(got, dst.size());
    std::memset(dst.data() + got, 0, dst.size() - got);
    return got;
}

}  // namespace brenvale::scan
