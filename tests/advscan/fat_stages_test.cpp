// The FAT stages after the pass: directory blocks read into entries, the geometry solved from
// them, a FAT found below the data area, directories followed along their chains, reused
// folders marked, orphans collected and linked. On volumes made by mkfs.vfat and mtools, scanned
// as if their boot sector were gone, and on directory sectors laid out by hand.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <set>

#include "advscan/advanced_scan.h"
#include "advscan/fat_entry_access.h"
#include "advscan/image_scan.h"
#include "advscan/fat_tree.h"
#include "platform/linux/linux_platform.h"
#include "raw/signature_scan.h"
#include "scan/entry_cast.h"
#include "scan/undelete.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/fs_detect.h"
#include "storage/le.h"
#include "support/fixtures.h"

namespace brenvale::advscan {
namespace {

// ---------------------------------------------------------------------------------------
// Real volumes

struct RealCase {
    const char* image;
    bool fatFound;  // FAT12 tables are not read as 16-bit ones
};

class AdvFatRealVolume : public ::testing::TestWithParam<RealCase> {};

// "/A/B" and "FAT Root/A/_" agree when a deleted entry lost its first character.
bool samePath(const std::string& listed, const std::string& want) {
    if (listed.size() != want.size()) return false;
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (listed[i] != want[i] && !(listed[i] == '_' && (i == 0 || want[i - 1] == '/'))) return false;
    }
    return true;
}

std::uint32_t entrySize(const scan::TScanEntry* e) {
    return fatentry::visit(e, [](const auto& m) { return fatentry::slotOf(m).filesize; });
}

TEST_P(AdvFatRealVolume, TreeAndGeometryWithoutTheBootSector) {
    const std::string name = GetParam().image;
    BRENVALE_REQUIRE_FIXTURE(image, name + ".img");
    BRENVALE_REQUIRE_FIXTURE(manifestPath, name + ".manifest.tsv");
    const auto rows = test::loadManifest(manifestPath);
    ImageScan run(image, BootSector::Gone);
    std::vector<std::byte> boot(512);
    ASSERT_EQ(run.device.Read(0, 1, boot), 512u);
    // The layout mkfs.vfat wrote.
    const std::int64_t reserved = storage::le16(boot, 14), fats = std::to_integer<std::uint8_t>(boot[16]);
    const std::int64_t fatSize = storage::le16(boot, 22) ? storage::le16(boot, 22) : storage::le32(boot, 36);
    const std::int64_t rootDirSectors = (std::int64_t{storage::le16(boot, 17)} * 32 + 511) / 512;
    const std::int64_t fatsEnd = reserved + fats * fatSize;

    ASSERT_EQ(run.Run(), kAdvCompleted);
    const FatRebuild& fat = run.adv.Fat;
    EXPECT_EQ(fat.SectorsPerClus, std::to_integer<std::uint8_t>(boot[13]));
    ASSERT_TRUE(fat.RootSectNum);
    EXPECT_EQ(*fat.RootSectNum, fatsEnd + rootDirSectors);
    ASSERT_TRUE(fat.RootDirSectNum);
    EXPECT_EQ(*fat.RootDirSectNum, fatsEnd);
    EXPECT_EQ(fat.FatOK, GetParam().fatFound);
    if (GetParam().fatFound) {
        EXPECT_EQ(fat.FatStart, reserved);
    }

    std::map<std::string, const scan::TScanEntry*> byPath;
    WalkFatTree(fat, [&](const scan::TScanEntry* e, const std::string& path, int) {
        if (e) byPath.emplace(path, e);
    });
    std::size_t checked = 0;
    std::set<std::string> shortNamed;
    for (const auto& row : rows) {
        // Entries of deleted folders may have lost their folder's sectors to other files.
        const bool inLiveFolder = std::none_of(rows.begin(), rows.end(), [&](const auto& r) {
            return r.type == "dir" && r.status == "deleted" && row.path.rfind(r.path + "/", 0) == 0;
        });
        if (!inLiveFolder) continue;
        SCOPED_TRACE(row.path);
        const std::string want = std::string(kFatRoot) + row.path;
        auto found = byPath.find(want);
        if (found == byPath.end() && row.status == "deleted") {
            found = std::find_if(byPath.begin(), byPath.end(), [&](const auto& kv) { return samePath(kv.first, want); });
        }
        if (found == byPath.end()) {
            // A long name whose first parts lie at the end of the directory's previous cluster
            // is not joined across clusters: the entry shows its short name, in its folder.
            const std::string folder = want.substr(0, want.rfind('/') + 1);
            found = std::find_if(byPath.begin(), byPath.end(), [&](const auto& kv) {
                return kv.first.rfind(folder, 0) == 0 && kv.first.find('/', folder.size()) == std::string::npos &&
                       kv.first.find('~', folder.size()) != std::string::npos && !shortNamed.contains(kv.first) &&
                       entrySize(kv.second) == row.size;
            });
            ASSERT_NE(found, byPath.end()) << "not in the rebuilt tree";
            shortNamed.insert(found->first);
        }
        const scan::TScanEntry* e = found->second;
        if (row.type == "file") {
            EXPECT_EQ(entrySize(e), row.size);
        }
        ++checked;
    }
    EXPECT_GT(checked, 20u);
    EXPECT_LE(shortNamed.size(), 2u) << ::testing::PrintToString(shortNamed);
}

INSTANTIATE_TEST_SUITE_P(Volumes, AdvFatRealVolume,
                         ::testing::Values(RealCase{"fat12", false}, RealCase{"fat16", true}, RealCase{"fat32", true}),
                         [](const auto& p) { return std::string(p.param.image); });

// ---------------------------------------------------------------------------------------
// Directory sectors laid out by hand

constexpr std::uint32_t kBps = 512;

void put16(std::span<std::byte> b, std::size_t at, std::uint16_t v) { ASSERT_TRUE(storage::putLe16(b, at, v)); }
void put32(std::span<std::byte> b, std::size_t at, std::uint32_t v) { ASSERT_TRUE(storage::putLe32(b, at, v)); }

struct Disk {
    std::vector<std::byte> bytes;
    explicit Disk(std::size_t sectors) : bytes(sectors * kBps) {}

    // A short entry at `slot` of `sector`.
    void entry(std::int64_t sector, std::size_t slot, const char* name11, std::uint8_t attr, std::uint32_t cluster,
               std::uint32_t size = 0) {
        std::byte* p = bytes.data() + sector * kBps + slot * 32;
        std::memcpy(p, name11, 11);
        p[11] = std::byte{attr};
        put16(std::span(p, 32), 14, 0x6000);            // 12:00
        put16(std::span(p, 32), 16, 0x5A21);            // 2025-01-01
        put16(std::span(p, 32), 18, 0x5A21);
        put16(std::span(p, 32), 20, static_cast<std::uint16_t>(cluster >> 16));
        put16(std::span(p, 32), 22, 0x6000);
        put16(std::span(p, 32), 24, 0x5A21);
        put16(std::span(p, 32), 26, static_cast<std::uint16_t>(cluster));
        put32(std::span(p, 32), 28, size);
    }
    // The "." and ".." pair a directory's first cluster starts with.
    void dots(std::int64_t sector, std::uint32_t own, std::uint32_t parent) {
        entry(sector, 0, ".          ", 0x10, own);
        entry(sector, 1, "..         ", 0x10, parent);
    }
    void fatEntry(std::int64_t fatStart, std::uint32_t cluster, std::uint32_t value) {
        put32(std::span(bytes).subspan(static_cast<std::size_t>(fatStart) * kBps), cluster * 4, value);
    }

    FatRebuild rebuild(std::uint8_t fatType) {
        FatRebuild r([this](std::int64_t rel, std::uint32_t count, std::span<std::byte> into) -> std::size_t {
            const std::size_t at = static_cast<std::size_t>(rel) * kBps;
            if (rel < 0 || at >= bytes.size()) return 0;
            const std::size_t n = std::min({std::size_t{count} * kBps, into.size(), bytes.size() - at});
            std::memcpy(into.data(), bytes.data() + at, n);
            return n;
        }, kBps, bytes.size() / kBps);
        r.FatType = fatType;
        return r;
    }
};

// Data area at sector 100, 8 sectors per cluster: cluster c starts at 100 + (c - 2) * 8.
constexpr std::int64_t kData = 100;
constexpr std::int64_t sectorOf(std::uint32_t c) { return kData + (std::int64_t{c} - 2) * 8; }

TEST(AdvFatStages, BlocksGeometryAndUsedSectors) {
    Disk d(600);
    // Two directories 64 sectors apart whose "." clusters differ by 8, a third elsewhere.
    d.dots(sectorOf(10), 10, 0);
    d.entry(sectorOf(10), 2, "A       TXT", 0x20, 50, 10);
    d.entry(sectorOf(10), 3, "SUB        ", 0x10, 18);
    d.dots(sectorOf(18), 18, 10);
    d.entry(sectorOf(18), 2, "B       TXT", 0x20, 51, 10);
    for (std::size_t s = 2; s < 40; ++s) d.entry(sectorOf(30), s, "MANY    BIN", 0x20, 60, 1);  // 40 slots: 3 sectors
    d.dots(sectorOf(30), 30, 10);
    std::vector<std::int64_t> fdts{sectorOf(10), sectorOf(18), sectorOf(30), sectorOf(30) + 1, sectorOf(30) + 2, sectorOf(30) + 3};
    FatRebuild r = d.rebuild(kFat16);
    r.EnumFATFiles(fdts);
    EXPECT_EQ(r.SectorsPerClus, 8);
    EXPECT_EQ(r.RootSectNum, kData);
    // The 3-sector directory consumed the next two harvested sectors; the fourth is its own block.
    EXPECT_EQ(fdts, (std::vector<std::int64_t>{sectorOf(10), sectorOf(18), sectorOf(30), -1, -1, -1}));
    EXPECT_EQ(r.RegDirSect, (std::vector<std::int64_t>{sectorOf(10), sectorOf(18), sectorOf(30)}));
    std::int32_t first = -1, last = -1;
    ASSERT_TRUE(r.AdvGetFatBounds(sectorOf(30), first, last));
    EXPECT_EQ(last - first + 1, 38);
    // Whole clusters once resolved.
    const std::int64_t owner = r.FatDirOwnerOfSect(sectorOf(30) + 7);
    EXPECT_EQ(owner, sectorOf(30));
    // A block that does not begin with "." and ".." (a directory's further cluster) yields
    // its first slot too: it is the first entry of that cluster.
    Disk plain(300);
    plain.entry(150, 0, "FIRST   TXT", 0x20, 70, 5);
    plain.entry(150, 1, "SECOND  TXT", 0x20, 71, 5);
    std::vector<std::int64_t> one{150};
    FatRebuild p = plain.rebuild(kFat16);
    p.EnumFATFiles(one);
    ASSERT_EQ(p.FatFileList.size(), 2u);
    EXPECT_EQ(FatDisplayName(p.FatFileList[0]), "FIRST.TXT");
    EXPECT_EQ(FatDisplayName(p.FatFileList[1]), "SECOND.TXT");
    EXPECT_FALSE(p.RootSectNum);  // no directory with "." and "..": no data area
}

TEST(AdvFatStages, ReusedFoldersAreDamaged) {
    Disk d(600);
    d.dots(sectorOf(10), 10, 0);
    d.entry(sectorOf(10), 2, "LIVE       ", 0x10, 20);
    d.entry(sectorOf(10), 3, "\xE5" "OLD       ", 0x10, 20);   // deleted, its cluster reused by LIVE
    d.entry(sectorOf(10), 4, "\xE5" "ROOTY     ", 0x10, 2);    // deleted, points at the data start
    d.entry(sectorOf(10), 5, "OTHER      ", 0x10, 30);
    d.dots(sectorOf(20), 20, 10);
    d.dots(sectorOf(30), 30, 10);
    std::vector<std::int64_t> fdts{sectorOf(10), sectorOf(20), sectorOf(30)};
    FatRebuild r = d.rebuild(kFat16);
    r.EnumFATFiles(fdts);
    ASSERT_EQ(r.SectorsPerClus, 8);
    std::map<std::string, std::uint8_t> status;
    for (const scan::TScanEntry* e : r.FatFileList) status[FatDisplayName(e)] = scan::AsMid(e)->Status;
    EXPECT_EQ(status["LIVE"], scan::kStatusLive);
    EXPECT_EQ(status["_OLD"], scan::kStatusDamaged);
    EXPECT_EQ(status["_ROOTY"], scan::kStatusDamaged);
    EXPECT_EQ(status["OTHER"], scan::kStatusLive);
}

// A FAT32 layout: boot sector at 0 (and its backup at 6), the FAT at 32, data at 100.
Disk fat32Disk() {
    Disk d(800);
    for (std::int64_t at : {0, 6}) {
        std::span<std::byte> s(d.bytes.data() + at * kBps, kBps);
        put16(s, 11, 512);
        s[13] = std::byte{8};
        put16(s, 14, 32);
        s[16] = std::byte{2};
        put32(s, 32, 800);
        put32(s, 36, 34);  // 32 + 2 x 34 = 100
        put32(s, 44, 2);
        put16(s, 510, 0xAA55);
    }
    return d;
}

TEST(AdvFatStages, FatFoundAndChainsFollowed) {
    Disk d = fat32Disk();
    d.dots(sectorOf(10), 10, 0);
    d.entry(sectorOf(10), 2, "DIR        ", 0x10, 11);
    d.dots(sectorOf(11), 11, 10);
    d.entry(sectorOf(11), 2, "IN1     TXT", 0x20, 40, 3);
    d.entry(sectorOf(12), 0, "IN2     TXT", 0x20, 41, 3);  // the folder's second cluster (chained)
    d.entry(sectorOf(12), 1, "IN3     TXT", 0x20, 42, 3);
    d.fatEntry(32, 10, 0x0FFFFFFF);
    d.fatEntry(32, 11, 12);
    d.fatEntry(32, 12, 0x0FFFFFFF);
    std::vector<std::int64_t> fdts{sectorOf(10), sectorOf(11), sectorOf(12)};
    FatRebuild r = d.rebuild(kFat32);
    r.EnumFATFiles(fdts);
    ASSERT_TRUE(r.FatOK);  // the copy at 6 is met first: it says the volume begins 6 sectors before it
    EXPECT_EQ(r.FatStart, 32);
    EXPECT_EQ(r.FatEntryBytes, 4);
    {
        SCOPED_TRACE("only the copy is left");
        Disk copyOnly = d;
        std::fill_n(copyOnly.bytes.begin(), kBps, std::byte{0});
        for (std::int64_t at : {6}) put16(std::span(copyOnly.bytes).subspan(at * kBps), 50, 6);
        FatRebuild c = copyOnly.rebuild(kFat32);
        std::vector<std::int64_t> again = fdts;
        c.EnumFATFiles(again);
        ASSERT_TRUE(c.FatOK);
        EXPECT_EQ(c.FatStart, 32);
        put16(std::span(copyOnly.bytes).subspan(6 * kBps), 50, 0);  // a copy that does not say where it lies
        FatRebuild none = copyOnly.rebuild(kFat32);
        again = fdts;
        none.EnumFATFiles(again);
        EXPECT_FALSE(none.FatOK);
    }
    std::vector<std::uint32_t> chain;
    EXPECT_EQ(r.AdvDirClusChain(11, chain), 2u);
    EXPECT_EQ(chain, (std::vector<std::uint32_t>{11, 12}));
    // The second cluster's entries belong to the folder: its first sector and cluster.
    std::map<std::string, std::int64_t> dirOf;
    for (const scan::TScanEntry* e : r.FatFileList) dirOf[FatDisplayName(e)] = scan::AsMid32(e)->DirSectNum;
    EXPECT_EQ(dirOf["IN2.TXT"], sectorOf(11));
    EXPECT_EQ(dirOf["IN3.TXT"], sectorOf(11));
    std::set<std::string> paths;
    r.AdvCollectOrphanFatDirs(fdts, {});
    r.AdvLinkFatEntries();
    WalkFatTree(r, [&](const scan::TScanEntry*, const std::string& path, int) { paths.insert(path); });
    EXPECT_TRUE(paths.contains("FAT Root/Folder000000A4/DIR/IN3.TXT")) << ::testing::PrintToString(paths);

    {
        SCOPED_TRACE("a chain that comes back");
        d.fatEntry(32, 12, 11);
        FatRebuild loop = d.rebuild(kFat32);
        std::vector<std::int64_t> again{sectorOf(10), sectorOf(11), sectorOf(12)};
        loop.EnumFATFiles(again);
        ASSERT_TRUE(loop.FatOK);
        EXPECT_EQ(loop.AdvDirClusChain(11, chain), 0u);
    }
    {
        SCOPED_TRACE("a chain into an empty cluster stops before it");
        d.fatEntry(32, 12, 13);
        d.fatEntry(32, 13, 0x0FFFFFFF);
        FatRebuild empty = d.rebuild(kFat32);
        std::vector<std::int64_t> again{sectorOf(10), sectorOf(11), sectorOf(12)};
        empty.EnumFATFiles(again);
        EXPECT_EQ(empty.AdvDirClusChain(11, chain), 2u);
    }
}

// A FAT32 root whose clusters lie apart and no FAT left to chain them: cluster 2 at the data
// start, further clusters wherever files left room. Two folders (".." = 0: the root's) give the
// geometry.
struct SplitRoot {
    Disk d{700};
    static constexpr std::int64_t kRoot = sectorOf(2);

    // A long-name part: its number, the short name's checksum and up to 13 ASCII characters.
    void part(std::int64_t sector, std::size_t slot, std::uint8_t number, std::uint8_t checksum, std::string_view text) {
        std::span<std::byte> p(d.bytes.data() + sector * kBps + slot * 32, 32);
        std::fill(p.begin(), p.end(), std::byte{0xFF});
        p[0] = std::byte{number};
        p[11] = std::byte{0x0F};
        p[12] = std::byte{0};
        p[13] = std::byte{checksum};
        put16(p, 26, 0);
        static constexpr std::size_t kUnits[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (std::size_t k = 0; k < 13; ++k) {
            if (k < text.size()) {
                put16(p, kUnits[k], static_cast<std::uint8_t>(text[k]));
            } else if (k == text.size()) {
                put16(p, kUnits[k], 0);
            }
        }
    }
    static std::uint8_t checksum(const char* name11) {
        std::uint8_t sum = 0;
        for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<std::uint8_t>(name11[i]));
        return sum;
    }

    SplitRoot() {
        d.entry(kRoot, 0, "CARD       ", 0x08, 0);
        d.entry(kRoot, 1, "R1      TXT", 0x20, 50, 1);
        d.entry(kRoot, 2, "SUB        ", 0x10, 10);
        d.dots(sectorOf(10), 10, 0);
        d.entry(sectorOf(10), 2, "S1      TXT", 0x20, 51, 1);
        d.dots(sectorOf(20), 20, 0);
        d.entry(sectorOf(20), 2, "O1      TXT", 0x20, 52, 1);
    }
    std::set<std::string> paths(std::vector<std::int64_t> fdts) {
        FatRebuild r = d.rebuild(kFat32);
        r.EnumFATFiles(fdts);
        EXPECT_EQ(r.SectorsPerClus, 8);
        EXPECT_EQ(r.RootSectNum, kData);
        r.AdvCollectOrphanFatDirs(fdts, {});
        r.AdvLinkFatEntries();
        std::set<std::string> out;
        WalkFatTree(r, [&](const scan::TScanEntry*, const std::string& path, int) { out.insert(path); });
        return out;
    }
};

TEST(AdvFatStages, FurtherClustersWithoutAChainFindTheirFolder) {
    {
        SCOPED_TRACE("a live subfolder's \"..\" names the root");
        SplitRoot t;
        t.d.entry(sectorOf(30), 0, "OTHER      ", 0x10, 20);
        t.d.entry(sectorOf(30), 1, "R2      TXT", 0x20, 53, 1);
        const auto paths = t.paths({SplitRoot::kRoot, sectorOf(10), sectorOf(20), sectorOf(30)});
        for (const char* want : {"FAT Root/R1.TXT", "FAT Root/OTHER", "FAT Root/R2.TXT", "FAT Root/OTHER/O1.TXT"}) {
            EXPECT_TRUE(paths.contains(want)) << want << " in " << ::testing::PrintToString(paths);
        }
        EXPECT_FALSE(paths.contains("FAT Root/Folder00000144")) << ::testing::PrintToString(paths);
    }
    {
        SCOPED_TRACE("read on from a full folder into the root's cluster after it");
        SplitRoot t;
        for (std::size_t slot = 3; slot < 8 * 16; ++slot) t.d.entry(sectorOf(10) + static_cast<std::int64_t>(slot / 16), slot % 16, "FILL    BIN", 0x20, 58, 1);
        t.d.entry(sectorOf(11), 0, "OTHER      ", 0x10, 20);
        t.d.entry(sectorOf(11), 1, "R3      TXT", 0x20, 54, 1);
        const auto paths = t.paths({SplitRoot::kRoot, sectorOf(10), sectorOf(20)});
        for (const char* want : {"FAT Root/OTHER", "FAT Root/R3.TXT", "FAT Root/OTHER/O1.TXT", "FAT Root/SUB/S1.TXT"}) {
            EXPECT_TRUE(paths.contains(want)) << want << " in " << ::testing::PrintToString(paths);
        }
        EXPECT_FALSE(paths.contains("FAT Root/SUB/R3.TXT")) << ::testing::PrintToString(paths);
    }
    // The root's first cluster is full; its last slot begins a long name that ends in the
    // first slots of cluster 40.
    // With `twice`, cluster 30 ends in the same first part too.
    auto longNameAcross = [](std::uint8_t checksumInCluster40, bool twice = false) {
        SplitRoot t;
        for (std::size_t slot = 3; slot < 8 * 16 - 1; ++slot) t.d.entry(SplitRoot::kRoot + static_cast<std::int64_t>(slot / 16), slot % 16, "FILL    BIN", 0x20, 55, 1);
        const std::uint8_t sum = SplitRoot::checksum("LONGNA~1TXT");
        t.part(SplitRoot::kRoot + 7, 15, 0x42, sum, "ort.txt");
        std::vector<std::int64_t> fdts{SplitRoot::kRoot, sectorOf(10), sectorOf(20), sectorOf(40)};
        if (twice) {
            for (std::size_t slot = 0; slot < 8 * 16 - 1; ++slot) t.d.entry(sectorOf(30) + static_cast<std::int64_t>(slot / 16), slot % 16, "MORE    BIN", 0x20, 59, 1);
            t.part(sectorOf(30) + 7, 15, 0x42, sum, "ort.txt");
            fdts.push_back(sectorOf(30));
            std::sort(fdts.begin(), fdts.end());
        }
        t.part(sectorOf(40), 0, 0x01, checksumInCluster40 ? checksumInCluster40 : sum, "Quarterly Rep");
        t.d.entry(sectorOf(40), 1, "LONGNA~1TXT", 0x20, 56, 1);
        t.d.entry(sectorOf(40), 2, "AFTER   TXT", 0x20, 57, 1);
        return t.paths(fdts);
    };
    {
        SCOPED_TRACE("a long name cut at the cluster's end");
        const auto paths = longNameAcross(0);
        EXPECT_TRUE(paths.contains("FAT Root/Quarterly Report.txt")) << ::testing::PrintToString(paths);
        EXPECT_TRUE(paths.contains("FAT Root/AFTER.TXT")) << ::testing::PrintToString(paths);
    }
    {
        SCOPED_TRACE("parts of another name: the cluster stays a folder of its own, its entry keeps its short name");
        const auto paths = longNameAcross(0x11);
        EXPECT_TRUE(paths.contains("FAT Root/Folder00000194/LONGNA~1.TXT")) << ::testing::PrintToString(paths);
        EXPECT_TRUE(paths.contains("FAT Root/Folder00000194/AFTER.TXT")) << ::testing::PrintToString(paths);
    }
    {
        SCOPED_TRACE("two clusters end in the name's first part: which one it continues is a guess");
        const auto paths = longNameAcross(0, true);
        EXPECT_TRUE(paths.contains("FAT Root/Folder00000194/LONGNA~1.TXT")) << ::testing::PrintToString(paths);
        EXPECT_FALSE(paths.contains("FAT Root/Quarterly Report.txt")) << ::testing::PrintToString(paths);
    }
}

// Directory sectors whose folders point at each other in a ring, and many folders that all
// claim one directory: the linking and the tree end, each directory listed once.
TEST(AdvFatStages, FoldersPointingAtEachOtherEnd) {
    Disk d(3000);
    constexpr int kRing = 200;
    std::vector<std::int64_t> fdts;
    for (int i = 0; i < kRing; ++i) {
        const auto own = static_cast<std::uint32_t>(10 + i), next = static_cast<std::uint32_t>(10 + (i + 1) % kRing);
        d.dots(sectorOf(own), own, static_cast<std::uint32_t>(10 + (i + kRing - 1) % kRing));
        d.entry(sectorOf(own), 2, "NEXT       ", 0x10, next);
        for (std::size_t k = 3; k < 16; ++k) d.entry(sectorOf(own), k, "SAME       ", 0x10, 10);
        fdts.push_back(sectorOf(own));
    }
    FatRebuild r = d.rebuild(kFat16);
    r.EnumFATFiles(fdts);
    ASSERT_EQ(r.SectorsPerClus, 8);
    r.AdvCollectOrphanFatDirs(fdts, {});
    r.AdvLinkFatEntries();
    std::size_t visits = 0;
    WalkFatTree(r, [&](const scan::TScanEntry*, const std::string&, int) { ++visits; });
    EXPECT_LE(visits, r.FatFileList.size() + r.UnChainedFDTs.size());
    // Every entry got a parent or stands in an orphan directory; no parent chain loops forever.
    for (const scan::TScanEntry* e : r.FatFileList) {
        int steps = 0;
        for (const scan::TMidEntry* p = scan::AsMid(e)->Parent; p && steps <= kRing * 16; p = p->Parent) ++steps;
        EXPECT_LE(steps, kRing * 16);
    }
}

// Three directories whose pairs disagree (one is a stale copy from another layout): no
// geometry wins the vote, and the default is wrong; two files the user knows set it right.
TEST(AdvFatStages, AdjustmentFromTwoFilesAndWidthChange) {
    Disk d(1200);
    auto at4 = [](std::uint32_t c) { return kData + (std::int64_t{c} - 2) * 4; };  // the real layout: 4 sectors per cluster
    d.dots(at4(10), 10, 0);
    d.entry(at4(10), 2, "ONE     TXT", 0x20, 40, 5);
    d.dots(at4(30), 30, 0);
    d.entry(at4(30), 2, "TWO     TXT", 0x20, 41, 5);
    d.dots(252, 70, 0);  // stale: with each of the others it gives another cluster size
    d.entry(252, 2, "OLD     TXT", 0x20, 42, 5);
    std::vector<std::int64_t> fdts{at4(10), at4(30), 252};
    FatRebuild r = d.rebuild(kFat16);
    r.EnumFATFiles(fdts);
    EXPECT_NE(r.SectorsPerClus, 4);
    auto byName = [&](const char* name) {
        const auto it = std::find_if(r.FatFileList.begin(), r.FatFileList.end(),
                                     [&](const scan::TScanEntry* e) { return FatDisplayName(e) == name; });
        return it == r.FatFileList.end() ? nullptr : *it;
    };
    const scan::TScanEntry* one = byName("ONE.TXT");
    const scan::TScanEntry* two = byName("TWO.TXT");
    ASSERT_TRUE(one && two);

    EXPECT_EQ(r.DoAdjust(one, one, fdts, {}), AdjustResult::SameDirectory);
    scan::TMidEntry noCluster;
    EXPECT_EQ(r.DoAdjust(one, &noCluster, fdts, {}), AdjustResult::NoCluster);
    // Positions that contradict each other are refused before any geometry is computed.
    scan::TMidEntry far, near;
    far.DirSectNum = 1000, far.DirClusNum = 10;
    near.DirSectNum = 2000, near.DirClusNum = 5;
    const std::int32_t before = r.SectorsPerClus;
    EXPECT_EQ(r.DoAdjust(&far, &near, fdts, {}), AdjustResult::NotSameFileSystem);
    EXPECT_EQ(r.SectorsPerClus, before);

    ASSERT_EQ(r.DoAdjust(one, two, fdts, {}), AdjustResult::Done);
    EXPECT_EQ(r.SectorsPerClus, 4);
    EXPECT_EQ(r.RootSectNum, kData);
    // The width toggles and every stage runs again; twice is where it began.
    const std::size_t entries = r.FatFileList.size();
    r.DoChangeFS(fdts, {});
    EXPECT_EQ(r.FatType, kFat32);
    EXPECT_EQ(r.FatFileList.front()->Kind(), scan::EntryKind::Fat32);
    r.DoChangeFS(fdts, {});
    EXPECT_EQ(r.FatType, kFat16);
    EXPECT_EQ(r.FatFileList.size(), entries);
}

TEST(AdvFatStages, FatTypeFromBootSector) {
    Disk d = fat32Disk();
    const storage::TBootSector boot = storage::MakeBootSector(std::span(d.bytes).first(512));
    EXPECT_EQ(FatTypeFromBootSector(boot, kFat32), kFat12);  // 700 sectors of data: few clusters
    EXPECT_EQ(FatTypeFromBootSector(boot, 3), kFatUnknown);
    EXPECT_EQ(FatTypeFromBootSector(storage::MakeBootSector(std::vector<std::byte>(512)), kFat32), kFatUnknown);
    std::vector<std::byte> lies(d.bytes.begin(), d.bytes.begin() + 512);
    put32(lies, 32, 90);  // fewer sectors than the tables take
    EXPECT_EQ(FatTypeFromBootSector(storage::MakeBootSector(lies), kFat32), kFatUnknown);
}

}  // namespace
}  // namespace brenvale::advscan
