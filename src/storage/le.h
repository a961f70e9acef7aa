#pragma once
// Little-endian access to on-disk bytes, and big-endian access for the formats that store their
// numbers that way. Readers return 0 for a range outside the span, so a missed check reads zero
// instead of past the buffer; where 0 is a valid value, check fits() first.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>

namespace brenvale::storage {

// Packed records are copied byte for byte and read in host order.
static_assert(std::endian::native == std::endian::little,
              "on-disk records assume a little-endian host");

// True when [off, off + len) lies inside `data`; safe against off + len wrapping.
constexpr bool fits(std::span<const std::byte> data, std::size_t off, std::size_t len) {
    return off <= data.size() && len <= data.size() - off;
}

namespace detail {
template <class U>
constexpr U readLe(std::span<const std::byte> data, std::size_t off) {
    if (!fits(data, off, sizeof(U))) return 0;
    U v = 0;
    for (std::size_t i = sizeof(U); i-- > 0;) {
        v = static_cast<U>((v << 8) | static_cast<U>(data[off + i]));
    }
    return v;
}

template <class U>
constexpr U readBe(std::span<const std::byte> data, std::size_t off) {
    if (!fits(data, off, sizeof(U))) return 0;
    U v = 0;
    for (std::size_t i = 0; i < sizeof(U); ++i) {
        v = static_cast<U>((v << 8) | static_cast<U>(data[off + i]));
    }
    return v;
}

template <class U>
constexpr bool writeBe(std::span<std::byte> data, std::size_t off, U v) {
    if (!fits(data, off, sizeof(U))) return false;
    for (std::size_t i = sizeof(U); i-- > 0;) {
        data[off + i] = static_cast<std::byte>(v & 0xFF);
        v = static_cast<U>(v >> 8);
    }
    return true;
}

template <class U>
constexpr bool writeLe(std::span<std::byte> data, std::size_t off, U v) {
    if (!fits(data, off, sizeof(U))) return false;
    for (std::size_t i = 0; i < sizeof(U); ++i) {
        data[off + i] = static_cast<std::byte>(v & 0xFF);
        v = static_cast<U>(v >> 8);
    }
    return true;
}
}  // namespace detail

constexpr std::uint8_t u8(std::span<const std::byte> d, std::size_t off) {
    return detail::readLe<std::uint8_t>(d, off);
}
constexpr std::uint16_t le16(std::span<const std::byte> d, std::size_t off) {
    return detail::readLe<std::uint16_t>(d, off);
}
constexpr std::uint32_t le32(std::span<const std::byte> d, std::size_t off) {
    return detail::readLe<std::uint32_t>(d, off);
}
constexpr std::uint64_t le64(std::span<const std::byte> d, std::size_t off) {
    return detail::readLe<std::uint64_t>(d, off);
}

// Writers leave `d` untouched and return false when the value does not fit.
[[nodiscard]] constexpr bool putLe16(std::span<std::byte> d, std::size_t off, std::uint16_t v) {
    return detail::writeLe(d, off, v);
}
[[nodiscard]] constexpr bool putLe32(std::span<std::byte> d, std::size_t off, std::uint32_t v) {
    return detail::writeLe(d, off, v);
}
[[nodiscard]] constexpr bool putLe64(std::span<std::byte> d, std::size_t off, std::uint64_t v) {
    return detail::writeLe(d, off, v);
}

// Big-endian: most significant byte first.
constexpr std::uint16_t be16(std::span<const std::byte> d, std::size_t off) {
    return detail::readBe<std::uint16_t>(d, off);
}
constexpr std::uint32_t be32(std::span<const std::byte> d, std::size_t off) {
    return detail::readBe<std::uint32_t>(d, off);
}
constexpr std::uint64_t be64(std::span<const std::byte> d, std::size_t off) {
    return detail::readBe<std::uint64_t>(d, off);
}
[[nodiscard]] constexpr bool putBe16(std::span<std::byte> d, std::size_t off, std::uint16_t v) {
    return detail::writeBe(d, off, v);
}
[[nodiscard]] constexpr bool putBe32(std::span<std::byte> d, std::size_t off, std::uint32_t v) {
    return detail::writeBe(d, off, v);
}
[[nodiscard]] constexpr bool putBe64(std::span<std::byte> d, std::size_t off, std::uint64_t v) {
    return detail::writeBe(d, off, v);
}

// Copies a packed record out of `data`; nullopt when the record does not fit.
template <class T>
std::optional<T> readRecord(std::span<const std::byte> data, std::size_t off) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (!fits(data, off, sizeof(T))) return std::nullopt;
    T rec;
    std::memcpy(&rec, data.data() + off, sizeof(T));
    return rec;
}

// Copies a packed record into `data`; false (and `data` untouched) when it does not fit.
template <class T>
[[nodiscard]] bool writeRecord(std::span<std::byte> data, std::size_t off, const T& rec) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (!fits(data, off, sizeof(T))) return false;
    std::memcpy(data.data() + off, &rec, sizeof(T));
    return true;
}

// The bytes of a packed record, for checksums and writing.
template <class T>
std::span<const std::byte, sizeof(T)> recordBytes(const T& rec) {
    static_assert(std::is_trivially_copyable_v<T>);
    return std::span<const std::byte, sizeof(T)>(reinterpret_cast<const std::byte*>(&rec),
                                                 sizeof(T));
}

}  // namespace brenvale::storage
