// Arbitrary bytes as an image file: loading (as ".dif" and as a raw image), detecting the file
// system of its first sector and reading it through the device layer must never misbehave.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/fake/fake_platform.h"
#include "storage/device.h"
#include "storage/fs_detect.h"

namespace {

void exercise(brenvale::platform::fake::FakePlatform& os, const std::string& path, std::uint32_t rawSectorSize) {
    using brenvale::storage::TDevice;
    try {
        TDevice dev(os, path, rawSectorSize);
        const std::uint32_t s = dev.BytesPerSector();
        std::vector<std::byte> buf(std::size_t{s} * 9);
        if (dev.Read(0, 1, buf.data()) >= 512) (void)brenvale::storage::DetectFileSystem(std::span(buf).first(s));
        (void)dev.Read(dev.Sectors() - 1, 9, buf.data());
        (void)dev.Read(dev.Sectors(), 1, buf.data());
        (void)dev.ProbeLinuxType(0);
    } catch (const brenvale::storage::DeviceError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::byte> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = std::byte{data[i]};
    brenvale::platform::fake::FakePlatform os;
    auto& dif = os.addDisk("/in.dif", bytes, 512, false);
    // A fault on the first sector of the descriptor-less path too: the loader must cope.
    if (size > 0 && (data[0] & 1)) dif.faults.bad.insert(0);
    os.addDisk("/in.img", std::move(bytes), 512, false);
    exercise(os, "/in.dif", 0);
    exercise(os, "/in.img", size > 1 && (data[1] & 1) ? 4096 : 0);
    std::vector<std::byte> sector(512);
    for (std::size_t i = 0; i < size && i < 512; ++i) sector[i] = std::byte{data[i]};
    (void)brenvale::storage::DetectFileSystem(sector);
    (void)brenvale::storage::DetectFileSystem(std::span(sector).first(size < 512 ? size : 512));
    return 0;
}
