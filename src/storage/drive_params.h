#pragma once
// Device geometry as the device object holds it; stored unchanged inside image descriptors,
// which is why the layout is fixed.

#include <cstddef>
#include <cstdint>

namespace brenvale::storage {

// MediaType values.
inline constexpr std::uint16_t kMediaUnknown = 0;
inline constexpr std::uint16_t kMediaFloppy = 1;
inline constexpr std::uint16_t kMediaRemovable = 2;
inline constexpr std::uint16_t kMediaFixed = 3;
inline constexpr std::uint16_t kMediaOptical = 4;

#pragma pack(push, 1)

struct TDriveParams {
    std::uint16_t MediaType;
    std::uint16_t MediaAttr;      // 1 for floppy, removable and optical media
    std::uint32_t Heads;          // holds the cylinder count, as the geometry query reports it
    std::uint32_t TracksPerHead;  // holds the head count
    std::uint32_t SectorsPerTrack;
    std::uint32_t BytesPerSector;  // 0 means 512
    std::uint64_t TotalPhysSec;
};

#pragma pack(pop)

static_assert(sizeof(TDriveParams) == 28);
static_assert(offsetof(TDriveParams, Heads) == 4);
static_assert(offsetof(TDriveParams, BytesPerSector) == 16);
static_assert(offsetof(TDriveParams, TotalPhysSec) == 20);

}  // namespace brenvale::storage
