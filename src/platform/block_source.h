#pragma once
// An open, read-only source of sectors: a block device or a regular (image) file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/timed_read.h"

namespace brenvale::platform {

// Geometry as the kernel reports it. `mediaType` uses the classic values the device layer maps:
// 0 unknown, 11 removable media, 12 fixed media, any other value a floppy format.
struct DiskGeometry {
    std::uint64_t cylinders = 0;
    std::uint32_t mediaType = 0;
    std::uint32_t tracksPerCylinder = 0;
    std::uint32_t sectorsPerTrack = 0;
    std::uint32_t bytesPerSector = 0;
};

class BlockSource {
public:
    virtual ~BlockSource() = default;

    // Reads dst.size() bytes at byte `offset` with the time-out rule of readWithTimeout.
    // On Ok, `bytes` may be fewer than asked at the end of a file. On failure dst holds nothing
    // but correctly read bytes: at most a head of the range that was already in memory.
    virtual ReadOutcome readTimed(std::span<std::byte> dst, std::uint64_t offset,
                                  Millis timeout) = 0;

    // Length in bytes (file size or device size); nullopt when the OS cannot tell.
    virtual std::optional<std::uint64_t> sizeBytes() = 0;

    // Geometry of a block device; nullopt for a regular file or when the query fails.
    virtual std::optional<DiskGeometry> geometry() = 0;

    // Logical sector size of a block device; nullopt for a regular file.
    virtual std::optional<std::uint32_t> logicalSectorSize() = 0;

    virtual bool isBlockDevice() const = 0;
};

}  // namespace brenvale::platform
