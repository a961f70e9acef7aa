// Reads a whole image file through TDevice::Read in 1 MiB batches, the way the scanners do.
// Timed from outside by bench/run-read-throughput.sh against `cat FILE > /dev/null`.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <exception>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "storage/device.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: read_throughput IMAGE\n");
        return 2;
    }
    try {
        auto os = brenvale::platform::makeLinuxPlatform();
        brenvale::storage::TDevice dev(*os, std::string(argv[1]));
        const std::uint32_t s = dev.BytesPerSector();
        const std::uint32_t batch = (1u << 20) / s;
        // Page-aligned, as the scanners' batch buffers are: the kernel copies into an aligned
        // destination markedly faster.
        const std::size_t bytes = std::size_t{batch} * s;
        std::unique_ptr<std::byte[], decltype(&std::free)> mem(
            static_cast<std::byte*>(std::aligned_alloc(4096, bytes)), &std::free);
        std::span<std::byte> buf(mem.get(), bytes);
        std::uint64_t total = 0;
        std::uint8_t fold = 0;  // keeps the reads from being optimised away
        for (std::uint64_t lba = 0; lba < dev.Sectors(); lba += batch) {
            const std::uint32_t got = dev.Read(lba, batch, buf.data());
            if (got == 0) {
                std::fprintf(stderr, "read failed at sector %llu\n", static_cast<unsigned long long>(lba));
                return 1;
            }
            fold ^= std::to_integer<std::uint8_t>(buf[got - 1]);
            total += got;
        }
        std::printf("%llu bytes (%u)\n", static_cast<unsigned long long>(total), fold);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    return 0;
}
