#pragma once
// GUIDs as GPT stores them, and the names of the partition types the program knows.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brenvale::storage {

// 16 bytes in disk order: the first three groups of the text form are stored little-endian,
// the last two byte by byte.
struct Guid {
    std::array<std::uint8_t, 16> bytes{};

    // "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", either case; nullopt for anything else.
    static constexpr std::optional<Guid> parse(std::string_view text);
    // Upper-case text form.
    std::string toString() const;
    bool isZero() const { return bytes == std::array<std::uint8_t, 16>{}; }

    bool operator==(const Guid&) const = default;
};
static_assert(sizeof(Guid) == 16);

// The name of a GPT partition type ("ESP", "Basic Data", ...), empty for an unknown GUID.
std::string_view GptTypeName(const Guid& type);

namespace detail {
constexpr int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
// Disk position of each byte in the order the text form shows it.
inline constexpr std::array<std::size_t, 16> kGuidDiskIndex{3, 2, 1,  0,  5,  4,  7,  6,
                                                            8, 9, 10, 11, 12, 13, 14, 15};
}  // namespace detail

constexpr std::optional<Guid> Guid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    Guid g;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
            if (text[pos] != '-') return std::nullopt;
            ++pos;
        }
        const int hi = detail::hexValue(text[pos]);
        const int lo = detail::hexValue(text[pos + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        g.bytes[detail::kGuidDiskIndex[i]] = static_cast<std::uint8_t>(hi * 16 + lo);
        pos += 2;
    }
    return g;
}

}  // namespace brenvale::storage
