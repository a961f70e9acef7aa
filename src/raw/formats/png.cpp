// PNG: the 8-byte signature, then chunks of length, type, data and CRC up to "IEND".

#include <cstring>

#include "raw/formats/formats.h"
#include "raw/formats/walk.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool isLetter(unsigned c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

Record readChunk(const ScanContext& ctx, const TFoundFile& hit, Bytes p) {
    if (p.size() < 8) return {kRecordIncomplete, 0};
    for (std::size_t i = 4; i < 8; ++i) {
        if (!isLetter(storage::u8(p, i))) return {kRecordInvalid, 0};
    }
    if (std::memcmp(p.data() + 4, "IEND", 4) == 0) return {kRecordLast, 12};
    const std::uint32_t length = storage::be32(p, 0);
    if (static_cast<std::int64_t>(length) >= ctx.MaxSize(hit)) return {kRecordInvalid, 0};
    return {kRecordNext, std::int64_t{length} + 12};
}

}  // namespace

bool TestPng(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < sizeof kPngSignature || std::memcmp(s.data(), kPngSignature, sizeof kPngSignature) != 0) return false;
    hit = MakeHit(2, 5, "png");
    if (s.size() >= 24 && std::memcmp(s.data() + 12, "IHDR", 4) == 0) hit.SetPixels(storage::be32(s, 16), storage::be32(s, 20));
    hit.Size = 8;  // the parser is handed the chunks that follow the signature
    return true;
}

int ParsePng(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    return WalkRecords(ctx, data, hit, readChunk);
}

}  // namespace brenvale::raw::formats
