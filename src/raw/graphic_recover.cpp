// Pictures found without a length get a second measure at recovery: their first megabytes are
// read from the device and walked as a whole, and the embedded previews of camera files are
// read for thumbnails.

#include <algorithm>
#include <vector>

#include "raw/device_reads.h"
#include "raw/formats/formats.h"
#include "raw/raw_recover.h"
#include "raw/signature_scan.h"
#include "scan/dest_file.h"
#include "scan/undelete.h"
#include "storage/device.h"

namespace brenvale::raw {

namespace {

constexpr std::int64_t kSmallPictureRead = 5120000;
constexpr std::int64_t kLargePictureRead = 20480000;
constexpr std::uint32_t kReadPiece = 1000;
constexpr std::uint32_t kTailPiece = 256;
constexpr std::uint64_t kMaxThumbnailSectors = 65536;

// The length a walk over the whole buffer finds, or kUnknownSize.
std::int64_t measure(const TFoundFile& hit, std::span<const std::byte> head, const SizeTables& sizes) {
    SideTables side;
    ScanContext ctx{sizes, side, 512, nullptr};
    TFoundFile h = MakeHit(hit.MajorType, hit.MinorType, hit.Ext());
    const std::string_view ext = hit.Ext();
    if (ext == "jpg") return formats::ParseJpeg(ctx, head, h) == kParseEnd ? h.Size : kUnknownSize;
    if (ext == "gif") return formats::ParseGif(ctx, head, h) == kParseEnd ? h.Size : kUnknownSize;
    if (ext == "png") {
        if (head.size() < 8) return kUnknownSize;
        h.Size = 8;
        return formats::ParsePng(ctx, head.subspan(8), h) == kParseEnd ? h.Size : kUnknownSize;
    }
    if (ext == "cr3") {
        const std::int64_t end = formats::IsoMediaLength(head);
        return end > 0 ? end : kUnknownSize;
    }
    TFoundFile tiff;
    if (formats::TestTiff(ctx, head, tiff) && tiff.Ext() != "crw") return tiff.Size;
    return hit.Size;
}

}  // namespace

bool RecoverGraphicFile(scan::TUndelete& scan, const SizeTables& sizes, const TFoundFile& aFile,
                        const std::string& DestFileName) {
    if (scan.Processing.exchange(true)) return false;
    struct Clear {
        scan::TUndelete& s;
        ~Clear() { s.Processing = false; }
    } clear{scan};
    scan.FTerminated = false;
    storage::TDevice& device = scan.Device();
    const std::uint32_t bps = DeviceSectorSize(scan);
    const std::string_view ext = aFile.Ext();
    const std::int64_t headBytes = ext == "jpg" || ext == "gif" || ext == "png" ? kSmallPictureRead : kLargePictureRead;
    const auto head = ReadSectorsUpTo(device, static_cast<std::uint64_t>(aFile.LBA), static_cast<std::uint64_t>(headBytes / bps),
                                  bps, kReadPiece);
    std::int64_t size = measure(aFile, head, sizes);
    // No length, or none worth writing: the caller writes the default size instead.
    if (size <= 0) return false;
    if (ValidTypePair(aFile.MajorType, aFile.MinorType) && size > sizes.MaxSize[SizeIndex(aFile.MajorType, aFile.MinorType)]) {
        size = sizes.DefaultSize[SizeIndex(aFile.MajorType, aFile.MinorType)];
    }
    // What was written of a file that could not be finished is removed again (DestFile): the
    // caller then writes it at its default size under the same name.
    scan::DestFile out(DestFileName);
    if (!out.IsOpen()) return false;
    const auto fromHead = static_cast<std::size_t>(std::min<std::int64_t>(size, static_cast<std::int64_t>(head.size())));
    if (!out.Write(std::span<const std::byte>(head).first(fromHead))) return false;
    std::int64_t written = static_cast<std::int64_t>(fromHead);
    std::vector<std::byte> piece(std::size_t{kTailPiece} * bps);
    std::uint64_t lba = static_cast<std::uint64_t>(aFile.LBA) + head.size() / bps;
    while (written < size) {
        const std::uint32_t got = device.Read(lba, kTailPiece, piece.data());
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(size - written, got));
        if (n == 0) return false;  // the device ended or failed: the file would be short
        if (!out.Write(std::span<const std::byte>(piece).first(n))) return false;
        written += static_cast<std::int64_t>(n);
        lba += kTailPiece;
    }
    return out.Commit();
}

bool RecoverThumbnail(scan::TUndelete& scan, const RawScan& raw, const TFoundFile& aFile, std::vector<std::byte>& Output) {
    Output.clear();
    std::int64_t offset = 0, length = 0;
    if (const TRawImageInfo* info = raw.Side().Image(aFile.Info)) {
        offset = info->PreviewOffset;
        length = info->PreviewLength;
    } else if (aFile.Ext() == "jpg" && aFile.Size > 0) {
        length = aFile.Size;  // a JPEG is its own preview
    }
    if (length <= 0 || offset < 0 || aFile.LBA < 0) return false;
    const std::uint32_t bps = DeviceSectorSize(scan);
    const std::uint64_t skip = static_cast<std::uint64_t>(offset) % bps;
    const std::uint64_t sectors = (skip + static_cast<std::uint64_t>(length) + bps - 1) / bps;
    if (sectors > kMaxThumbnailSectors) return false;
    const auto bytes = ReadSectorsUpTo(scan.Device(), static_cast<std::uint64_t>(aFile.LBA) + static_cast<std::uint64_t>(offset) / bps,
                                   sectors, bps, storage::kMaxBatchSectors);
    if (bytes.size() < skip + static_cast<std::uint64_t>(length)) return false;
    Output.assign(bytes.begin() + static_cast<std::ptrdiff_t>(skip), bytes.begin() + static_cast<std::ptrdiff_t>(skip + length));
    return true;
}

std::optional<TRawImageInfo> AnalyseRawHead(std::span<const std::byte> head) {
    SizeTables sizes;
    SideTables side;
    ScanContext ctx{sizes, side, 512, nullptr};
    for (auto test : {formats::TestTiff, formats::TestRaf, formats::TestX3f, formats::TestCr3}) {
        TFoundFile hit;
        if (!test(ctx, head, hit)) continue;
        const TRawImageInfo* info = side.Image(hit.Info);
        if (info && info->PreviewLength != 0) return *info;
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace brenvale::raw
