// Blender files: a 12-byte header, then blocks, each a header (code, length, old address,
// structure index, count) and its data, up to the block "ENDB". The header is 24 bytes with
// 64-bit addresses and 20 with 32-bit ones.

#include <cstring>

#include "raw/formats/formats.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr std::size_t kFileHeader = 12;
constexpr std::int64_t kLongHeader = 24;
constexpr std::int64_t kShortHeader = 20;
constexpr std::uint32_t kLargestBlock = 536870912;

// `ExtraData1` of a scan hit: the block header length, and whether lengths are big-endian.
constexpr std::int32_t kBigEndianBit = 0x100;

std::uint32_t blockLength(Bytes d, std::size_t at, bool bigEndian) {
    return bigEndian ? storage::be32(d, at + 4) : storage::le32(d, at + 4);
}

}  // namespace

BlendStep BlendWalk(Bytes data, std::int64_t from, std::int64_t header, bool bigEndian) {
    std::int64_t at = from;
    const auto count = static_cast<std::int64_t>(data.size());
    while (at >= 0 && at + header <= count) {
        const auto p = static_cast<std::size_t>(at);
        if (std::memcmp(data.data() + p, "ENDB", 4) == 0) return {BlendStep::kEnd, at + header};
        const std::uint32_t length = blockLength(data, p, bigEndian);
        if (length > kLargestBlock) return {BlendStep::kFailed, at};
        at += header + length;
    }
    return {at < 0 ? BlendStep::kFailed : BlendStep::kMore, at};
}

bool TestBlender(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 7 || std::memcmp(s.data(), "BLENDER", 7) != 0) return false;
    hit = MakeHit(5, 0, "blend");
    // The header says how wide addresses are ('-' 64-bit, '_' 32-bit) and the byte order
    // ('v' little, 'V' big). Both widths are tried at recovery; the scan follows the header, so
    // the walk it carries from batch to batch never has to choose again.
    const char width = s.size() > 7 ? static_cast<char>(s[7]) : 0;
    const char order = s.size() > 8 ? static_cast<char>(s[8]) : 0;
    if ((width == '-' || width == '_') && (order == 'v' || order == 'V')) {
        hit.ExtraData1 = static_cast<std::int32_t>(width == '-' ? kLongHeader : kShortHeader) | (order == 'V' ? kBigEndianBit : 0);
        hit.ParsePoint = static_cast<std::int32_t>(kFileHeader);
    }
    return true;
}

int ParseBlender(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    // `ParsePoint`: the next block header, from data[0] (the scan resumes at `Size`, so 0 after
    // the first call).
    const std::int64_t header = hit.ExtraData1 & 0xFF;
    if ((header != kLongHeader && header != kShortHeader) || hit.Size < 0) {
        hit.Size = kUnknownSize;
        return kParseEnd;
    }
    const BlendStep step = BlendWalk(data, hit.ParsePoint, header, hit.ExtraData1 & kBigEndianBit);
    if (step.code == BlendStep::kFailed) {
        hit.Size = kUnknownSize;
        return kParseEnd;
    }
    if (step.code == BlendStep::kEnd) {
        hit.Size += step.at;
        hit.ParsePoint = 0;
        return kParseEnd;
    }
    // The next header begins at step.at: past the data, or cut by its end.
    const std::int64_t max = ctx.MaxSize(hit);
    if (step.at > max - hit.Size) {
        hit.Size = kUnknownSize;
        return kParseEnd;
    }
    hit.Size += step.at;
    hit.ParsePoint = 0;
    return kParseMore;
}

}  // namespace brenvale::raw::formats
