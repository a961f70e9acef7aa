#pragma once
// Reads entries of a FAT (12, 16 or 32 bits, or exFAT's 32) through a window of the table kept
// between lookups, so following a chain costs one read per window, not one per cluster.

#include <cstdint>
#include <vector>

#include "scan/volume_reader.h"

namespace brenvale::scan {

class FatTable {
public:
    // bitsPerEntry 12, 16 or 32; fatOffset is the table's first byte in the volume.
    FatTable(VolumeReader& reader, std::uint64_t fatOffset, unsigned bitsPerEntry)
        : FReader(reader), FOffset(fatOffset), FBits(bitsPerEntry) {}

    // The value stored for cluster n (FAT12: its 12 bits; others as stored). Bytes the device
    // cannot deliver read as 0.
    std::uint32_t Entry(std::uint32_t n);

    static constexpr std::size_t kWindowBytes = 64 * 1024;

private:
    FatTable(const FatTable&) = delete;
    FatTable& operator=(const FatTable&) = delete;

    VolumeReader& FReader;
    std::uint64_t FOffset;
    unsigned FBits;
    std::vector<std::byte> FWindow;
    std::uint64_t FWindowStart = 0;  // byte of the table the window begins at
    bool FLoaded = false;
};

}  // namespace brenvale::scan
