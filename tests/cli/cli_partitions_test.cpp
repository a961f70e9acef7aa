// brenvale-cli partitions and find-partitions over hand-built disks.

#include <gmock/gmock.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli_app.h"
#include "cli/drive_source.h"
#include "partitions/disk_builder.h"
#include "partitions/lost_partitions.h"
#include "partitions/parti_checkpoint.h"
#include "storage/device_test_util.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

class CliPartitionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        DiskBuilder b(300000);
        b.entry(0, 0, 0x07, 2048, 50000).ntfs(2048, 50000, 1);
        b.entry(0, 1, 0x05, 100000, 100000);
        b.entry(100000, 0, 0x06, 63, 40000).fat16(100063, 40000, 2);
        b.fat32(208192, 70000, 3);  // lost: in the free space after the extended partition, where the probe looks
        disk = b.bytes();
        os.addDisk("/img/disk.img", disk, 512, false);
    }
    std::pair<int, std::string> Run(std::vector<std::string> args, std::string* err = nullptr) {
        args.insert(args.begin(), "brenvale-cli");
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream out, errs;
        const int code = cli::Run(static_cast<int>(argv.size()), argv.data(), os, out, errs);
        if (err) *err = errs.str();
        return {code, out.str()};
    }

    platform::fake::FakePlatform os;
    std::vector<std::byte> disk;
    TempDir tmp;
};

TEST_F(CliPartitionsTest, ListsRecordsInOrderWithTheirKinds) {
    const auto [code, out] = Run({"partitions", "/img/disk.img", "--json"});
    ASSERT_EQ(code, 0);
    const auto j = nlohmann::json::parse(out);
    EXPECT_EQ(j["sectors"], 300000);
    EXPECT_EQ(j["sector_size"], 512);
    std::vector<std::string> kinds;
    std::vector<std::int64_t> starts;
    for (const auto& p : j["partitions"]) {
        kinds.push_back(p["kind"]);
        starts.push_back(p["start"]);
        EXPECT_EQ(p["index"], kinds.size());
    }
    EXPECT_THAT(kinds, ::testing::ElementsAre("partition", "free", "extended", "partition", "free", "free"));
    EXPECT_THAT(starts, ::testing::ElementsAre(2048, 52048, 100000, 100063, 140063, 200000));
    EXPECT_EQ(j["partitions"][0]["file_system"], "NTFS");
    EXPECT_EQ(j["partitions"][3]["type"], 6);
    ASSERT_EQ(j["lost"].size(), 1u);
    EXPECT_EQ(j["lost"][0]["start"], 208192);
    EXPECT_EQ(j["lost"][0]["file_system"], "FAT32");
}

TEST_F(CliPartitionsTest, TableForPeople) {
    const auto [code, out] = Run({"partitions", "/img/disk.img"});
    ASSERT_EQ(code, 0);
    EXPECT_THAT(out, ::testing::HasSubstr("1  partition  07h     2048    50000  24.41 MB  NTFS\n"));
    EXPECT_THAT(out, ::testing::HasSubstr("Lost partitions:\n"));
    EXPECT_THAT(out, ::testing::HasSubstr("1  0Bh   208192    70000  34.18 MB  FAT32\n"));
}

TEST_F(CliPartitionsTest, FindPartitionsSearchesTheWholeDisk) {
    const auto ckpt = tmp.file("p.prc");
    const auto [code, out] = Run({"find-partitions", "/img/disk.img", "--checkpoint", ckpt, "--restart", "--json"});
    ASSERT_EQ(code, 0);
    // Kept in a variable: a range-for over a member of a temporary would dangle.
    const auto j = nlohmann::json::parse(out);
    std::vector<std::int64_t> starts;
    for (const auto& p : j["lost"]) starts.push_back(p["start"]);
    // The listed partitions are not lost; the deleted FAT32 volume is.
    EXPECT_THAT(starts, ::testing::ElementsAre(208192));
}

TEST_F(CliPartitionsTest, FindPartitionsResumesAMatchingCheckpoint) {
    // A checkpoint of this image: stopped at sector 250000 after finding a volume at 5000.
    const auto ckpt = tmp.file("p.prc");
    partitions::TPartiCheckpointData data;
    data.SourceType = 2;
    data.SourceId = "/img/disk.img";
    data.LBA = 0;
    data.Blocks = 300000;
    data.CurrLBA = 250000;
    DiskBuilder boot(1);
    boot.fat16(0, 40000, 9);
    data.Partitions.push_back(partitions::MakeLostPartition(boot.sector(0), 1, 5000, 512, 0));
    ASSERT_TRUE(partitions::SavePartiCheckpoint(ckpt, data));

    const auto [code, out] = Run({"find-partitions", "/img/disk.img", "--checkpoint", ckpt, "--resume", "--json"});
    ASSERT_EQ(code, 0);
    // Kept in a variable: a range-for over a member of a temporary would dangle.
    const auto j = nlohmann::json::parse(out);
    std::vector<std::int64_t> starts;
    for (const auto& p : j["lost"]) starts.push_back(p["start"]);
    EXPECT_THAT(starts, ::testing::ElementsAre(5000, 208192)) << "restored, and found by the probe";
    EXPECT_FALSE(std::filesystem::exists(ckpt)) << "a completed search removes its checkpoint";
}

TEST_F(CliPartitionsTest, FindPartitionsChecksItsRange) {
    std::string err;
    EXPECT_EQ(Run({"find-partitions", "/img/disk.img", "--from", "300000", "--restart"}, &err).first, 2);
    EXPECT_THAT(err, ::testing::HasSubstr("--from 300000 is outside the source (0 to 299999)"));
    EXPECT_EQ(Run({"find-partitions", "/img/disk.img", "--from", "0", "--count", "300001", "--restart"}).first, 2);
    EXPECT_EQ(Run({"find-partitions", "/img/disk.img", "--resume", "--restart"}).first, 2);
    const auto ranged = Run({"find-partitions", "/img/disk.img", "--from", "200000", "--count", "20000", "--restart",
                             "--checkpoint", tmp.file("r.prc"), "--json"});
    ASSERT_EQ(ranged.first, 0);
    EXPECT_EQ(nlohmann::json::parse(ranged.second)["lost"].size(), 1u);
}

TEST_F(CliPartitionsTest, SelectorsPickARecord) {
    std::ostringstream out, err;
    cli::Context ctx(os, out, err);
    auto opened = cli::OpenDrive(ctx, "/img/disk.img");
    const auto& drv = *opened.drive;
    struct Case {
        cli::VolumeSelector sel;
        std::int64_t start;  // -1: refused
    };
    const Case cases[] = {
        {{.partition = 1}, 2048},  {{.partition = 4}, 100063}, {{.partition = 7}, -1}, {{.partition = 0}, -1},
        {{.lost = 1}, 208192},     {{.lost = 2}, -1},          {{.free = 1}, 52048},   {{.free = 0}, -1},
        {{.free = 9}, -1},         {{.wholeDisk = true}, 0},   {{}, -1} /* two volumes: which one? */,
    };
    for (const auto& c : cases) {
        if (c.start < 0) {
            EXPECT_THROW(cli::SelectRecord(drv, c.sel), cli::CliError);
        } else {
            EXPECT_EQ(partitions::PartitionStart(cli::SelectRecord(drv, c.sel)), c.start);
        }
    }
    EXPECT_EQ(cli::SelectRecord(drv, {.wholeDisk = true}), &drv.Partition);

    DiskBuilder single(50000);
    single.fat16(0, 40000, 5);
    os.addDisk("/img/vol.img", single.bytes(), 512, false);
    auto vol = cli::OpenDrive(ctx, "/img/vol.img");
    EXPECT_EQ(partitions::PartitionStart(cli::SelectRecord(*vol.drive, {})), 0) << "the only volume needs no selector";
}

}  // namespace
}  // namespace brenvale::test
