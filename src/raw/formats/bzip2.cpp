// BZIP2: a stream is "BZh" and a level digit, then blocks, each opening with the 48-bit mark
// 0x314159265359, and ends with the 48-bit mark 0x177245385090 and a 32-bit CRC, padded to a
// whole byte. The marks are bit-aligned, not byte-aligned, so the end is found by looking for
// the end mark at every bit position: no decompression (which runs at a few tens of MB/s), and
// a false match in compressed data is a 1-in-2^48 event per bit.

#include <array>
#include <cstring>

#include "raw/formats/formats.h"
#include "raw/formats/walk.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr std::uint64_t kBlockMark = 0x314159265359;
constexpr std::uint64_t kEndMark = 0x177245385090;
constexpr std::uint64_t kMark48 = 0xFFFFFFFFFFFF;
constexpr std::size_t kHeadBytes = 10;  // "BZh", the level, the first mark
constexpr std::size_t kWindow = 8;      // bytes read at a candidate place

// `ExtraData1`: at a stream's head, inside a stream, or just after one (the next bytes tell
// whether another stream of the same file follows, as pbzip2 writes them).
enum Bzip2Phase : std::int32_t { kHead = 0, kInside = 1, kAfter = 2 };

// For the byte that follows a candidate's first byte: the bit shifts at which the end mark
// would put that value there (a 48-bit mark shifted by up to 7 bits covers that byte whole).
constexpr std::array<std::uint8_t, 256> shiftsBySecondByte() {
    std::array<std::uint8_t, 256> t{};
    for (int s = 0; s < 8; ++s) {
        const std::uint64_t window = kEndMark << (16 - s);  // mark at bit s from the top
        t[(window >> 48) & 0xFF] |= static_cast<std::uint8_t>(1u << s);
    }
    return t;
}
constexpr auto kShifts = shiftsBySecondByte();

bool isStreamHead(Bytes p) {
    if (p.size() < kHeadBytes || std::memcmp(p.data(), "BZh", 3) != 0) return false;
    const unsigned level = storage::u8(p, 3);
    if (level < '1' || level > '9') return false;
    const std::uint64_t mark = storage::be64(p, 2) & kMark48;
    return mark == kBlockMark || mark == kEndMark;
}

// The first end mark in data[from..): the offset just past the stream (mark, CRC, padding).
std::int64_t findEnd(Bytes data, std::size_t from) {
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    for (std::size_t i = from; i + kWindow <= data.size(); ++i) {
        std::uint8_t shifts = kShifts[b[i + 1]];
        if (!shifts) continue;
        const std::uint64_t window = storage::be64(data, i);
        for (int s = 0; shifts; ++s, shifts >>= 1) {
            if ((shifts & 1) && ((window >> (16 - s)) & kMark48) == kEndMark) {
                const std::uint64_t bits = std::uint64_t{i} * 8 + static_cast<unsigned>(s) + 48 + 32;
                return static_cast<std::int64_t>((bits + 7) / 8);
            }
        }
    }
    return -1;
}

}  // namespace

bool TestBzip2(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 3 || std::memcmp(s.data(), "BZh", 3) != 0) return false;
    hit = MakeHit(0, 5, "bz2");
    return true;
}

int ParseBzip2(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    const auto n = static_cast<std::int64_t>(data.size());
    std::int64_t cursor = 0;
    RepeatGuard guard;
    while (cursor < n) {
        if (!guard.Step(cursor)) return kParseBroken;
        const Bytes p = data.subspan(static_cast<std::size_t>(cursor));
        if (hit.ExtraData1 == kHead || hit.ExtraData1 == kAfter) {
            if (p.size() < kHeadBytes) break;  // the next data decides
            if (!isStreamHead(p)) {
                if (hit.ExtraData1 == kAfter) return kParseEnd;
                hit.Size = kUnknownSize;  // "BZh" and no stream behind it
                return kParseBroken;
            }
            hit.ExtraData1 = kInside;
        }
        // The stream's own marks lie at least 4 bytes in; a mark may be cut by the data's end,
        // so the last bytes are looked at again with the next data.
        const std::int64_t end = findEnd(p, 4);
        if (end < 0) {
            const std::int64_t keep = std::max<std::int64_t>(0, static_cast<std::int64_t>(p.size()) - 4 - (kWindow - 1));
            if (!AddWithinMax(ctx, hit, keep)) {
                hit.Size = kUnknownSize;
                return kParseBroken;
            }
            // Whatever is examined again starts at least 4 bytes into the stream.
            return kParseMore;
        }
        if (!AddWithinMax(ctx, hit, end)) {
            hit.Size = kUnknownSize;
            return kParseBroken;
        }
        hit.ExtraData1 = kAfter;
        cursor += end;
    }
    return kParseMore;
}

void Bzip2AtEnd(ScanContext&, TFoundFile& hit) {
    // A stream that had ended, with nothing after it to tell whether another follows, is whole.
    if (hit.ExtraData1 != kAfter) hit.Size = kUnknownSize;
}

}  // namespace brenvale::raw::formats
