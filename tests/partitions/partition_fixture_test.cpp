// Partition trees of disks made by sfdisk, sgdisk and the mkfs tools, checked against what those
// tools report about them (the layout files of tests/fixtures/make-partition-disks.sh).

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "partitions/physical_drv.h"
#include "platform/fake/fake_platform.h"
#include "platform/linux/linux_platform.h"
#include "storage/fs_types.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using partitions::PartitionHidden;
using partitions::PartitionSize;
using partitions::PartitionStart;
using partitions::TPartition;
using partitions::TPhysicalDrv;
using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAreArray;

// A layout row: the fields loadLayout reads, and every column of the file by name.
struct Row {
    LayoutRow base;
    std::map<std::string, std::string> col;

    std::int64_t start() const { return static_cast<std::int64_t>(base.start); }
    std::int64_t sectors() const { return static_cast<std::int64_t>(base.sectors); }
    std::int64_t end() const { return start() + sectors(); }
    std::int64_t number(const std::string& name) const { return std::stoll(col.at(name)); }
    bool flag(const std::string& name) const { return col.at(name) == "1"; }
    std::uint8_t typeByte() const { return static_cast<std::uint8_t>(std::stoul(base.type, nullptr, 16)); }
};

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        const auto tab = line.find('\t', from);
        out.push_back(line.substr(from, tab - from));
        if (tab == std::string::npos) return out;
        from = tab + 1;
    }
}

std::vector<Row> LoadRows(const std::filesystem::path& path) {
    const auto base = loadLayout(path);  // rejects a malformed file
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line);
    const auto header = SplitTabs(line);
    std::vector<Row> rows;
    for (const auto& b : base) {
        std::getline(in, line);
        const auto fields = SplitTabs(line);
        Row r{b, {}};
        for (std::size_t i = 0; i < header.size(); ++i) r.col[header[i]] = fields.at(i);
        rows.push_back(std::move(r));
    }
    return rows;
}

// The file-system code for blkid's name of a file system.
std::uint8_t FsCode(const std::string& fs) {
    static const std::map<std::string, std::uint8_t> codes = {
        {"fat12", storage::kFsFat12}, {"fat16", storage::kFsFat16}, {"fat32", storage::kFsFat32},
        {"ntfs", storage::kFsNtfs},   {"exfat", storage::kFsExfat}, {"none", storage::kFsUnknown}};
    const auto it = codes.find(fs);
    if (it == codes.end()) ADD_FAILURE() << "layout names an unknown file system: " << fs;
    return it == codes.end() ? std::uint8_t{254} : it->second;
}

struct Span {
    std::int64_t start, size;
    std::uint8_t type;
    bool operator==(const Span&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Span& s) {
    return os << "{" << s.start << ", " << s.size << ", 0x" << std::hex << unsigned{s.type} << std::dec << "}";
}
Span SpanOf(const TPartition* p) { return {PartitionStart(p), PartitionSize(p), p->Entry.SystemFlag}; }

const TPartition* Find(const TPhysicalDrv& drv, std::int64_t start, std::uint8_t type) {
    for (std::size_t i = 1; i < drv.PartitionList.size(); ++i) {
        const TPartition* p = drv.PartitionList[i];
        if (PartitionStart(p) == start && p->Entry.SystemFlag == type) return p;
    }
    ADD_FAILURE() << "no record of type 0x" << std::hex << unsigned{type} << std::dec << " at " << start;
    return nullptr;
}

std::vector<const TPartition*> FreeRecords(const TPhysicalDrv& drv) {
    std::vector<const TPartition*> out;
    for (std::size_t i = 1; i < drv.PartitionList.size(); ++i) {
        if (drv.PartitionList[i]->Entry.SystemFlag == storage::kPartTypeEmpty) out.push_back(drv.PartitionList[i]);
    }
    return out;
}

std::vector<std::int64_t> LostStarts(const TPhysicalDrv& drv) {
    std::vector<std::int64_t> out;
    for (const TPartition* p : drv.LostPartitionList) out.push_back(PartitionStart(p));
    return out;
}

bool IsExtended(const Row& r) { return r.base.type != "none" && partitions::IsExtendedType(r.typeByte()); }

struct Range {
    std::int64_t from, to;  // [from, to)
    std::int64_t size() const { return to - from; }
    bool holds(std::int64_t a, std::int64_t b) const { return from <= a && b <= to; }
};

// The stretches of [whole.from, whole.to) that none of `used` touches.
std::vector<Range> Gaps(Range whole, std::vector<Range> used) {
    std::sort(used.begin(), used.end(), [](const Range& a, const Range& b) { return a.from < b.from; });
    std::vector<Range> gaps;
    std::int64_t k = whole.from;
    for (const Range& u : used) {
        if (u.from > k) gaps.push_back({k, std::min(u.from, whole.to)});
        k = std::max(k, u.to);
    }
    if (k < whole.to) gaps.push_back({k, whole.to});
    return gaps;
}

// ---- MBR with an extended chain --------------------------------------------------------

class PartitionFixtureMbr : public ::testing::Test {
protected:
    void SetUp() override {
        BRENVALE_REQUIRE_FIXTURE(image, "mbr-ext.img");
        BRENVALE_REQUIRE_FIXTURE(layoutFile, "mbr-ext.layout.tsv");
        rows = LoadRows(layoutFile);
        drv = std::make_unique<TPhysicalDrv>(*os, image.string());
        for (const Row& r : rows) {
            if (IsExtended(r)) extended = &r;
            if (r.flag("logical")) ++logicals;
        }
        // Two primaries, the extended partition and its three logical drives.
        ASSERT_NE(extended, nullptr);
        ASSERT_EQ(logicals, 3);
    }

    std::unique_ptr<platform::Platform> os = platform::makeLinuxPlatform();
    std::vector<Row> rows;
    std::unique_ptr<TPhysicalDrv> drv;
    const Row* extended = nullptr;
    int logicals = 0;
};

TEST_F(PartitionFixtureMbr, EveryTableEntryIsARecordWhereSfdiskPutIt) {
    std::vector<Span> want;
    for (const Row& r : rows) want.push_back({r.start(), r.sectors(), r.typeByte()});
    std::vector<Span> got;
    for (std::size_t i = 1; i < drv->PartitionList.size(); ++i) {
        const TPartition* p = drv->PartitionList[i];
        if (p->Entry.SystemFlag != storage::kPartTypeEmpty && !drv->IsInnerExtParti(p)) got.push_back(SpanOf(p));
    }
    EXPECT_THAT(got, UnorderedElementsAreArray(want));
    EXPECT_TRUE(std::is_sorted(drv->PartitionList.begin() + 1, drv->PartitionList.end(),
                               [](const TPartition* a, const TPartition* b) { return PartitionStart(a) < PartitionStart(b); }));
    EXPECT_EQ(drv->ExtParti_SectNum, extended->start());

    bool sawHidden = false, sawVisible = false;
    for (const Row& r : rows) {
        SCOPED_TRACE("partition " + std::to_string(r.base.index));
        const TPartition* p = Find(*drv, r.start(), r.typeByte());
        if (!p) continue;
        EXPECT_EQ(p->BootSector.FileSystemType, FsCode(r.base.fs));
        // A logical drive counts from the extended boot record that lists it, wherever fdisk saw it.
        EXPECT_EQ(p->BaseLBA, r.flag("logical") ? r.number("ebr") : 0);
        EXPECT_EQ(p->Parent == &drv->Partition, !r.flag("logical"));
        // sfdisk names the hidden variants "Hidden ...".
        EXPECT_EQ(PartitionHidden(p), r.flag("hidden"));
        (r.flag("hidden") ? sawHidden : sawVisible) = true;
    }
    EXPECT_TRUE(sawHidden && sawVisible) << "the disk holds hidden and visible partitions";
}

TEST_F(PartitionFixtureMbr, LinksStartAtTheLaterExtendedBootRecords) {
    // The first boot record of the chain is the extended partition itself; each further one
    // is reached through a link.
    std::vector<std::int64_t> want;
    for (const Row& r : rows) {
        if (r.flag("logical") && r.number("ebr") != extended->start()) want.push_back(r.number("ebr"));
    }
    ASSERT_EQ(want.size(), static_cast<std::size_t>(logicals - 1));
    std::vector<std::int64_t> got;
    for (const TPartition* p : drv->PartitionList) {
        if (drv->IsInnerExtParti(p)) got.push_back(PartitionStart(p));
    }
    EXPECT_THAT(got, UnorderedElementsAreArray(want));
}

TEST_F(PartitionFixtureMbr, FreeSpaceFillsTheLargeGapsAndNothingElse) {
    const auto sectors = static_cast<std::int64_t>(drv->Device->Sectors());
    ASSERT_EQ(sectors * 512, static_cast<std::int64_t>(std::filesystem::file_size(*fixture("mbr-ext.img"))));
    const Range ext{extended->start(), extended->end()};
    // Outside the extended partition: the MBR and the primaries; inside: the boot records of
    // the chain and the logical drives.
    std::vector<Range> outer{{0, 1}, ext}, inner;
    for (const Row& r : rows) {
        if (r.flag("logical")) {
            inner.push_back({r.start(), r.end()});
            inner.push_back({r.number("ebr"), r.number("ebr") + 1});
        } else if (!IsExtended(r)) {
            outer.push_back({r.start(), r.end()});
        }
    }
    struct Level {
        const char* name;
        std::vector<Range> gaps;
        const TPartition* parent;
    };
    const Level levels[] = {{"disk", Gaps({0, sectors}, outer), &drv->Partition},
                            {"extended partition", Gaps(ext, inner), Find(*drv, ext.from, extended->typeByte())}};
    const auto free = FreeRecords(*drv);

    // Each free record lies inside one gap of its own level.
    for (const TPartition* f : free) {
        const std::int64_t a = PartitionStart(f), b = a + PartitionSize(f);
        EXPECT_GT(PartitionSize(f), partitions::kMinFreeSpaceSectors) << a;
        const auto level = std::find_if(std::begin(levels), std::end(levels),
                                        [&](const Level& l) { return l.parent == f->Parent; });
        ASSERT_NE(level, std::end(levels)) << "free record at " << a << " has an unexpected parent";
        EXPECT_TRUE(std::any_of(level->gaps.begin(), level->gaps.end(), [&](const Range& g) { return g.holds(a, b); }))
            << "free record [" << a << ", " << b << ") overlaps a partition or a boot record of the " << level->name;
    }
    // Each gap over 2048 sectors is offered, short of at most one track: the first track after a
    // boot record and the disk's last sector are left out.
    const std::int64_t track = drv->Device->DeviceParam().SectorsPerTrack;
    for (const Level& level : levels) {
        int large = 0;
        for (const Range& g : level.gaps) {
            if (g.size() <= partitions::kMinFreeSpaceSectors) continue;
            ++large;
            EXPECT_TRUE(std::any_of(free.begin(), free.end(), [&](const TPartition* f) {
                const std::int64_t a = PartitionStart(f), b = a + PartitionSize(f);
                return f->Parent == level.parent && g.holds(a, b) && b - a >= g.size() - track;
            })) << "gap [" << g.from << ", " << g.to << ") of the " << level.name << " has no free record";
        }
        EXPECT_GE(large, 2) << level.name;
    }
}

// ---- GPT -------------------------------------------------------------------------------

TEST(PartitionFixture, GptEntriesMatchSgdisk) {
    BRENVALE_REQUIRE_FIXTURE(image, "gpt-types.img");
    BRENVALE_REQUIRE_FIXTURE(layoutFile, "gpt-types.layout.tsv");
    const auto rows = LoadRows(layoutFile);
    auto os = platform::makeLinuxPlatform();
    TPhysicalDrv drv(*os, image.string());
    // sgdisk's description of each type, and the name the program gives it.
    const std::map<std::string, std::string> names = {{"EFI system partition", "ESP"},
                                                      {"Microsoft reserved", "MSR"},
                                                      {"Microsoft basic data", "Basic Data"},
                                                      {"Linux filesystem", "Linux"},
                                                      {"Linux swap", "Linux Swap"}};

    std::vector<Span> want, got;
    for (const Row& r : rows) want.push_back({r.start(), r.sectors(), storage::kPartTypeGptProtective});
    for (std::size_t i = 1; i < drv.PartitionList.size(); ++i) {
        if (drv.PartitionList[i]->Entry.SystemFlag != storage::kPartTypeEmpty) got.push_back(SpanOf(drv.PartitionList[i]));
    }
    EXPECT_THAT(got, UnorderedElementsAreArray(want));

    std::set<std::string> typesSeen;
    for (const Row& r : rows) {
        SCOPED_TRACE("entry " + std::to_string(r.base.index) + " " + r.base.name);
        const TPartition* p = Find(drv, r.start(), storage::kPartTypeGptProtective);
        if (!p) continue;
        EXPECT_EQ(p->VolLabel, r.base.name);
        EXPECT_EQ(p->GptTypeGuid.toString(), r.base.type);
        ASSERT_TRUE(names.contains(r.col.at("typename"))) << r.col.at("typename");
        EXPECT_EQ(drv.GptTypeName(p), names.at(r.col.at("typename")));
        typesSeen.insert(r.col.at("typename"));
        const std::uint64_t attrs = std::stoull(r.col.at("attrs"), nullptr, 16);
        EXPECT_EQ(p->Attributes, attrs);
        EXPECT_EQ(PartitionHidden(p), (attrs >> 62) != 0) << "hidden and no-drive-letter bits";
        EXPECT_EQ(p->BootSector.FileSystemType, FsCode(r.base.fs));
        EXPECT_EQ(p->Parent, &drv.Partition);
    }
    EXPECT_EQ(typesSeen.size(), names.size()) << "one partition of each type";
}

// ---- Volumes whose table entries are gone -----------------------------------------------

class PartitionFixtureLost : public ::testing::Test {
protected:
    void SetUp() override {
        BRENVALE_REQUIRE_FIXTURE(imageFile, "lost.img");
        BRENVALE_REQUIRE_FIXTURE(layoutFile, "lost.layout.tsv");
        image = imageFile;
        rows = LoadRows(layoutFile);
        for (const Row& r : rows) {
            if (!r.flag("listed")) volumes.push_back(&r);
        }
        std::sort(volumes.begin(), volumes.end(), [](const Row* a, const Row* b) { return a->start() < b->start(); });
        for (const Row* v : volumes) starts.push_back(v->start());
        // FAT32 and NTFS lost their entries, the exFAT volume never had one, one FAT16 is listed.
        ASSERT_EQ(volumes.size(), 3u);
        ASSERT_EQ(rows.size(), 4u);
    }

    // Each found volume is one of the layout's, with its file system and its size.
    void ExpectVolumes(const TPhysicalDrv& drv) {
        for (const TPartition* p : drv.LostPartitionList) {
            const auto v = std::find_if(volumes.begin(), volumes.end(),
                                        [&](const Row* r) { return r->start() == PartitionStart(p); });
            if (v == volumes.end()) continue;  // reported by the caller's comparison of starts
            SCOPED_TRACE((*v)->base.fs + " at " + std::to_string((*v)->start()));
            EXPECT_EQ(p->BootSector.FileSystemType, FsCode((*v)->base.fs));
            EXPECT_EQ(p->BaseLBA, 0);
            EXPECT_GE(PartitionSize(p), (*v)->number("volsectors"));
            EXPECT_LE(PartitionSize(p), (*v)->number("volsectors") + (*v)->number("volslack"));
            EXPECT_EQ(p->ClaimedSectCount, 0);
        }
    }

    std::filesystem::path image;
    std::vector<Row> rows;
    std::vector<const Row*> volumes;
    std::vector<std::int64_t> starts;
};

TEST_F(PartitionFixtureLost, QuickProbeAndFullSearchFindEachVolumeOnce) {
    auto os = platform::makeLinuxPlatform();
    TPhysicalDrv drv(*os, image.string());
    for (const Row& r : rows) {
        if (r.flag("listed")) {
            EXPECT_NE(Find(drv, r.start(), r.typeByte()), nullptr);
        }
    }

    // The probe of the free space finds nothing but volumes, each once, and surely the one the
    // free stretch begins with.
    auto quick = LostStarts(drv);
    for (const std::int64_t s : quick) {
        EXPECT_THAT(starts, ::testing::Contains(s));
        EXPECT_EQ(std::count(quick.begin(), quick.end(), s), 1) << s;
    }
    EXPECT_THAT(quick, ::testing::Contains(starts.front()));
    ExpectVolumes(drv);

    const auto sectors = static_cast<std::int64_t>(drv.Device->Sectors());
    ASSERT_EQ(drv.DetectLostParti(&drv.Partition, 0, sectors, false), partitions::kSearchDone);
    // Once each: the FAT32 backup boot sector, the NTFS and exFAT copies and the FAT16 volume
    // the table still lists are no extra finds.
    EXPECT_THAT(LostStarts(drv), ElementsAreArray(starts));
    ExpectVolumes(drv);
}

// True when the reads in `log` cover every byte of [from, to).
bool Covers(std::vector<std::pair<std::uint64_t, std::size_t>> log, std::uint64_t from, std::uint64_t to) {
    std::sort(log.begin(), log.end());
    std::uint64_t k = from;
    for (const auto& [off, len] : log) {
        if (off > k) break;
        k = std::max<std::uint64_t>(k, off + len);
    }
    return k >= to;
}

TEST_F(PartitionFixtureLost, StoppedSearchResumesAndFindsTheSameVolumes) {
    const auto bytes = ReadWholeFile(image);
    const auto sectors = static_cast<std::int64_t>(bytes.size() / 512);
    // Stops before the FAT32 volume, around the NTFS volume and its backup boot sector, before
    // the exFAT volume, and near the end.
    for (const int stopAt : {1, 47, 50, 81, 95}) {
        SCOPED_TRACE("stopped at " + std::to_string(stopAt) + "%");
        platform::fake::FakePlatform os;
        auto& disk = os.addDisk("/img/lost.img", bytes, 512, false);
        TPhysicalDrv drv(os, "/img/lost.img");
        // Only what the two halves of the search find counts.
        drv.LostPartitionList.clear();
        drv.FOnScan = [&](int percent) {
            if (percent >= stopAt) drv.TerminateProgress();
        };
        disk.log.clear();
        ASSERT_EQ(drv.DetectLostParti(&drv.Partition, 0, sectors, false), partitions::kSearchStopped);
        const std::int64_t resume = drv.ResumeCurrLBA;
        ASSERT_GT(resume, 0);
        ASSERT_LT(resume, sectors);
        const auto firstRun = disk.log;

        drv.FOnScan = nullptr;
        disk.log.clear();
        ASSERT_EQ(drv.DetectLostParti(&drv.Partition, 0, sectors, false), partitions::kSearchDone);
        EXPECT_EQ(drv.ResumeCurrLBA, 0);
        ASSERT_FALSE(disk.log.empty());
        const auto lowest = std::min_element(disk.log.begin(), disk.log.end())->first;
        EXPECT_EQ(lowest, static_cast<std::uint64_t>(resume) * 512) << "the second run starts where the first stopped";
        EXPECT_TRUE(Covers(firstRun, 0, static_cast<std::uint64_t>(resume) * 512)) << "the first run skipped sectors";
        EXPECT_TRUE(Covers(disk.log, static_cast<std::uint64_t>(resume) * 512, bytes.size()))
            << "the second run skipped sectors";
        EXPECT_THAT(LostStarts(drv), ElementsAreArray(starts));
        ExpectVolumes(drv);
    }
}

// ---- An image that ends early -----------------------------------------------------------

TEST(PartitionFixture, TruncatedImageClipsItsPartitions) {
    BRENVALE_REQUIRE_FIXTURE(image, "truncated.img");
    BRENVALE_REQUIRE_FIXTURE(layoutFile, "truncated.layout.tsv");
    const auto rows = LoadRows(layoutFile);
    const auto present = static_cast<std::int64_t>(std::filesystem::file_size(image) / 512);
    auto os = platform::makeLinuxPlatform();
    TPhysicalDrv drv(*os, image.string());
    ASSERT_EQ(static_cast<std::int64_t>(drv.Device->Sectors()), present);

    int whole = 0, partial = 0, missing = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE("partition " + std::to_string(r.base.index));
        const TPartition* p = Find(drv, r.start(), r.typeByte());
        if (!p) continue;
        if (r.end() <= present) {
            ++whole;
            EXPECT_EQ(PartitionSize(p), r.sectors());
            EXPECT_EQ(p->ClaimedSectCount, 0);
        } else if (r.start() < present) {
            ++partial;
            EXPECT_EQ(PartitionSize(p), present - r.start());
            EXPECT_EQ(p->SectCount64, present - r.start());
            EXPECT_EQ(p->ClaimedSectCount, r.sectors());
        } else {
            ++missing;
            EXPECT_EQ(PartitionSize(p), 0);
            EXPECT_EQ(p->ClaimedSectCount, r.sectors());
        }
        // The boot sector of a partial partition is still there to read.
        if (r.start() < present) {
            EXPECT_EQ(p->BootSector.FileSystemType, FsCode(r.base.fs));
        }
    }
    EXPECT_EQ(whole, 1);
    EXPECT_EQ(partial, 1);
    EXPECT_EQ(missing, 1);
    for (const TPartition* f : FreeRecords(drv)) {
        EXPECT_LE(PartitionStart(f) + PartitionSize(f), present) << "free space past the end of the image";
    }
}

}  // namespace
}  // namespace brenvale::test
