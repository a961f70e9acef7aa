// Recovery from the rebuilt tree of damaged volumes made by the real tools: every file whose data
// survived comes back byte for byte (its SHA-256 in the original volume's manifest), under its
// name, with its time; a folder comes back holding what the tree shows below it. Hand-built
// cases cover what the images do not: a file past its chain, sizes the object cannot hold,
// a stop, and an entry reached twice.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <sys/stat.h>

#include "advscan/adv_recover.h"
#include "advscan/adv_search.h"
#include "advscan/adv_tree.h"
#include "advscan/image_scan.h"
#include "app/statistics.h"
#include "support/file_digest.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::advscan {
namespace {


struct Image {
    const char* set;   // the fixture folder
    const char* name;
};

class AdvRecoverImages : public ::testing::TestWithParam<Image> {
protected:
    void SetUp() override {
        // FAT and exFAT keep local time; the fixtures were written as UTC.
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

TEST_P(AdvRecoverImages, FilesWhoseDataSurvivedComeBackWhole) {
    BRENVALE_REQUIRE_FIXTURE(manifestPath, std::string(GetParam().set) + "/manifest.json");
    const auto manifest = nlohmann::json::parse(std::ifstream(manifestPath));
    const auto it = std::find_if(manifest["images"].begin(), manifest["images"].end(),
                                 [&](const auto& i) { return i["image"] == GetParam().name; });
    ASSERT_NE(it, manifest["images"].end());
    const auto& img = *it;
    const bool ntfs = std::string(GetParam().set) == "adv";
    // Contents as the original volume held them.
    std::map<std::string, test::ManifestRow> original;
    const std::string originalName = ntfs ? "ntfs" : img["original"].get<std::string>().substr(0, img["original"].get<std::string>().find('.'));
    const auto originalManifest = ntfs || originalName.rfind("sdcard", 0) != 0
                                      ? manifestPath.parent_path().parent_path() / (originalName + ".manifest.tsv")
                                      : manifestPath.parent_path() / "sdcard.manifest.tsv";
    for (const auto& row : test::loadManifest(originalManifest)) original.emplace(row.path, row);

    ImageScan image(manifestPath.parent_path() / GetParam().name, BootSector::FirstSector);
    ASSERT_EQ(image.Run(), kAdvCompleted);
    const AdvTree tree(image.adv);
    AdvRecovery recovery(image.adv, image.scan);
    std::map<std::string, std::size_t> nodeAt;
    for (std::size_t i = 0; i < tree.Nodes().size(); ++i) nodeAt.emplace(tree.PathOf(i), i);

    const std::string top = std::string("/") + kAdvancedExtra + "/";
    const std::string root = ntfs ? "" : img["fs"] == "exFAT" ? "exFAT Root" : "FAT Root";
    // The files that must come back: their data unchanged, and (without a FAT to follow) in
    // clusters one after the other.
    struct Want {
        std::string listed;  // the tree's path
        std::string sha256;
        std::int64_t mtime;
    };
    std::vector<Want> wants;
    auto rows = img["entries"];
    for (const auto& e : img.value("orphans", nlohmann::json::array())) rows.push_back(e);
    for (const auto& e : rows) {
        if (e["type"] != "file" || !e.value("data_intact", false) || !e.value("contiguous", true) || e["size"] == 0) continue;
        const std::string path = e["path"].get<std::string>();
        const auto o = original.find(ntfs ? path.substr(path.find('/')) : e.value("original_path", path));
        ASSERT_NE(o, original.end()) << path;
        std::string listed;
        if (!e.contains("lost_ancestor")) {
            listed = top + (ntfs ? path : root + path);
        } else {
            // Below a nameless folder: the one listed path that ends so.
            const std::string under = path.substr(e["lost_ancestor"].get<std::string>().size());
            for (const auto& [p, n] : nodeAt) {
                if (p.size() > under.size() && p.compare(p.size() - under.size(), under.size(), under) == 0 &&
                    p.find("/Folder") != std::string::npos) {
                    listed = p;
                }
            }
        }
        wants.push_back({listed, o->second.sha256, e["mtime"].get<std::int64_t>()});
    }
    ASSERT_FALSE(wants.empty());
    for (const Want& w : wants) {
        const auto n = nodeAt.find(w.listed);
        if (n == nodeAt.end()) {
            ADD_FAILURE() << w.listed << " is not in the tree";
            continue;
        }
        std::vector<std::byte> bytes;
        const AdvNode& node = tree.Nodes()[n->second];
        ASSERT_TRUE(recovery.AdvRecoverFileToBuf(node.entry, recovery.FsTypeOf(node), bytes,
                                                 static_cast<std::int64_t>(AdvEntrySize(node.entry))))
            << w.listed;
        EXPECT_EQ(test::sha256Hex(bytes), w.sha256) << w.listed;
    }
    // The whole tree into a folder: the same bytes at the same paths, with the times.
    test::TempDir dest;
    std::vector<std::pair<std::string, std::int32_t>> failed;
    image.scan.FOnRecover = [&](const std::string& name, std::int32_t code) {
        if (code != scan::kRecoverSuccessful && code != scan::kRecoverStarting && code != scan::kRecoverFolderStarting) {
            failed.emplace_back(name, code);
        }
    };
    recovery.ClearRecoveredFiles();
    recovery.RecoverNode(tree, 0, dest.path().string());
    for (const Want& w : wants) {
        const auto file = dest.path() / w.listed.substr(1);
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        EXPECT_EQ(test::fileSha256Hex(file), w.sha256) << w.listed;
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
        const std::int64_t seconds = st.st_mtime;
        // FAT keeps two-second steps. Recovery sets no time after 2050, as standard recovery.
        constexpr std::int64_t k2051 = 2556144000;
        if (w.mtime < k2051) {
            EXPECT_LE(std::abs(seconds - w.mtime), ntfs ? 0 : 1) << w.listed;
        }
    }
    EXPECT_TRUE(failed.empty()) << failed.front().first << ": " << scan::RecoverStatusText(failed.front().second);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AdvRecoverImages,
                         ::testing::Values(Image{"adv", "qformat.img"}, Image{"adv", "qformat-1k.img"},
                                           Image{"adv", "wiped.img"}, Image{"adv", "deleted.img"},
                                           Image{"adv-fat", "fat12-qformat.img"}, Image{"adv-fat", "fat16-wiped.img"},
                                           Image{"adv-fat", "fat32-qformat.img"}, Image{"adv-fat", "fat32-wiped.img"},
                                           Image{"adv-fat", "fat32-deleted.img"}, Image{"adv-fat", "exfat-wiped.img"},
                                           Image{"adv-fat", "exfat-qformat.img"}, Image{"adv-fat", "exfat-qformat-c32768.img"},
                                           Image{"adv-fat", "sdcard.img"}),
                         [](const auto& p) {
                             std::string name = std::string(p.param.set) + "_" + p.param.name;
                             for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// A FAT16 layout without boot sector or FAT: data at sector 100, 8 sectors per cluster, two
// folders to give the geometry, and files whose clusters hold their own numbers.
class AdvRecoverHandBuilt : public ::testing::Test {
protected:
    static constexpr std::int64_t kData = 100;
    static std::int64_t sectorOf(std::uint32_t c) { return kData + (std::int64_t{c} - 2) * 8; }

    void SetUp() override {
        bytes_.assign(600 * 512, std::byte{0});
        dots(10, 0);
        entry(sectorOf(10), 2, "SUB        ", 0x10, 11, 0);
        entry(sectorOf(10), 3, "THREE   BIN", 0x20, 40, 3 * 4096);
        entry(sectorOf(10), 4, "HUGE    BIN", 0x20, 41, 0x7FFFFFFF);
        dots(11, 10);
        entry(sectorOf(11), 2, "INNER   TXT", 0x20, 50, 100);
        for (std::uint32_t c = 40; c < 60; ++c) {
            for (std::int64_t s = sectorOf(c) * 512; s < (sectorOf(c) + 8) * 512; ++s) {
                bytes_[static_cast<std::size_t>(s)] = static_cast<std::byte>(c);
            }
        }
        std::ofstream(dir_.file("disk.img"), std::ios::binary).write(reinterpret_cast<const char*>(bytes_.data()),
                                                                      static_cast<std::streamsize>(bytes_.size()));
        image_ = std::make_unique<ImageScan>(dir_ / "disk.img", BootSector::Gone);
        ASSERT_EQ(image_->Run(), kAdvCompleted);
        ASSERT_EQ(image_->adv.Fat.SectorsPerClus, 8);
        tree_ = std::make_unique<AdvTree>(image_->adv);
        recovery_ = std::make_unique<AdvRecovery>(image_->adv, image_->scan);
        image_->scan.FOnRecover = [this](const std::string& name, std::int32_t code) { reports_.emplace_back(name, code); };
    }
    void dots(std::uint32_t own, std::uint32_t parent) {
        entry(sectorOf(own), 0, ".          ", 0x10, own, 0);
        entry(sectorOf(own), 1, "..         ", 0x10, parent, 0);
    }
    void entry(std::int64_t sector, std::size_t slot, const char* name11, std::uint8_t attr, std::uint32_t cluster,
               std::uint32_t size) {
        std::byte* p = bytes_.data() + sector * 512 + slot * 32;
        std::memcpy(p, name11, 11);
        p[11] = std::byte{attr};
        const std::uint16_t date = 0x5A21, time = 0x6000;
        const std::pair<std::size_t, std::uint16_t> words[] = {{14, time}, {16, date}, {18, date}, {22, time}, {24, date},
                                                               {26, static_cast<std::uint16_t>(cluster)}};
        for (const auto& [at, v] : words) {
            p[at] = static_cast<std::byte>(v & 0xFF);
            p[at + 1] = static_cast<std::byte>(v >> 8);
        }
        for (std::size_t i = 0; i < 4; ++i) p[28 + i] = static_cast<std::byte>(size >> (8 * i));
    }
    std::size_t node(const std::string& tail) const {
        for (std::size_t i = 0; i < tree_->Nodes().size(); ++i) {
            const std::string p = tree_->PathOf(i);
            if (p.size() >= tail.size() && p.compare(p.size() - tail.size(), tail.size(), tail) == 0) return i;
        }
        ADD_FAILURE() << tail << " is not in the tree";
        return 0;
    }

    test::TempDir dir_;
    std::vector<std::byte> bytes_;
    std::unique_ptr<ImageScan> image_;
    std::unique_ptr<AdvTree> tree_;
    std::unique_ptr<AdvRecovery> recovery_;
    std::vector<std::pair<std::string, std::int32_t>> reports_;
};

TEST_F(AdvRecoverHandBuilt, WithoutAChainAFileGoesOnInTheClustersAfterItsFirst) {
    std::vector<std::byte> got;
    const AdvNode& n = tree_->Nodes()[node("/THREE.BIN")];
    ASSERT_TRUE(recovery_->AdvRecoverFileToBuf(n.entry, recovery_->FsTypeOf(n), got, 1 << 20));
    ASSERT_EQ(got.size(), 3u * 4096);
    for (std::size_t i = 0; i < got.size(); i += 4096) EXPECT_EQ(std::to_integer<int>(got[i]), 40 + static_cast<int>(i / 4096));
}

TEST_F(AdvRecoverHandBuilt, AFolderAndAFileInsideItAreWrittenOnce) {
    const test::TempDir out;
    ASSERT_TRUE(recovery_->RecoverNode(*tree_, node("/SUB"), out.path().string()));
    const AdvNode& inner = tree_->Nodes()[node("/SUB/INNER.TXT")];
    EXPECT_FALSE(recovery_->AdvRecoverFile(inner.entry, recovery_->FsTypeOf(inner), inner.name, out.path().string()));
    EXPECT_TRUE(std::filesystem::exists(out.path() / "SUB" / "INNER.TXT"));
    EXPECT_FALSE(std::filesystem::exists(out.path() / "INNER.TXT"));
    recovery_->ClearRecoveredFiles();
    EXPECT_TRUE(recovery_->AdvRecoverFile(inner.entry, recovery_->FsTypeOf(inner), inner.name, out.path().string()));
}

TEST_F(AdvRecoverHandBuilt, FailuresLeaveNoFileAndSayWhy) {
    const test::TempDir out;
    {
        SCOPED_TRACE("more bytes than the object holds");
        const AdvNode& huge = tree_->Nodes()[node("/HUGE.BIN")];
        EXPECT_FALSE(recovery_->AdvRecoverFile(huge.entry, recovery_->FsTypeOf(huge), huge.name, out.path().string()));
        ASSERT_FALSE(reports_.empty());
        EXPECT_EQ(reports_.back().second, scan::kRecoverReadError);
        EXPECT_FALSE(std::filesystem::exists(out.path() / "HUGE.BIN"));
    }
    {
        SCOPED_TRACE("stopped");
        image_->scan.FTerminated = true;
        const AdvNode& three = tree_->Nodes()[node("/THREE.BIN")];
        EXPECT_FALSE(recovery_->AdvRecoverFile(three.entry, recovery_->FsTypeOf(three), three.name, out.path().string()));
        EXPECT_EQ(reports_.back().second, scan::kRecoverStopped);
        EXPECT_FALSE(std::filesystem::exists(out.path() / "THREE.BIN"));
        image_->scan.FTerminated = false;
    }
}

TEST_F(AdvRecoverHandBuilt, StatisticsCountAFolderAndAFileInsideItOnce) {
    app::StatCounter counter;
    counter.CountAdvanced(*tree_, node("/SUB"));
    counter.CountAdvanced(*tree_, node("/SUB/INNER.TXT"));
    counter.CountAdvanced(*tree_, node("/SUB"));
    EXPECT_EQ(counter.Totals().Dirs, 1u);
    EXPECT_EQ(counter.Totals().Files, 1u);
    EXPECT_EQ(counter.Totals().Size, 100u);
    // The roots of the tree are no folders of the volume.
    app::StatCounter all;
    all.CountAdvanced(*tree_, 0);
    EXPECT_EQ(all.Totals().Files, 3u);
    EXPECT_EQ(all.Totals().Size, 100u + 3u * 4096 + 0x7FFFFFFFu);
}

TEST_F(AdvRecoverHandBuilt, SearchByNameSizeAndFolder) {
    auto names = [&](const AdvSearchResult& r) {
        std::set<std::string> out;
        for (const std::size_t i : r.Nodes) out.insert(tree_->Nodes()[i].name);
        return out;
    };
    AdvSearchQuery byName;
    byName.Name = "*.BIN,inner*";  // patterns match whatever the case
    EXPECT_EQ(names(AdvFindFiles(*tree_, 0, byName)), (std::set<std::string>{"THREE.BIN", "HUGE.BIN", "INNER.TXT"}));
    AdvSearchQuery bySize;
    bySize.SizeMin = 100;
    bySize.SizeMax = 4096 * 3;
    EXPECT_EQ(names(AdvFindFiles(*tree_, 0, bySize)), (std::set<std::string>{"THREE.BIN", "INNER.TXT"}));
    AdvSearchQuery onlyHere;
    onlyHere.SubFolders = false;
    EXPECT_EQ(names(AdvFindFiles(*tree_, node("/SUB"), onlyHere)), (std::set<std::string>{"INNER.TXT"}));
    AdvSearchQuery byDate;  // every entry was written on 2025-01-01
    byDate.DateType = 1;
    byDate.DateFrom = scan::SearchDayNumber(2025, 1, 2);
    byDate.DateTo = scan::SearchDayNumber(2025, 2, 1);
    EXPECT_TRUE(AdvFindFiles(*tree_, 0, byDate).Nodes.empty());
    byDate.DateFrom = scan::SearchDayNumber(2025, 1, 1);
    EXPECT_EQ(names(AdvFindFiles(*tree_, node("/SUB"), byDate)), (std::set<std::string>{"INNER.TXT"}));
}

}  // namespace
}  // namespace brenvale::advscan
