// JPEG: the marker segments up to the start of scan, then the entropy-coded data up to the end
// marker. Progressive files have several scans, with tables and scan headers between them.
//
// Inside the coded data a 0xFF byte is always followed by 0x00 (a stuffed byte), a restart
// marker (D0..D7, in turn), a fill byte or a marker that ends the scan. Anything else means the
// bytes are no longer this picture's: a fragmented file continues elsewhere, or was
// overwritten. So does a sector that begins like another file. The length then ends at the
// start of the sector where the break shows, instead of running on to some later end marker
// through another file's bytes: what follows a fragment begins on a sector boundary, so the
// bytes from there to the break are not the picture's either.

#include <algorithm>
#include <cstring>
#include <string_view>

#include "raw/formats/formats.h"
#include "raw/formats/walk.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr unsigned char kSoi[] = {0xFF, 0xD8, 0xFF};

// Starts of files that the coded data of a picture does not run into.
constexpr std::string_view kForeignStarts[] = {
    {"\xFF\xD8\xFF", 3}, {"\x89PNG", 4}, {"GIF8", 4}, {"PK\x03\x04", 4}, {"Rar!", 4}, {"%PDF", 4},
    {"\x1F\x8B\x08", 3}, {"BZh", 3}, {"MSCF", 4}, {"8BPS", 4}, {"RIFF", 4}, {"II*\0", 4}, {"MM\0*", 4},
    {"\xD0\xCF\x11\xE0", 4}, {"7z\xBC\xAF", 4}, {"ftyp", 4},
};

bool startsLikeAFile(const unsigned char* p, std::size_t n) {
    for (const auto& start : kForeignStarts) {
        // ISO media files carry their mark at offset 4.
        const std::size_t at = start == "ftyp" ? 4 : 0;
        if (n >= at + start.size() && std::memcmp(p + at, start.data(), start.size()) == 0) return true;
    }
    return false;
}

// `ExtraData1`: where the walk is.
enum JpegPhase : std::int32_t { kSegments = 0, kScanData = 1 };

bool isRestartOrSoi(unsigned m) {
    return m >= 0xD0 && m <= 0xD8;
}

struct Scan {
    enum Kind { NeedMore, End, Marker, Break } kind;
    std::int64_t at;  // End: just past FF D9; Marker / Break: where it is; NeedMore: bytes accounted
};

// Coded data from data[from] on. `hitOffset` is the hit offset of data[0], to know where
// sectors begin; `restart` the last restart marker met (-1: none yet), updated.
Scan scanCoded(Bytes data, std::int64_t from, std::int64_t hitOffset, std::uint32_t bps, std::int32_t& restart) {
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    const auto n = static_cast<std::int64_t>(data.size());
    std::int64_t i = from;
    // The data handed over may itself begin at a sector start (the next batch's first byte).
    if (i < n && (hitOffset + i) % bps == 0 && startsLikeAFile(b + i, static_cast<std::size_t>(n - i))) {
        return {Scan::Break, i};
    }
    while (i < n) {
        // Stop at the next sector start: another picture may begin there.
        const std::int64_t sectorEnd = std::min(n, (hitOffset + i) / bps * bps + bps - hitOffset);
        const void* ff = std::memchr(b + i, 0xFF, static_cast<std::size_t>(sectorEnd - i));
        if (!ff) {
            i = sectorEnd;
            if (i < n && startsLikeAFile(b + i, static_cast<std::size_t>(n - i))) return {Scan::Break, i};
            continue;
        }
        i = static_cast<const unsigned char*>(ff) - b;
        if (i + 1 >= n) return {Scan::NeedMore, i};  // the FF's partner is in the next data
        const unsigned m = b[i + 1];
        if (m >= 0xD0 && m <= 0xD7) {
            // Restart markers count D0 to D7 and round again; one out of turn is another
            // picture's coded data.
            const auto number = static_cast<std::int32_t>(m - 0xD0);
            if (restart >= 0 && restart < 8 && number != (restart + 1) % 8) return {Scan::Break, i};
            restart = number;
            i += 2;
        } else if (m == 0x00 || m == 0xFF) {
            i += m == 0xFF ? 1 : 2;
        } else if (m == 0xD9) {
            return {Scan::End, i + 2};
        } else if (m >= 0xC0 && m != 0xD8) {
            return {Scan::Marker, i};
        } else {
            return {Scan::Break, i};
        }
        if (i < n && (hitOffset + i) % bps == 0 && startsLikeAFile(b + i, static_cast<std::size_t>(n - i))) {
            return {Scan::Break, i};
        }
    }
    return {Scan::NeedMore, n};
}

}  // namespace

bool TestJpeg(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 3 || std::memcmp(s.data(), kSoi, 3) != 0) return false;
    hit = MakeHit(2, 2, "jpg");
    return true;
}

int ParseJpeg(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    RepeatGuard guard;
    const auto n = static_cast<std::int64_t>(data.size());
    const std::int64_t base = hit.Size;
    std::int64_t cursor = 0;
    while (cursor < n) {
        if (!guard.Step(cursor)) return kParseBroken;
        if (hit.ExtraData1 == kScanData) {
            const Scan s = scanCoded(data, cursor, base, ctx.BytesPerSector, hit.ExtraData2);
            if (s.kind == Scan::NeedMore) {
                // Accounted up to the last byte examined; a lone FF waits for its partner.
                if (!AddWithinMax(ctx, hit, s.at - cursor)) return kParseBroken;
                return kParseMore;
            }
            if (s.kind == Scan::Break) {
                // Cut at the start of the sector that shows the break (see above), but never
                // before this scan's coded data began (`ParsePoint`); that may take back bytes
                // accounted in an earlier batch, so the length does not depend on where a batch
                // ended.
                const std::int64_t breakAt = base + s.at;
                hit.Size = std::max<std::int64_t>(breakAt / ctx.BytesPerSector * ctx.BytesPerSector, hit.ParsePoint);
                return kParseBroken;
            }
            const bool ok = AddWithinMax(ctx, hit, s.at - cursor);
            if (s.kind == Scan::End) return ok ? kParseEnd : kParseBroken;
            if (!ok) return kParseBroken;
            hit.ExtraData1 = kSegments;  // tables and the next scan header of a progressive file
            cursor = s.at;
            continue;
        }
        const Bytes p = data.subspan(static_cast<std::size_t>(cursor));
        if (p.size() < 2) break;
        if (storage::u8(p, 0) != 0xFF) return kParseBroken;
        const unsigned m = storage::u8(p, 1);
        std::int64_t length = 2;
        if (m == 0xD9) return AddWithinMax(ctx, hit, 2) ? kParseEnd : kParseBroken;
        if (m != 0x01 && !isRestartOrSoi(m) && m != 0xFF) {
            if (p.size() < 4) break;
            const std::uint16_t segment = storage::be16(p, 2);
            if (segment < 2) return kParseBroken;
            length = 2 + std::int64_t{segment};
            // Start of frame (C0..CF but for the table markers C4, C8, CC): the picture's size.
            if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC && p.size() >= 9) {
                hit.SetPixels(storage::be16(p, 7), storage::be16(p, 5));
            }
            if (m == 0xDA) {
                hit.ExtraData1 = kScanData;
                hit.ExtraData2 = -1;  // restart markers count afresh in each scan
            }
        } else if (m == 0xFF) {
            length = 1;  // a fill byte before a marker
        }
        if (!AddWithinMax(ctx, hit, length)) return kParseBroken;
        if (m == 0xDA) hit.ParsePoint = static_cast<std::int32_t>(hit.Size);  // where the coded data begins
        cursor += length;
    }
    return kParseMore;
}

}  // namespace brenvale::raw::formats
