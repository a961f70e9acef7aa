// CAD files that end with a closing text: CATIA V5 parts ("CB__END"), STEP ("END-ISO-10303-21;"
// and a line feed), text STL ("endsolid" and the rest of its line) and DXF (a line "EOF"). The
// scan hands a pending hit a batch only when the closing text is in it; the parser takes the
// last occurrence in what it is handed. A binary STL may begin with "solid" too: its triangle
// count gives its length.

#include <cstring>
#include <string_view>

#include "raw/formats/formats.h"
#include "raw/formats/text.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr std::string_view kCatiaStart = "V5_CFV2";
constexpr std::string_view kCatiaEnd = "CB__END";
constexpr std::string_view kStepStart = "ISO-10303-21;";
constexpr std::string_view kStepEnd = "END-ISO-10303-21;\n";
constexpr std::string_view kStlEnd = "endsolid";
constexpr std::string_view kDxfBinaryStart = "AutoCAD";
constexpr std::size_t kStlHeader = 84;
constexpr std::int64_t kStlTriangle = 50;

// `ExtraData1` of the search formats: set once the first call has been made (that call does
// not look at offset 0, where the file's own start is).
constexpr std::int32_t kSearched = 1;
// DXF: `ExtraData1` 1 marks a binary file; `ExtraData2` the first call.
constexpr std::int32_t kBinaryDxf = 1;
// STL: `ExtraData1` values.
constexpr std::int32_t kStlUndecided = 0;
constexpr std::int32_t kStlText = 1;

// The last place of `what` in d at or after `from`, or npos.
std::size_t lastOf(std::string_view d, std::string_view what, std::size_t from) {
    const std::size_t p = d.rfind(what);
    return p != std::string_view::npos && p >= from ? p : std::string_view::npos;
}

std::size_t firstCallSkip(std::int32_t& flag) {
    const std::size_t from = flag ? 0 : 1;
    flag = kSearched;
    return from;
}

int searched(TFoundFile& hit, std::size_t count) {
    hit.Size += static_cast<std::int64_t>(count);
    return kParseMore;
}

}  // namespace

bool TestCatia(ScanContext&, Bytes s, TFoundFile& hit) {
    if (!AsText(s).starts_with(kCatiaStart)) return false;
    hit = MakeHit(5, 2, "CATPart");
    return true;
}

int ParseCatia(ScanContext&, Bytes data, TFoundFile& hit) {
    if (hit.Size < 0) return kParseBroken;
    if (data.size() <= kCatiaEnd.size() - 1) return kParseMore;
    const std::size_t from = firstCallSkip(hit.ExtraData1);
    const std::size_t p = lastOf(AsText(data), kCatiaEnd, from);
    if (p == std::string_view::npos) return searched(hit, data.size());
    hit.Size += static_cast<std::int64_t>(p + kCatiaEnd.size());
    return kParseEnd;
}

bool TestStep(ScanContext&, Bytes s, TFoundFile& hit) {
    if (!AsText(s).starts_with(kStepStart)) return false;
    hit = MakeHit(5, 5, "stp");
    return true;
}

int ParseStep(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    if (hit.Size < 0 || hit.Size >= ctx.MaxSize(hit)) {
        hit.Size = kUnknownSize;
        return kParseEnd;
    }
    const std::size_t from = firstCallSkip(hit.ExtraData1);
    const std::size_t p = lastOf(AsText(data), kStepEnd, from);
    if (p == std::string_view::npos) return searched(hit, data.size());
    hit.Size += static_cast<std::int64_t>(p + kStepEnd.size());
    return kParseEnd;
}

bool TestStl(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < kStlHeader) return false;
    static constexpr std::string_view kSolid = "solid";
    for (std::size_t i = 0; i < kSolid.size(); ++i) {
        const auto c = static_cast<char>(std::to_integer<unsigned char>(s[i]) | 0x20);
        if (c != kSolid[i]) return false;
    }
    hit = MakeHit(5, 6, "stl");
    return true;
}

int ParseStl(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    const std::int64_t max = ctx.MaxSize(hit);
    if (hit.Size < 0 || hit.Size >= max) {
        hit.Size = kUnknownSize;
        return kParseEnd;
    }
    std::size_t from = 0;
    if ((hit.ExtraData1 & ~kWalkEveryBatch) == kStlUndecided) {
        // A binary file whose 80-byte header happens to begin with "solid": its triangle count
        // gives the length, which no text file's bytes at 80 would.
        if (data.size() >= kStlHeader) {
            const std::int64_t triangles = storage::le32(data, 80);
            const std::int64_t length = static_cast<std::int64_t>(kStlHeader) + kStlTriangle * triangles;
            if (triangles != 0 && length <= max) {
                hit.Size = length;
                return kParseEnd;
            }
        }
        hit.ExtraData1 = kStlText;
        from = 1;
    }
    const std::string_view d = AsText(data);
    const std::size_t p = lastOf(d, kStlEnd, from);
    if (p == std::string_view::npos) {
        if (hit.ExtraData1 & kWalkEveryBatch) {
            // The last "endsolid" was in earlier data: its line ends here, or later.
            const std::size_t lf = d.find('\n');
            if (lf == std::string_view::npos) return searched(hit, data.size());
            hit.Size += static_cast<std::int64_t>(lf + 1);
            return kParseEnd;
        }
        return searched(hit, data.size());
    }
    const std::size_t lf = d.find('\n', p + kStlEnd.size());
    if (lf == std::string_view::npos) {
        // The line goes on past this data: the next bytes end it (or, at the end of the disk,
        // the data did).
        hit.ExtraData1 = kStlText | kWalkEveryBatch;
        return searched(hit, data.size());
    }
    hit.ExtraData1 = kStlText;
    hit.Size += static_cast<std::int64_t>(lf + 1);
    return kParseEnd;
}

void StlAtEnd(ScanContext&, TFoundFile& hit) {
    // The disk ended on the line of the last "endsolid": the file ends there too.
    if (!(hit.ExtraData1 & kWalkEveryBatch)) hit.Size = kUnknownSize;
}

bool DxfHead(Bytes head) {
    const std::string_view d = AsText(head);
    if (d.size() <= 8 || (d[0] != ' ' && d[0] != '0')) return false;
    std::size_t i = d.find_first_not_of(' ');
    if (i == std::string_view::npos || d[i] != '0') return false;
    ++i;
    if (i < d.size() && d[i] == '\r') ++i;
    if (i >= d.size() || d[i] != '\n') return false;
    return d.substr(i + 1).starts_with("SECTION");
}

bool TestDxf(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 24) return false;
    if (AsText(s).starts_with(kDxfBinaryStart)) {
        hit = MakeHit(5, 8, "dxf");
        hit.Size = kUnknownSize;
        hit.ExtraData1 = kBinaryDxf;
        return true;
    }
    if (!DxfHead(s)) return false;
    hit = MakeHit(5, 8, "dxf");
    return true;
}

int ParseDxf(ScanContext&, Bytes data, TFoundFile& hit) {
    if (hit.ExtraData1 == kBinaryDxf || hit.Size < 0) {
        hit.Size = kUnknownSize;
        return kParseEnd;
    }
    hit.ExtraData2 = kSearched;
    const std::size_t p = DxfLastEof(data);
    if (p == 0) return searched(hit, data.size());
    hit.Size += static_cast<std::int64_t>(p + 3);
    return kParseEnd;
}

std::size_t DxfLastEof(Bytes data) {
    const std::string_view d = AsText(data);
    const std::size_t p = d.rfind("\nEOF");
    return p == std::string_view::npos ? 0 : p + 1;
}

}  // namespace brenvale::raw::formats
