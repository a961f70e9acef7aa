#include <cmath>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/files.h"
#include "storage/device.h"
#include "storage/read_ahead.h"

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

    // The next chunk is read while the current one is written; the reads are the same, in the
    // same order, as in a plain loop.
    ReadAhead reader(*this);
    auto chunkAt = [&](std::int64_t at) { return static_cast<std::uint32_t>(std::min(kChunkSectors, Blocks - at)); };
    std::int64_t copied = 0;
    bool complete = true;
    if (Blocks > 0) reader.Start(static_cast<std::uint64_t>(LBA), chunkAt(0));
    while (copied < Blocks) {
        const std::uint32_t want = chunkAt(copied);
        const std::span<const std::byte> got = reader.Wait();
        const auto delivered = static_cast<std::uint32_t>(got.size() / s);
        const bool more = delivered == want && copied + want < Blocks && !FTerminated;
        if (more) reader.Start(static_cast<std::uint64_t>(LBA + copied + want), chunkAt(copied + want));
        if (!writeAll(got.data(), std::size_t{delivered} * s)) return false;
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
