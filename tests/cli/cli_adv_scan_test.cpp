// brenvale-cli adv-scan: a disk whose NTFS volume lost its boot sector gives back its folders
// and files from the records, with the record length, cluster size and volume start they imply.

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <map>

#include "cli/run_cli.h"
#include "scan/ntfs_builder.h"
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

}  // namespace
}  // namespace brenvale::test
