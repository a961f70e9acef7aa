#pragma once
// The catalogue of file types that raw recovery finds by content, and the per-type size
// limits the user may change (held in bytes, edited and stored in whole MiB).

#include <array>
#include <cstdint>
#include <span>

namespace brenvale::raw {

inline constexpr int kMajorTypes = 6;   // groups
inline constexpr int kMinorTypes = 22;  // slots per group, defined or not
inline constexpr int kSizeSlots = kMajorTypes * kMinorTypes;
inline constexpr std::int32_t kMiB = 1048576;

// Index of (major, minor) in the size tables; both must be in range.
constexpr int SizeIndex(int major, int minor) {
    return major * kMinorTypes + minor;
}
constexpr bool ValidTypePair(int major, int minor) {
    return major >= 0 && major < kMajorTypes && minor >= 0 && minor < kMinorTypes;
}

// One defined type. `Ext` is the extension the signature scan usually gives its hits ("" for the
// types no signature test produces); `OtherExts` lists the others it may give, space-separated.
struct FileTypeInfo {
    std::uint16_t MajorType;
    std::uint16_t MinorType;
    const char* Caption;
    const char* Vendor;  // "" when the row has none
    const char* Ext;
    const char* OtherExts;
    std::int32_t DefaultSizeMB;
    std::int32_t MaxSizeMB;
};

// The 59 defined types, group 0 first, each group in minor order.
std::span<const FileTypeInfo> FileTypeCatalogue();
// How many leading slots of a group are defined types (0 for a group out of range).
int DefinedTypeCount(int major);
// Caption of a group; "" for a group out of range.
const char* GroupCaption(int major);
// The catalogue row of a pair, or nullptr when the slot is not a defined type.
const FileTypeInfo* FindFileType(int major, int minor);

// `DefaultSize` and `MaxSize` in bytes, indexed by SizeIndex(major, minor), and the ceiling
// the options editor enforces on any maximum size. Built holding the catalogue defaults.
struct SizeTables {
    SizeTables() { ResetToDefaults(); }

    // Every slot 1 MiB default and 64 MiB max, then the catalogue's sizes, then the ceiling.
    void ResetToDefaults();
    // LargestMaxSize := the largest MaxSize entry, but never less than 1 MiB.
    void RecomputeLargest();

    std::array<std::int32_t, kSizeSlots> DefaultSize{};
    std::array<std::int32_t, kSizeSlots> MaxSize{};
    std::int32_t LargestMaxSize = kMiB;
};

}  // namespace brenvale::raw
