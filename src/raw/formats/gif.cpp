// GIF: the header with its colour table, then blocks (images, extensions) whose data comes in
// sub-blocks of at most 255 bytes, up to the trailer byte. Walked block by block, so a GIF
// that runs past the end of a batch is measured in the next one.

#include <cstring>

#include "raw/formats/formats.h"
#include "raw/formats/walk.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

// `ExtraData1`: where the walk is.
enum GifPhase : std::int32_t { kHeader = 0, kBlocks = 1, kSubBlocks = 2 };

constexpr std::uint8_t kExtension = 0x21;
constexpr std::uint8_t kImage = 0x2C;
constexpr std::uint8_t kTrailer = 0x3B;

std::int64_t colourTable(std::uint8_t flags) {
    return (flags & 0x80) ? 3 * (std::int64_t{2} << (flags & 7)) : 0;
}

// The record at p and the phase after it.
Record readGif(TFoundFile& hit, Bytes p) {
    switch (hit.ExtraData1) {
        case kHeader:
            if (p.size() < 13) return {kRecordIncomplete, 0};
            hit.ExtraData1 = kBlocks;
            return {kRecordNext, 13 + colourTable(storage::u8(p, 10))};
        case kSubBlocks: {
            if (p.empty()) return {kRecordIncomplete, 0};
            const std::uint8_t size = storage::u8(p, 0);
            if (size == 0) hit.ExtraData1 = kBlocks;
            return {kRecordNext, 1 + std::int64_t{size}};
        }
        default:
            break;
    }
    if (p.empty()) return {kRecordIncomplete, 0};
    switch (storage::u8(p, 0)) {
        case kTrailer:
            return {kRecordLast, 1};
        case kExtension:
            if (p.size() < 2) return {kRecordIncomplete, 0};
            hit.ExtraData1 = kSubBlocks;
            return {kRecordNext, 2};
        case kImage:
            // Descriptor, local colour table, then the LZW code size before the sub-blocks.
            if (p.size() < 10) return {kRecordIncomplete, 0};
            hit.ExtraData1 = kSubBlocks;
            return {kRecordNext, 10 + colourTable(storage::u8(p, 9)) + 1};
        default:
            return {kRecordInvalid, 0};
    }
}

}  // namespace

bool TestGif(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 6 || (std::memcmp(s.data(), "GIF87a", 6) != 0 && std::memcmp(s.data(), "GIF89a", 6) != 0)) {
        return false;
    }
    hit = MakeHit(2, 1, "gif");
    hit.SetPixels(storage::le16(s, 6), storage::le16(s, 8));
    return true;
}

int ParseGif(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    RepeatGuard guard;
    const auto n = static_cast<std::int64_t>(data.size());
    std::int64_t cursor = 0;
    while (cursor < n) {
        if (!guard.Step(cursor)) return kParseBroken;
        const std::int32_t phase = hit.ExtraData1;
        const Record r = readGif(hit, data.subspan(static_cast<std::size_t>(cursor)));
        if (r.code == kRecordIncomplete) {
            hit.ExtraData1 = phase;
            break;
        }
        if (r.code == kRecordInvalid || !AddWithinMax(ctx, hit, r.length)) return kParseBroken;
        if (r.code == kRecordLast) return kParseEnd;
        cursor += r.length;
    }
    return kParseMore;
}

}  // namespace brenvale::raw::formats
