// The deleted-only filter over hand-made scan results: what counts as deleted, and which
// folders hold something deleted below them. Each tree is laid out on FAT16, FAT32 and exFAT,
// whose records keep a folder's key in different fields.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "scan/scan_harness.h"
#include "scan/volume_builder.h"
#include "storage/fat_dir_entry.h"

namespace brenvale::test {
namespace {

// A scan object over an empty volume whose result list the test fills in by hand.
class HandTree {
public:
    explicit HandTree(Fs fs) : fs_(fs), h_(std::move(VolumeBuilder(fs).bytes())) {}

    std::uint32_t root() { return static_cast<std::uint32_t>(h_.scan().DelRootKey()); }

    // An entry of the folder keyed `dir`; a folder's own key is `cluster`.
    const scan::TScanEntry* add(std::uint32_t dir, std::uint32_t cluster, bool folder, bool deleted) {
        const std::uint8_t attr = folder ? storage::kFatAttrDirectory : storage::kFatAttrArchive;
        const std::uint8_t status = deleted ? scan::kStatusDeleted : scan::kStatusLive;
        scan::TScanEntry* e = nullptr;
        if (fs_ == Fs::Fat32) {
            auto& r = fat32_.emplace_back();
            r.FDT32Entry.attribute = attr;
            r.FDT32Entry.hi1stclusternumber = static_cast<std::uint16_t>(cluster >> 16);
            r.FDT32Entry.lo1stclusternumber = static_cast<std::uint16_t>(cluster);
            r.ClusNumber = dir;
            r.Status = status;
            e = &r;
        } else {
            auto& r = mid_.emplace_back(fs_ == Fs::Exfat ? scan::EntryKind::ExFat : scan::EntryKind::Fat);
            r.FDTEntry.attribute = attr;
            if (fs_ == Fs::Exfat) {
                r.DirClusNum = cluster;
            } else {
                r.FDTEntry.firstclusternumber = static_cast<std::uint16_t>(cluster);
            }
            r.ClusNumber = dir;
            r.Status = status;
            e = &r;
        }
        list_.push_back({dir, e});
        return e;
    }

    // The list sorted by folder as a scan leaves it, and the filter built afresh.
    scan::TUndelete& scan() {
        std::stable_sort(list_.begin(), list_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        h_.scan().ScannedFiles.clear();
        for (const auto& [dir, e] : list_) h_.scan().ScannedFiles.push_back(e);
        h_.scan().InvalidateDelFilter();
        return h_.scan();
    }

private:
    Fs fs_;
    ScanHarness h_;
    std::deque<scan::TMidEntry> mid_;
    std::deque<scan::TMidEntry32> fat32_;
    std::vector<std::pair<std::uint32_t, scan::TScanEntry*>> list_;
};

constexpr Fs kKinds[] = {Fs::Fat16, Fs::Fat32, Fs::Exfat};

TEST(DelFilter, EverythingInsideADeletedFolderCountsAsDeleted) {
    for (const Fs fs : kKinds) {
        SCOPED_TRACE(FsName(fs));
        HandTree t(fs);
        const auto* gone = t.add(t.root(), 10, true, true);
        const auto* liveFile = t.add(10, 0, false, false);
        const auto* liveSub = t.add(10, 11, true, false);
        const auto* deepFile = t.add(11, 0, false, false);
        t.add(10, 13, true, false);  // empty: it holds nothing, yet lies inside the deleted folder
        const auto* other = t.add(t.root(), 12, true, false);
        const auto* otherFile = t.add(12, 0, false, false);
        auto& s = t.scan();

        for (const auto* e : {gone, liveFile, liveSub, deepFile}) EXPECT_TRUE(s.DelEntryIsDeleted(e));
        for (const auto* e : {other, otherFile}) EXPECT_FALSE(s.DelEntryIsDeleted(e));
        EXPECT_TRUE(s.DelDirIsDeleted(10));
        EXPECT_TRUE(s.DelDirIsDeleted(11));
        EXPECT_FALSE(s.DelDirIsDeleted(12));
        EXPECT_TRUE(s.DelSubtreeHasDeleted(t.root()));
        EXPECT_TRUE(s.DelSubtreeHasDeleted(11));
        EXPECT_TRUE(s.DelSubtreeHasDeleted(13));
        EXPECT_FALSE(s.DelSubtreeHasDeleted(12));
    }
}

TEST(DelFilter, LiveOnlySubtreeHoldsNothingDeleted) {
    for (const Fs fs : kKinds) {
        SCOPED_TRACE(FsName(fs));
        HandTree t(fs);
        t.add(t.root(), 10, true, false);
        const auto* file = t.add(10, 0, false, false);
        t.add(10, 11, true, false);
        t.add(11, 0, false, false);
        t.add(t.root(), 0, false, true);  // a deleted file beside the live folder
        auto& s = t.scan();

        EXPECT_FALSE(s.DelSubtreeHasDeleted(10));
        EXPECT_FALSE(s.DelSubtreeHasDeleted(11));
        EXPECT_TRUE(s.DelSubtreeHasDeleted(t.root()));
        EXPECT_FALSE(s.DelEntryIsDeleted(file));
    }
}

TEST(DelFilter, DeletedFileMarksEveryFolderAboveIt) {
    for (const Fs fs : kKinds) {
        SCOPED_TRACE(FsName(fs));
        HandTree t(fs);
        const auto* outer = t.add(t.root(), 10, true, false);
        const auto* inner = t.add(10, 11, true, false);
        t.add(11, 0, false, true);
        t.add(11, t.root(), true, false);  // a damaged entry leading back to the root
        auto& s = t.scan();

        for (const std::uint32_t dir : {t.root(), 10u, 11u}) EXPECT_TRUE(s.DelSubtreeHasDeleted(dir)) << dir;
        EXPECT_FALSE(s.DelDirIsDeleted(11));
        EXPECT_FALSE(s.DelEntryIsDeleted(outer));
        EXPECT_FALSE(s.DelEntryIsDeleted(inner));
    }
}

}  // namespace
}  // namespace brenvale::test
