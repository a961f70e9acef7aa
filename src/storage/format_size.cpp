#include "storage/format_size.h"

#include <string_view>

namespace brenvale::storage {

namespace {

__extension__ using Int128 = __int128;
__extension__ using UInt128 = unsigned __int128;

struct Unit {
    std::int64_t bytes;
    std::string_view suffix;
};

constexpr Unit kGB{1073741824, " GB"};
constexpr Unit kMB{1048576, " MB"};
constexpr Unit kKB{1024, " KB"};
constexpr Unit kB{1, "  B"};

// Size × 100 ÷ U rounded half to even; 128 bits keep Size × 100 exact for any 64-bit size.
// Negative sizes always have U = 1, so the remainder is never negative.
Int128 hundredthsHalfEven(std::int64_t size, std::int64_t unit) {
    const Int128 num = static_cast<Int128>(size) * 100;
    Int128 q = num / unit;
    const Int128 r = num % unit;
    if (2 * r > unit || (2 * r == unit && (q & 1) != 0)) ++q;
    return q;
}

std::string toDecimal(UInt128 v) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    } while (v != 0);
    return digits;
}

}  // namespace

std::string FormatSize(std::int64_t Size) {
    if (Size == -1) return "by setting";
    const Unit& u = Size >= kGB.bytes ? kGB : Size >= kMB.bytes ? kMB : Size < kKB.bytes ? kB : kKB;

    const Int128 hundredths = hundredthsHalfEven(Size, u.bytes);
    const bool negative = hundredths < 0;
    const auto magnitude = static_cast<UInt128>(negative ? -hundredths : hundredths);

    // Shortest form: no fraction when it is zero, no trailing zero in it.
    std::string text = negative ? "-" : "";
    text += toDecimal(magnitude / 100);
    const int frac = static_cast<int>(magnitude % 100);
    if (frac != 0) {
        text += '.';
        text += static_cast<char>('0' + frac / 10);
        if (frac % 10 != 0) text += static_cast<char>('0' + frac % 10);
    }
    text += u.suffix;
    return text;
}

}  // namespace brenvale::storage
