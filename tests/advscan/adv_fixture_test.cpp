// The advanced scan over NTFS volumes made by the real tools and then damaged: quick-formatted
// (with the same and with another cluster size), boot sectors and first records wiped, and a
// partition gone from its disk's table. What must come back was worked out on the originals
// with The Sleuth Kit (tests/fixtures/make-adv-images.py).

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <fstream>
#include <map>
#include <set>

#include "advscan/advanced_scan.h"
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

// Seconds since 1970 of a file time (100 ns steps since 1601).
std::int64_t unixTime(std::uint64_t fileTime) {
    return static_cast<std::int64_t>(fileTime / 10'000'000) - 11'644'473'600;
}

// "Documents/Projects/a.txt" for every entry of a standard scan's tree, from its links.
std::multiset<std::string> linkedPaths(const scan::TUndelete& scan) {
    std::multiset<std::string> paths;
    for (const scan::TScanEntry* e : scan.ScannedFiles) {
        std::string path = scan::AsNtfs(e)->filename;
        int depth = 0;
        for (const scan::TScanEntry* p = scan.EntryParent(e); p && depth < 64; p = scan.EntryParent(p), ++depth)
            path = scan::AsNtfs(p)->filename + "/" + path;
        paths.insert(path);
    }
    return paths;
}

TEST(AdvFixtures, DamagedNtfsVolumesGiveBackTheirTrees) {
    BRENVALE_REQUIRE_FIXTURE(manifestPath, "adv/manifest.json");
    const auto manifest = nlohmann::json::parse(std::ifstream(manifestPath));
    for (const auto& img : manifest["images"]) {
        SCOPED_TRACE(img["image"].get<std::string>());
        ImageScan image(manifestPath.parent_path() / img["image"].get<std::string>(), BootSector::FirstSector);
        ASSERT_EQ(image.Run(), kAdvCompleted);
        const AdvancedScan& adv = image.adv;

        EXPECT_EQ(adv.SectorsPerClusNtfs, img["sectors_per_cluster"].get<int>());
        EXPECT_EQ(adv.AdvNtfsVolStart(), img["volume_start"].get<std::int64_t>());
        std::map<std::string, const scan::tntfsfilerecord*> byPath;
        for (const auto* r : adv.Lists.NTFSFileList) byPath.emplace(adv.NtfsPath(*r), r);
        std::size_t missing = 0;
        for (const auto& e : img["entries"]) {
            const auto path = e["path"].get<std::string>();
            const auto found = byPath.find(path);
            if (found == byPath.end()) {
                if (++missing <= 5) ADD_FAILURE() << path << " is not listed";
                continue;
            }
            const auto* r = found->second;
            EXPECT_EQ(r->recordnumber, e["record"].get<std::int64_t>()) << path;
            EXPECT_EQ((r->flag & storage::kFileRecordInUse) != 0, e["status"] == "live") << path;
            if (e["type"] == "file") {
                EXPECT_EQ(r->realsize, e["size"].get<std::uint64_t>()) << path;
                EXPECT_EQ(unixTime(r->head.FileAlteredTime), e["mtime"].get<std::int64_t>()) << path;
            } else {
                EXPECT_NE(r->flag & storage::kFileRecordDirectory, 0) << path;
            }
        }
        EXPECT_EQ(missing, 0u);
    }
}

// On a sound NTFS volume the advanced scan completes the silent standard scan it begins with:
// the same folders, orphans and links as the interactive scan.
TEST(AdvFixtures, SoundNtfsVolumeIsLinkedAsTheStandardScanLinksIt) {
    BRENVALE_REQUIRE_FIXTURE(volume, "ntfs.img");
    ImageScan image(volume, BootSector::FirstSector);
    scan::TUndelete standard(image.device, image.record);
    ASSERT_EQ(standard.NormalScan(1), scan::kScanCompleted);
    const auto expected = linkedPaths(standard);
    ASSERT_TRUE(expected.contains("!!! Orphaned Files !!!"));
    ASSERT_TRUE(expected.contains("Documents/Projects"));

    std::vector<std::string> stages;
    AdvCallbacks cb;
    cb.Stage = [&](const std::string& s) { stages.push_back(s); };
    ASSERT_EQ(image.Run(cb), kAdvCompleted);
    const AdvancedScan& adv = image.adv;
    EXPECT_EQ(linkedPaths(image.scan), expected);
    EXPECT_EQ(stages, (std::vector<std::string>{kStageSortNtfs, kStageNtfsGeometry, kStageNtfsExtra, kStageNtfsLink,
                                                kStageFatEnum, kStageFatOrphans, kStageFatLink, kStageExFatTree}));
    EXPECT_TRUE(adv.DiagLines.empty());  // the boot sector answered everything
}

}  // namespace
}  // namespace brenvale::advscan
