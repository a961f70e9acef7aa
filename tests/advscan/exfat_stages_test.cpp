// The exFAT stages after the pass: the cluster size and heap the harvested folders imply
// (checked by the files' first bytes), the folders the directory sectors form, and their tree
// with its cycles broken; on entries laid out by hand and on a volume made by mkfs.exfat whose
// boot sector the scan is not given.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "advscan/advanced_scan.h"
#include "advscan/exfat_tree.h"
#include "advscan/image_scan.h"
#include "platform/linux/linux_platform.h"
#include "raw/signature_scan.h"
#include "scan/undelete.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/fs_detect.h"
#include "storage/le.h"
#include "support/fixtures.h"

namespace brenvale::advscan {
namespace {

constexpr std::int64_t kHeap = 1000;
constexpr std::int32_t kSpc = 8;

struct Harvest {
    scan::EntryStore<scan::TMidEntry> store;
    std::vector<scan::TMidEntry*> entries;
    std::vector<std::int64_t> dirs;
    std::map<std::int64_t, std::vector<std::byte>> sectors;  // what the disk holds

    std::int64_t clusterSector(std::uint32_t cluster) const { return kHeap + (std::int64_t{cluster} - 2) * kSpc; }
    scan::TMidEntry& add(const std::string& name, bool folder, std::uint32_t cluster, std::int64_t inSector) {
        scan::TMidEntry& e = store.emplace_back();
        e.LongFileName = name;
        e.FDTEntry.attribute = folder ? 0x10 : 0x20;
        e.FDTEntry.filesize = folder ? 0 : 5000;
        e.DirClusNum = cluster;
        e.DirSectNum = static_cast<std::uint32_t>(inSector);
        entries.push_back(&e);
        if (std::find(dirs.begin(), dirs.end(), inSector) == dirs.end()) dirs.push_back(inSector);
        std::sort(dirs.begin(), dirs.end());
        return e;
    }
    // A file whose first sector begins with `bytes`.
    void file(const std::string& name, std::uint32_t cluster, std::int64_t inSector, std::vector<std::uint8_t> bytes) {
        add(name, false, cluster, inSector);
        auto& s = sectors[clusterSector(cluster)];
        s.assign(512, std::byte{0});
        for (std::size_t i = 0; i < bytes.size(); ++i) s[i] = std::byte{bytes[i]};
    }
    // A directory sector of 32-byte slots, each a type byte and the first cluster the slot
    // points at (bytes 20..23, with a length of one cluster when it points at one).
    void dirSector(std::int64_t at, const std::vector<std::pair<std::uint8_t, std::uint32_t>>& slots) {
        auto& s = sectors[at];
        s.assign(512, std::byte{0});
        for (std::size_t i = 0; i < slots.size(); ++i) {
            s[32 * i] = std::byte{slots[i].first};
            EXPECT_TRUE(storage::putLe32(s, 32 * i + 20, slots[i].second));
            if (slots[i].second) {
                EXPECT_TRUE(storage::putLe64(s, 32 * i + 24, 4096));
            }
        }
    }
    // What mkfs.exfat writes at the head of a root directory: label, allocation bitmap, up-case table.
    void rootMarks(std::int64_t at) { dirSector(at, {{0x83, 0}, {0x81, 2}, {0x82, 3}, {0x85, 0}}); }
    ReadRelSector reader() {
        return [this](std::int64_t rel, std::span<std::byte> into) {
            const auto it = sectors.find(rel);
            std::fill(into.begin(), into.end(), std::byte{0});
            if (it != sectors.end()) std::copy(it->second.begin(), it->second.end(), into.begin());
            return true;
        };
    }
};

// The root folder (cluster 4) holds Photos (5), Docs (13) and Music (22); Photos holds Trip
// (40). Each folder's entries lie in the first sector of its cluster. (Folders at evenly spaced
// clusters would vote almost as well for half or twice the cluster size.)
Harvest cameraCard() {
    Harvest h;
    const std::int64_t root = h.clusterSector(4);
    h.add("Photos", true, 5, root);
    h.add("Docs", true, 13, root);
    h.add("Music", true, 22, root);
    h.add("Trip", true, 40, h.clusterSector(5));
    h.file("a.jpg", 60, h.clusterSector(5), {0xFF, 0xD8, 0xFF});
    h.file("b.png", 70, h.clusterSector(40), {0x89, 0x50, 0x4E, 0x47});
    h.file("notes.txt", 80, h.clusterSector(13), {'h', 'i'});
    h.add("song.mp3", false, 90, h.clusterSector(22));
    return h;
}

TEST(AdvExFatStages, GeometryFromFoldersConfirmedByTwoFiles) {
    Harvest h = cameraCard();
    const ExFatInference got = InferExFatGeometry(h.entries, h.dirs, 100000, 512, h.reader());
    EXPECT_EQ(got.Geometry.SectorsPerClus, kSpc);
    EXPECT_EQ(got.Geometry.HeapOffset, kHeap);
    EXPECT_EQ(got.Votes, 4);
    EXPECT_EQ(got.Confirmed, 2);
    EXPECT_EQ(got.AcceptedBy, ExFatAcceptedBy::Votes);
    EXPECT_EQ(got.Checked, 0);
    EXPECT_FALSE(got.Sampled);
    // A clear vote is not second-guessed by a boot sector that says otherwise.
    const ExFatInference withBoot = InferExFatGeometry(h.entries, h.dirs, 100000, 512, h.reader(), ExFatGeometry{64, kHeap});
    EXPECT_EQ(withBoot.Geometry.SectorsPerClus, kSpc);
    EXPECT_EQ(withBoot.AcceptedBy, ExFatAcceptedBy::Votes);
}

// A volume formatted again: its root (and the entries of the top folders) were overwritten.
// Photos (cluster 5) lost its entry and holds Trip (40) and a.jpg; Trip holds Inner (50) and
// b.png; Inner holds c.pdf. Only Trip and Inner vote for the heap: two votes.
Harvest lostRoot() {
    Harvest h;
    h.add("Trip", true, 40, h.clusterSector(5));
    h.file("a.jpg", 60, h.clusterSector(5), {0xFF, 0xD8, 0xFF});
    h.add("Inner", true, 50, h.clusterSector(40));
    h.file("b.png", 70, h.clusterSector(40), {0x89, 0x50, 0x4E, 0x47});
    h.file("c.pdf", 80, h.clusterSector(50), {'%', 'P', 'D', 'F'});
    return h;
}

// The same, but Trip's entry was lost too: no size and heap has two votes.
Harvest lostRootOneVote() {
    Harvest h = lostRoot();
    h.entries.erase(h.entries.begin() + 2);  // Inner
    return h;
}

// Two more files whose first sectors do not begin as their type does: 3 of 5 carry it.
Harvest lostRootMostlyWrong() {
    Harvest h = lostRoot();
    h.file("d.jpg", 90, h.clusterSector(50), {'n', 'o'});
    h.file("e.zip", 95, h.clusterSector(50), {'n', 'o'});
    return h;
}

struct WeakCase {
    const char* name;
    Harvest (*harvest)();
    std::optional<ExFatGeometry> boot;
    ExFatAcceptedBy by;
    std::int32_t spc;  // 0: nothing accepted
    std::int32_t confirmed, checked;
};

// Without a clear vote, the candidates with two votes and then the boot sector's geometry are
// taken only when at least 2 and three in four of the files looked at begin as their type does.
TEST(AdvExFatStages, WeakVoteOrBootSectorConfirmedByFiles) {
    using By = ExFatAcceptedBy;
    const std::vector<WeakCase> cases{
        {"weak vote confirmed by all files", lostRoot, std::nullopt, By::FilesAfterWeakVote, kSpc, 3, 3},
        {"weak vote before the new boot sector", lostRoot, ExFatGeometry{64, kHeap}, By::FilesAfterWeakVote, kSpc, 3, 3},
        {"weak vote, 3 of 5 files: refused", lostRootMostlyWrong, std::nullopt, By::None, 0, 0, 0},
        {"one vote: nothing without a boot sector", lostRootOneVote, std::nullopt, By::None, 0, 0, 0},
        {"one vote: the boot sector confirmed", lostRootOneVote, ExFatGeometry{kSpc, kHeap}, By::BootSector, kSpc, 3, 3},
        {"one vote: a boot sector the files deny", lostRootOneVote, ExFatGeometry{16, kHeap}, By::None, 0, 0, 0},
        {"one vote: a boot heap past the object", lostRootOneVote, ExFatGeometry{kSpc, 200000}, By::None, 0, 0, 0},
    };
    for (const WeakCase& c : cases) {
        SCOPED_TRACE(c.name);
        Harvest h = c.harvest();
        int reads = 0;
        const ReadRelSector counted = [&, inner = h.reader()](std::int64_t rel, std::span<std::byte> into) {
            ++reads;
            return inner(rel, into);
        };
        const ExFatInference got = InferExFatGeometry(h.entries, h.dirs, 100000, 512, counted, c.boot);
        EXPECT_LT(got.Votes, 3);
        EXPECT_EQ(got.AcceptedBy, c.by);
        EXPECT_EQ(got.Geometry.Usable(), c.spc > 0);
        if (c.spc > 0) {
            EXPECT_EQ(got.Geometry.SectorsPerClus, c.spc);
            EXPECT_EQ(got.Geometry.HeapOffset, kHeap);
            EXPECT_EQ(got.Confirmed, c.confirmed);
            EXPECT_EQ(got.Checked, c.checked);
        }
        // Each candidate looks at 32 files at most, and there are 8 of them and the boot sector.
        EXPECT_LE(reads, 9 * 32);
    }
}

// Past 32 files the stricter check looks no further: 32 that begin as their type does, then
// any number that do not, still confirm the vote.
TEST(AdvExFatStages, WeakVoteCheckLooksAtThirtyTwoFiles) {
    Harvest h = lostRoot();
    for (std::uint32_t i = 0; i < 29; ++i) h.file("ok" + std::to_string(i) + ".jpg", 100 + i, h.clusterSector(50), {0xFF, 0xD8});
    for (std::uint32_t i = 0; i < 40; ++i) h.file("bad" + std::to_string(i) + ".jpg", 200 + i, h.clusterSector(50), {'x'});
    const ExFatInference got = InferExFatGeometry(h.entries, h.dirs, 100000, 512, h.reader());
    EXPECT_EQ(got.AcceptedBy, ExFatAcceptedBy::FilesAfterWeakVote);
    EXPECT_EQ(got.Checked, 32);
    EXPECT_EQ(got.Confirmed, 32);
}

TEST(AdvExFatStages, GeometryIsUndoneOrRefused) {
    {
        SCOPED_TRACE("one file confirms: undone");
        Harvest h = cameraCard();
        h.sectors.erase(h.clusterSector(70));
        const ExFatInference got = InferExFatGeometry(h.entries, h.dirs, 100000, 512, h.reader());
        EXPECT_EQ(got.Votes, 4);
        EXPECT_EQ(got.Confirmed, 1);
        EXPECT_FALSE(got.Geometry.Usable());
    }
    {
        SCOPED_TRACE("two folders vote: too few");
        Harvest h;
        h.add("A", true, 5, h.clusterSector(4));
        h.add("B", true, 6, h.clusterSector(5));
        h.add("x", false, 9, h.clusterSector(6));
        EXPECT_FALSE(InferExFatGeometry(h.entries, h.dirs, 100000, 512, h.reader()).Geometry.Usable());
    }
    {
        SCOPED_TRACE("the heap would lie past the object");
        Harvest h = cameraCard();
        EXPECT_FALSE(InferExFatGeometry(h.entries, h.dirs, kHeap, 512, h.reader()).Geometry.Usable());
    }
}

// So many folders and sectors that the pairs are sampled: the strongest heaps are still
// counted over every folder, and the answer is the one counting all pairs gives.
TEST(AdvExFatStages, LargeHarvestIsSampledToTheSameAnswer) {
    Harvest h;
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::uint32_t> any(3, 400000);
    std::set<std::uint32_t> clusters;
    while (clusters.size() < 1500) clusters.insert(any(rng));
    std::uint32_t i = 0;
    for (const std::uint32_t c : clusters) {
        // Every folder's entry lies in the root's first sector and its own sector was harvested.
        h.add("F" + std::to_string(i), true, c, h.clusterSector(4));
        h.dirs.push_back(h.clusterSector(c));
        h.add("stray" + std::to_string(i), true, any(rng), 5 + 7 * i);  // folders of another volume
        ++i;
    }
    std::sort(h.dirs.begin(), h.dirs.end());
    h.dirs.erase(std::unique(h.dirs.begin(), h.dirs.end()), h.dirs.end());
    h.file("p.jpg", 500000, h.clusterSector(4), {0xFF, 0xD8});
    h.file("q.pdf", 500100, h.clusterSector(4), {'%', 'P'});
    const ExFatInference got = InferExFatGeometry(h.entries, h.dirs, 10'000'000, 512, h.reader());
    EXPECT_TRUE(got.Sampled);
    EXPECT_EQ(got.Geometry.SectorsPerClus, kSpc);
    EXPECT_EQ(got.Geometry.HeapOffset, kHeap);
    EXPECT_GE(got.Votes, 1500);
}

TEST(AdvExFatStages, SegmentsByClusterOrByAdjacentSectors) {
    const std::vector<std::int64_t> dirs{1000, 1001, 1007, 1008, 1020, 1021, 1030};
    const ExFatFolders byCluster = BuildExFatSegments(dirs, {8, 1000});
    EXPECT_EQ(byCluster.SegStart, (std::vector<std::int64_t>{1000, 1008, 1020, 1030}));
    EXPECT_EQ(byCluster.SegEnd, (std::vector<std::int64_t>{1007, 1008, 1021, 1030}));
    const ExFatFolders adjacent = BuildExFatSegments(dirs, {});
    EXPECT_EQ(adjacent.SegStart, (std::vector<std::int64_t>{1000, 1007, 1020, 1030}));
    EXPECT_EQ(adjacent.SegEnd, (std::vector<std::int64_t>{1001, 1008, 1021, 1030}));
    EXPECT_EQ(adjacent.SegOfSect(1008), 1);
    EXPECT_EQ(adjacent.SegOfSect(1009), -1);
    EXPECT_EQ(adjacent.SegOfSect(999), -1);
    EXPECT_TRUE(BuildExFatSegments({}, {8, 1000}).SegStart.empty());
}

TEST(AdvExFatStages, HierarchyNamesFoldersAfterTheirEntries) {
    Harvest h = cameraCard();
    h.rootMarks(h.clusterSector(4));
    h.add("Photos again", true, 5, h.clusterSector(13));  // a second entry for Photos: the first names it
    ExFatFolders f = BuildExFatSegments(h.dirs, {kSpc, kHeap});
    BuildExFatHierarchy(h.entries, kSpc, kHeap, f, 512, h.reader());
    ASSERT_TRUE(f.HierarchyBuilt());
    auto seg = [&](std::uint32_t cluster) { return f.SegOfSect(h.clusterSector(cluster)); };
    EXPECT_EQ(f.RootSeg, seg(4));
    EXPECT_EQ(f.SegParent[static_cast<std::size_t>(seg(4))], -1);
    EXPECT_EQ(f.SegName[static_cast<std::size_t>(seg(5))], "Photos");
    EXPECT_EQ(f.SegParent[static_cast<std::size_t>(seg(5))], seg(4));
    EXPECT_EQ(f.SegName[static_cast<std::size_t>(seg(40))], "Trip");
    EXPECT_EQ(f.SegParent[static_cast<std::size_t>(seg(40))], seg(5));
    EXPECT_TRUE(ExFatSegChildOfEntry(f, kSpc, kHeap, *h.entries[0], h.clusterSector(4)));   // Photos in the root
    EXPECT_FALSE(ExFatSegChildOfEntry(f, kSpc, kHeap, *h.entries[0], h.clusterSector(13)));  // not in Docs
    EXPECT_FALSE(ExFatSegChildOfEntry(f, kSpc, kHeap, *h.entries[4], h.clusterSector(5)));  // a file

    ExFatFolders flat = BuildExFatSegments(h.dirs, {});
    BuildExFatHierarchy(h.entries, 0, kHeap, flat, 512, h.reader());  // no geometry: no tree
    EXPECT_FALSE(flat.HierarchyBuilt());
    EXPECT_EQ(flat.RootSeg, -1);
}

// The camera card with a lost folder before the root: cluster 3 lost its entry and holds the
// folder Lost (30), which holds x.jpg. Both cluster 3 and the root (4) are unnamed parents.
Harvest cardWithLostFolder() {
    Harvest h = cameraCard();
    h.add("Lost", true, 30, h.clusterSector(3));
    h.file("x.jpg", 95, h.clusterSector(30), {0xFF, 0xD8});
    return h;
}

struct RootCase {
    const char* name;
    std::vector<std::pair<std::uint8_t, std::uint32_t>> slots;  // the first sector of cluster 4
    bool root;
};

// The root is the unnamed folder whose first sector holds an allocation bitmap or up-case table
// entry; without one there is no root, and the unnamed folders are top-level folders with what
// they hold below them.
TEST(AdvExFatStages, RootIsTheFolderWithTheBitmapEntry) {
    const std::vector<RootCase> cases{
        {"label, bitmap, up-case", {{0x83, 0}, {0x81, 2}, {0x82, 3}, {0x85, 0}}, true},
        {"the up-case table alone", {{0x82, 3}}, true},
        {"the bitmap after a file entry", {{0x85, 0}, {0xC0, 9}, {0x81, 2}}, true},
        {"no marks", {{0x85, 0}, {0xC0, 9}, {0xC1, 0}}, false},
        {"a bitmap type that points at no cluster", {{0x81, 0}, {0x82, 1}}, false},
        {"a bitmap past the end of the directory", {{0x85, 0}, {0x00, 0}, {0x81, 2}}, false},
        {"a deleted bitmap entry", {{0x01, 2}, {0x02, 3}}, false},
    };
    for (const RootCase& c : cases) {
        SCOPED_TRACE(c.name);
        Harvest h = cardWithLostFolder();
        h.dirSector(h.clusterSector(4), c.slots);
        h.rootMarks(h.clusterSector(5));  // a named folder is never the root, whatever it holds
        ExFatFolders f = BuildExFatSegments(h.dirs, {kSpc, kHeap});
        std::set<std::int64_t> read;
        BuildExFatHierarchy(h.entries, kSpc, kHeap, f, 512, [&, inner = h.reader()](std::int64_t rel, std::span<std::byte> into) {
            read.insert(rel);
            return inner(rel, into);
        });
        ASSERT_TRUE(f.HierarchyBuilt());
        auto seg = [&](std::uint32_t cluster) { return f.SegOfSect(h.clusterSector(cluster)); };
        // Only the unnamed folders' first sectors are read, each once at most.
        for (const std::int64_t r : read) EXPECT_TRUE(r == h.clusterSector(3) || r == h.clusterSector(4)) << r;
        EXPECT_EQ(f.RootSeg, c.root ? seg(4) : -1);
        EXPECT_EQ(f.SegParent[static_cast<std::size_t>(seg(3))], -1);
        EXPECT_EQ(f.SegParent[static_cast<std::size_t>(seg(30))], seg(3));
        EXPECT_EQ(f.SegParent[static_cast<std::size_t>(seg(5))], seg(4));

        std::set<std::string> paths;
        WalkExFatTree(h.entries, f, kSpc, kHeap,
                      [&](const scan::TMidEntry*, std::int32_t, const std::string& path, int) { paths.insert(path); });
        const std::string lost = fmt::format("exFAT Root/Folder{:08X}", h.clusterSector(3));
        const std::string top = c.root ? std::string("exFAT Root") : fmt::format("exFAT Root/Folder{:08X}", h.clusterSector(4));
        for (const std::string& p : {lost, lost + "/Lost", lost + "/Lost/x.jpg", top + "/Photos", top + "/Photos/Trip/b.png",
                                     top + "/Docs/notes.txt", top + "/Music/song.mp3"}) {
            EXPECT_TRUE(paths.contains(p)) << p;
        }
        EXPECT_EQ(paths.contains(top), !c.root);  // the root is no folder of its own
    }
}

// The cycle rule as written: folders in index order, each following its chain of parents as
// it stands; a chain that comes back or outlasts the folders loses the folder's parent.
std::vector<std::int32_t> breakCyclesStepByStep(std::vector<std::int32_t> parent) {
    const auto n = static_cast<std::int32_t>(parent.size());
    for (std::int32_t i = 0; i < n; ++i) {
        std::int32_t at = parent[static_cast<std::size_t>(i)];
        for (std::int32_t steps = 0; at >= 0; ++steps) {
            if (at == i || steps > n) {
                parent[static_cast<std::size_t>(i)] = -1;
                break;
            }
            at = parent[static_cast<std::size_t>(at)];
        }
    }
    return parent;
}

TEST(AdvExFatStages, ParentCyclesBrokenAsFolderByFolder) {
    const std::vector<std::vector<std::int32_t>> cases{
        {1, 0},                 // a -> b -> a: a loses its parent, b stays below a
        {0},                    // its own parent
        {-1, 3, 1, 2, 1},       // 1 -> 3 -> 2 -> 1, with 4 hanging on it
        {2, 4, 3, 4, 3},        // 0 and 1 run into the cycle 3 <-> 4 before it is broken
        {-1, 0, 1, 2},          // no cycle: nothing changes
        {5, 0, 1, 2, 3, 4},     // one long cycle
    };
    for (const auto& c : cases) {
        auto got = c;
        BreakParentCycles(got);
        EXPECT_EQ(got, breakCyclesStepByStep(c)) << ::testing::PrintToString(c);
    }
    EXPECT_EQ(breakCyclesStepByStep({1, 0}), (std::vector<std::int32_t>{-1, 0}));
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        const std::int32_t n = 1 + static_cast<std::int32_t>(rng() % 40);
        std::vector<std::int32_t> parent(static_cast<std::size_t>(n));
        for (auto& p : parent) p = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n + 3)) - 3;
        for (auto& p : parent) p = std::max(p, -1);
        auto got = parent;
        BreakParentCycles(got);
        ASSERT_EQ(got, breakCyclesStepByStep(parent)) << ::testing::PrintToString(parent);
    }
}

// mkfs.exfat's volume (exfat.img) scanned without its boot sector: every entry set is harvested,
// and the cluster size and heap it implies are the boot sector's own.
TEST(AdvExFatStages, RealVolumeWithoutItsBootSector) {
    BRENVALE_REQUIRE_FIXTURE(image, "exfat.img");
    ImageScan run(image, BootSector::Gone);
    std::vector<std::byte> boot(512);
    ASSERT_EQ(run.device.Read(0, 1, boot), 512u);
    const std::int32_t spc = std::int32_t{1} << (std::to_integer<std::uint8_t>(boot[109]) & 31);
    const std::int64_t heap = storage::le32(boot, 88);

    std::vector<std::string> stages;
    AdvCallbacks cb;
    cb.Stage = [&](const std::string& s) { stages.push_back(s); };
    ASSERT_EQ(run.Run(cb), kAdvCompleted);
    const AdvancedScan& adv = run.adv;
    EXPECT_EQ(stages.back(), kStageExFatTree);
    EXPECT_EQ(adv.ExFatSPC(), spc);
    EXPECT_EQ(adv.ExFatHeap(), heap);
    ASSERT_TRUE(adv.ExFatTree.HierarchyBuilt());
    std::map<std::string, std::int32_t> byName;
    const auto& tree = adv.ExFatTree;
    for (std::size_t i = 0; i < tree.SegName.size(); ++i) {
        if (tree.SegNamed[i]) byName.emplace(tree.SegName[i], static_cast<std::int32_t>(i));
    }
    for (const char* name : {"Documents", "Projects", "Alpha Project", "Deep Level Four", "Photos", "SYSTEM", "DRIVERS"}) {
        EXPECT_TRUE(byName.contains(name)) << name;
    }
    auto parentName = [&](const char* name) {
        const std::int32_t p = tree.SegParent[static_cast<std::size_t>(byName[name])];
        return p < 0 ? std::string("(none)") : p == tree.RootSeg ? std::string("(root)") : tree.SegName[static_cast<std::size_t>(p)];
    };
    EXPECT_EQ(parentName("Documents"), "(root)");
    EXPECT_EQ(parentName("Projects"), "Documents");
    EXPECT_EQ(parentName("Alpha Project"), "Projects");
    EXPECT_EQ(parentName("Deep Level Four"), "Alpha Project");
    EXPECT_EQ(parentName("DRIVERS"), "SYSTEM");
}

}  // namespace
}  // namespace brenvale::advscan
