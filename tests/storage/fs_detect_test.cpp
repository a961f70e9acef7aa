#include "storage/fs_detect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "storage/fs_types.h"
#include "storage/le.h"

namespace brenvale::storage {
namespace {

using Sector = std::array<std::byte, 512>;

// A boot sector built field by field. The defaults describe a FAT16 volume of 20000 clusters:
// 1 reserved + 2 × 100 FAT + 32 root sectors, then the data area.
struct Geometry {
    std::uint16_t bytesPerSector = 512;
    std::uint8_t sectorsPerCluster = 1;
    std::uint16_t reserved = 1;
    std::uint8_t fats = 2;
    std::uint16_t rootEntries = 512;
    std::uint16_t small = 0;
    std::uint32_t large = 1 + 200 + 32 + 20000;
    std::uint16_t fatSize16 = 100;
    std::uint32_t fatSize32 = 0;
    bool signature = true;
    std::string_view oem = "MSDOS5.0";
    std::string_view label54 = "";
    std::string_view label82 = "";
};

void putText(Sector& s, std::size_t off, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) s[off + i] = static_cast<std::byte>(text[i]);
}

Sector build(const Geometry& g) {
    Sector s{};
    putText(s, 3, g.oem);
    bool ok = putLe16(s, 11, g.bytesPerSector) && putLe16(s, 14, g.reserved) &&
              putLe16(s, 17, g.rootEntries) && putLe16(s, 19, g.small) &&
              putLe16(s, 22, g.fatSize16) && putLe32(s, 32, g.large) && putLe32(s, 36, g.fatSize32);
    if (g.signature) ok = ok && putLe16(s, 510, 0xAA55);
    EXPECT_TRUE(ok);
    s[13] = std::byte{g.sectorsPerCluster};
    s[16] = std::byte{g.fats};
    putText(s, 54, g.label54);
    putText(s, 82, g.label82);
    return s;
}

// A FAT12/16-style volume with exactly `clusters` clusters of one sector.
Geometry withClusters(std::uint32_t clusters) {
    Geometry g;
    g.large = 1 + 200 + 32 + clusters;
    return g;
}

// A FAT32-style volume (no fixed root, 32-bit FAT size).
Geometry fat32Style(std::uint16_t small, std::uint32_t large) {
    Geometry g;
    g.rootEntries = 0;
    g.fatSize16 = 0;
    g.fatSize32 = 600;
    g.sectorsPerCluster = 8;
    g.reserved = 32;
    g.small = small;
    g.large = large;
    return g;
}

Geometry with(Geometry g, auto change) {
    change(g);
    return g;
}

struct DetectCase {
    const char* name;
    Geometry geometry;
    std::uint8_t byLayout;
    std::uint8_t byLabel;
    std::uint8_t detected;
};

const DetectCase kDetectCases[] = {
    {"plain FAT16", {}, kFsFat16, kFsUnknown, kFsFat16},
    {"layout beats a FAT16 label on 3000 clusters",
     with(withClusters(3000), [](Geometry& g) { g.label54 = "FAT16   "; }), kFsFat12, kFsFat16,
     kFsFat12},
    {"FAT32 label without signature",
     with(Geometry{},
          [](Geometry& g) {
              g.signature = false;
              g.label82 = "FAT32   ";
          }),
     kFsUnknown, kFsFat32, kFsFat32},
    {"NTFS with blanks and zeros in the OEM name",
     with(Geometry{}, [](Geometry& g) { g.oem = std::string_view("N T\0F S\0 ", 8); }), kFsNtfs,
     kFsUnknown, kFsNtfs},
    {"OEM NTFS lower case", with(Geometry{}, [](Geometry& g) { g.oem = "ntfs    "; }), kFsNtfs,
     kFsNtfs, kFsNtfs},
    {"OEM EXFAT", with(Geometry{}, [](Geometry& g) { g.oem = "EXFAT   "; }), kFsExfat, kFsExfat,
     kFsExfat},
    {"OEM exFAT with leading blanks", with(Geometry{}, [](Geometry& g) { g.oem = "  exFAT "; }),
     kFsExfat, kFsExfat, kFsExfat},
    {"NTFS OEM without signature falls to the label test",
     with(Geometry{},
          [](Geometry& g) {
              g.oem = "NTFS    ";
              g.signature = false;
          }),
     kFsUnknown, kFsNtfs, kFsNtfs},
    {"128 x 1024-byte clusters fail the layout, label decides",
     with(Geometry{},
          [](Geometry& g) {
              g.bytesPerSector = 1024;
              g.sectorsPerCluster = 128;
              g.label54 = "FAT16   ";
          }),
     kFsUnknown, kFsFat16, kFsFat16},
    {"128 x 1024-byte clusters without labels",
     with(Geometry{},
          [](Geometry& g) {
              g.bytesPerSector = 1024;
              g.sectorsPerCluster = 128;
          }),
     kFsUnknown, kFsUnknown, kFsUnknown},
    {"128 x 512-byte clusters are allowed",
     with(withClusters(128 * 5000), [](Geometry& g) { g.sectorsPerCluster = 128; }), kFsFat16,
     kFsUnknown, kFsFat16},
    {"4084 clusters", withClusters(4084), kFsFat12, kFsUnknown, kFsFat12},
    {"4085 clusters", withClusters(4085), kFsFat16, kFsUnknown, kFsFat16},
    {"65524 clusters", withClusters(65524), kFsFat16, kFsUnknown, kFsFat16},
    {"65525 clusters", withClusters(65525), kFsFat32, kFsUnknown, kFsFat32},
    {"clusters counted in whole clusters",
     with(withClusters(4085 * 2 - 1), [](Geometry& g) { g.sectorsPerCluster = 2; }), kFsFat12,
     kFsUnknown, kFsFat12},
    {"SmallSectors preferred to LargeSectors",
     with(withClusters(1000),
          [](Geometry& g) {
              g.small = 1 + 200 + 32 + 1000;
              g.large = 9999999;
          }),
     kFsFat12, kFsUnknown, kFsFat12},
    {"FAT32 layout from LargeSectors", fat32Style(0, 32 + 1200 + 8 * 70000), kFsFat32, kFsUnknown,
     kFsFat32},
    {"FAT32 layout prefers LargeSectors", fat32Style(32 + 1200 + 8 * 100, 32 + 1200 + 8 * 70000),
     kFsFat32, kFsUnknown, kFsFat32},
    {"FAT32 layout takes SmallSectors when LargeSectors is 0", fat32Style(32 + 1200 + 8 * 5000, 0),
     kFsFat16, kFsUnknown, kFsFat16},
    {"FAT32 layout with both totals 0", fat32Style(0, 0), kFsUnknown, kFsUnknown, kFsUnknown},
    {"FAT32 layout with both totals 0 and a FAT32 label",
     with(fat32Style(0, 0), [](Geometry& g) { g.label82 = "FAT32   "; }), kFsUnknown, kFsFat32,
     kFsFat32},
    {"bytes per sector 500", with(Geometry{}, [](Geometry& g) { g.bytesPerSector = 500; }),
     kFsUnknown, kFsUnknown, kFsUnknown},
    {"bytes per sector 4096", with(Geometry{}, [](Geometry& g) { g.bytesPerSector = 4096; }),
     kFsFat16, kFsUnknown, kFsFat16},
    {"bytes per sector 8192", with(Geometry{}, [](Geometry& g) { g.bytesPerSector = 8192; }),
     kFsUnknown, kFsUnknown, kFsUnknown},
    {"3 sectors per cluster", with(Geometry{}, [](Geometry& g) { g.sectorsPerCluster = 3; }),
     kFsUnknown, kFsUnknown, kFsUnknown},
    {"0 sectors per cluster", with(Geometry{}, [](Geometry& g) { g.sectorsPerCluster = 0; }),
     kFsUnknown, kFsUnknown, kFsUnknown},
    {"no reserved sector", with(Geometry{}, [](Geometry& g) { g.reserved = 0; }), kFsUnknown,
     kFsUnknown, kFsUnknown},
    {"no FAT", with(Geometry{}, [](Geometry& g) { g.fats = 0; }), kFsUnknown, kFsUnknown,
     kFsUnknown},
    {"4 FATs",
     with(withClusters(5000),
          [](Geometry& g) {
              g.fats = 4;
              g.large += 200;
          }),
     kFsFat16, kFsUnknown, kFsFat16},
    {"5 FATs", with(Geometry{}, [](Geometry& g) { g.fats = 5; }), kFsUnknown, kFsUnknown,
     kFsUnknown},
    {"FAT size 0 with a fixed root", with(Geometry{}, [](Geometry& g) { g.fatSize16 = 0; }),
     kFsUnknown, kFsUnknown, kFsUnknown},
    {"no total", with(Geometry{}, [](Geometry& g) { g.large = 0; }), kFsUnknown, kFsUnknown,
     kFsUnknown},
    {"metadata fills the volume", withClusters(0), kFsUnknown, kFsUnknown, kFsUnknown},
    {"metadata larger than the volume", with(Geometry{}, [](Geometry& g) { g.large = 100; }),
     kFsUnknown, kFsUnknown, kFsUnknown},
    {"no signature, no label", with(Geometry{}, [](Geometry& g) { g.signature = false; }),
     kFsUnknown, kFsUnknown, kFsUnknown},
    {"label FAT12",
     with(Geometry{},
          [](Geometry& g) {
              g.signature = false;
              g.label54 = "FAT12   ";
          }),
     kFsUnknown, kFsFat12, kFsFat12},
    {"label trimmed of blanks and control codes",
     with(Geometry{},
          [](Geometry& g) {
              g.signature = false;
              g.label54 = " \tfat16\x01";
          }),
     kFsUnknown, kFsFat16, kFsFat16},
    {"label ends at a zero byte",
     with(Geometry{},
          [](Geometry& g) {
              g.signature = false;
              g.label54 = std::string_view("FAT16\0XY", 8);
          }),
     kFsUnknown, kFsFat16, kFsFat16},
    {"label with an inner blank",
     with(Geometry{},
          [](Geometry& g) {
              g.signature = false;
              g.label54 = "FAT 16  ";
          }),
     kFsUnknown, kFsUnknown, kFsUnknown},
    {"FAT32 label at the FAT16 position",
     with(Geometry{},
          [](Geometry& g) {
              g.signature = false;
              g.label54 = "FAT32   ";
          }),
     kFsUnknown, kFsUnknown, kFsUnknown},
    {"OEM label stops at its first zero",
     with(Geometry{},
          [](Geometry& g) {
              g.signature = false;
              g.oem = std::string_view("N\0TFS   ", 8);
          }),
     kFsUnknown, kFsUnknown, kFsUnknown},
    {"label at 54 tested before the one at 82",
     with(Geometry{},
          [](Geometry& g) {
              g.signature = false;
              g.label54 = "FAT12   ";
              g.label82 = "FAT32   ";
          }),
     kFsUnknown, kFsFat12, kFsFat12},
};

TEST(FsDetect, LayoutThenLabel) {
    for (const auto& c : kDetectCases) {
        const Sector s = build(c.geometry);
        EXPECT_EQ(DetectFileSystemByLayout(s), c.byLayout) << c.name;
        EXPECT_EQ(DetectFileSystemByLabel(s), c.byLabel) << c.name;
        EXPECT_EQ(DetectFileSystem(s), c.detected) << c.name;
    }
}

TEST(FsDetect, FewerThan512BytesIsUnknown) {
    const Sector ntfs = build(with(Geometry{}, [](Geometry& g) { g.oem = "NTFS    "; }));
    const Sector fat16 = build({});
    for (const Sector* s : {&ntfs, &fat16}) {
        ASSERT_NE(DetectFileSystem(*s), kFsUnknown);
        const auto shortSpan = std::span<const std::byte>(*s).first(511);
        EXPECT_EQ(DetectFileSystemByLayout(shortSpan), kFsUnknown);
        EXPECT_EQ(DetectFileSystemByLabel(shortSpan), kFsUnknown);
        EXPECT_EQ(DetectFileSystem(shortSpan), kFsUnknown);
    }
}

TEST(FsDetect, MakeBootSectorCopiesAndDetects) {
    std::array<std::byte, 1024> twoSectors{};
    const Sector fat = build(withClusters(3000));
    std::copy(fat.begin(), fat.end(), twoSectors.begin());
    twoSectors[600] = std::byte{0x5A};

    const TBootSector boot = MakeBootSector(twoSectors);
    EXPECT_EQ(boot.FileSystemType, kFsFat12);
    EXPECT_EQ(boot.Sector, fat);

    const TBootSector partial = MakeBootSector(std::span<const std::byte>(fat).first(100));
    EXPECT_EQ(partial.FileSystemType, kFsUnknown);
    EXPECT_TRUE(std::equal(partial.Sector.begin(), partial.Sector.begin() + 100, fat.begin()));
    EXPECT_TRUE(std::all_of(partial.Sector.begin() + 100, partial.Sector.end(),
                            [](std::byte b) { return b == std::byte{0}; }));
}

TEST(FsDetect, VolumeBytesPerSector) {
    struct Case {
        std::uint8_t code;
        std::uint16_t atOffset11;
        std::uint8_t exfatShift;
        std::uint32_t expected;
    } cases[] = {
        {kFsFat12, 1024, 9, 1024},       {kFsFat16, 2048, 9, 2048},   {kFsFat32, 4096, 9, 4096},
        {kFsNtfs, 512, 12, 512},         {kFsExfat, 1024, 12, 4096},  {kFsExfat, 0, 9, 512},
        {kFsExfat, 0, 32 + 11, 2048},  // only the low five bits count
        {kFsExfat, 0, 31, 0x8000'0000u}, {kFsUnknown, 1024, 12, 777}, {7, 1024, 12, 777},
    };
    for (const auto& c : cases) {
        TBootSector boot{};
        boot.FileSystemType = c.code;
        ASSERT_TRUE(putLe16(boot.Sector, 11, c.atOffset11));
        boot.Sector[108] = std::byte{c.exfatShift};
        EXPECT_EQ(VolumeBytesPerSector(boot, 777), c.expected)
            << int(c.code) << " " << c.atOffset11 << " " << int(c.exfatShift);
    }
}

TEST(FsDetect, FileSystemNames) {
    const std::pair<std::uint8_t, std::string_view> cases[] = {
        {0, "FAT12"}, {1, "FAT16"},   {2, "FAT32"},     {3, "NTFS"},
        {4, "exFAT"}, {5, "Unknown"}, {255, "Unknown"},
    };
    for (const auto& [code, name] : cases) EXPECT_EQ(FileSystemName(code), name) << int(code);
}

}  // namespace
}  // namespace brenvale::storage
