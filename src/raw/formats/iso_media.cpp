// ISO base-media files (Canon CR3): a chain of boxes, each with a 32-bit big-endian size
// (1: a 64-bit size follows) and a 4-character type.

#include <cstring>

#include "raw/formats/embedded_jpeg.h"
#include "raw/formats/formats.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

bool printableType(Bytes p) {
    for (std::size_t i = 4; i < 8; ++i) {
        const unsigned c = storage::u8(p, i);
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

}  // namespace

bool TestCr3(ScanContext& ctx, Bytes s, TFoundFile& hit) {
    if (s.size() < 16 || std::memcmp(s.data() + 4, "ftyp", 4) != 0) return false;
    if (std::memcmp(s.data() + 8, "crx", 3) != 0 && std::memcmp(s.data() + 8, "cr3", 3) != 0) return false;
    hit = MakeHit(2, 21, "cr3");
    hit.Size = kUnknownSize;  // its boxes are measured at recovery
    hit.Info = ctx.Side.NewImageInfo();
    if (TRawImageInfo* info = ctx.Side.Image(hit.Info)) {
        if (const auto preview = LargestEmbeddedJpeg(s)) {
            info->PreviewOffset = preview->offset;
            info->PreviewLength = preview->length;
            info->PreviewKind = kPreviewJpeg;
        }
    }
    return true;
}

std::int64_t IsoMediaLength(Bytes data) {
    std::int64_t at = 0;
    const auto n = static_cast<std::int64_t>(data.size());
    while (at + 8 <= n) {
        const Bytes p = data.subspan(static_cast<std::size_t>(at));
        if (!printableType(p)) break;
        std::uint64_t size = storage::be32(p, 0);
        if (size == 1) {
            if (p.size() < 16) break;
            size = storage::be64(p, 8);
            if (size < 16) break;
        } else if (size < 8) {
            break;  // 0 ("to the end of the file") tells nothing about where that is
        }
        if (size > static_cast<std::uint64_t>(n - at)) break;
        at += static_cast<std::int64_t>(size);
    }
    return at;
}

}  // namespace brenvale::raw::formats
