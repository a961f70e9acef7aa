// The exFAT walk: entry sets in use and deleted, names and sizes as listed, folders without a
// FAT chain, the volume label, and folders that are cut short or point back up the tree.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scan/scan_harness.h"
#include "scan/volume_builder.h"

namespace brenvale::test {
namespace {

using scan::kStatusDeleted;
using scan::kStatusLive;

std::u16string Numbered(const char16_t* prefix, int i) {
    return std::u16string(prefix) + char16_t(u'0' + i / 10) + char16_t(u'0' + i % 10);
}

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }  // ASCII only

TEST(ExfatWalk, DeletedEntrySetIsListedWithItsFullName) {
    VolumeBuilder v(Fs::Exfat);
    // 27 units: two name entries, the first full, and characters that take two UTF-8 bytes.
    const std::u16string gone = u"Gr\u00FC\u00DFe an alle, gel\u00F6scht.txt";
    std::size_t slot = v.put(2, 0, ExfatEntries({.name = u"alive.txt", .cluster = 10, .length = 5}));
    v.put(2, slot, ExfatEntries({.name = gone, .cluster = 11, .length = 70000, .deleted = true}));
    ScanHarness h(std::move(v.bytes()));
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);

    const auto* deleted = h.one("Gr\xC3\xBC\xC3\x9F" "e an alle, gel\xC3\xB6" "scht.txt");
    ASSERT_NE(deleted, nullptr);
    EXPECT_EQ(h.facts(deleted).status, kStatusDeleted);
    EXPECT_EQ(h.facts(deleted).size, 70000u);
    EXPECT_EQ(h.facts(deleted).firstCluster, 11u);
    EXPECT_EQ(h.facts(h.one("alive.txt")).status, kStatusLive);
}

TEST(ExfatWalk, NameIsCutAt255Units) {
    struct Row {
        std::size_t units;
        std::size_t firstEntryUnits;  // a name entry ending early, as in a damaged set
        std::size_t expectedFromFirst;
    };
    for (const Row& r : {Row{15, 15, 15}, Row{255, 15, 15}, Row{256, 15, 15}, Row{270, 15, 15}, Row{270, 10, 10}}) {
        SCOPED_TRACE(testing::Message() << r.units << " units, " << r.firstEntryUnits << " in the first entry");
        std::u16string name;
        for (std::size_t i = 0; i < r.units; ++i) name.push_back(char16_t(u'a' + i % 26));
        auto set = ExfatEntries({.name = name, .cluster = 10, .length = 1});
        for (std::size_t i = r.firstEntryUnits; i < 15; ++i) set[2][2 + 2 * i] = set[2][3 + 2 * i] = std::byte{0};
        VolumeBuilder v(Fs::Exfat);
        v.chain({2, 3});  // 20 entries need more than one 512-byte cluster
        v.put(2, 0, set);
        ScanHarness h(std::move(v.bytes()));
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        ASSERT_EQ(h.scan().ScannedFiles.size(), 1u);
        // What the entries hold, first entry as far as it goes, then the rest, up to 255 units.
        const std::u16string held = name.substr(0, r.expectedFromFirst) + name.substr(std::min<std::size_t>(15, r.units));
        EXPECT_EQ(h.scan().EntryDisplayName(h.scan().ScannedFiles[0]), Narrow(held.substr(0, 255)));
    }
}

TEST(ExfatWalk, SizeAbove4GiBIsSplitOverTheRecord) {
    constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
    for (const std::uint64_t length : {5 * kGiB, 4 * kGiB + 1, 4 * kGiB - 1}) {
        SCOPED_TRACE(length);
        VolumeBuilder v(Fs::Exfat);
        v.put(2, 0, ExfatEntries({.name = u"big.bin", .cluster = 10, .length = length}));
        ScanHarness h(std::move(v.bytes()));
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        const auto* e = scan::AsMid(h.one("big.bin"));
        ASSERT_NE(e, nullptr);
        // The 32-bit size field holds the low half, as on FAT; the record keeps the rest.
        const std::uint32_t low = e->FDTEntry.filesize;
        EXPECT_EQ(low, static_cast<std::uint32_t>(length & 0xFFFFFFFF));
        EXPECT_EQ(e->SizeHigh, static_cast<std::uint32_t>(length >> 32));
        EXPECT_EQ(h.facts(e).size, length);
    }
}

TEST(ExfatWalk, FolderWithoutFatChainIsReadOverItsWholeLength) {
    struct Row {
        const char* what;
        bool noFatChain;
        std::vector<std::uint32_t> fatChain;  // empty: the FAT holds nothing for the folder
        std::size_t listed;
    };
    const std::vector<Row> rows = {
        {"flagged, no FAT entries", true, {}, 16},
        {"chained through the FAT", false, {10, 11, 12}, 16},
        // The sixth set crosses into cluster 11, which the lone cluster's read cannot reach.
        {"neither flag nor chain", false, {}, 5},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        VolumeBuilder v(Fs::Exfat);
        v.put(2, 0, ExfatEntries({.name = u"contig", .folder = true, .cluster = 10, .length = 3 * 512,
                                  .noFatChain = r.noFatChain}));
        for (std::size_t i = 0; i + 1 < r.fatChain.size(); ++i) v.setFat(r.fatChain[i], r.fatChain[i + 1]);
        if (!r.fatChain.empty()) v.setFat(r.fatChain.back(), v.endOfChain());
        // 16 sets of 3 entries fill clusters 10, 11 and 12 to the end.
        std::vector<RawEntry> all;
        for (int i = 0; i < 16; ++i) {
            const auto set = ExfatEntries({.name = Numbered(u"file", i), .cluster = 20, .length = 1});
            all.insert(all.end(), set.begin(), set.end());
        }
        for (std::uint32_t c = 10; c <= 12; ++c) {
            WriteEntries(v.cluster(c), 0, std::vector<RawEntry>(all.begin() + (c - 10) * 16, all.begin() + (c - 9) * 16));
        }
        const std::uint64_t lastSetSector = v.clusterSector(12);
        ScanHarness h(std::move(v.bytes()));
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);

        const auto* folder = h.one("contig");
        ASSERT_NE(folder, nullptr);
        EXPECT_EQ(h.childrenOf(folder).size(), r.listed);
        for (std::size_t i = 0; i < r.listed; ++i) EXPECT_EQ(h.count(Narrow(Numbered(u"file", int(i)))), 1u) << i;
        if (r.listed == 16) {
            // file15's set lies in the third cluster; the entry names that cluster's sector.
            const auto* last = scan::AsMid(h.one("file15"));
            ASSERT_NE(last, nullptr);
            EXPECT_EQ(last->DirSectNum, lastSetSector);
        }
    }
}

TEST(ExfatWalk, VolumeLabelComesFromTheRootsLabelInUse) {
    struct Row {
        const char* what;
        std::vector<RawEntry> root;
        std::vector<RawEntry> sub;
        const char* label;
    };
    const auto file = ExfatEntries({.name = u"a.txt", .cluster = 20, .length = 1});
    const auto folder = ExfatEntries({.name = u"sub", .folder = true, .cluster = 10});
    auto with = [](RawEntry first, std::vector<RawEntry> rest) {
        rest.insert(rest.begin(), first);
        return rest;
    };
    const std::vector<Row> rows = {
        {"label in use", with(ExfatLabel(u"MyDisk"), folder), {}, "MyDisk"},
        {"eleven characters", with(ExfatLabel(u"ABCDEFGHIJK"), folder), {}, "ABCDEFGHIJK"},
        {"no label", folder, {}, ""},
        {"a removed label", with(ExfatLabel(u"OldName", false), folder), {}, ""},
        {"a label entry in a subfolder", folder, with(ExfatLabel(u"Stray"), file), ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        VolumeBuilder v(Fs::Exfat);
        v.put(2, 0, r.root);
        v.setFat(10, v.endOfChain());
        v.put(10, 0, r.sub);
        ScanHarness h(std::move(v.bytes()));
        EXPECT_EQ(h.scan().VolumeLabel(), r.label) << "before the scan";
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        EXPECT_EQ(h.scan().VolumeLabel(), r.label) << "after the scan";
        EXPECT_EQ(h.count("sub"), 1u);
    }
}

TEST(ExfatWalk, SetRunningPastTheFolderKeepsWhatCameBefore) {
    VolumeBuilder v(Fs::Exfat);
    std::size_t slot = v.put(2, 0, ExfatEntries({.name = u"before.txt", .cluster = 20, .length = 1}));
    slot = v.put(2, slot, ExfatEntries({.name = u"cut", .folder = true, .cluster = 10}));
    v.put(2, slot, ExfatEntries({.name = u"after.txt", .cluster = 21, .length = 1}));
    v.setFat(10, v.endOfChain());
    // Five sets fill slots 0 to 14; the last slot opens a set whose stream and name would lie
    // beyond the folder's only cluster.
    std::vector<std::string> inside;
    slot = 0;
    for (int i = 0; i < 5; ++i) {
        slot = v.put(10, slot, ExfatEntries({.name = Numbered(u"in", i), .cluster = 22, .length = 1}));
        inside.push_back(Narrow(Numbered(u"in", i)));
    }
    ASSERT_EQ(slot, v.entriesPerCluster() - 1);
    v.put(10, slot, {ExfatEntries({.name = u"lost.txt", .cluster = 23, .length = 1}).front()});
    ScanHarness h(std::move(v.bytes()));

    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    EXPECT_EQ(h.childrenOf(h.one("cut")), inside);
    EXPECT_EQ(h.count("before.txt"), 1u);
    EXPECT_EQ(h.count("after.txt"), 1u);
    EXPECT_EQ(h.scan().ScannedFiles.size(), 3u + inside.size());
}

TEST(ExfatWalk, FolderPointingUpTheTreeIsNotFollowed) {
    struct Row {
        const char* what;
        std::uint32_t target;
    };
    for (const Row& r : {Row{"the root", 2}, Row{"an ancestor", 10}, Row{"its own folder", 11}}) {
        SCOPED_TRACE(r.what);
        VolumeBuilder v(Fs::Exfat);
        v.put(2, 0, ExfatEntries({.name = u"outer", .folder = true, .cluster = 10}));
        v.setFat(10, v.endOfChain());
        std::size_t slot = v.put(10, 0, ExfatEntries({.name = u"o.txt", .cluster = 20, .length = 1}));
        v.put(10, slot, ExfatEntries({.name = u"inner", .folder = true, .cluster = 11}));
        v.setFat(11, v.endOfChain());
        slot = v.put(11, 0, ExfatEntries({.name = u"i.txt", .cluster = 21, .length = 1}));
        v.put(11, slot, ExfatEntries({.name = u"loop", .folder = true, .cluster = r.target}));
        ScanHarness h(std::move(v.bytes()));

        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        EXPECT_TRUE(h.childrenOf(h.one("loop")).empty());
        EXPECT_EQ(h.count("o.txt"), 1u);
        EXPECT_EQ(h.count("i.txt"), 1u);
        EXPECT_EQ(h.scan().ScannedFiles.size(), 5u);
    }
}

TEST(ExfatWalk, FolderSharedByManyEntriesIsWalkedOnce) {
    VolumeBuilder v(Fs::Exfat);
    v.chain({2, 3});
    std::size_t slot = 0;
    for (int i = 0; i < 8; ++i) {
        slot = v.put(2, slot, ExfatEntries({.name = Numbered(u"link", i), .folder = true, .cluster = 10,
                                            .deleted = i % 2 == 1}));
    }
    v.setFat(10, v.endOfChain());
    v.put(10, 0, ExfatEntries({.name = u"shared.txt", .cluster = 20, .length = 1}));
    ScanHarness h(std::move(v.bytes()));

    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    EXPECT_EQ(h.count("shared.txt"), 1u);
    EXPECT_EQ(h.scan().ScannedFiles.size(), 9u);
}

}  // namespace
}  // namespace brenvale::test
