// 3D Studio models: the main chunk's length is the file's.

#include "raw/formats/formats.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr std::uint16_t kMainChunk = 0x4D4D;

}  // namespace

bool Test3ds(ScanContext& ctx, Bytes s, TFoundFile& hit) {
    if (s.size() < 12 || storage::le16(s, 0) != kMainChunk) return false;
    TFoundFile probe = MakeHit(5, 7, "3ds");
    const std::uint32_t length = storage::le32(s, 2);
    if (length <= 11 || length > ctx.MaxSize(probe)) return false;
    if (storage::le16(s, 6) == 0) return false;
    const std::uint32_t first = storage::le32(s, 8);
    if (first <= 5 || first > length) return false;
    hit = probe;
    hit.Size = length;
    return true;
}

int Parse3ds(ScanContext&, Bytes, TFoundFile&) {
    return kParseEnd;
}

}  // namespace brenvale::raw::formats
