// The FAT walk over damaged trees: looping chains, chains leaving the volume, folders that
// point back up the tree, garbage folders, an impossible cluster size and folders shared by
// many entries. Each must end with every reachable entry listed a bounded number of times.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "scan/scan_harness.h"
#include "scan/volume_builder.h"
#include "storage/fat_dir_entry.h"
#include "storage/fs_types.h"

namespace brenvale::test {
namespace {

TEST(FatDamage, LoopingFolderChainListsEachEntryOnce) {
    for (const Fs fs : {Fs::Fat12, Fs::Fat16, Fs::Fat32}) {
        SCOPED_TRACE(FsName(fs));
        VolumeBuilder v(fs);
        v.put(v.root(), 0, {FolderEntry("LOOP", 10)});
        v.chain({10, 11});
        v.setFat(11, 10);
        v.makeFolder(10, v.root());
        // Both clusters full, so only the chain can end the folder.
        v.put(10, 2, NumberedFiles('A', 0, 14));
        v.put(10, 16, NumberedFiles('B', 0, 16));
        ScanHarness h(std::move(v.bytes()));

        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        EXPECT_EQ(h.childrenOf(h.one("LOOP")).size(), 30u);
        for (std::size_t i = 0; i < 14; ++i) EXPECT_EQ(h.count(NumberedName('A', i)), 1u) << NumberedName('A', i);
        for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(h.count(NumberedName('B', i)), 1u) << NumberedName('B', i);
        EXPECT_EQ(h.scan().ScannedFiles.size(), 31u);
    }
}

TEST(FatDamage, ChainLeavingTheVolumeEndsTheFolder) {
    struct Case {
        const char* what;
        Fs fs;
        std::uint32_t firstCluster;  // of folder "OUT"
        std::uint32_t next;          // FAT entry of that cluster; 0 keeps the end of chain
        std::size_t children;
    };
    const std::vector<Case> cases = {
        {"FAT16 next cluster one past the last", Fs::Fat16, 10, 4202, 14},
        {"FAT16 next cluster far outside", Fs::Fat16, 10, 0xFFF0, 14},
        {"FAT32 next cluster outside", Fs::Fat32, 10, 0x00FFFFFF, 14},
        {"FAT16 folder starting outside", Fs::Fat16, 4300, 0, 0},
        {"FAT32 folder starting outside", Fs::Fat32, 0x00F00000, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VolumeBuilder v(c.fs);
        v.put(v.root(), 0, {FolderEntry("OUT", c.firstCluster), FileEntry("AFTER.TXT", 20, 1)});
        if (c.next != 0) {
            v.makeFolder(c.firstCluster, v.root());
            v.setFat(c.firstCluster, c.next);
            v.put(c.firstCluster, 2, NumberedFiles('A', 0, 14));
        }
        ScanHarness h(std::move(v.bytes()));

        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        EXPECT_EQ(h.childrenOf(h.one("OUT")).size(), c.children);
        EXPECT_EQ(h.count("AFTER.TXT"), 1u);
        EXPECT_EQ(h.scan().ScannedFiles.size(), 2 + c.children);
    }
}

TEST(FatDamage, FolderPointingUpItsOwnPathIsListedNotWalked) {
    struct Case {
        const char* what;
        Fs fs;
        bool toSelf;  // else to OUTER, or to the root when toRoot
        bool toRoot;
        bool deleted;
    };
    const std::vector<Case> cases = {
        {"FAT16 to itself", Fs::Fat16, true, false, false},
        {"FAT16 deleted, to itself", Fs::Fat16, true, false, true},
        {"FAT16 to its parent", Fs::Fat16, false, false, false},
        {"FAT16 deleted, to its parent", Fs::Fat16, false, false, true},
        {"FAT32 deleted, to itself", Fs::Fat32, true, false, true},
        {"FAT32 deleted, to its parent", Fs::Fat32, false, false, true},
        {"FAT32 to the root", Fs::Fat32, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VolumeBuilder v(c.fs);
        v.put(v.root(), 0, {FolderEntry("OUTER", 10)});
        v.makeFolder(10, v.root());
        v.put(10, 2, {FileEntry("O.TXT", 20, 1), FolderEntry("INNER", 11)});
        v.makeFolder(11, 10);
        const std::uint32_t target = c.toRoot ? v.root() : c.toSelf ? 11 : 10;
        const RawEntry loop = FolderEntry("LOOP", target);
        v.put(11, 2, {FileEntry("I.TXT", 21, 1), c.deleted ? Deleted(loop) : loop});
        ScanHarness h(std::move(v.bytes()));

        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        const auto* entry = h.one(c.deleted ? "_OOP" : "LOOP");
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(h.facts(entry).status, c.deleted ? scan::kStatusDeleted : scan::kStatusLive);
        EXPECT_EQ(h.facts(entry).firstCluster, target);
        EXPECT_TRUE(h.childrenOf(entry).empty());
        EXPECT_EQ(h.count("O.TXT"), 1u);
        EXPECT_EQ(h.count("I.TXT"), 1u);
        EXPECT_EQ(h.scan().ScannedFiles.size(), 5u);
    }
}

TEST(FatDamage, GarbageFolderEndsWithItsSubfoldersMarkedDamaged) {
    // Eight clusters of random bytes behind a real "." and "..". Every other entry is shaped
    // as a folder (directory bit, size 0) pointing at its own zeroed cluster, so the walk
    // tries to enter each of them.
    VolumeBuilder v(Fs::Fat16);
    v.put(v.root(), 0, {FolderEntry("JUNK", 10)});
    v.chain({10, 11, 12, 13, 14, 15, 16, 17});
    std::mt19937 rng(20240611);
    for (std::uint32_t c = 10; c <= 17; ++c) {
        for (std::byte& b : v.cluster(c)) b = static_cast<std::byte>(rng() & 0xFF);
    }
    v.makeFolder(10, v.root());
    for (std::size_t slot = 2; slot < 8 * v.entriesPerCluster(); slot += 2) {
        const std::uint32_t c = static_cast<std::uint32_t>(10 + slot / v.entriesPerCluster());
        const auto e = v.cluster(c).subspan(slot % v.entriesPerCluster() * 32, 32);
        // A name the walk takes for one: garbage bytes in the name alone drop the entry.
        for (std::size_t i = 0; i < 11; ++i) e[i] = static_cast<std::byte>(i < 3 ? 'G' + i : ' ');
        e[11] = std::byte{storage::kFatAttrDirectory};
        const std::uint32_t target = static_cast<std::uint32_t>(1000 + slot);
        e[26] = static_cast<std::byte>(target & 0xFF);
        e[27] = static_cast<std::byte>(target >> 8);
        e[28] = e[29] = e[30] = e[31] = std::byte{0};
    }
    ScanHarness h(std::move(v.bytes()));

    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    const auto* junk = h.one("JUNK");
    ASSERT_NE(junk, nullptr);
    EXPECT_EQ(h.facts(junk).status, scan::kStatusLive);
    std::size_t folders = 0;
    for (const scan::TScanEntry* e : h.scan().ScannedFiles) {
        if (e == junk) continue;
        const auto f = h.facts(e);
        EXPECT_EQ(f.parent, junk) << "walked into garbage: " << f.name;
        if (f.folder) {
            ++folders;
            EXPECT_EQ(f.status, scan::kStatusDamaged) << f.name;
        }
    }
    EXPECT_GT(folders, 20u);
}

TEST(FatDamage, ZeroSectorsPerClusterListsNothing) {
    struct Case {
        Fs fs;
        std::uint8_t code;
    };
    for (const Case& c : {Case{Fs::Fat12, storage::kFsFat12}, Case{Fs::Fat16, storage::kFsFat16},
                          Case{Fs::Fat32, storage::kFsFat32}}) {
        SCOPED_TRACE(FsName(c.fs));
        VolumeBuilder v(c.fs);
        v.put(v.root(), 0, {FileEntry("A.TXT", 10, 1), FolderEntry("SUB", 11)});
        v.makeFolder(11, v.root());
        v.bootSector()[13] = std::byte{0};
        ScanHarness h(std::move(v.bytes()));
        // The geometry fails, so only the type label names the file system.
        ASSERT_EQ(h.partition().BootSector.FileSystemType, c.code);

        EXPECT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        EXPECT_TRUE(h.scan().ScannedFiles.empty());
        scan::TClusterBuf chain;
        std::uint32_t count = 0;
        h.scan().GetClusNumChain(11, chain, count);
        EXPECT_EQ(chain, scan::TClusterBuf{11});
    }
}

TEST(FatDamage, FolderSharedByManyEntriesIsWalkedOnceLiveAndOnceDeleted) {
    for (const Fs fs : {Fs::Fat16, Fs::Fat32}) {
        SCOPED_TRACE(FsName(fs));
        VolumeBuilder v(fs);
        std::vector<RawEntry> root;
        for (int i = 0; i < 10; ++i) root.push_back(FolderEntry("L0" + std::to_string(i), 20));
        for (int i = 0; i < 4; ++i) root.push_back(Deleted(FolderEntry("D0" + std::to_string(i), 20)));
        v.put(v.root(), 0, root);
        v.makeFolder(20, v.root());
        v.put(20, 2, {FileEntry("A.TXT", 30, 1), FolderEntry("INNER", 21)});
        v.makeFolder(21, 20);
        v.put(21, 2, {FileEntry("B.TXT", 31, 1)});
        ScanHarness h(std::move(v.bytes()));

        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        for (const char* name : {"A.TXT", "INNER", "B.TXT"}) {
            SCOPED_TRACE(name);
            std::vector<std::uint8_t> statuses;
            for (const auto* e : h.named(name)) statuses.push_back(h.facts(e).status);
            std::sort(statuses.begin(), statuses.end());
            EXPECT_EQ(statuses, (std::vector<std::uint8_t>{scan::kStatusLive, scan::kStatusDeleted}));
        }
        EXPECT_EQ(h.scan().ScannedFiles.size(), 14u + 2 * 3);
    }
}

}  // namespace
}  // namespace brenvale::test
