// Documents: PDF (to the "%%EOF" whose trailer points at a cross-reference table, and past the
// incremental updates that follow it), RTF (braces counted to the last one), WordPerfect and
// compiled HTML Help (lengths in their headers).

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "raw/formats/formats.h"
#include "raw/formats/text.h"
#include "raw/formats/walk.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr std::string_view kPdfEnd = "%%EOF";
constexpr std::size_t kStartxrefLookBack = 30;

// `ExtraData1` of a PDF hit: looking for its end, or an end was found and the bytes after it
// decide whether an incremental update follows.
enum PdfPhase : std::int32_t { kSearching = 0, kDeciding = kWalkEveryBatch };

// The cross-reference offset the trailer before a "%%EOF" at `at` gives: the line after a line
// "startxref" within the 30 bytes before; empty when there is none.
std::string_view startxref(std::string_view d, std::size_t at) {
    const std::size_t from = at > kStartxrefLookBack ? at - kStartxrefLookBack : 0;
    const std::string_view before = d.substr(from, at - from);
    std::size_t line = 0;
    bool afterStartxref = false;
    while (line <= before.size()) {
        const std::size_t end = before.find_first_of("\r\n", line);
        const std::string_view l = Trimmed(before.substr(line, end == std::string_view::npos ? std::string_view::npos : end - line));
        if (!l.empty()) {
            if (afterStartxref) return l.substr(0, 30);
            afterStartxref = l == "startxref";
        }
        if (end == std::string_view::npos) break;
        line = end + 1;
    }
    return {};
}

// Bytes of the line end right after position `at`.
std::size_t lineEnd(std::string_view d, std::size_t at) {
    if (at < d.size() && d[at] == '\r') return at + 1 < d.size() && d[at + 1] == '\n' ? 2 : 1;
    return at < d.size() && d[at] == '\n' ? 1 : 0;
}

// After an end, blank bytes and then what an incremental update begins with: an object
// number, "xref", "trailer" or a comment. Undecided (nullopt) while only blanks are in view.
std::optional<bool> updateFollows(std::string_view d) {
    const auto first = d.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return std::nullopt;
    const char c = d[first];
    if ((c >= '0' && c <= '9') || c == '%') return true;
    const std::string_view rest = d.substr(first);
    for (std::string_view keyword : {std::string_view("xref"), std::string_view("trailer")}) {
        if (rest.starts_with(keyword)) return true;
        // Cut by the end of the data: the next data decides.
        if (rest.size() < keyword.size() && keyword.starts_with(rest)) return std::nullopt;
    }
    return false;
}

}  // namespace

bool TestPdf(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 5 || std::memcmp(s.data(), "%PDF-", 5) != 0) return false;
    hit = MakeHit(1, 3, "pdf");
    return true;
}

int ParsePdf(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    std::string_view d = AsText(data);
    if (hit.ExtraData1 == kDeciding) {
        // The line end after the marker, when the last data stopped in it (`ExtraData2`: 1
        // nothing of it seen, 2 a carriage return seen).
        std::size_t eol = 0;
        if (hit.ExtraData2 == 1) eol = lineEnd(d, 0);
        if (hit.ExtraData2 == 2 && !d.empty() && d[0] == '\n') eol = 1;
        if (!d.empty()) hit.ExtraData2 = 0;
        if (eol && !AddWithinMax(ctx, hit, static_cast<std::int64_t>(eol))) return kParseEnd;
        d.remove_prefix(eol);
        data = data.subspan(eol);
        const auto follows = updateFollows(d);
        if (!follows) return kParseMore;  // only blanks so far: the next bytes decide
        if (!*follows) return kParseEnd;
        hit.ExtraData1 = kSearching;
    }
    for (std::size_t i = d.find(kPdfEnd); i != std::string_view::npos; i = d.find(kPdfEnd, i + 1)) {
        const std::string_view offset = startxref(d, i);
        // A trailer that points nowhere ("0": the first of a linearized file) is no end.
        if (offset.empty() || offset == "0") continue;
        const std::size_t end = i + kPdfEnd.size();
        const std::size_t withEol = end + lineEnd(d, end);
        const auto follows = updateFollows(d.substr(withEol));
        if (follows && *follows) continue;  // an incremental update: its own "%%EOF" ends the file
        if (!AddWithinMax(ctx, hit, static_cast<std::int64_t>(withEol))) break;
        if (follows) return kParseEnd;
        hit.ExtraData1 = kDeciding;
        // The data stopped at the marker or inside its line end: the next data may finish it.
        hit.ExtraData2 = end == d.size() ? 1 : (end + 1 == d.size() && d[end] == '\r') ? 2 : 0;
        return kParseMore;
    }
    if (static_cast<std::int64_t>(data.size()) + hit.Size < ctx.MaxSize(hit)) {
        hit.Size += static_cast<std::int64_t>(data.size());
        return kParseMore;
    }
    // Its end did not show within the maximum size: listed with an unknown length.
    hit.Size = kUnknownSize;
    return kParseBroken;
}

bool TestRtf(ScanContext&, Bytes s, TFoundFile& hit) {
    // "{\rtf1", or "{\rtf" and the next control word at once: some writers leave the version
    // out (enscript).
    if (s.size() < 6 || std::memcmp(s.data(), "{\\rtf", 5) != 0) return false;
    if (s[5] != std::byte{'1'} && s[5] != std::byte{'\\'}) return false;
    hit = MakeHit(1, 4, "rtf");
    return true;
}

int ParseRtf(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    // `ExtraData1` counts the opening braces, `ExtraData2` the closing ones; `ParsePoint` is 1
    // while a backslash waits for the byte it escapes (\{ \} \\ are text, not groups).
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (hit.ParsePoint == 1) {
            hit.ParsePoint = 0;
            continue;
        }
        switch (b[i]) {
            case '\\': hit.ParsePoint = 1; continue;
            case '{': ++hit.ExtraData1; continue;
            case '}': ++hit.ExtraData2; break;
            default: continue;
        }
        if (hit.ExtraData2 < hit.ExtraData1) continue;
        // The last brace closed the document; a line end right after it belongs to the file.
        const std::size_t end = i + 1 + lineEnd(AsText(data), i + 1);
        return AddWithinMax(ctx, hit, static_cast<std::int64_t>(end)) ? kParseEnd : kParseBroken;
    }
    if (hit.ExtraData1 > 1 << 30) return kParseBroken;  // no document nests that deep
    if (static_cast<std::int64_t>(data.size()) + hit.Size < ctx.MaxSize(hit)) {
        hit.Size += static_cast<std::int64_t>(data.size());
        return kParseMore;
    }
    hit.Size = kUnknownSize;
    return kParseBroken;
}

bool TestWordPerfect(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 24 || std::memcmp(s.data(), "\xFFWPC", 4) != 0) return false;
    // From version 6 on (major version 2) the header keeps the file's size; before, those
    // bytes hold other things, so such a document is listed without a length.
    const bool sized = storage::u8(s, 10) >= 2;
    const std::uint32_t size = storage::le32(s, 20);
    if (sized && size < 513) return false;
    hit = MakeHit(1, 5, "wpd");
    hit.Size = sized ? std::int64_t{size} : kUnknownSize;
    return true;
}

bool TestChm(ScanContext&, Bytes s, TFoundFile& hit) {
    static constexpr std::array<unsigned char, 16> kSection0Guid = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                                                   0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    static constexpr std::array<unsigned char, 16> kSection1Guid = {0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                                                   0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    if (s.size() < 64 || std::memcmp(s.data(), "ITSF", 4) != 0) return false;
    if (std::memcmp(s.data() + 24, kSection0Guid.data(), 16) != 0 || std::memcmp(s.data() + 40, kSection1Guid.data(), 16) != 0) {
        return false;
    }
    const std::uint64_t section0 = storage::le64(s, 56);
    if (section0 >= 256 || !storage::fits(s, static_cast<std::size_t>(section0) + 8, 4)) return false;
    hit = MakeHit(1, 7, "chm");
    hit.Size = storage::le32(s, static_cast<std::size_t>(section0) + 8);
    return true;
}

}  // namespace brenvale::raw::formats
