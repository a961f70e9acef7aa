#pragma once
// Reads byte ranges of one volume through its device: partition-relative offsets, any sector
// size on either side, requests split to what the device takes at once.

#include <cstdint>
#include <span>

#include "storage/aligned_buffer.h"
#include "storage/device.h"

namespace brenvale::scan {

class VolumeReader {
public:
    VolumeReader(storage::TDevice& device, std::uint64_t partitionStartLba)
        : FDevice(device), FStartLba(partitionStartLba) {}

    // Fills dst from byte `offset` of the volume. Returns the bytes delivered from the start of
    // dst (unreadable sectors count, as the device zero-fills them); the rest of dst is zeroed,
    // so a failed read never leaves older data behind.
    std::size_t Read(std::uint64_t offset, std::span<std::byte> dst);

    storage::TDevice& Device() { return FDevice; }

private:
    std::size_t readSectors(std::uint64_t lba, std::uint64_t count, std::byte* dst);

    storage::TDevice& FDevice;
    std::uint64_t FStartLba;
    storage::AlignedBuffer FBounce;
};

}  // namespace brenvale::scan
