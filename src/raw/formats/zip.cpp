// ZIP archives and the formats stored as ZIP (jar, docx, xlsx, pptx): a walk over the local
// headers with their data, the central directory and its end record, which ends the file.
//
// A member written as a stream (flag bit 3) may give its compressed size as 0 in the local
// header; its length is only in the data descriptor after the data. Such a member is measured
// by finding that descriptor: the first place after the data start where a descriptor
// ("PK" 7 8 with the sizes) or the next record's signature sits at exactly the distance the
// descriptor's compressed size gives. Comparing the size with the distance is what keeps a
// "PK" inside the compressed data from being taken for the end.

#include <algorithm>
#include <cstring>

#include "raw/formats/formats.h"
#include "raw/formats/text.h"
#include "raw/formats/walk.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

using storage::le16;
using storage::le32;
using storage::le64;

constexpr std::uint32_t kLocalHeader = 0x04034B50;
constexpr std::uint32_t kCentralHeader = 0x02014B50;
constexpr std::uint32_t kDigitalSignature = 0x05054B50;
constexpr std::uint32_t kEndOfCentralDir = 0x06054B50;
constexpr std::uint32_t kZip64EndOfCentralDir = 0x06064B50;
constexpr std::uint32_t kZip64Locator = 0x07064B50;
constexpr std::uint32_t kArchiveExtraData = 0x08064B50;
constexpr std::uint32_t kDataDescriptor = 0x08074B50;

constexpr std::uint16_t kStreamedFlag = 0x0008;
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFF;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::size_t kMaxListedName = 99;

// What the walk is doing between records (`ExtraData1`).
enum ZipMode : std::int32_t {
    kRecords = 0,          // at a record
    kSeekingDescriptor = 1,  // in a streamed member's data; `ParsePoint` is where the data began
    kDescriptorNext = 2,   // a descriptor follows; `ExtraData2` is the member's compressed size
};

// Bytes kept before the next place to examine when a descriptor search stops for want of data,
// so that the look back from a signature to the sizes before it stays inside the next data.
constexpr std::int64_t kSearchLookBack = 24;

bool isRecordSignature(std::uint32_t sig) {
    return sig == kLocalHeader || sig == kCentralHeader || sig == kEndOfCentralDir || sig == kDigitalSignature ||
           sig == kZip64EndOfCentralDir || sig == kArchiveExtraData;
}

// The compressed size a ZIP64 extra field gives, when the header's own field says 0xFFFFFFFF.
std::optional<std::uint64_t> zip64CompressedSize(Bytes extra, bool sizeToo) {
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const std::uint16_t id = le16(extra, at);
        const std::uint16_t len = le16(extra, at + 2);
        if (!storage::fits(extra, at + 4, len)) return std::nullopt;
        if (id == kZip64ExtraId) {
            const std::size_t off = at + 4 + (sizeToo ? 8 : 0);
            if (!storage::fits(extra, off, 8) || off + 8 > at + 4 + len) return std::nullopt;
            return le64(extra, off);
        }
        at += 4 + std::size_t{len};
    }
    return std::nullopt;
}

void noteName(ScanContext& ctx, TFoundFile& hit, Bytes header) {
    const std::uint16_t nameLen = le16(header, 26);
    if (nameLen < 1 || nameLen > kMaxListedName || !storage::fits(header, 30, nameLen)) return;
    // Made with the first name: most false starts never get that far.
    if (hit.Info == 0) hit.Info = ctx.Side.NewArchiveInfo();
    TArchiveFileInfo* info = ctx.Side.Archive(hit.Info);
    if (!info) return;
    const auto name = Trimmed({reinterpret_cast<const char*>(header.data()) + 30, nameLen});
    if (!name.empty()) info->AddName(name);
}

struct Step {
    Record record;
    ZipMode next = kRecords;
};

// The record at p (p runs to the end of the data).
Step readRecord(ScanContext& ctx, TFoundFile& hit, Bytes p) {
    if (p.size() < 4) return {{kRecordIncomplete, 0}};
    const std::uint32_t sig = le32(p, 0);
    auto need = [&](std::size_t n) { return p.size() >= n; };
    switch (sig) {
        case kLocalHeader: {
            // The name too: what the archive is called depends on it, and must not depend on
            // where a batch happened to end.
            const std::uint16_t nameLen = le16(p, 26);
            if (!need(30) || (nameLen <= kMaxListedName && !need(30 + std::size_t{nameLen}))) {
                return {{kRecordIncomplete, 0}};
            }
            noteName(ctx, hit, p);
            const std::uint16_t flags = le16(p, 6);
            const std::int64_t head = 30 + std::int64_t{le16(p, 26)} + le16(p, 28);
            std::uint64_t compressed = le32(p, 18);
            if (compressed == kZip64Marker) {
                if (!need(static_cast<std::size_t>(head))) return {{kRecordIncomplete, 0}};
                const auto big = zip64CompressedSize(p.subspan(30 + std::size_t{le16(p, 26)}, le16(p, 28)),
                                                     le32(p, 22) == kZip64Marker);
                if (!big || *big > static_cast<std::uint64_t>(INT64_MAX / 2)) return {{kRecordInvalid, 0}};
                compressed = *big;
            }
            if (flags & kStreamedFlag) {
                if (compressed == 0) return {{kRecordNext, head}, kSeekingDescriptor};
                hit.ExtraData2 = static_cast<std::int32_t>(static_cast<std::uint32_t>(compressed));
                return {{kRecordNext, head + static_cast<std::int64_t>(compressed)}, kDescriptorNext};
            }
            return {{kRecordNext, head + static_cast<std::int64_t>(compressed)}};
        }
        case kCentralHeader:
            if (!need(46)) return {{kRecordIncomplete, 0}};
            return {{kRecordNext, 46 + std::int64_t{le16(p, 28)} + le16(p, 30) + le16(p, 32)}};
        case kDigitalSignature:
            if (!need(6)) return {{kRecordIncomplete, 0}};
            return {{kRecordNext, 6 + std::int64_t{le16(p, 4)}}};
        case kEndOfCentralDir:
            if (!need(22)) return {{kRecordIncomplete, 0}};
            return {{kRecordLast, 22 + std::int64_t{le16(p, 20)}}};
        case kZip64EndOfCentralDir: {
            if (!need(12)) return {{kRecordIncomplete, 0}};
            const std::uint64_t rest = le64(p, 4);
            if (rest > static_cast<std::uint64_t>(INT64_MAX / 2)) return {{kRecordInvalid, 0}};
            return {{kRecordNext, 12 + static_cast<std::int64_t>(rest)}};
        }
        case kZip64Locator:
            return {{kRecordNext, 20}};
        case kArchiveExtraData:
            if (!need(8)) return {{kRecordIncomplete, 0}};
            return {{kRecordNext, 8 + std::int64_t{le32(p, 4)}}};
        default:
            return {{kRecordInvalid, 0}};
    }
}

// The descriptor after a member whose compressed size the header gave: 16 bytes with its
// signature (24 for ZIP64 sizes), 12 without.
Record readDescriptor(Bytes p, std::uint32_t compressed) {
    if (p.size() < 28) return {kRecordIncomplete, 0};
    if (le32(p, 0) != kDataDescriptor) return {kRecordNext, 12};
    if (le32(p, 8) == compressed && isRecordSignature(le32(p, 16))) return {kRecordNext, 16};
    if (isRecordSignature(le32(p, 24))) return {kRecordNext, 24};
    return {kRecordNext, 16};
}

struct SearchResult {
    bool found = false;
    std::int64_t end = 0;       // data index just past the descriptor
    std::int64_t examined = 0;  // data index of the first place not examined
};

// Looks for the end of a streamed member in data[from..). `dataStart` is the data index where
// the member's data begins (it may lie before data[0]: negative).
SearchResult seekDescriptor(Bytes data, std::int64_t from, std::int64_t dataStart) {
    const auto count = static_cast<std::int64_t>(data.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    std::int64_t i = from;
    while (i + 4 <= count) {
        const void* hitP = std::memchr(bytes + i, 'P', static_cast<std::size_t>(count - 3 - i));
        if (!hitP) {
            i = count - 3;
            break;
        }
        i = static_cast<const unsigned char*>(hitP) - bytes;
        if (bytes[i + 1] != 'K') {
            ++i;
            continue;
        }
        const std::uint32_t sig = le32(data, static_cast<std::size_t>(i));
        const std::int64_t distance = i - dataStart;  // bytes of data before this place
        if (sig == kDataDescriptor) {
            // 32- or 64-bit sizes: the low words agree either way, so the record that follows
            // tells them apart.
            if (i + 28 > count) break;
            const auto at = static_cast<std::size_t>(i);
            const bool small = le32(data, at + 8) == static_cast<std::uint64_t>(distance);
            const bool large = le64(data, at + 8) == static_cast<std::uint64_t>(distance);
            if (small && isRecordSignature(le32(data, at + 16))) return {true, i + 16, i};
            if (large && isRecordSignature(le32(data, at + 24))) return {true, i + 24, i};
            if (small) return {true, i + 16, i};
        } else if (isRecordSignature(sig)) {
            if (i >= 8 && distance >= 12 &&
                le32(data, static_cast<std::size_t>(i - 8)) == static_cast<std::uint64_t>(distance - 12))
                return {true, i, i};
            if (i >= 16 && distance >= 20 &&
                le64(data, static_cast<std::size_t>(i - 16)) == static_cast<std::uint64_t>(distance - 20))
                return {true, i, i};
        }
        ++i;
    }
    return {false, 0, std::min(i, count)};
}

void classify(ScanContext& ctx, TFoundFile& hit) {
    const TArchiveFileInfo* info = ctx.Side.Archive(hit.Info);
    if (!info) return;
    // A Proteus project is known by its two members, whichever test made the hit.
    if (info->ProteusProject == TArchiveFileInfo::kProteusBoth) {
        hit.MajorType = 5;
        hit.MinorType = 10;
        hit.SetExt("pdsprj");
    } else if (info->MetaInf) {
        hit.SetExt("jar");
    } else if (info->FirstIsContentTypes) {
        auto become = [&](std::uint16_t minor, std::string_view ext) {
            hit.MajorType = 1;
            hit.MinorType = minor;
            hit.SetExt(ext);
        };
        if (info->WordDocument) {
            become(8, "docx");
        } else if (info->ExcelWorkbook) {
            become(9, "xlsx");
        } else if (info->PowerPointPresentation) {
            become(10, "pptx");
        }
    }
}

int walk(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    RepeatGuard guard;
    const auto count = static_cast<std::int64_t>(data.size());
    const std::int64_t base = hit.Size;  // hit offset of data[0]
    std::int64_t cursor = 0;
    while (cursor < count) {
        if (!guard.Step(cursor)) return kParseBroken;
        const Bytes p = data.subspan(static_cast<std::size_t>(cursor));
        if (hit.ExtraData1 == kSeekingDescriptor) {
            // The data start lies at or before the bytes not accounted for yet.
            if (hit.ParsePoint < 0 || hit.ParsePoint > hit.Size) return kParseBroken;
            const std::int64_t dataStart = hit.ParsePoint - base;
            // Fresh at the data start, or resumed kSearchLookBack bytes before the first place
            // not examined yet.
            const std::int64_t from = hit.Size == hit.ParsePoint ? cursor : cursor + kSearchLookBack;
            const SearchResult r = seekDescriptor(data, from, dataStart);
            if (!r.found) {
                const std::int64_t keep = std::max(cursor, r.examined - kSearchLookBack);
                if (!AddWithinMax(ctx, hit, keep - cursor)) return kParseBroken;
                return kParseMore;
            }
            if (!AddWithinMax(ctx, hit, r.end - cursor)) return kParseBroken;
            hit.ExtraData1 = kRecords;
            hit.ParsePoint = 0;
            cursor = r.end;
            continue;
        }
        if (hit.ExtraData1 == kDescriptorNext) {
            const Record d = readDescriptor(p, static_cast<std::uint32_t>(hit.ExtraData2));
            if (d.code == kRecordIncomplete) break;
            if (!AddWithinMax(ctx, hit, d.length)) return kParseBroken;
            hit.ExtraData1 = kRecords;
            cursor += d.length;
            continue;
        }
        const Step s = readRecord(ctx, hit, p);
        if (s.record.code == kRecordIncomplete) break;
        if (s.record.code == kRecordInvalid || s.record.length <= 0) return kParseBroken;
        if (!AddWithinMax(ctx, hit, s.record.length)) return kParseBroken;
        if (s.record.code == kRecordLast) return kParseEnd;
        cursor += s.record.length;
        hit.ExtraData1 = s.next;
        if (s.next == kSeekingDescriptor) hit.ParsePoint = static_cast<std::int32_t>(hit.Size);  // below the maximum size
    }
    return kParseMore;
}

}  // namespace

bool TestZip(ScanContext&, Bytes s, TFoundFile& hit) {
    if (le32(s, 0) != kLocalHeader || s.size() < 4) return false;
    hit = MakeHit(0, 1, "zip");
    return true;
}

int ParseZip(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    const int r = walk(ctx, data, hit);
    if (r != kParseMore) classify(ctx, hit);
    return r;
}

void ZipAtEnd(ScanContext& ctx, TFoundFile& hit) {
    hit.Size = kUnknownSize;
    classify(ctx, hit);
}

bool TestProteus(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 64 || le32(s, 0) != kLocalHeader) return false;
    // Both names among the members whose local headers lie in the first 64 KiB (or what the
    // data holds of it). Only the headers are read: a search of the whole window at every
    // sector that starts like a ZIP cost a hundred times the scan on a disk of such sectors.
    const Bytes window = s.first(std::min<std::size_t>(s.size(), 65535 + 11));
    constexpr std::string_view kNeedle = "PK\3\4";
    bool project = false, root = false;
    std::size_t at = 0;
    for (int member = 0; member < 64 && at + 30 <= window.size() && le32(window, at) == kLocalHeader; ++member) {
        const std::size_t nameLength = le16(window, at + 26);
        if (at + 30 + nameLength > window.size()) break;
        const std::string_view name = AsText(window.subspan(at + 30, nameLength));
        project = project || name.find("PROJECT.XML") != std::string_view::npos;
        root = root || name.find("ROOT.DSN") != std::string_view::npos;
        if (project && root) {
            hit = MakeHit(5, 10, "pdsprj");
            return true;
        }
        const std::size_t data = at + 30 + nameLength + le16(window, at + 28);
        const std::uint32_t packed = le32(window, at + 18);
        if ((le16(window, at + 6) & 0x0008) == 0 && packed != 0xFFFFFFFF) {
            at = data + packed;
            continue;
        }
        // Sizes after the data (or in a ZIP64 field): the next header is the next signature.
        if (data >= window.size()) break;
        const std::size_t next = AsText(window).find(kNeedle, data);
        if (next == std::string_view::npos) break;
        at = next;
    }
    return false;
}

int ParseProteus(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    // Walked and sized as the ZIP it is; the member names it holds make it a project again at
    // the end. Named in the text but not among the members, it is the ZIP the ZIP test would
    // have found, wherever a batch happened to cut the text the test looked at.
    if (hit.MajorType == 5) {
        hit.MajorType = 0;
        hit.MinorType = 1;
        hit.SetExt("zip");
    }
    return ParseZip(ctx, data, hit);
}

}  // namespace brenvale::raw::formats
