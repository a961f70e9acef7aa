// RAR 4 archives: a chain of blocks, each with a 7-byte head (CRC, type, flags, size) and, when
// flag bit 15 is set, a 32-bit count of data bytes that follow the head. The end-of-archive
// block ends the file.

#include <algorithm>
#include <cstring>

#include "raw/formats/formats.h"
#include "raw/formats/walk.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr unsigned char kRarMark[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr std::uint8_t kFirstBlockType = 0x72;  // marker block
constexpr std::uint8_t kLastBlockType = 0x7A;   // sub-block
constexpr std::uint8_t kEndBlockType = 0x7B;
constexpr std::uint16_t kLongBlock = 0x8000;     // ADD_SIZE follows the head
constexpr std::size_t kHeadBytes = 7;
constexpr std::size_t kLongHeadBytes = 11;

Record readBlock(const ScanContext&, const TFoundFile&, Bytes p) {
    if (p.size() < 3) return {kRecordIncomplete, 0};
    const std::uint8_t type = storage::u8(p, 2);
    if (type != kEndBlockType && (type < kFirstBlockType || type > kLastBlockType)) return {kRecordInvalid, 0};
    if (p.size() < kHeadBytes) return {kRecordIncomplete, 0};
    const std::uint16_t flags = storage::le16(p, 3);
    const std::uint16_t headSize = storage::le16(p, 5);
    // A head shorter than its own fixed part is not a block; taking it would walk in steps of
    // a few bytes through whatever follows.
    if (headSize < kHeadBytes) return {kRecordInvalid, 0};
    if (type == kEndBlockType) return {kRecordLast, headSize};
    std::int64_t length = headSize;
    if (flags & kLongBlock) {
        if (p.size() < kLongHeadBytes) return {kRecordIncomplete, 0};
        length += storage::le32(p, 7);
    }
    return {kRecordNext, length};
}

}  // namespace

bool TestRar(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < sizeof(kRarMark) || std::memcmp(s.data(), kRarMark, sizeof(kRarMark)) != 0) return false;
    hit = MakeHit(0, 0, "rar");
    return true;
}

int ParseRar(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    return WalkRecords(ctx, data, hit, readBlock);
}

}  // namespace brenvale::raw::formats
