#include "raw/raw_recover.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>

#include "raw/device_reads.h"
#include "scan/dest_file.h"
#include "scan/dest_names.h"
#include "scan/undelete.h"
#include "storage/device.h"

namespace brenvale::raw {

namespace {

constexpr std::uint32_t kCopyChunkSectors = 1000;
constexpr std::uint64_t kHeadMaxSectors = 65536;

}  // namespace

std::uint32_t DeviceSectorSize(scan::TUndelete& scan) {
    const std::uint32_t bps = scan.Device().BytesPerSector();
    return bps ? bps : 512;
}

std::vector<std::byte> ReadSectorsUpTo(storage::TDevice& device, std::uint64_t lba, std::uint64_t sectors,
                                       std::uint32_t bps, std::uint32_t piece) {
    std::vector<std::byte> out(sectors * bps);
    std::uint64_t bytes = 0;
    for (std::uint64_t done = 0; done < sectors;) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors - done, piece));
        const std::uint32_t got = device.Read(lba + done, n, out.data() + done * bps);
        bytes += got;
        if (got < std::uint64_t{n} * bps) break;
        done += n;
    }
    out.resize(bytes);
    return out;
}

std::string RawFileName(const TFoundFile& hit, int number) {
    std::string upper(hit.Ext());
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return fmt::format("{}_{}.{}", upper, number, hit.Ext());
}

std::int64_t RawRecoverySize(const TFoundFile& hit, const SizeTables& sizes, std::uint64_t deviceBytes,
                             std::uint32_t bytesPerSector) {
    std::int64_t size = 0;
    if (ValidTypePair(hit.MajorType, hit.MinorType)) {
        const int slot = SizeIndex(hit.MajorType, hit.MinorType);
        size = hit.Size > 0 && hit.Size <= sizes.MaxSize[slot] ? hit.Size : sizes.DefaultSize[slot];
    } else if (hit.Size > 0) {
        size = hit.Size;
    }
    // A default size running past the end of the disk would only be cut short by the read.
    const auto start = static_cast<std::uint64_t>(std::max<std::int64_t>(hit.LBA, 0)) * bytesPerSector;
    const std::uint64_t room = start < deviceBytes ? deviceBytes - start : 0;
    return static_cast<std::int64_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0)), room));
}

bool RawRecoverFile(scan::TUndelete& scan, const SizeTables& sizes, const TFoundFile& aFile,
                    const std::string& ErasedFileName, const std::string& DestPath) {
    auto report = [&](std::int32_t code) {
        if (scan.FOnRecover) scan.FOnRecover(ErasedFileName, code);
        return code == scan::kRecoverSuccessful;
    };
    report(scan::kRecoverStarting);
    storage::TDevice& device = scan.Device();
    const std::uint32_t bps = DeviceSectorSize(scan);
    const std::int64_t size = RawRecoverySize(aFile, sizes, device.Sectors() * bps, bps);

    const std::string dest = scan::UniqueDestName(ErasedFileName, DestPath);
    // A picture or a CAD file of unknown length gets a deeper measure before the default size
    // is taken.
    if (aFile.Size <= 0 && aFile.MajorType == 2 && RecoverGraphicFile(scan, sizes, aFile, dest)) {
        return report(scan::kRecoverSuccessful);
    }
    if (aFile.Size <= 0 && aFile.MajorType == 5 && CadRecoverFile(scan, aFile, dest)) {
        return report(scan::kRecoverSuccessful);
    }
    // A file that fails is removed again (see DestFile).
    scan::DestFile out(dest);
    if (!out.IsOpen()) return report(scan::kRecoverCreateError);

    std::vector<std::byte> chunk(std::size_t{kCopyChunkSectors} * bps);
    std::int64_t done = 0;
    std::int32_t code = scan::kRecoverSuccessful;
    while (done < size) {
        if (scan.FTerminated) {
            code = scan::kRecoverStopped;
            break;
        }
        const std::int64_t want = std::min<std::int64_t>(size - done, static_cast<std::int64_t>(chunk.size()));
        const auto sectors = static_cast<std::uint32_t>((want + bps - 1) / bps);
        const std::uint64_t lba = static_cast<std::uint64_t>(aFile.LBA) + static_cast<std::uint64_t>(done / bps);
        const std::uint32_t got = device.Read(lba, sectors, chunk.data());
        // Stale bytes of an earlier chunk must never pass for the file's data.
        const auto usable = std::min<std::int64_t>(want, got);
        if (usable > 0 && !out.Write(std::span<const std::byte>(chunk).first(static_cast<std::size_t>(usable)))) {
            code = scan::kRecoverWriteError;
            break;
        }
        done += usable;
        if (usable < want) {
            code = scan::kRecoverReadError;
            break;
        }
        if (scan.FOnRecoverProgress && size > 0) {
            scan.FOnRecoverProgress(static_cast<std::int32_t>(std::lround(double(done) / double(size) * 100.0)));
        }
    }
    if (code == scan::kRecoverSuccessful && !out.Commit()) code = scan::kRecoverWriteError;
    return report(code);
}

void RecoverRawHead(scan::TUndelete& scan, const TFoundFile& aFile, std::int64_t RecoverSize,
                    std::vector<std::byte>& Output) {
    Output.clear();
    if (aFile.LBA < 0 || RecoverSize <= 0) return;
    if (aFile.Size > 0 && aFile.Size < RecoverSize) RecoverSize = aFile.Size;
    const std::uint32_t bps = DeviceSectorSize(scan);
    const std::uint64_t sectors =
        std::min<std::uint64_t>((static_cast<std::uint64_t>(RecoverSize) + bps - 1) / bps, kHeadMaxSectors);
    Output = ReadSectorsUpTo(scan.Device(), static_cast<std::uint64_t>(aFile.LBA), sectors, bps, kCopyChunkSectors);
    Output.resize(static_cast<std::size_t>(std::min<std::uint64_t>(Output.size(), static_cast<std::uint64_t>(RecoverSize))));
}

}  // namespace brenvale::raw
