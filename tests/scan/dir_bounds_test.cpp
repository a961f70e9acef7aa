// The index ranges the folder view looks children up by, over the sorted result of a scan.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/scan_harness.h"
#include "scan/volume_builder.h"

namespace brenvale::test {
namespace {

TEST(DirBounds, EmptyListHasNoRange) {
    ScanHarness h(std::move(VolumeBuilder(Fs::Fat16).bytes()));
    std::int32_t first = 7, last = 7;
    EXPECT_FALSE(h.scan().GetFatBounds({}, 0, first, last));
    EXPECT_EQ(first, -1);
    EXPECT_EQ(last, -1);
    first = last = 7;
    EXPECT_FALSE(h.scan().GetDirBounds(0, first, last));
    EXPECT_EQ(first, -1);
    EXPECT_EQ(last, -1);
}

TEST(DirBounds, RangesFollowTheSortAfterTheWalk) {
    // The walk lists ZED's child between ZED and ALPHA; only the sort groups them by folder.
    VolumeBuilder v(Fs::Fat16);
    v.put(0, 0, {FolderEntry("ZED", 30), FolderEntry("ALPHA", 10), FileEntry("M.TXT", 40, 1)});
    v.makeFolder(30, 0);
    v.put(30, 2, {FileEntry("Q.TXT", 41, 1)});
    v.makeFolder(10, 0);
    v.put(10, 2, {FileEntry("B.TXT", 42, 1), FileEntry("A.TXT", 43, 1)});
    ScanHarness h(std::move(v.bytes()));
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);

    struct Row {
        std::uint32_t folder;
        std::vector<std::string> children;  // in list order; empty: no range
    };
    const std::vector<Row> rows = {
        {0, {"ALPHA", "M.TXT", "ZED"}},
        {10, {"A.TXT", "B.TXT"}},
        {30, {"Q.TXT"}},
        {5, {}},   // between the root and the first folder
        {20, {}},  // between two folders
        {31, {}},  // after the last
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.folder);
        std::int32_t first = 7, last = 7;
        const bool found = h.scan().GetDirBounds(r.folder, first, last);
        EXPECT_EQ(found, !r.children.empty());
        if (r.children.empty()) {
            EXPECT_EQ(first, -1);
            EXPECT_EQ(last, -1);
            continue;
        }
        ASSERT_GE(first, 0);
        ASSERT_LT(last, static_cast<std::int32_t>(h.scan().ScannedFiles.size()));
        std::vector<std::string> names;
        for (std::int32_t i = first; i <= last; ++i) names.push_back(h.scan().EntryDisplayName(h.scan().ScannedFiles[i]));
        EXPECT_EQ(names, r.children);
    }
}

}  // namespace
}  // namespace brenvale::test
