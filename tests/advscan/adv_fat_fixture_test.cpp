// The advanced scan over FAT and exFAT volumes made by the real tools and then damaged: formatted
// again with the same and another cluster size, boot sectors and first FAT wiped, a partition
// deleted from its disk's table, a camera card formatted again. What must come back was worked
// out on the originals with The Sleuth Kit (tests/fixtures/make-adv-fat-images.py): entries at
// their paths, and entries whose folder's own entry was lost below a "Folder..." folder.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cctype>
#include <fstream>
#include <map>
#include <set>

#include "advscan/advanced_scan.h"
#include "advscan/exfat_tree.h"
#include "advscan/fat_entry_access.h"
#include "advscan/fat_tree.h"
#include "advscan/image_scan.h"
#include "platform/linux/linux_platform.h"
#include "raw/signature_scan.h"
#include "scan/undelete.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/fs_detect.h"
#include "support/fixtures.h"

namespace brenvale::advscan {
namespace {

class AdvFatFixtures : public ::testing::TestWithParam<const char*> {};

TEST_P(AdvFatFixtures, DamagedVolumeGivesBackItsTree) {
    BRENVALE_REQUIRE_FIXTURE(manifestPath, "adv-fat/manifest.json");
    const auto manifest = nlohmann::json::parse(std::ifstream(manifestPath));
    for (const auto& img : manifest["images"]) {
        if (img["image"] != GetParam()) continue;
        ImageScan image(manifestPath.parent_path() / img["image"].get<std::string>(), BootSector::FirstSector);
        ASSERT_EQ(image.Run(), kAdvCompleted);
        const AdvancedScan& adv = image.adv;

        const bool exfat = img["fs"] == "exFAT";
        const std::int64_t volumeStart = img["volume_start"].get<std::int64_t>();
        std::set<std::string> paths;
        std::map<std::string, bool> deletedAt;  // each listed entry: shown as deleted
        if (exfat) {
            WalkExFatTree(adv.Lists.FatFileList, adv.ExFatTree, adv.ExFatSPC(), adv.ExFatHeap(),
                          [&](const scan::TMidEntry* e, std::int32_t, const std::string& path, int) {
                              paths.insert(path);
                              if (e) deletedAt[path] = e->Status == scan::kStatusDeleted;
                          });
        } else {
            WalkFatTree(adv.Fat, [&](const scan::TScanEntry* e, const std::string& path, int) {
                paths.insert(path);
                if (e) deletedAt[path] = fatentry::isDeleted(e);
            });
        }
        const std::string root = exfat ? kExFatRoot : kFatRoot;
        const auto& entries = img["entries"];
        const auto& orphans = img["orphans"];
        if (!entries.empty() || !orphans.empty()) {
            if (exfat) {
                EXPECT_EQ(adv.ExFatSPC(), img["sectors_per_cluster"].get<int>());
                EXPECT_EQ(adv.ExFatHeap(), volumeStart + img["data_start"].get<std::int64_t>());
            } else {
                EXPECT_EQ(adv.Fat.SectorsPerClus, img["sectors_per_cluster"].get<int>());
                const std::string fs = img["fs"];
                EXPECT_EQ(adv.Fat.FatType, fs == "FAT12" ? kFat12 : fs == "FAT16" ? kFat16 : kFat32);
                ASSERT_TRUE(adv.Fat.RootSectNum);
                EXPECT_EQ(*adv.Fat.RootSectNum, volumeStart + img["data_start"].get<std::int64_t>());
            }
        }
        // An empty exFAT file has no cluster to find it by.
        auto clusterless = [&](const nlohmann::json& e) { return exfat && e["type"] == "file" && e["size"] == 0; };
        std::size_t missing = 0;
        std::map<std::string, std::string> statusOf;
        for (const auto& e : entries) statusOf[e["path"].get<std::string>()] = e["status"].get<std::string>();
        for (const auto& e : entries) {
            if (clusterless(e)) continue;
            const std::string original = e["path"].get<std::string>(), path = root + original;
            if (!paths.contains(path) && ++missing <= 5) ADD_FAILURE() << path << " is not listed";
            // Deleted as the original said: an entry deleted in a folder that was not (inside a
            // deleted folder the entries themselves keep their mark of being in use).
            const auto parent = statusOf.find(original.substr(0, original.rfind('/')));
            const bool ownMark = e["status"] == "live" || parent == statusOf.end() || parent->second == "live";
            if (const auto shown = deletedAt.find(path); shown != deletedAt.end() && ownMark) {
                EXPECT_EQ(shown->second, e["status"] == "deleted") << path;
            }
        }
        // Below a folder that lost its own entry: "Folder" and eight hexadecimal digits, then the
        // path under the lost folder.
        for (const auto& e : orphans) {
            if (clusterless(e)) continue;
            const std::string path = e["path"].get<std::string>();
            const std::string under = path.substr(e["lost_ancestor"].get<std::string>().size());
            const bool found = std::any_of(paths.begin(), paths.end(), [&](const std::string& p) {
                if (p.size() < under.size() + 14 || p.compare(p.size() - under.size(), under.size(), under) != 0) return false;
                const std::string head = p.substr(0, p.size() - under.size());
                return head.size() >= 14 && head.compare(head.size() - 14, 6, "Folder") == 0;
            });
            if (!found && ++missing <= 5) ADD_FAILURE() << path << " is not listed below a Folder... folder";
        }
        EXPECT_EQ(missing, 0u);
        return;
    }
    FAIL() << GetParam() << " is not in the manifest";
}

// Every image of the set. The re-formatted exFAT volumes and the camera card leave few folders
// to vote: their geometry is the one the files confirm (on exfat-qformat-c32768.img the old 8
// sectors per cluster, not the new boot sector's 64), and their lost root leaves every lost
// folder at the top.
INSTANTIATE_TEST_SUITE_P(Images, AdvFatFixtures,
                         ::testing::Values("fat12-qformat.img", "fat12-qformat-c2048.img", "fat16-qformat.img",
                                           "fat16-qformat-c512.img", "fat16-wiped.img", "fat32-qformat.img",
                                           "fat32-qformat-c2048.img", "fat32-wiped.img", "fat32-deleted.img",
                                           "exfat-wiped.img", "exfat-qformat.img", "exfat-qformat-c32768.img", "sdcard.img"),
                         [](const auto& p) {
                             std::string name = p.param;
                             for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

}  // namespace
}  // namespace brenvale::advscan
