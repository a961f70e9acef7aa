#include "scan/fat_table.h"

#include "storage/le.h"

namespace brenvale::scan {

namespace {
// A window reads this much more than kWindowBytes, so an entry that straddles its end is
// still inside it.
constexpr std::size_t kOverlap = 4;
}  // namespace

std::uint32_t FatTable::Entry(std::uint32_t n) {
    const std::uint64_t at = FBits == 12 ? std::uint64_t{n} * 3 / 2 : std::uint64_t{n} * (FBits / 8);
    const std::size_t width = FBits == 32 ? 4 : 2;
    if (!FLoaded || at < FWindowStart || at + width > FWindowStart + FWindow.size()) {
        FWindowStart = at / kWindowBytes * kWindowBytes;
        FWindow.resize(kWindowBytes + kOverlap);
        FReader.Read(FOffset + FWindowStart, FWindow);
        FLoaded = true;
    }
    const std::span<const std::byte> w(FWindow);
    const std::size_t off = static_cast<std::size_t>(at - FWindowStart);
    if (FBits == 32) return storage::le32(w, off);
    const std::uint16_t v = storage::le16(w, off);
    if (FBits == 16) return v;
    return (n & 1) ? v >> 4 : v & 0x0FFFu;
}

}  // namespace brenvale::scan
