// What the FAT walk keeps of each entry: which entries it drops, the names it builds from 8.3
// fields, case bits and long-name sequences, and the status it gives deleted and damaged
// folders and their contents.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/scan_harness.h"
#include "scan/volume_builder.h"
#include "storage/fs_types.h"

namespace brenvale::test {
namespace {

using scan::kStatusDamaged;
using scan::kStatusDeleted;
using scan::kStatusLive;

TEST(FatWalk, DropsEntriesThatCannotHoldAFileOrFolder) {
    struct Row {
        const char* what;
        RawEntry entry;
        const char* shown;
        bool listed;
    };
    const std::vector<Row> rows = {
        {"deleted file of size 0", Deleted(FileEntry("DZERO.TXT", 10, 0)), "_ZERO.TXT", false},
        {"deleted file with data", Deleted(FileEntry("DDATA.TXT", 11, 5)), "_DATA.TXT", true},
        {"live folder with a size", ShortEntry("BIGDIR", 0x10, 12, 512), "BIGDIR", false},
        {"deleted folder with a size", Deleted(ShortEntry("XBIGDIR", 0x10, 13, 512)), "_BIGDIR", true},
        {"file at cluster 0 with a size", FileEntry("NOCLUS.TXT", 0, 5), "NOCLUS.TXT", false},
        {"empty file at cluster 0", FileEntry("EMPTY.TXT", 0, 0), "EMPTY.TXT", true},
        {"live file", FileEntry("PLAIN.TXT", 14, 5), "PLAIN.TXT", true},
        {"volume label", ShortEntry("MYVOLUME", storage::kFatAttrVolumeLabel, 0, 0), "MYVOLUME", false},
    };
    for (const Fs fs : {Fs::Fat12, Fs::Fat16, Fs::Fat32}) {
        SCOPED_TRACE(FsName(fs));
        VolumeBuilder v(fs);
        std::vector<RawEntry> root;
        for (const Row& r : rows) root.push_back(r.entry);
        v.put(v.root(), 0, root);
        ScanHarness h(std::move(v.bytes()));
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        for (const Row& r : rows) EXPECT_EQ(h.count(r.shown), r.listed ? 1u : 0u) << r.what;
    }
}

TEST(FatWalk, CaseByteLowersNameAndExtensionSeparately) {
    struct Row {
        std::uint8_t caseByte;
        const char* shown;
    };
    for (const Row& r : {Row{0x00, "README.TXT"}, Row{0x08, "readme.TXT"}, Row{0x10, "README.txt"},
                         Row{0x18, "readme.txt"}, Row{0x18 | 0x01, "readme.txt"}}) {
        SCOPED_TRACE(r.shown);
        VolumeBuilder v(Fs::Fat12);
        v.put(0, 0, {ShortEntry("README.TXT", 0x20, 10, 5, r.caseByte)});
        ScanHarness h(std::move(v.bytes()));
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        ASSERT_EQ(h.scan().ScannedFiles.size(), 1u);
        EXPECT_EQ(h.scan().EntryDisplayName(h.scan().ScannedFiles[0]), r.shown);
    }
}

TEST(FatWalk, LongNameRestartsWhenTheChecksumChanges) {
    const RawEntry shortEntry = FileEntry("LONGNA~1.TXT", 10, 5);
    const std::uint8_t sum = LongNameChecksum(shortEntry);
    auto join = [](std::vector<RawEntry> a, const std::vector<RawEntry>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    // "A very long file name.txt" takes two parts; on disk the second comes first.
    const auto twoParts = LongNameEntries(u"A very long file name.txt", sum);
    auto brokenInside = twoParts;
    brokenInside[1][13] = std::byte{static_cast<std::uint8_t>(sum + 1)};
    struct Row {
        const char* what;
        std::vector<RawEntry> longName;
        const char* shown;
    };
    const std::vector<Row> rows = {
        {"one sequence", twoParts, "A very long file name.txt"},
        {"a stale sequence before it", join(LongNameEntries(u"old-stale-name.doc", sum ^ 0x5A), twoParts),
         "A very long file name.txt"},
        {"checksum changes at the last part", brokenInside, "A very long f"},
        {"no long name", {}, "LONGNA~1.TXT"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        VolumeBuilder v(Fs::Fat16);
        v.put(0, v.put(0, 0, r.longName), {shortEntry});
        ScanHarness h(std::move(v.bytes()));
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        ASSERT_EQ(h.scan().ScannedFiles.size(), 1u);
        EXPECT_EQ(h.scan().EntryDisplayName(h.scan().ScannedFiles[0]), r.shown);
    }
}

TEST(FatWalk, DeletedFolderPassesItsStatusDown) {
    for (const Fs fs : {Fs::Fat12, Fs::Fat16, Fs::Fat32}) {
        SCOPED_TRACE(FsName(fs));
        VolumeBuilder v(fs);
        v.put(v.root(), 0, {Deleted(FolderEntry("OLD", 10)), FolderEntry("LIVE", 12)});
        v.makeFolder(10, v.root());
        v.put(10, 2, {FileEntry("KID.TXT", 20, 1), FolderEntry("SUB", 11)});
        v.makeFolder(11, 10);
        v.put(11, 2, {FileEntry("GRAND.TXT", 21, 1)});
        v.makeFolder(12, v.root());
        v.put(12, 2, {FileEntry("OK.TXT", 22, 1)});
        ScanHarness h(std::move(v.bytes()));
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);

        const auto* old = h.one("_LD");
        ASSERT_NE(old, nullptr);
        EXPECT_EQ(h.childrenOf(old), (std::vector<std::string>{"KID.TXT", "SUB"}));
        for (const char* name : {"_LD", "KID.TXT", "SUB", "GRAND.TXT"}) {
            EXPECT_EQ(h.facts(h.one(name)).status, kStatusDeleted) << name;
        }
        for (const char* name : {"LIVE", "OK.TXT"}) EXPECT_EQ(h.facts(h.one(name)).status, kStatusLive) << name;
    }
}

TEST(FatWalk, Fat32DeletedFolderFindsItsHighClusterWord) {
    constexpr std::uint32_t kLow = 10;
    struct Row {
        const char* what;
        bool folderAtLow;      // cluster 10 holds "." and ".."
        bool dotOnlyAtLow;     // cluster 10 holds "." but no ".."
        bool folderAtHigh;     // cluster 65536 + 10 holds "." and ".."
        std::uint32_t expectedCluster;
        std::uint8_t expectedStatus;
    };
    const std::vector<Row> rows = {
        {"folder above 65535", false, false, true, 0x10000 + kLow, kStatusDeleted},
        {"folder at the low word", true, false, true, kLow, kStatusDeleted},
        {"'.' without '..' is no folder", false, true, true, 0x10000 + kLow, kStatusDeleted},
        {"no folder at any high word", false, false, false, kLow, kStatusDamaged},
        // The walk itself would accept this cluster; only the status keeps it from going there.
        {"'.' without '..' and nothing above", false, true, false, kLow, kStatusDamaged},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        VolumeBuilder v(Fs::Fat32);
        v.put(v.root(), 0, {Deleted(FolderEntry("GONE", kLow))});
        // What the low cluster holds otherwise: entries a walk would list if it went there.
        v.put(kLow, 0, {FileEntry("Y.TXT", 30, 1), FileEntry("Z.TXT", 31, 1)});
        if (r.folderAtLow) {
            v.makeFolder(kLow, v.root());
            v.put(kLow, 2, {FileEntry("LOW.TXT", 32, 1)});
        }
        if (r.dotOnlyAtLow) v.put(kLow, 0, {ShortEntry(".", 0x10, kLow, 0)});
        if (r.folderAtHigh) {
            v.makeFolder(0x10000 + kLow, v.root());
            v.put(0x10000 + kLow, 2, {FileEntry("HIGH.TXT", 33, 1)});
        }
        ScanHarness h(std::move(v.bytes()));
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);

        const auto* gone = h.one("_ONE");
        ASSERT_NE(gone, nullptr);
        EXPECT_EQ(h.facts(gone).firstCluster, r.expectedCluster);
        EXPECT_EQ(h.facts(gone).status, r.expectedStatus);
        const auto children = h.childrenOf(gone);
        if (r.expectedStatus == kStatusDamaged) {
            EXPECT_TRUE(children.empty());
        } else {
            EXPECT_EQ(children, std::vector<std::string>{r.expectedCluster == kLow ? "LOW.TXT" : "HIGH.TXT"});
        }
    }
}

TEST(FatWalk, FolderWithoutDotEntriesIsDamaged) {
    struct Row {
        const char* what;
        std::vector<RawEntry> firstEntries;  // slots 0 and up of the folder's first cluster
        bool deleted;
        std::uint8_t expectedStatus;
        std::vector<std::string> children;
    };
    const RawEntry dot = ShortEntry(".", 0x10, 10, 0);
    const RawEntry dotdot = ShortEntry("..", 0x10, 0, 0);
    const RawEntry y = FileEntry("Y.TXT", 30, 1);
    const std::vector<Row> rows = {
        {"zeroed cluster", {}, false, kStatusDamaged, {}},
        {"file entries", {y, FileEntry("Z.TXT", 31, 1)}, false, kStatusDamaged, {}},
        {"deleted folder whose cluster a file took", {y}, true, kStatusDamaged, {}},
        {"'.' and '..'", {dot, dotdot, y}, false, kStatusLive, {"Y.TXT"}},
        {"'.' alone", {dot, y}, false, kStatusLive, {"Y.TXT"}},
        {"'..' alone", {y, dotdot}, false, kStatusLive, {"Y.TXT"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        VolumeBuilder v(Fs::Fat16);
        const RawEntry sub = FolderEntry("SUB", 10);
        v.put(0, 0, {r.deleted ? Deleted(sub) : sub, FileEntry("NEXT.TXT", 40, 1)});
        v.setFat(10, v.endOfChain());
        v.put(10, 0, r.firstEntries);
        ScanHarness h(std::move(v.bytes()));
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);

        const auto* folder = h.one(r.deleted ? "_UB" : "SUB");
        ASSERT_NE(folder, nullptr);
        EXPECT_EQ(h.facts(folder).status, r.expectedStatus);
        EXPECT_EQ(h.childrenOf(folder), r.children);
        EXPECT_EQ(h.count("NEXT.TXT"), 1u);
    }
}

}  // namespace
}  // namespace brenvale::test
