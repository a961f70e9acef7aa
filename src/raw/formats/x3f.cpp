// Sigma X3F: a header, the image data, and at the end a directory ("SECd") of its sections.
// The file ends after the directory's entries and the 4-byte pointer to the directory.

#include <cstring>

#include "raw/formats/embedded_jpeg.h"
#include "raw/formats/formats.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr std::uint32_t kMaxDirectoryEntries = 1048575;

}  // namespace

bool TestX3f(ScanContext& ctx, Bytes s, TFoundFile& hit) {
    if (s.size() < 36 || std::memcmp(s.data(), "FOVb", 4) != 0) return false;
    hit = MakeHit(2, 17, "x3f");
    hit.Info = ctx.Side.NewImageInfo();
    if (TRawImageInfo* info = ctx.Side.Image(hit.Info)) {
        info->Width = static_cast<std::int32_t>(storage::le32(s, 28) & 0x7FFFFFFF);
        info->Height = static_cast<std::int32_t>(storage::le32(s, 32) & 0x7FFFFFFF);
        hit.SetPixels(info->Width, info->Height);
        if (const auto preview = LargestEmbeddedJpeg(s)) {
            info->PreviewOffset = preview->offset;
            info->PreviewLength = preview->length;
            info->PreviewKind = kPreviewJpeg;
        }
    }
    return true;
}

int ParseX3f(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    if (hit.Size > ctx.MaxSize(hit)) {
        hit.Size = kUnknownSize;
        return kParseBroken;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    for (std::size_t c = 0; c + 12 <= data.size(); ++c) {
        const void* s = std::memchr(b + c, 'S', data.size() - 11 - c);
        if (!s) break;
        c = static_cast<std::size_t>(static_cast<const unsigned char*>(s) - b);
        if (std::memcmp(b + c, "SECd", 4) != 0) continue;
        const std::uint32_t entries = storage::le32(data, c + 8);
        const std::int64_t tail = entries > kMaxDirectoryEntries ? 0 : 12 * std::int64_t{entries} + 4;
        hit.Size += static_cast<std::int64_t>(c) + 12 + tail;
        return kParseEnd;
    }
    // Keep the last bytes: a mark cut by the end of the data is looked for again next time.
    const std::int64_t keep = std::min<std::int64_t>(static_cast<std::int64_t>(data.size()), 11);
    hit.Size += static_cast<std::int64_t>(data.size()) - keep;
    return kParseMore;
}

}  // namespace brenvale::raw::formats
