// Cluster chains read from the FAT of each kind: packing, end markers, loops and the starts
// that cannot begin a chain.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "scan/scan_harness.h"
#include "scan/volume_builder.h"

namespace brenvale::test {
namespace {

struct ChainCase {
    const char* what;
    Fs fs;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> fat;  // (cluster, stored value)
    std::uint32_t first;
    std::vector<std::uint32_t> expected;
};

TEST(FatChain, FollowsEachKindOfTable) {
    const std::vector<ChainCase> cases = {
        // 512-byte FAT sectors hold 341.33 FAT12 entries: 341 and 682 straddle sector ends.
        {"FAT12 across three FAT sectors", Fs::Fat12,
         {{300, 341}, {341, 342}, {342, 682}, {682, 700}, {700, 999}, {999, 0xFFF}}, 300,
         {300, 341, 342, 682, 700, 999}},
        {"FAT12 odd and even neighbours", Fs::Fat12, {{4, 5}, {5, 6}, {6, 3}, {3, 0xFFF}}, 4, {4, 5, 6, 3}},
        {"FAT12 ends at 0xFF8", Fs::Fat12, {{10, 11}, {11, 0xFF8}}, 10, {10, 11}},
        {"FAT12 ends at a free entry", Fs::Fat12, {{10, 11}, {11, 0}}, 10, {10, 11}},
        {"FAT16 ends at 0xFFFF", Fs::Fat16, {{10, 4000}, {4000, 11}, {11, 0xFFFF}}, 10, {10, 4000, 11}},
        {"FAT16 ends at 0xFFF8", Fs::Fat16, {{10, 11}, {11, 0xFFF8}}, 10, {10, 11}},
        {"FAT16 stops at a bad-cluster mark", Fs::Fat16, {{10, 11}, {11, 0xFFF7}}, 10, {10, 11}},
        {"FAT32 beyond 65535 and back", Fs::Fat32, {{10, 65600}, {65600, 11}, {11, 0x0FFFFFFF}}, 10,
         {10, 65600, 11}},
        {"FAT32 ends at 0x0FFFFFF8", Fs::Fat32, {{10, 11}, {11, 0x0FFFFFF8}}, 10, {10, 11}},
        {"FAT32 ends at 0xFFFFFFFF", Fs::Fat32, {{10, 11}, {11, 0xFFFFFFFF}}, 10, {10, 11}},
        {"exFAT ends at 0xFFFFFFFF", Fs::Exfat, {{5, 9}, {9, 6}, {6, 0xFFFFFFFF}}, 5, {5, 9, 6}},
        {"exFAT ends at a free entry", Fs::Exfat, {{5, 6}, {6, 0}}, 5, {5, 6}},
        {"FAT16 loop back to the start", Fs::Fat16, {{10, 11}, {11, 12}, {12, 10}}, 10, {10, 11, 12}},
        {"FAT16 loop into the middle", Fs::Fat16, {{10, 11}, {11, 12}, {12, 11}}, 10, {10, 11, 12}},
        {"FAT32 cluster pointing at itself", Fs::Fat32, {{10, 10}}, 10, {10}},
        {"exFAT loop", Fs::Exfat, {{5, 6}, {6, 5}}, 5, {5, 6}},
        {"FAT12 loop", Fs::Fat12, {{340, 341}, {341, 340}}, 340, {340, 341}},
        // The last cluster is count + 1; one further is outside the volume.
        {"FAT16 to the last cluster", Fs::Fat16, {{10, 4201}, {4201, 0xFFFF}}, 10, {10, 4201}},
        {"FAT16 to past the last cluster", Fs::Fat16, {{10, 4202}}, 10, {10}},
        {"FAT32 to past the last cluster", Fs::Fat32, {{10, 66002}}, 10, {10}},
        {"FAT16 to reserved cluster 1", Fs::Fat16, {{10, 1}}, 10, {10}},
        {"starts at cluster 0", Fs::Fat16, {{0, 5}}, 0, {0}},
        {"starts at cluster 1", Fs::Fat32, {}, 1, {1}},
        {"starts past the last cluster", Fs::Fat16, {{4202, 10}}, 4202, {4202}},
        {"exFAT starts past the last cluster", Fs::Exfat, {{258, 5}}, 258, {258}},
    };
    for (const ChainCase& c : cases) {
        SCOPED_TRACE(c.what);
        VolumeBuilder v(c.fs);
        for (const auto& [n, value] : c.fat) v.setFat(n, value);
        ScanHarness h(v.bytes());
        scan::TClusterBuf chain{99, 98};
        std::uint32_t count = 0;
        EXPECT_TRUE(h.scan().GetClusNumChain(c.first, chain, count));
        EXPECT_EQ(chain, c.expected);
        EXPECT_EQ(count, c.expected.size());
    }
}

}  // namespace
}  // namespace brenvale::test
