#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace brenvale::test {
namespace {

namespace fs = std::filesystem;

// ---- The readers, on files written here -------------------------------------------------

class ScratchFile {
public:
    explicit ScratchFile(const std::string& content) {
        std::random_device rd;
        path_ = fs::temp_directory_path() /
                ("brenvale-manifest-" + std::to_string(rd()) + std::to_string(rd()) + ".tsv");
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~ScratchFile() {
        std::error_code ec;
        fs::remove(path_, ec);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

const std::string kHeader = "path\ttype\tstatus\tsize\tmtime\tsha256\n";
const std::string kEmptySha = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(LoadManifest, ReadsEveryField) {
    ScratchFile file(kHeader + "/Docs\tdir\tlive\t0\t1600000000\t\n" +
                     "/Docs/résumé.txt\tfile\tdeleted\t123456789012\t-86400\t" + kEmptySha + "\n" +
                     "/a b\tfile\tlive\t0\t4102444798\t" + kEmptySha);  // no final newline
    const auto rows = loadManifest(file.path());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].path, "/Docs");
    EXPECT_EQ(rows[0].type, "dir");
    EXPECT_EQ(rows[0].status, "live");
    EXPECT_EQ(rows[0].size, 0u);
    EXPECT_EQ(rows[0].mtime, 1600000000);
    EXPECT_EQ(rows[0].sha256, "");
    EXPECT_EQ(rows[1].path, "/Docs/résumé.txt");
    EXPECT_EQ(rows[1].type, "file");
    EXPECT_EQ(rows[1].status, "deleted");
    EXPECT_EQ(rows[1].size, 123456789012u);
    EXPECT_EQ(rows[1].mtime, -86400);
    EXPECT_EQ(rows[1].sha256, kEmptySha);
    EXPECT_EQ(rows[2].path, "/a b");
    EXPECT_EQ(rows[2].mtime, 4102444798);
}

TEST(LoadManifest, HeaderOnlyIsEmpty) {
    ScratchFile file(kHeader);
    EXPECT_TRUE(loadManifest(file.path()).empty());
}

TEST(LoadManifest, MissingFileThrows) {
    EXPECT_THROW(loadManifest(fs::temp_directory_path() / "brenvale-no-such-manifest.tsv"),
                 std::runtime_error);
}

struct BadManifest {
    const char* what;
    std::string content;
    int line;  // the line the message must name
};

void PrintTo(const BadManifest& c, std::ostream* os) {
    *os << c.what;
}

class LoadManifestRejects : public ::testing::TestWithParam<BadManifest> {};

TEST_P(LoadManifestRejects, NamesFileAndLine) {
    ScratchFile file(GetParam().content);
    try {
        loadManifest(file.path());
        FAIL() << "accepted a manifest with " << GetParam().what;
    } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find(file.path().string() + ":" + std::to_string(GetParam().line) + ":"),
                  std::string::npos)
            << message;
    }
}

const std::string kGoodRow = "/ok\tfile\tlive\t1\t2\t" + kEmptySha + "\n";

INSTANTIATE_TEST_SUITE_P(
    Malformed, LoadManifestRejects,
    ::testing::Values(
        BadManifest{"no header", "", 1},
        BadManifest{"another header", "path\ttype\tstatus\tsize\tmtime\n", 1},
        BadManifest{"five fields", kHeader + kGoodRow + "/x\tfile\tlive\t1\t2\n", 3},
        BadManifest{"seven fields", kHeader + "/x\tfile\tlive\t1\t2\t" + kEmptySha + "\textra\n",
                    2},
        BadManifest{"a relative path", kHeader + "x\tfile\tlive\t1\t2\t" + kEmptySha + "\n", 2},
        BadManifest{"an empty path", kHeader + "\tdir\tlive\t0\t2\t\n", 2},
        BadManifest{"an unknown type", kHeader + "/x\tlink\tlive\t1\t2\t" + kEmptySha + "\n", 2},
        BadManifest{"an unknown status", kHeader + "/x\tfile\tgone\t1\t2\t" + kEmptySha + "\n", 2},
        BadManifest{"a negative size", kHeader + "/x\tfile\tlive\t-1\t2\t" + kEmptySha + "\n", 2},
        BadManifest{"a size with a sign", kHeader + "/x\tfile\tlive\t+1\t2\t" + kEmptySha + "\n",
                    2},
        BadManifest{"an empty size", kHeader + "/x\tfile\tlive\t\t2\t" + kEmptySha + "\n", 2},
        BadManifest{"a size too large", kHeader + "/x\tfile\tlive\t18446744073709551616\t2\t\n", 2},
        BadManifest{"a fractional mtime", kHeader + "/x\tfile\tlive\t1\t2.5\t" + kEmptySha + "\n",
                    2},
        BadManifest{"a short hash", kHeader + "/x\tfile\tlive\t1\t2\tabc\n", 2},
        BadManifest{"an upper-case hash",
                    kHeader + "/x\tfile\tlive\t1\t2\tE3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B93"
                              "4CA495991B7852B855\n",
                    2},
        BadManifest{"an empty line", kHeader + kGoodRow + "\n" + kGoodRow, 3},
        BadManifest{"a carriage return", kHeader + "/x\tdir\tlive\t0\t2\t\r\n", 2}),
    [](const auto& tc) { return "Case" + std::to_string(tc.index); });

TEST(LoadLayout, ReadsMbrAndGptColumns) {
    ScratchFile mbr("index\tstart\tsectors\ttype\tfs\n1\t2048\t4096\t0x0c\tfat32\n");
    const auto m = loadLayout(mbr.path());
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].index, 1u);
    EXPECT_EQ(m[0].start, 2048u);
    EXPECT_EQ(m[0].sectors, 4096u);
    EXPECT_EQ(m[0].type, "0x0c");
    EXPECT_EQ(m[0].name, "");
    EXPECT_EQ(m[0].fs, "fat32");

    ScratchFile gpt(
        "index\tstart\tsectors\ttype\tname\tguid\tfs\n"
        "2\t40\t8\t0FC63DAF-8483-4772-8E79-3D69D8477DE4\tLinux Data\tG-2\tnone\n");
    const auto g = loadLayout(gpt.path());
    ASSERT_EQ(g.size(), 1u);
    EXPECT_EQ(g[0].index, 2u);
    EXPECT_EQ(g[0].name, "Linux Data");
    EXPECT_EQ(g[0].guid, "G-2");
    EXPECT_EQ(g[0].fs, "none");
}

TEST(LoadLayout, RejectsMalformedFiles) {
    ScratchFile noStart("index\tsectors\ttype\tfs\n1\t8\t0x07\tntfs\n");
    EXPECT_THROW(loadLayout(noStart.path()), std::runtime_error);
    ScratchFile shortRow("index\tstart\tsectors\ttype\tfs\n1\t2048\t0x07\tntfs\n");
    EXPECT_THROW(loadLayout(shortRow.path()), std::runtime_error);
    ScratchFile badNumber("index\tstart\tsectors\ttype\tfs\n1\t2k\t8\t0x07\tntfs\n");
    EXPECT_THROW(loadLayout(badNumber.path()), std::runtime_error);
}

// ---- The built fixtures -----------------------------------------------------------------

struct FixtureSet {
    const char* manifest;
    const char* image;
    unsigned partition;  // 0: the image is the volume; N: partition N of a disk image
    bool fat;            // FAT keeps mtimes in 2-second steps from 1980
    bool testTree;       // the full test tree: deep folders, non-ASCII names, empty files
    bool deletedFolder;  // has a deleted folder holding files
};

void PrintTo(const FixtureSet& s, std::ostream* os) {
    *os << s.manifest;
}

std::string parentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The size of the volume a manifest describes.
std::uint64_t volumeBytes(const FixtureSet& set, const fs::path& image) {
    if (set.partition == 0) return fs::file_size(image);
    fs::path layout = image;
    layout.replace_extension(".layout.tsv");
    for (const LayoutRow& row : loadLayout(layout)) {
        if (row.index == set.partition) return row.sectors * 512;
    }
    throw std::runtime_error(layout.string() + ": no partition " + std::to_string(set.partition));
}

class ManifestFixture : public ::testing::TestWithParam<FixtureSet> {};

TEST_P(ManifestFixture, RowsAreConsistent) {
    const FixtureSet& set = GetParam();
    BRENVALE_REQUIRE_FIXTURE(manifestPath, set.manifest);
    BRENVALE_REQUIRE_FIXTURE(image, set.image);
    const std::vector<ManifestRow> rows = loadManifest(manifestPath);
    ASSERT_FALSE(rows.empty());
    const std::uint64_t volume = volumeBytes(set, image);
    const std::string emptySha = sha256Hex({});

    std::map<std::string, const ManifestRow*> byPath;
    for (const ManifestRow& row : rows) {
        EXPECT_TRUE(byPath.emplace(row.path, &row).second) << "duplicate path " << row.path;
    }

    std::uint64_t liveBytes = 0;
    for (const ManifestRow& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_NE(row.path, "/");
        EXPECT_NE(row.path.back(), '/');
        EXPECT_EQ(row.path.find("//"), std::string::npos);

        const std::string parent = parentOf(row.path);
        if (parent != "/") {
            const auto it = byPath.find(parent);
            ASSERT_NE(it, byPath.end()) << "parent folder is not listed";
            EXPECT_EQ(it->second->type, "dir") << "parent is not a folder";
            if (it->second->status == "deleted") {
                EXPECT_EQ(row.status, "deleted") << "live entry inside a deleted folder";
            }
        }

        if (row.type == "dir") {
            EXPECT_EQ(row.size, 0u);
            EXPECT_EQ(row.sha256, "");
        } else {
            EXPECT_EQ(row.sha256.size(), 64u);
            EXPECT_EQ(row.size == 0, row.sha256 == emptySha) << "size and hash disagree";
            EXPECT_LE(row.size, volume) << "larger than its volume";
            if (row.status == "live") liveBytes += row.size;
        }
        if (set.fat) {
            EXPECT_EQ(row.mtime % 2, 0) << "FAT cannot store odd seconds";
            EXPECT_GE(row.mtime, 315532800) << "before 1980";
            EXPECT_LT(row.mtime, 4354819200) << "after 2107";
        }
    }
    EXPECT_LE(liveBytes, volume) << "live files do not fit in the volume";
}

TEST_P(ManifestFixture, HoldsWhatTheTestsNeed) {
    const FixtureSet& set = GetParam();
    BRENVALE_REQUIRE_FIXTURE(manifestPath, set.manifest);
    const std::vector<ManifestRow> rows = loadManifest(manifestPath);

    auto count = [&](auto pred) { return std::count_if(rows.begin(), rows.end(), pred); };
    EXPECT_GT(count([](const ManifestRow& r) { return r.type == "file" && r.status == "live"; }),
              0);
    EXPECT_GT(count([](const ManifestRow& r) { return r.type == "file" && r.status == "deleted"; }),
              0);

    if (set.deletedFolder) {
        std::set<std::string> deletedDirs;
        for (const ManifestRow& r : rows) {
            if (r.type == "dir" && r.status == "deleted") deletedDirs.insert(r.path);
        }
        EXPECT_GT(count([&](const ManifestRow& r) {
                      return r.type == "file" && deletedDirs.contains(parentOf(r.path));
                  }),
                  0)
            << "no deleted folder with files in it";
    }
    if (set.testTree) {
        const auto depth = [](const ManifestRow& r) {
            return std::count(r.path.begin(), r.path.end(), '/');
        };
        EXPECT_GE(count([&](const ManifestRow& r) { return r.type == "dir" && depth(r) >= 3; }), 1)
            << "no folder three levels deep";
        EXPECT_GT(count([](const ManifestRow& r) {
                      return std::any_of(r.path.begin(), r.path.end(), [](char c) {
                          return static_cast<unsigned char>(c) >= 0x80;
                      });
                  }),
                  0)
            << "no non-ASCII name";
        EXPECT_GT(count([](const ManifestRow& r) { return r.type == "file" && r.size == 0; }), 0)
            << "no empty file";
        EXPECT_GT(count([](const ManifestRow& r) { return r.type == "file" && r.size == 1; }), 0)
            << "no one-byte file";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Built, ManifestFixture,
    ::testing::Values(
        FixtureSet{"fat12.manifest.tsv", "fat12.img", 0, true, true, true},
        FixtureSet{"fat16.manifest.tsv", "fat16.img", 0, true, true, true},
        FixtureSet{"fat32.manifest.tsv", "fat32.img", 0, true, true, true},
        FixtureSet{"exfat.manifest.tsv", "exfat.img", 0, false, true, true},
        FixtureSet{"ntfs.manifest.tsv", "ntfs.img", 0, false, true, true},
        FixtureSet{"gpt.p1.manifest.tsv", "gpt.img", 1, true, false, false},
        FixtureSet{"demo.p1.manifest.tsv", "demo.img", 1, true, false, true},
        FixtureSet{"demo.p2.manifest.tsv", "demo.img", 2, false, false, true},
        FixtureSet{"demo.p3.manifest.tsv", "demo.img", 3, false, false, true},
        // The camera card before it was formatted again (sdcard.img is the card after).
        FixtureSet{"adv-fat/sdcard.manifest.tsv", "adv-fat/sdcard.img", 0, false, false, false}),
    [](const auto& tc) {
        std::string name = tc.param.manifest;
        name = name.substr(0, name.find(".manifest"));
        std::replace_if(
            name.begin(), name.end(),
            [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

// ---- Partition layouts --------------------------------------------------------------------

struct LayoutSet {
    const char* layout;
    const char* image;
    std::uint64_t firstUsable;   // sectors before it hold the partition table
    std::uint64_t tailReserved;  // sectors at the end that hold the backup GPT
};

void PrintTo(const LayoutSet& s, std::ostream* os) {
    *os << s.layout;
}

class LayoutFixture : public ::testing::TestWithParam<LayoutSet> {};

TEST_P(LayoutFixture, PartitionsFitTheDiskWithoutOverlap) {
    const LayoutSet& set = GetParam();
    BRENVALE_REQUIRE_FIXTURE(layoutPath, set.layout);
    BRENVALE_REQUIRE_FIXTURE(image, set.image);
    std::vector<LayoutRow> rows = loadLayout(layoutPath);
    ASSERT_FALSE(rows.empty());
    const std::uint64_t diskSectors = fs::file_size(image) / 512;
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.start < b.start; });
    std::uint64_t nextFree = set.firstUsable;
    std::set<unsigned> indexes;
    for (const LayoutRow& row : rows) {
        SCOPED_TRACE("partition " + std::to_string(row.index));
        EXPECT_TRUE(indexes.insert(row.index).second) << "index used twice";
        EXPECT_GT(row.sectors, 0u);
        EXPECT_GE(row.start, nextFree) << "overlaps the table or the previous partition";
        EXPECT_LE(row.start + row.sectors, diskSectors - set.tailReserved) << "runs past the disk";
        nextFree = row.start + row.sectors;
        if (row.fs != "none") {
            const std::string stem = fs::path(set.image).stem().string();
            EXPECT_TRUE(fixture(stem + ".p" + std::to_string(row.index) + ".manifest.tsv"))
                << "a formatted partition without a manifest";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Built, LayoutFixture,
                         ::testing::Values(LayoutSet{"demo.layout.tsv", "demo.img", 1, 0},
                                           LayoutSet{"gpt.layout.tsv", "gpt.img", 34, 33}),
                         [](const auto& tc) { return fs::path(tc.param.image).stem().string(); });

}  // namespace
}  // namespace brenvale::test
