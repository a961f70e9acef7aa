#include "scan/mid_entry.h"

#include <algorithm>

#include "storage/utf.h"

namespace brenvale::scan {

namespace {

// Code page 437, the OEM code page short names are most often written in: 0x80 to 0xFF.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

std::string oemToUtf8(std::string_view bytes) {
    std::u16string wide;
    wide.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        wide.push_back(b < 0x80 ? char16_t{b} : kCp437High[b - 0x80]);
    }
    return storage::Utf16ToUtf8(wide);
}

// Characters up to the space go at both ends, as the name fields pad with spaces.
std::string_view trim(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
    return s;
}

template <std::size_t N>
std::string trimmedField(const std::array<char, N>& field) {
    std::string_view s(field.data(), N);
    s = s.substr(0, std::min(s.find('\0'), s.size()));
    return oemToUtf8(trim(s));
}

template <class E>
std::string displayName(const E& e, const storage::TArray8& name, const std::array<char, 3>& ext) {
    std::string out = e.LongFileName.empty() ? ShortDisplayName(name, ext) : e.LongFileName;
    if (!out.empty() && out.front() == '?') out.front() = '@';
    return out;
}

}  // namespace

std::u16string_view TrimmedWide(std::u16string_view s) {
    while (!s.empty() && s.front() <= 0x20) s.remove_prefix(1);
    while (!s.empty() && s.back() <= 0x20) s.remove_suffix(1);
    return s;
}

std::string TrimmedShortName(const storage::TArray8& name) { return trimmedField(name); }

std::string TrimmedShortExt(const std::array<char, 3>& ext) { return trimmedField(ext); }

std::string TrimmedLabel(const storage::TArray8& name, const std::array<char, 3>& ext) {
    std::string text(name.data(), name.size());
    text.append(ext.data(), ext.size());
    return oemToUtf8(trim(text));
}

std::string ShortDisplayName(const storage::TArray8& name, const std::array<char, 3>& ext) {
    std::string out = TrimmedShortName(name);
    std::string e = TrimmedShortExt(ext);
    if (!e.empty()) out += "." + e;
    return out;
}

std::string EntryDisplayName(const TMidEntry& e) { return displayName(e, e.FDTEntry.filename, e.FDTEntry.fileext); }

std::string EntryDisplayName(const TMidEntry32& e) {
    return displayName(e, e.FDT32Entry.filename, e.FDT32Entry.fileext);
}

}  // namespace brenvale::scan
