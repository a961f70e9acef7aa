// AutoCAD drawings. The header names the release; where the file ends is worked out per
// release family from structures whose place the header (or its fixed layout) gives: a copy
// of the encrypted header at the end (2010 and later), the last system page (2004), the
// encrypted page-map values (2007), the section locators (R13 to 2000). The measure sees only
// the data it is handed; a drawing that reaches past it is measured again at recovery.

#include <array>
#include <cstring>
#include <string_view>

#include "raw/formats/formats.h"
#include "raw/formats/text.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

using storage::be64;
using storage::le32;
using storage::le64;

constexpr std::string_view kVersions = "AC1012 AC1014 AC1015 AC1016 AC1017 AC1018 AC1021 AC1024 AC1027 AC1032 AC1036";
constexpr std::size_t kHeaderCheck = 256;

// 2010 and later: the last 92 bytes of the encrypted header are repeated at the file's end.
constexpr std::size_t kCopyAt = 144;
constexpr std::size_t kCopyLength = 92;
constexpr std::size_t kCopySearchFrom = 236;

// 2004: the last system page, found through the header.
constexpr std::size_t kPagePointer = 48;
constexpr std::uint64_t kFirstPage = 96;
constexpr std::uint32_t kSystemPageLow = 0x4163043B;
constexpr std::uint32_t kSystemPageHigh = 0x4163043F;
constexpr std::int64_t kPageHeader = 32;

// 2007.
constexpr std::int64_t kR2007Least = 8192;
constexpr std::uint64_t kR2007Most = 536870912;  // the most recovery reads of a drawing

// R13 to 2000.
constexpr std::size_t kLocators = 21;
constexpr std::size_t kLocatorSize = 9;
constexpr int kMaxLocators = 10;
constexpr std::uint32_t kFirstSection = 96;

std::int64_t measureCopy(Bytes d, std::size_t searchFrom) {
    if (!storage::fits(d, kCopyAt, kCopyLength)) return 0;
    const Bytes copy = d.subspan(kCopyAt, kCopyLength);
    bool any = false;
    for (const std::byte b : copy) any |= b != std::byte{0};
    if (!any) return 0;
    const std::string_view text = AsText(d);
    const std::size_t p = text.find(AsText(copy), std::max(searchFrom, kCopySearchFrom));
    return p == std::string_view::npos ? 0 : static_cast<std::int64_t>(p + kCopyLength);
}

std::int64_t measureR2004(Bytes d) {
    const std::uint64_t page = le64(d, kPagePointer);
    if (page < kFirstPage || page > d.size() || d.size() - page < 48) return 0;
    const auto p = static_cast<std::size_t>(page);
    const std::uint32_t type = le32(d, p);
    if (type < kSystemPageLow || type > kSystemPageHigh) return 0;
    const std::uint32_t length = le32(d, p + 8);
    if (length == 0) return 0;
    const std::int64_t end = static_cast<std::int64_t>(page) + kPageHeader + length;
    return end <= static_cast<std::int64_t>(d.size()) ? end : 0;
}

std::int64_t measureR2007(Bytes d) {
    const auto count = static_cast<std::int64_t>(d.size());
    if (count < kR2007Least) return 0;
    for (const std::size_t a : {std::size_t{0xD4}, std::size_t{0xDC}, std::size_t{0xD0}}) {
        for (const std::size_t k : {std::size_t{0x98}, std::size_t{0xA0}}) {
            const std::uint64_t v = be64(d, a);
            const std::uint64_t u = be64(d, a + 8);
            const std::uint64_t w = be64(d, k);
            // Unsigned arithmetic wraps by design: a wrong guess lands out of range.
            // The first guess a drawing could end at decides; when it lies past the data the
            // end is not in view (a later guess that happens to fall inside would be noise).
            for (const std::uint64_t guess : {(u ^ w) - v, u ^ (w - v), (v ^ w) - u, v ^ (w - u)}) {
                if (guess <= static_cast<std::uint64_t>(kR2007Least) || guess > kR2007Most) continue;
                return guess < static_cast<std::uint64_t>(count) ? static_cast<std::int64_t>(guess) : 0;
            }
        }
    }
    return 0;
}

std::int64_t measureLocators(Bytes d) {
    std::int64_t end = 0;
    for (int i = 0; i < kMaxLocators; ++i) {
        const std::size_t at = kLocators + static_cast<std::size_t>(i) * kLocatorSize;
        if (!storage::fits(d, at, kLocatorSize) || storage::u8(d, at) == 0) break;
        const std::uint32_t start = le32(d, at + 1);
        const std::uint32_t stop = le32(d, at + 5);
        if (start < kFirstSection || start >= stop) break;
        // A section that runs past the data: the end is not in view, and the sections before
        // it would only give a piece of the drawing.
        if (stop > d.size()) return 0;
        end = std::max<std::int64_t>(end, stop);
    }
    return end;
}

}  // namespace

bool DwgHeaderValid(Bytes d) {
    if (d.size() < kHeaderCheck || std::memcmp(d.data(), "AC10", 4) != 0) return false;
    for (std::size_t i = 6; i < 12; ++i) {
        if (d[i] != std::byte{0}) return false;
    }
    const std::string_view version = AsText(d.first(6));
    if (kVersions.find(version) == std::string_view::npos) return false;
    return le32(d, 13) >= 64;
}

std::int64_t DwgMeasure(Bytes d, std::size_t copySearchFrom) {
    if (!DwgHeaderValid(d)) return 0;
    const std::string_view version = AsText(d.first(6));
    if (version == "AC1024" || version == "AC1027" || version == "AC1032" || version == "AC1036") {
        return measureCopy(d, copySearchFrom);
    }
    if (version == "AC1018") return measureR2004(d);
    if (version == "AC1021") return measureR2007(d);
    return measureLocators(d);
}

bool TestDwg(ScanContext&, Bytes s, TFoundFile& hit) {
    if (!DwgHeaderValid(s)) return false;
    hit = MakeHit(5, 9, "dwg");
    return true;
}

int ParseDwg(ScanContext&, Bytes data, TFoundFile& hit) {
    const std::int64_t end = hit.Size == 0 ? DwgMeasure(data, 0) : 0;
    hit.Size = end > 0 ? end : kUnknownSize;
    return kParseEnd;
}

}  // namespace brenvale::raw::formats
