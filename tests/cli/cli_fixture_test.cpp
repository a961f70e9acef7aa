// brenvale-cli on the images made by the real mkfs tools, through the Linux platform.

#include <gmock/gmock.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "cli/run_cli.h"
#include "platform/linux/linux_platform.h"
#include "storage/device.h"
#include "support/temp_dir.h"
#include "support/fixtures.h"

namespace brenvale::test {
namespace {

struct VolumeCase {
    const char* image;
    const char* fileSystem;
};

class FixtureInfoTest : public ::testing::TestWithParam<VolumeCase> {};

TEST_P(FixtureInfoTest, DetectsTheFileSystemMadeByMkfs) {
    BRENVALE_REQUIRE_FIXTURE(image, GetParam().image);
    const auto r = RunCli({"info", image.string(), "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["kind"], "raw");
    EXPECT_EQ(j["file_system"], GetParam().fileSystem);
    EXPECT_EQ(j["sectors"].get<std::uint64_t>(), std::filesystem::file_size(image) / 512);
}

INSTANTIATE_TEST_SUITE_P(Volumes, FixtureInfoTest,
                         ::testing::Values(VolumeCase{"fat12.img", "FAT12"}, VolumeCase{"fat16.img", "FAT16"},
                                           VolumeCase{"fat32.img", "FAT32"}, VolumeCase{"exfat.img", "exFAT"},
                                           VolumeCase{"ntfs.img", "NTFS"}, VolumeCase{"demo.img", "Unknown"}),
                         [](const auto& p) { return std::string(p.param.fileSystem) + "_" + std::to_string(p.index); });

TEST(FixtureImage, VolumeImageOfAPartitionHoldsItsExactSectors) {
    BRENVALE_REQUIRE_FIXTURE(demo, "demo.img");
    BRENVALE_REQUIRE_FIXTURE(layoutFile, "demo.layout.tsv");
    const auto layout = loadLayout(layoutFile);
    ASSERT_FALSE(layout.empty());
    TempDir tmp;
    const auto disk = ReadWholeFile(demo);
    for (const auto& part : layout) {
        const auto target = tmp.file("p" + std::to_string(part.index) + ".dif");
        const auto r = RunCli({"image", "create", demo.string(), "--from", std::to_string(part.start), "--count",
                               std::to_string(part.sectors), "--volume", "--to", target});
        ASSERT_EQ(r.code, 0) << r.err;

        const auto info = RunCli({"image", "info", target, "--json"});
        ASSERT_EQ(info.code, 0) << info.err;
        const auto j = nlohmann::json::parse(info.out);
        EXPECT_EQ(j["sectors"].get<std::uint64_t>(), 63 + part.sectors);
        EXPECT_EQ(j["lba0"].get<std::uint64_t>(), part.start);

        // The image's data is the partition, byte for byte.
        const auto copy = ReadWholeFile(target);
        ASSERT_EQ(copy.size(), (63 + part.sectors) * 512 + 512);
        EXPECT_TRUE(std::equal(copy.begin() + 63 * 512, copy.end() - 512, disk.begin() + part.start * 512))
            << "partition " << part.index;
        std::filesystem::remove(target);
    }
}

TEST(FixtureImage, ReadingLeavesTheSourceUntouched) {
    BRENVALE_REQUIRE_FIXTURE(image, "fat16.img");
    struct stat before {};
    ASSERT_EQ(::stat(image.c_str(), &before), 0);
    const auto hashBefore = sha256Hex(ReadWholeFile(image));

    auto os = platform::makeLinuxPlatform();
    storage::TDevice dev(*os, image.string());
    std::vector<std::byte> buf(2048 * 512);
    std::uint64_t total = 0;
    for (std::uint64_t lba = 0; lba < dev.Sectors(); lba += 2048) total += dev.Read(lba, 2048, buf.data());
    EXPECT_EQ(total, dev.Sectors() * 512);

    struct stat after {};
    ASSERT_EQ(::stat(image.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(sha256Hex(ReadWholeFile(image)), hashBefore);
}

}  // namespace
}  // namespace brenvale::test
