// Mail stores: Outlook personal folders and Outlook Express folders (lengths in their headers),
// Windows address books (a size field two kilobytes in) and mbox files (known by the sender
// address on their first line; no length).

#include <cstring>
#include <string_view>

#include "raw/formats/formats.h"
#include "raw/formats/text.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

using storage::le16;
using storage::le32;
using storage::le64;

// Personal folders: the header's data version says whether its offsets are 32 or 64 bits
// wide, and so where the file size sits.
constexpr std::size_t kPstAnsiFileSize = 168;     // 32-bit
constexpr std::size_t kPstUnicodeFileSize = 184;  // 64-bit
// The first allocation map page lies at 0x4400; no store ends before the page after it.
constexpr std::uint64_t kPstSmallest = 0x4400 + 512;
constexpr std::uint64_t kPstLargest = std::uint64_t{1} << 42;

constexpr std::uint32_t kDbxMagic = 0xFE12ADCF;
constexpr std::uint32_t kDbxJmf6 = 0x36464D4A;
constexpr std::size_t kDbxFileSize = 124;
constexpr std::uint32_t kDbxSmallest = 512;

constexpr std::uint32_t kWabMagic1 = 0x8DCBCB9C;
constexpr std::uint32_t kWabMagic2 = 0x11D27513;
constexpr std::int32_t kWabSizeField = 2216;
constexpr std::int64_t kWabSizeExtra = 204800;

constexpr std::size_t kMboxAddressWindow = 101;

bool atomChar(unsigned char c) {
    if (c <= 32 || c == 127) return false;
    return std::string_view("\"(),./:;<>@[\\]").find(static_cast<char>(c)) == std::string_view::npos;
}
bool letter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool digit(unsigned char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool MailAddressValid(std::string_view text) {
    enum State { kWordStart, kAtom, kQuoted, kQuotedEscape, kAfterQuoted, kLabelStart, kLabel, kAfterHyphen };
    State st = kWordStart;
    int labels = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (st) {
            case kWordStart:
                if (c == '"') {
                    st = kQuoted;
                } else if (atomChar(c)) {
                    st = kAtom;
                } else {
                    return false;
                }
                break;
            case kAtom:
                if (c == '.') {
                    st = kWordStart;
                } else if (c == '@') {
                    st = kLabelStart;
                } else if (!atomChar(c)) {
                    return false;
                }
                break;
            case kQuoted:
                if (c == '\\') {
                    st = kQuotedEscape;
                } else if (c == '"') {
                    st = kAfterQuoted;
                } else if (c == '\r') {
                    return false;
                }
                break;
            case kQuotedEscape: st = kQuoted; break;
            case kAfterQuoted:
                if (c == '.') {
                    st = kWordStart;
                } else if (c == '@') {
                    st = kLabelStart;
                } else {
                    return false;
                }
                break;
            case kLabelStart:
                if (!letter(c)) return false;
                ++labels;
                st = kLabel;
                break;
            case kLabel:
                if (c == '.') {
                    st = kLabelStart;
                } else if (c == '-') {
                    st = kAfterHyphen;
                } else if (!letter(c) && !digit(c)) {
                    return false;
                }
                break;
            case kAfterHyphen:
                if (!letter(c) && !digit(c)) return false;
                st = kLabel;
                break;
        }
    }
    return st == kLabel && labels >= 2;
}

bool TestPst(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 12 || std::memcmp(s.data(), "!BDN", 4) != 0) return false;
    const std::uint16_t client = le16(s, 8);
    if (client != 0x4D53 && client != 0x4F53 && client != 0x4142) return false;  // "SM", "SO", "AB"
    const std::uint16_t version = le16(s, 10);
    std::uint64_t eof = 0;
    if (version == 14 || version == 15) {
        if (!storage::fits(s, kPstAnsiFileSize, 4)) return false;
        eof = le32(s, kPstAnsiFileSize);
    } else if (version == 21 || version == 23 || version == 36) {
        if (!storage::fits(s, kPstUnicodeFileSize, 8)) return false;
        eof = le64(s, kPstUnicodeFileSize);
    } else {
        return false;
    }
    if (eof < kPstSmallest || eof > kPstLargest) return false;
    hit = MakeHit(3, 0, "pst");
    hit.Size = static_cast<std::int64_t>(eof);
    return true;
}

bool TestDbx(ScanContext&, Bytes s, TFoundFile& hit) {
    if (!storage::fits(s, kDbxFileSize, 4)) return false;
    const std::uint32_t magic = le32(s, 0);
    if (magic != kDbxMagic && magic != kDbxJmf6) return false;
    const std::uint32_t size = le32(s, kDbxFileSize);
    if (size < kDbxSmallest) return false;
    hit = MakeHit(3, 2, "dbx");
    hit.Size = size;
    return true;
}

bool TestWab(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 8 || le32(s, 0) != kWabMagic1 || le32(s, 4) != kWabMagic2) return false;
    hit = MakeHit(3, 3, "wab");
    hit.ParsePoint = kWabSizeField;
    return true;
}

int ParseWab(ScanContext&, Bytes data, TFoundFile& hit) {
    // `ParsePoint`: where the size field lies from data[0]; `Size` counts the bytes passed on
    // the way, so a later batch hands the walk the bytes from there on.
    if (hit.ParsePoint < 0 || hit.Size < 0) return kParseBroken;
    const auto count = static_cast<std::int64_t>(data.size());
    const std::int64_t at = hit.ParsePoint;
    if (at + 4 > count) {
        // The field lies beyond this data, or is cut by its end: wait at its first byte or at
        // the data's end, whichever comes first.
        const std::int64_t pass = std::min(at, count);
        hit.Size += pass;
        hit.ParsePoint = static_cast<std::int32_t>(at - pass);
        return kParseMore;
    }
    hit.Size = std::int64_t{le32(data, static_cast<std::size_t>(at))} + kWabSizeExtra;
    hit.ParsePoint = 0;
    return kParseEnd;
}

bool TestMbox(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 6 || std::memcmp(s.data(), "From ", 5) != 0) return false;
    const std::string_view rest = AsText(s.subspan(5, std::min(s.size() - 5, kMboxAddressWindow)));
    const auto space = rest.find(' ');
    if (space == std::string_view::npos || !MailAddressValid(rest.substr(0, space))) return false;
    hit = MakeHit(3, 4, "mbox");
    hit.Size = kUnknownSize;
    return true;
}

}  // namespace brenvale::raw::formats
