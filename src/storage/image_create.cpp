#include <cmath>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/files.h"
#include "storage/aligned_buffer.h"
#include "storage/device.h"

namespace brenvale::storage {

namespace {

constexpr std::int64_t kChunkSectors = 500;

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

bool TDevice::CreateImage(const std::string& FileName, std::int64_t LBA, std::int64_t Blocks, int ImgType,
                          std::uint8_t FileSystem, std::uint8_t MbrType) {
    FTerminated = false;
    FCreateError.clear();
    const std::uint32_t s = FBytesPerSector;
    if (LBA < 0 || Blocks < 0) {
        FCreateError = "Invalid sector range.";
        return false;
    }
    // Creating the file truncates it: never let that be the source itself.
    if (sameFile(FileName, FPath)) {
        FCreateError = "The image file is the source being read.";
        return false;
    }
    // Written straight through write(2) from page-aligned chunks: a stdio buffer in between
    // costs a copy, and the kernel copies page-aligned memory fastest.
    const auto out = platform::createOutputFile(FileName);
    if (!out) {
        FCreateError = "Cannot create the image file.";
        return false;
    }
    auto writeAll = [&](const void* data, std::size_t len) {
        if (len == 0 || out->write({static_cast<const std::byte*>(data), len})) return true;
        FCreateError = "Cannot write the image file.";
        return false;
    };

    std::uint64_t prefix = 0;
    if (ImgType != 0) {
        prefix = ImagePrefixSectors(s);
        std::vector<std::byte> head(prefix * s);
        const auto mbr = SyntheticMbr(MbrTypeFor(FileSystem, MbrType), static_cast<std::uint32_t>(prefix),
                                      static_cast<std::uint32_t>(Blocks));
        std::copy(mbr.begin(), mbr.end(), head.begin());
        if (!writeAll(head.data(), head.size())) return false;
    }

    AlignedBuffer chunk;
    chunk.reserve(static_cast<std::size_t>(kChunkSectors) * s);
    std::int64_t copied = 0;
    bool complete = true;
    while (copied < Blocks) {
        const auto want = static_cast<std::uint32_t>(std::min(kChunkSectors, Blocks - copied));
        const std::uint32_t got = Read(static_cast<std::uint64_t>(LBA + copied), want, chunk.data());
        const std::uint32_t delivered = got / s;
        if (!writeAll(chunk.data(), std::size_t{delivered} * s)) return false;
        copied += delivered;
        if (FOnCreateImg) {
            FOnCreateImg(Blocks == 0 ? 100 : static_cast<int>(std::lround(double(copied) / double(Blocks) * 100.0)));
        }
        if (FOnPump) FOnPump();
        if (FTerminated || delivered < want) {
            complete = copied >= Blocks;
            break;
        }
    }
    if (Blocks == 0 && FOnCreateImg) FOnCreateImg(100);

    const auto desc = MakeImageDescriptor(FDeviceParam, FDeviceType, static_cast<std::uint64_t>(LBA),
                                          static_cast<std::uint64_t>(copied) + prefix, s);
    if (!writeAll(&desc, sizeof desc)) return false;
    if (!out->close()) {
        FCreateError = "Cannot write the image file.";
        return false;
    }
    return complete;
}

}  // namespace brenvale::storage
