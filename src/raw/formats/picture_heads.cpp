// Picture formats whose header says all the scan can learn: BMP and CorelDRAW (a length),
// Fuji RAF (a length and its preview), Photoshop (nothing but the mark).

#include <cstdlib>
#include <cstring>

#include "raw/formats/formats.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr std::uint32_t kMaxBmpBytes = 10485760;
constexpr std::int32_t kMaxBmpSide = 10000;
constexpr std::uint32_t kMaxCdrRiffBytes = 52428799;
constexpr std::uint64_t kMaxRafBytes = 104857600;
constexpr char kRafMark[] = "FUJIFILMCCD-RAW ";

bool startsWith(Bytes s, const char* mark, std::size_t n) {
    return s.size() >= n && std::memcmp(s.data(), mark, n) == 0;
}

}  // namespace

bool TestBmp(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 26 || !startsWith(s, "BM", 2)) return false;
    const std::uint32_t size = storage::le32(s, 2);
    const auto width = static_cast<std::int32_t>(storage::le32(s, 18));
    const auto height = static_cast<std::int32_t>(storage::le32(s, 22));
    if (size > kMaxBmpBytes || width > kMaxBmpSide || height > kMaxBmpSide) return false;
    hit = MakeHit(2, 0, "bmp");
    // A size field of 0 says nothing: the length is unknown, not empty.
    hit.Size = size ? std::int64_t{size} : kUnknownSize;
    hit.SetPixels(width, std::abs(std::int64_t{height}));  // negative: stored top-down
    return true;
}

bool TestCdr(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 12 || !startsWith(s, "RIFF", 4) || storage::u8(s, 8) != 'C' || storage::u8(s, 9) != 'D') return false;
    const std::uint32_t riff = storage::le32(s, 4);
    if (riff > kMaxCdrRiffBytes) return false;
    hit = MakeHit(2, 3, "cdr");
    hit.Size = std::int64_t{riff} + 8;
    return true;
}

bool TestRaf(ScanContext& ctx, Bytes s, TFoundFile& hit) {
    if (s.size() < 108 || !startsWith(s, kRafMark, 16)) return false;
    const std::uint64_t size = std::uint64_t{storage::be32(s, 100)} + storage::be32(s, 104);
    if (size > kMaxRafBytes) return false;
    hit = MakeHit(2, 19, "raf");
    hit.Size = size ? static_cast<std::int64_t>(size) : kUnknownSize;
    hit.Info = ctx.Side.NewImageInfo();
    if (TRawImageInfo* info = ctx.Side.Image(hit.Info)) {
        const std::int64_t offset = storage::be32(s, 84);
        const std::int64_t length = storage::be32(s, 88);
        // A preview must lie inside the file it is part of.
        if (length > 0 && offset + length <= hit.Size) {
            info->PreviewOffset = offset;
            info->PreviewLength = length;
            info->PreviewKind = kPreviewJpeg;
        }
        info->Make = "FUJI Film";
    }
    return true;
}

bool TestPsd(ScanContext&, Bytes s, TFoundFile& hit) {
    if (!startsWith(s, "8BPS", 4)) return false;
    hit = MakeHit(2, 20, "psd");
    hit.Size = kUnknownSize;
    return true;
}

}  // namespace brenvale::raw::formats
