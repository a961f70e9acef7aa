// TAR archives: 512-byte headers, each followed by its member's data rounded up to whole
// blocks; the archive ends with two zero blocks and is padded with zero blocks to a multiple of
// its record size (20 blocks as tar, bsdtar and Python write it). The measured length takes the
// end blocks and that padding, so the recovered archive is the original byte for byte.

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "raw/formats/formats.h"
#include "raw/formats/text.h"
#include "raw/formats/walk.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr std::size_t kBlock = 512;
constexpr std::int64_t kRecordBytes = 20 * 512;
constexpr std::size_t kSizeField = 124;
constexpr std::size_t kSizeFieldLen = 12;
constexpr std::size_t kChecksumField = 148;
constexpr std::size_t kChecksumLen = 8;
constexpr std::size_t kTypeFlag = 156;
constexpr std::size_t kMagic = 257;

// What the walk is at (`ExtraData1`); in the end blocks `ExtraData2` counts them.
enum TarPhase : std::int32_t { kMembers = 0, kEndBlocks = 1 };

std::string_view text(Bytes b, std::size_t off, std::size_t len) {
    if (!storage::fits(b, off, len)) return {};
    std::string_view s(reinterpret_cast<const char*>(b.data()) + off, len);
    return s.substr(0, s.find('\0'));
}

bool hasUstarMark(Bytes block) {
    return Trimmed(text(block, kMagic, 8), " ") == "ustar";
}

// An octal number written as text (up to the first NUL, blanks trimmed); nothing else counts.
std::optional<std::uint64_t> octal(std::string_view field) {
    field = Trimmed(field, " ");
    if (field.empty() || field.size() > 21) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : field) {
        if (c < '0' || c > '7') return std::nullopt;
        v = v * 8 + static_cast<std::uint64_t>(c - '0');
    }
    return v;
}

// A numeric field: octal text, or (GNU) a big-endian binary number after a first byte 0x80.
std::optional<std::uint64_t> number(Bytes block, std::size_t off, std::size_t len) {
    if (!storage::fits(block, off, len)) return std::nullopt;
    if (std::to_integer<unsigned>(block[off]) == 0x80) {
        std::uint64_t v = 0;
        for (std::size_t i = 1; i < len; ++i) {
            if (v >> 55) return std::nullopt;  // beyond any length a file can have here
            v = (v << 8) | std::to_integer<unsigned>(block[off + i]);
        }
        return v;
    }
    return octal(text(block, off, len));
}

bool checksumHolds(Bytes block) {
    const auto stored = octal(text(block, kChecksumField, kChecksumLen));
    if (!stored) return false;
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < kBlock; ++i) {
        const bool inField = i >= kChecksumField && i < kChecksumField + kChecksumLen;
        sum += inField ? ' ' : std::to_integer<unsigned>(block[i]);
    }
    return sum == *stored;
}

// An old-style header: no "ustar" mark, so its checksum has to vouch for it.
bool isV7Header(Bytes block) {
    return LooksLikeV7Tar(block) && checksumHolds(block);
}

bool isHeader(Bytes block) {
    return hasUstarMark(block) || isV7Header(block);
}

bool isZeroBlock(Bytes block) {
    static constexpr std::byte kZeros[kBlock] = {};
    return std::memcmp(block.data(), kZeros, kBlock) == 0;
}

}  // namespace

bool LooksLikeV7Tar(Bytes s) {
    if (s.size() < kBlock) return false;
    auto at = [&](std::size_t i) { return std::to_integer<unsigned char>(s[i]); };
    const unsigned char type = at(kTypeFlag);
    if (type != 0 && (type < '0' || type > '7')) return false;
    if (at(0) < 0x20 || at(0) == 0x7F) return false;  // a name starts with a printable character
    // The checksum field: octal digits, then a NUL or a blank.
    const unsigned char end = at(kChecksumField + 6);
    if (end != 0 && end != ' ') return false;
    for (std::size_t i = kChecksumField; i < kChecksumField + 6; ++i) {
        if ((at(i) < '0' || at(i) > '7') && at(i) != ' ') return false;
    }
    return true;
}

bool TestTar(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < kBlock) return false;
    const Bytes block = s.first(kBlock);
    if (!hasUstarMark(block) && !isV7Header(block)) return false;
    hit = MakeHit(0, 4, "tar");
    return true;
}

int ParseTar(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    RepeatGuard guard;
    const auto count = static_cast<std::int64_t>(data.size());
    std::int64_t cursor = 0;
    while (cursor + static_cast<std::int64_t>(kBlock) <= count) {
        if (!guard.Step(cursor)) return kParseBroken;
        const Bytes block = data.subspan(static_cast<std::size_t>(cursor), kBlock);
        if (hit.ExtraData1 == kMembers) {
            if (isZeroBlock(block)) {
                hit.ExtraData1 = kEndBlocks;
                hit.ExtraData2 = 0;
                continue;
            }
            // The first block that is no header ends the archive after its last member.
            if (!isHeader(block)) return kParseEnd;
            if (ctx.Heads) ctx.Heads->push_back(cursor);
            const auto size = number(block, kSizeField, kSizeFieldLen);
            if (!size || *size > static_cast<std::uint64_t>(INT64_MAX / 2)) return kParseBroken;
            const std::int64_t length = static_cast<std::int64_t>(kBlock + (*size + kBlock - 1) / kBlock * kBlock);
            if (!AddWithinMax(ctx, hit, length)) return kParseBroken;
            cursor += length;
            continue;
        }
        if (!isZeroBlock(block) || !AddWithinMax(ctx, hit, kBlock)) return kParseEnd;
        if (hit.ExtraData2 < 2) ++hit.ExtraData2;  // only "two or more" matters
        cursor += kBlock;
        if (hit.ExtraData2 >= 2 && hit.Size % kRecordBytes == 0) return kParseEnd;
    }
    return kParseMore;
}

void TarAtEnd(ScanContext&, TFoundFile& hit) {
    // The end blocks were seen: the archive is whole, only its padding ran past the scan.
    if (!(hit.ExtraData1 == kEndBlocks && hit.ExtraData2 >= 2)) hit.Size = kUnknownSize;
}

}  // namespace brenvale::raw::formats
