// The NTFS stages after the pass: the cluster-size choice, the folder sort with placeholder
// folders, legacy record numbers and the volume start, over harvested records laid out as a
// volume lays them out.

#include <gtest/gtest.h>

#include <string>

#include "advscan/ntfs_stages.h"

namespace brenvale::advscan {
namespace {

scan::tntfsfilerecord& add(HarvestLists& l, std::int64_t number, std::int64_t sector, std::uint64_t parent = 5,
                           std::string name = "", std::int64_t firstCluster = 0) {
    scan::tntfsfilerecord& r = l.NtfsRecords.emplace_back();
    r.recordnumber = number;
    r.sectornumber = sector;
    r.head.FileReferenceOfParentDir = storage::makeFileReference(parent, 1);
    r.filename = name.empty() ? "r" + std::to_string(sector + 100000) : name;
    r.tmpsectnum = firstCluster;
    l.NTFSFileList.push_back(&r);
    return r;
}

TEST(AdvNtfsStages, ClusterSizeVote) {
    EXPECT_EQ(ChooseSectorsPerCluster({}), 1);
    EXPECT_EQ(ChooseSectorsPerCluster({0, 0, 5, 5, 0, 0, 0, 0}), 4);  // equal votes: the smaller size
    EXPECT_EQ(ChooseSectorsPerCluster({0, 0, 5, 6, 0, 0, 0, 0}), 8);
    EXPECT_EQ(ChooseSectorsPerCluster({1, 0, 0, 0, 0, 0, 0, 3}), 128);
}

TEST(AdvNtfsStages, SortAndPlaceholderFolders) {
    HarvestLists l;
    add(l, 40, 0, 77, "b.txt");
    add(l, 30, 2, 5, "Photos");
    add(l, 41, 4, 30, "z.jpg");
    add(l, 42, 6, 30, "a.jpg");
    add(l, 43, 8, 77, "a.txt");
    scan::tntfsfilerecord folderTemplate;
    const NtfsFolders f = AdvSortNtfsRecords(l, folderTemplate, {});
    EXPECT_EQ(f.Dirs, (std::vector<std::uint64_t>{30, 77}));
    EXPECT_EQ(f.TopDirs, (std::vector<std::uint64_t>{77}));
    std::vector<std::string> names;
    for (const auto* r : l.NTFSFileList) names.push_back(r->filename);
    EXPECT_EQ(names, (std::vector<std::string>{"Folder0000004D", "Photos", "a.jpg", "z.jpg", "a.txt", "b.txt"}));
    const auto* folder = l.NTFSFileList.front();
    EXPECT_EQ(folder->recordnumber, 77);
    EXPECT_EQ(folder->flag, 2);
    EXPECT_EQ(folder->head.FileReferenceOfParentDir.recordNumber(), 5u);
    // Run again (a resumed scan): the placeholder is made afresh, never twice.
    const NtfsFolders again = AdvSortNtfsRecords(l, folderTemplate, {});
    EXPECT_EQ(again.TopDirs, (std::vector<std::uint64_t>{77}));
    EXPECT_EQ(l.NTFSFileList.size(), 6u);
    // The folder's own record harvested since: it takes the placeholder's place.
    add(l, 77, 10, 5, "Docs");
    const NtfsFolders found = AdvSortNtfsRecords(l, folderTemplate, {});
    EXPECT_TRUE(found.TopDirs.empty());
    names.clear();
    for (const auto* r : l.NTFSFileList) names.push_back(r->filename);
    EXPECT_EQ(names, (std::vector<std::string>{"Docs", "Photos", "a.jpg", "z.jpg", "a.txt", "b.txt"}));
}

TEST(AdvNtfsStages, LegacyNumbersFromTheirNeighbours) {
    // Numbered records two sectors apart with a run of two old-layout records in the middle;
    // `numbered` decides how many neighbouring pairs vouch for the stride.
    for (const auto& [numbered, filled] : {std::pair{19, 2}, std::pair{17, 0}}) {
        SCOPED_TRACE(numbered);
        HarvestLists l;
        const int first = 100;
        const int total = numbered + 2;
        for (int i = 0; i < total; ++i) {
            const int number = first + i;
            const bool legacy = i == total / 2 || i == total / 2 + 1;
            add(l, legacy ? -1 : number, 1000 + 2 * i);
        }
        std::vector<std::string> lines;
        const std::size_t n = AdvFixLegacyNtfsRecNumbers(l, 512, {}, [&](const std::string& s) { lines.push_back(s); });
        EXPECT_EQ(n, static_cast<std::size_t>(filled));
        EXPECT_EQ(lines.size(), 1u);
        for (int i = 0; i < total; ++i) {
            const auto* r = l.NTFSFileList[static_cast<std::size_t>(i)];
            if (filled) {
                EXPECT_EQ(r->recordnumber, first + i);
            }
        }
    }
}

TEST(AdvNtfsStages, LegacyRunThatDoesNotFitItsGapKeepsNoNumbers) {
    HarvestLists l;
    for (int i = 0; i < 30; ++i) add(l, i == 12 ? -1 : 100 + i + (i > 12 ? 1 : 0), 1000 + 2 * i);  // a number skipped
    EXPECT_EQ(AdvFixLegacyNtfsRecNumbers(l, 512, {}, {}), 0u);
    EXPECT_EQ(l.NTFSFileList[12]->recordnumber, -1);
}

// A volume at sector V with 8 sectors per cluster: the table at cluster 4 (records 0 to 63, 1 KiB
// each), its mirror at cluster 100.
struct Layout {
    std::int64_t volume = 2048;
    std::int64_t table() const { return volume + 4 * 8; }
    std::int64_t mirror() const { return volume + 100 * 8; }
};

TEST(AdvNtfsStages, VolumeStartFromTheTable) {
    Layout v;
    HarvestLists l;
    add(l, 0, v.table(), 5, "$MFT", 4);
    for (int n = 4; n < 40; ++n) add(l, n, v.table() + 2 * n);
    const auto s = AdvSolveNtfsGeometry(l, 8, 512, {}, {});
    EXPECT_TRUE(s.Solved);
    EXPECT_EQ(s.Base, v.volume);
}

TEST(AdvNtfsStages, VolumeStartFromTheMirrorWhenBothViewsAgree) {
    for (const auto& [mirrorCluster, solved] : {std::pair{100, true}, std::pair{101, false}}) {
        SCOPED_TRACE(mirrorCluster);
        Layout v;
        HarvestLists l;
        // The table's first records were overwritten: record 0 is the mirror's copy, and record
        // 1 after it gives the mirror's own cluster.
        add(l, 0, v.mirror(), 5, "$MFT", 4);
        add(l, 1, v.mirror() + 2, 5, "$MFTMirr", mirrorCluster);
        for (int n = 4; n < 40; ++n) add(l, n, v.table() + 2 * n);
        const auto s = AdvSolveNtfsGeometry(l, 8, 512, {}, {});
        EXPECT_EQ(s.Solved, solved);
        if (solved) {
            EXPECT_EQ(s.Base, v.volume);
        }
    }
}

TEST(AdvNtfsStages, NoVolumeStartWithoutRecordZeroOrItsCluster) {
    Layout v;
    HarvestLists none;
    for (int n = 4; n < 40; ++n) add(none, n, v.table() + 2 * n);
    EXPECT_FALSE(AdvSolveNtfsGeometry(none, 8, 512, {}, {}).Solved);
    HarvestLists noCluster;
    add(noCluster, 0, v.table(), 5, "$MFT", 0);
    for (int n = 4; n < 40; ++n) add(noCluster, n, v.table() + 2 * n);
    EXPECT_FALSE(AdvSolveNtfsGeometry(noCluster, 8, 512, {}, {}).Solved);
    HarvestLists negative;
    add(negative, 0, 10, 5, "$MFT", 4);  // 10 - 32 < 0
    add(negative, 7, 500);
    EXPECT_FALSE(AdvSolveNtfsGeometry(negative, 8, 512, {}, {}).Solved);
}

}  // namespace
}  // namespace brenvale::advscan
