// The advanced scan over NTFS volumes made by the real tools and then damaged: quick-formatted
// (with the same and with another cluster size), boot sectors and first records wiped, and a
// partition gone from its disk's table. What must come back was worked out on the originals
// with The Sleuth Kit (tests/fixtures/make-adv-images.py).

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <fstream>
#include <map>

#include "advscan/advanced_scan.h"
#include "platform/linux/linux_platform.h"
#include "raw/signature_scan.h"
#include "scan/undelete.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/fs_detect.h"
#include "support/fixtures.h"

namespace brenvale::advscan {
namespace {

TEST(AdvFixtures, DamagedNtfsVolumesGiveBackTheirTrees) {
    BRENVALE_REQUIRE_FIXTURE(manifestPath, "adv/manifest.json");
    const auto manifest = nlohmann::json::parse(std::ifstream(manifestPath));
    auto os = platform::makeLinuxPlatform();
    for (const auto& img : manifest["images"]) {
        SCOPED_TRACE(img["image"].get<std::string>());
        storage::DeviceAborted = false;
        storage::TDevice device(*os, (manifestPath.parent_path() / img["image"].get<std::string>()).string());
        std::vector<std::byte> first(512);
        ASSERT_EQ(device.Read(0, 1, first), 512u);
        partitions::TPartition record;
        record.BootSector = storage::MakeBootSector(first);
        record.SectCount64 = static_cast<std::int64_t>(device.Sectors());
        scan::TUndelete scan(device, record);
        const raw::SizeTables sizes;
        raw::RawScan raw(sizes, 512, raw::DeviceSectors(device));
        AdvancedScan adv(scan, raw, 0, device.Sectors());
        std::atomic<bool> stop{false};
        ASSERT_EQ(adv.AdvScan(stop), kAdvCompleted);

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
            } else {
                EXPECT_NE(r->flag & storage::kFileRecordDirectory, 0) << path;
            }
        }
        EXPECT_EQ(missing, 0u);
    }
}

}  // namespace
}  // namespace brenvale::advscan
