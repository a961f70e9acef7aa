#pragma once
// Conversions between the UTF-16 of on-disk names and the UTF-8 used everywhere in memory.

#include <string>
#include <string_view>

namespace brenvale::storage {

// Unpaired surrogates become U+FFFD, so any on-disk name converts.
std::string Utf16ToUtf8(std::u16string_view text);
// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// ASCII case mapping, byte by byte: every other byte, UTF-8 sequences included, stays as it is.
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace brenvale::storage
