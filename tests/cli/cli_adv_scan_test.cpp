// brenvale-cli adv-scan: a disk whose NTFS volume lost its boot sector gives back its folders
// and files from the records, with the record length, cluster size and volume start they imply;
// the same pass finds by content what `carve` finds on the same sectors.

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <map>

#include "cli/run_cli.h"
#include "scan/ntfs_builder.h"
#include "storage/le.h"
#include "support/fixtures.h"
#include "support/iso_time.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using ::testing::HasSubstr;

constexpr std::size_t kVolumeAt = 2048;

// Users/alice/{report.txt, big.bin}, and a file whose folder's record is gone.
std::vector<std::byte> lostVolumeDisk() {
    NtfsBuilder b;
    auto folder = [&](std::uint32_t n, std::uint64_t parent, const std::u16string& name) {
        auto& r = b.record(n, 0x0003);
        b.standardInformation(r, 0);
        b.fileName(r, parent, name, 1);
    };
    folder(30, 5, u"Users");
    folder(31, 30, u"alice");
    auto& report = b.record(32, 0x0001);
    b.standardInformation(report, 133'000'000'000'000'000ull);
    b.fileName(report, 31, u"report.txt", 1);
    b.residentData(report, "quarterly figures");
    auto& big = b.record(33, 0x0001);
    b.standardInformation(big, 0);
    b.fileName(big, 31, u"big.bin", 1);
    b.nonResidentData(big, {std::byte{0x11}, std::byte{10}, std::byte{100}, std::byte{0}}, 5000);
    auto& orphan = b.record(34, 0x0000);  // deleted
    b.standardInformation(orphan, 0);
    b.fileName(orphan, 77, u"orphan.txt", 1);
    b.residentData(orphan, "left behind");
    auto volume = b.finish();
    std::fill(volume.begin(), volume.begin() + 512, std::byte{0});  // the boot sector is gone
    std::vector<std::byte> disk(kVolumeAt * 512 + volume.size(), std::byte{0});
    std::copy(volume.begin(), volume.end(), disk.begin() + static_cast<std::ptrdiff_t>(kVolumeAt * 512));
    return disk;
}

TEST(AdvScanCli, RebuildsTheFoldersOfALostVolume) {
    TempDir dir;
    const std::string image = dir.file("disk.img");
    WriteWholeFile(image, lostVolumeDisk());
    const auto r = RunCli({"adv-scan", image, "--whole-disk", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["outcome"], "completed");
    EXPECT_EQ(j["geometry"]["record_length"], 1024);
    EXPECT_EQ(j["geometry"]["record_length_from"], "records");
    EXPECT_EQ(j["geometry"]["sectors_per_cluster"], 1);
    EXPECT_EQ(j["geometry"]["volume_start"], kVolumeAt);
    std::map<std::string, nlohmann::json> byPath;
    for (const auto& e : j["entries"]) byPath[e["path"].get<std::string>()] = e;
    const std::string root = "/!!! Advanced Extra !!!/NTFS Root/";
    ASSERT_TRUE(byPath.contains(root + "Users/alice/report.txt")) << r.out;
    const auto& report = byPath[root + "Users/alice/report.txt"];
    EXPECT_EQ(report["size"], 17);
    EXPECT_EQ(report["status"], "live");
    EXPECT_EQ(report["record"], 32);
    EXPECT_EQ(report["found_at_sector"], kVolumeAt + NtfsBuilder::RecordOffset(32) / 512);
    EXPECT_FALSE(report["modified"].is_null());
    EXPECT_EQ(byPath[root + "Users/alice/big.bin"]["size"], 5000);
    EXPECT_EQ(byPath[root + "Users"]["type"], "dir");
    ASSERT_TRUE(byPath.contains(root + "Folder0000004D/orphan.txt"));
    EXPECT_EQ(byPath[root + "Folder0000004D/orphan.txt"]["status"], "deleted");
    EXPECT_EQ(byPath[root + "Folder0000004D"]["type"], "dir");

    const auto text = RunCli({"adv-scan", image, "--whole-disk", "--deleted-only"});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_THAT(text.out, HasSubstr("Folder0000004D/orphan.txt  (deleted)"));
    EXPECT_THAT(text.out, ::testing::Not(HasSubstr("report.txt")));
    EXPECT_THAT(text.out, HasSubstr("Volume start: sector 2048 (solved)"));
}

TEST(AdvScanCli, RefusesARangeOutsideTheVolume) {
    TempDir dir;
    const std::string image = dir.file("disk.img");
    WriteWholeFile(image, lostVolumeDisk());
    const auto r = RunCli({"adv-scan", image, "--whole-disk", "--from", "999999"});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr("--from 999999 is outside the volume"));
}

struct LostBootCase {
    const char* image;
    std::uint32_t bootSectors;  // zeroed at the start of a copy
    const char* root;           // where the tree is rebuilt
    const char* geometry;       // the JSON object with the solved geometry
};

class AdvScanLostBoot : public ::testing::TestWithParam<LostBootCase> {};

// A FAT or exFAT volume made by the real tools, its boot sectors zeroed (a FAT32 volume keeps
// its copy): every live file of a live folder is listed at its path under the rebuilt root,
// with its size and time, and the geometry solved is the one mkfs wrote.
TEST_P(AdvScanLostBoot, ListsTheTreeAtItsPaths) {
    const LostBootCase& c = GetParam();
    BRENVALE_REQUIRE_FIXTURE(original, std::string(c.image) + ".img");
    BRENVALE_REQUIRE_FIXTURE(manifestPath, std::string(c.image) + ".manifest.tsv");
    auto bytes = ReadWholeFile(original.string());
    const std::vector<std::byte> boot(bytes.begin(), bytes.begin() + 512);
    std::fill(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(c.bootSectors * 512), std::byte{0});
    TempDir dir;
    const std::string image = dir.file("lost-boot.img");
    WriteWholeFile(image, bytes);
    const auto r = RunCli({"adv-scan", image, "--whole-disk", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    const auto& g = j[c.geometry];
    if (std::string(c.root) == "exFAT Root") {
        EXPECT_EQ(g["sectors_per_cluster"], 1 << (std::to_integer<int>(boot[109]) & 31));
        EXPECT_EQ(g["heap"], storage::le32(boot, 88));
    } else {
        EXPECT_EQ(g["sectors_per_cluster"], std::to_integer<int>(boot[13]));
        const std::int64_t fatSize = storage::le16(boot, 22) ? storage::le16(boot, 22) : storage::le32(boot, 36);
        EXPECT_EQ(g["data_start"], storage::le16(boot, 14) + std::to_integer<int>(boot[16]) * fatSize +
                                       (storage::le16(boot, 17) * 32 + 511) / 512);
    }
    std::map<std::string, nlohmann::json> byPath;
    for (const auto& e : j["entries"]) byPath[e["path"].get<std::string>()] = e;
    const auto rows = loadManifest(manifestPath);
    std::size_t checked = 0;
    for (const auto& row : rows) {
        const bool inLiveFolder = std::none_of(rows.begin(), rows.end(), [&](const auto& d) {
            return d.type == "dir" && d.status == "deleted" && row.path.rfind(d.path + "/", 0) == 0;
        });
        // An empty exFAT file has no cluster: there is nothing to find it by.
        const bool clusterless = std::string(c.root) == "exFAT Root" && row.type == "file" && row.size == 0;
        if (row.status != "live" || !inLiveFolder || clusterless) continue;
        const std::string path = std::string("/!!! Advanced Extra !!!/") + c.root + row.path;
        const auto e = byPath.find(path);
        ASSERT_NE(e, byPath.end()) << path;
        EXPECT_EQ(e->second["type"], row.type) << path;
        if (row.type == "file") {
            EXPECT_EQ(e->second["size"], row.size) << path;
            EXPECT_EQ(e->second["modified"], isoUtc(row.mtime)) << path;
        }
        ++checked;
    }
    EXPECT_GT(checked, 20u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, AdvScanLostBoot,
                         ::testing::Values(LostBootCase{"fat16", 1, "FAT Root", "fat_geometry"},
                                           LostBootCase{"fat32", 1, "FAT Root", "fat_geometry"},
                                           LostBootCase{"exfat", 24, "exFAT Root", "exfat_geometry"}),
                         [](const auto& p) { return std::string(p.param.image); });

// The width and the geometry corrected by hand: the width toggles, two files from one folder
// or paths not in the tree are refused with the reason.
TEST(AdvScanCli, FatCorrections) {
    BRENVALE_REQUIRE_FIXTURE(original, "fat16.img");
    auto bytes = ReadWholeFile(original.string());
    std::fill(bytes.begin(), bytes.begin() + 512, std::byte{0});
    TempDir dir;
    const std::string image = dir.file("lost-boot.img");
    WriteWholeFile(image, bytes);
    const auto wide = RunCli({"adv-scan", image, "--whole-disk", "--json", "--fat-type", "fat32"});
    ASSERT_EQ(wide.code, 0) << wide.err;
    EXPECT_EQ(nlohmann::json::parse(wide.out)["fat_geometry"]["fat_type"], "FAT32");
    EXPECT_THAT(wide.err, HasSubstr("Operation completed. \"!!! Advanced Extra !!!\\FAT Root\" has been re-organised."));
    const auto same = RunCli({"adv-scan", image, "--whole-disk", "--fat-type", "fat16"});
    ASSERT_EQ(same.code, 0) << same.err;
    EXPECT_THAT(same.err, ::testing::Not(HasSubstr("re-organised")));  // already that width

    const std::string folder = "/!!! Advanced Extra !!!/FAT Root/Documents/";
    const auto oneFolder = RunCli({"adv-scan", image, "--whole-disk", "--fat-files", folder + "Meeting Notes.txt",
                                   folder + "Empty Document.txt"});
    EXPECT_EQ(oneFolder.code, 2);
    EXPECT_THAT(oneFolder.err, HasSubstr("\"File 1\" and \"File 2\" mustn't in the same directory."));
    const auto twoFolders = RunCli({"adv-scan", image, "--whole-disk", "--json", "--fat-files", folder + "Meeting Notes.txt",
                                    folder + "Projects/Alpha Project/PLAN.DOC"});
    ASSERT_EQ(twoFolders.code, 0) << twoFolders.err;
    EXPECT_THAT(twoFolders.err, HasSubstr("Adjustment completed."));
    EXPECT_EQ(nlohmann::json::parse(twoFolders.out)["fat_geometry"]["sectors_per_cluster"], std::to_integer<int>(ReadWholeFile(original.string())[13]));
    const auto missing = RunCli({"adv-scan", image, "--whole-disk", "--fat-files", folder + "nothing.txt", folder + "x"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_THAT(missing.err, HasSubstr("is not in the rebuilt FAT tree"));
}

// Hits per type of `carve --json`, in the shape of adv-scan's "raw_hits".
std::map<std::string, int> carvedTypes(const nlohmann::json& carve) {
    std::map<std::string, int> n;
    for (const auto& h : carve["hits"]) ++n[h["type"].get<std::string>()];
    return n;
}

struct SameSectorsCase {
    const char* image;
    std::vector<std::string> range;  // --from/--count, or the whole disk
};

class AdvScanCarves : public ::testing::TestWithParam<SameSectorsCase> {};

TEST_P(AdvScanCarves, FindsByContentWhatCarveFinds) {
    BRENVALE_REQUIRE_FIXTURE(image, GetParam().image);
    std::vector<std::string> carve{"carve", image.string(), "--whole-disk", "--json"};
    std::vector<std::string> adv{"adv-scan", image.string(), "--whole-disk", "--json"};
    carve.insert(carve.end(), GetParam().range.begin(), GetParam().range.end());
    adv.insert(adv.end(), GetParam().range.begin(), GetParam().range.end());
    const auto c = RunCli(carve);
    ASSERT_EQ(c.code, 0) << c.err;
    const auto a = RunCli(adv);
    ASSERT_EQ(a.code, 0) << a.err;
    const auto carved = carvedTypes(nlohmann::json::parse(c.out));
    ASSERT_FALSE(carved.empty());
    using Counts = std::map<std::string, int>;
    EXPECT_EQ(nlohmann::json::parse(a.out)["raw_hits"].get<Counts>(), carved);
}

INSTANTIATE_TEST_SUITE_P(
    Images, AdvScanCarves,
    ::testing::Values(SameSectorsCase{"carve/carve-main.img", {}}, SameSectorsCase{"carve/documents.img", {}},
                      SameSectorsCase{"carve/cad-mail.img", {}}, SameSectorsCase{"carve/pictures.img", {}},
                      SameSectorsCase{"carve/carve-main.img", {"--from", "3001", "--count", "20000"}},
                      SameSectorsCase{"adv/deleted.img", {}}),
    [](const auto& p) { return "case" + std::to_string(p.index); });

// sfdisk deleted the volume's partition: the free space it left is scanned on its own.
TEST(AdvScanCli, FreeSpaceLeftByADeletedPartition) {
    BRENVALE_REQUIRE_FIXTURE(manifestPath, "adv/manifest.json");
    const auto manifest = nlohmann::json::parse(std::ifstream(manifestPath));
    nlohmann::json deleted;
    for (const auto& img : manifest["images"]) {
        if (img["image"] == "deleted.img") deleted = img;
    }
    ASSERT_FALSE(deleted.is_null());
    const std::string image = (manifestPath.parent_path() / "deleted.img").string();
    const auto r = RunCli({"adv-scan", image, "--free", "1", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["first_sector"], 63);  // the table's own sectors stay out of the stretch
    EXPECT_EQ(j["geometry"]["volume_start"], deleted["volume_start"]);
    EXPECT_EQ(j["geometry"]["sectors_per_cluster"], deleted["sectors_per_cluster"]);
    std::map<std::string, std::uint64_t> sizes;
    for (const auto& e : j["entries"]) sizes[e["path"].get<std::string>()] = e["size"].get<std::uint64_t>();
    for (const auto& e : deleted["entries"]) {
        const std::string path = "/!!! Advanced Extra !!!/" + e["path"].get<std::string>();
        ASSERT_TRUE(sizes.contains(path)) << path;
        EXPECT_EQ(sizes[path], e["size"].get<std::uint64_t>()) << path;
    }

    const auto none = RunCli({"adv-scan", image, "--free", "2"});
    EXPECT_EQ(none.code, 2);
    EXPECT_THAT(none.err, HasSubstr("--free 2: the disk has 1 stretches of free space"));
    const auto both = RunCli({"carve", image, "--free", "1", "--partition", "2"});
    EXPECT_EQ(both.code, 2);
}

// An exFAT volume formatted again with 32 KiB clusters: its boot sector is the new one, the old
// folders vote only weakly, and the geometry the files confirm is the old one. The JSON says how
// it was accepted, and the lost root leaves a file of a lost folder below a "Folder..." folder.
TEST(AdvScanCli, ReformattedExFatVolumeKeepsItsOldGeometry) {
    BRENVALE_REQUIRE_FIXTURE(manifestPath, "adv-fat/manifest.json");
    const auto manifest = nlohmann::json::parse(std::ifstream(manifestPath));
    nlohmann::json reformatted;
    for (const auto& img : manifest["images"]) {
        if (img["image"] == "exfat-qformat-c32768.img") reformatted = img;
    }
    ASSERT_FALSE(reformatted.is_null());
    const std::string image = (manifestPath.parent_path() / "exfat-qformat-c32768.img").string();
    std::vector<std::byte> boot(512);
    std::ifstream(image, std::ios::binary).read(reinterpret_cast<char*>(boot.data()), 512);
    ASSERT_NE(1 << (std::to_integer<int>(boot[109]) & 31), reformatted["sectors_per_cluster"].get<int>());
    const auto r = RunCli({"adv-scan", image, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    const auto& g = j["exfat_geometry"];
    EXPECT_EQ(g["sectors_per_cluster"], reformatted["sectors_per_cluster"]);
    EXPECT_EQ(g["heap"], reformatted["data_start"]);
    EXPECT_EQ(g["inferred"], true);
    EXPECT_EQ(g["accepted_by"], "files after a weak vote");
    EXPECT_GE(g["files_confirming"].get<int>(), 2);
    const std::string plan = "/Projects/Alpha Project/PLAN.DOC";  // below the lost /Documents
    const bool listed = std::any_of(j["entries"].begin(), j["entries"].end(), [&](const nlohmann::json& e) {
        const std::string path = e["path"].get<std::string>();
        return path.rfind("/!!! Advanced Extra !!!/exFAT Root/Folder", 0) == 0 && path.size() > plan.size() &&
               path.compare(path.size() - plan.size(), plan.size(), plan) == 0;
    });
    EXPECT_TRUE(listed) << r.out.substr(0, 2000);
}

}  // namespace
}  // namespace brenvale::test
