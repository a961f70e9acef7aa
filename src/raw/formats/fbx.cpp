// FBX. A binary file is a 27-byte header (text, 0x1A 0x00, version), a list of top-level node
// records ended by a null record, and a footer; each node record gives the file offset where
// it ends, so the walk steps from node to node without reading their contents. Offsets and
// counts are 32-bit before version 7500 and 64-bit from it on. A text file has no structure
// that shows its end.

#include <array>
#include <cstring>

#include "raw/formats/formats.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr char kBinaryStart[] = "Kaydara FBX Binary  \x00\x1A\x00";
constexpr std::size_t kBinaryStartLength = 23;
constexpr char kTextStart[] = "Kaydara FBX ASCII";
constexpr std::int64_t kHeader = 27;
constexpr std::uint32_t kWideVersion = 7500;

// The footer: an identifier, zero padding (to a 16-byte boundary, with or without four more
// zero bytes depending on the writer), the version again, 120 zero bytes and a closing magic.
constexpr std::array<unsigned char, 16> kFooterId = {0xFA, 0xBC, 0xAB, 0x09, 0xD0, 0xC8, 0xD4, 0x66,
                                                     0xB1, 0x76, 0xFB, 0x83, 0x1C, 0xF7, 0x26, 0x7E};
constexpr std::array<unsigned char, 16> kFooterMagic = {0xF8, 0x5A, 0x8C, 0x6A, 0xDE, 0xF5, 0xD9, 0x7E,
                                                        0xEC, 0xE9, 0x0C, 0xE3, 0x75, 0x8F, 0x29, 0x0B};
constexpr std::int64_t kMaxPadding = 20;
constexpr std::int64_t kFooterZeros = 120;

// `ExtraData1` of a binary hit once its header is read: the version above the low byte, and
// where the walk is.
constexpr std::int32_t kStarted = 1;
constexpr std::int32_t kInFooter = 2;
constexpr std::int32_t kTextFbx = 1;  // `ExtraData2`

struct Step {
    enum Code { kNext, kFooter, kEnd, kIncomplete, kBroken } code;
    std::int64_t length = 0;
};

bool allZero(Bytes d, std::size_t from, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (d[from + i] != std::byte{0}) return false;
    }
    return true;
}

// The top-level node record at p, which lies at file offset `at`.
Step nodeRecord(Bytes p, std::int64_t at, bool wide, std::int64_t max) {
    const std::size_t head = wide ? 25 : 13;
    if (p.size() < head) return {Step::kIncomplete};
    if (allZero(p, 0, head)) return {Step::kFooter, static_cast<std::int64_t>(head)};
    const std::uint64_t end = wide ? storage::le64(p, 0) : storage::le32(p, 0);
    const std::uint64_t nameLength = storage::u8(p, head - 1);
    if (end > static_cast<std::uint64_t>(max) || static_cast<std::int64_t>(end) < at + static_cast<std::int64_t>(head + nameLength)) {
        return {Step::kBroken};
    }
    return {Step::kNext, static_cast<std::int64_t>(end) - at};
}

Step footer(Bytes p, std::uint32_t version) {
    if (p.size() < kFooterId.size()) return {Step::kIncomplete};
    if (std::memcmp(p.data(), kFooterId.data(), kFooterId.size()) != 0) return {Step::kBroken};
    std::int64_t at = static_cast<std::int64_t>(kFooterId.size());
    const auto count = static_cast<std::int64_t>(p.size());
    std::int64_t zeros = 0;
    while (at < count && p[static_cast<std::size_t>(at)] == std::byte{0} && zeros <= kMaxPadding) {
        ++at;
        ++zeros;
    }
    if (zeros > kMaxPadding) return {Step::kBroken};
    const std::int64_t end = at + 4 + kFooterZeros + static_cast<std::int64_t>(kFooterMagic.size());
    if (end > count) return {Step::kIncomplete};
    if (zeros == 0 || storage::le32(p, static_cast<std::size_t>(at)) != version) return {Step::kBroken};
    if (!allZero(p, static_cast<std::size_t>(at + 4), static_cast<std::size_t>(kFooterZeros))) return {Step::kBroken};
    if (std::memcmp(p.data() + (end - 16), kFooterMagic.data(), kFooterMagic.size()) != 0) return {Step::kBroken};
    return {Step::kEnd, end};
}

}  // namespace

bool TestFbx(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() >= kBinaryStartLength && std::memcmp(s.data(), kBinaryStart, kBinaryStartLength) == 0) {
        hit = MakeHit(5, 1, "fbx");
        return true;
    }
    if (s.size() >= sizeof kTextStart - 1 && std::memcmp(s.data(), kTextStart, sizeof kTextStart - 1) == 0) {
        hit = MakeHit(5, 1, "fbx");
        hit.ExtraData2 = kTextFbx;
        return true;
    }
    return false;
}

int ParseFbx(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    // Nothing in a text file shows where it ends.
    if (hit.ExtraData2 == kTextFbx || hit.Size < 0) {
        hit.Size = kUnknownSize;
        return kParseEnd;
    }
    const std::int64_t max = ctx.MaxSize(hit);
    auto broken = [&] {
        hit.Size = kUnknownSize;
        return kParseBroken;
    };
    // data[0] lies at file offset `Size`: the next record not walked yet.
    std::int64_t cursor = 0;
    const auto count = static_cast<std::int64_t>(data.size());
    if (!(hit.ExtraData1 & kStarted)) {
        if (count < kHeader) return kParseMore;  // the header is in the first sector, whole
        const std::uint32_t version = storage::le32(data, kBinaryStartLength);
        if (version == 0 || version > 0x7FFFFF) return broken();
        hit.ExtraData1 = static_cast<std::int32_t>(version << 8) | kStarted;
        hit.Size = kHeader;
        cursor = kHeader;
    }
    const auto version = static_cast<std::uint32_t>(hit.ExtraData1) >> 8;
    RepeatGuard guard;
    while (cursor <= count) {
        if (!guard.Step(cursor)) return broken();
        const Bytes p = data.subspan(static_cast<std::size_t>(cursor));
        const Step s = hit.ExtraData1 & kInFooter ? footer(p, version)
                                                   : nodeRecord(p, hit.Size, version >= kWideVersion, max);
        if (s.code == Step::kIncomplete) break;
        if (s.code == Step::kBroken || s.length <= 0 || s.length > max - hit.Size) return broken();
        hit.Size += s.length;
        if (s.code == Step::kEnd) return kParseEnd;
        if (s.code == Step::kFooter) hit.ExtraData1 |= kInFooter;
        cursor += s.length;
    }
    return kParseMore;
}

}  // namespace brenvale::raw::formats
