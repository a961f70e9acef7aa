// brenvale-cli reads the configuration at start: the deleted-only switch and the partition
// checkpoint path, which find-partitions writes back when it changes.

#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "app/config.h"
#include "cli/cli_app.h"
#include "partitions/disk_builder.h"
#include "partitions/lost_partitions.h"
#include "partitions/parti_checkpoint.h"
#include "platform/fake/fake_platform.h"
#include "platform/paths.h"
#include "scan/undelete.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

// A fake disk with one lost FAT32 volume, the default configuration folder moved to a
// scratch folder, and the deleted-only switch restored afterwards.
class CliConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The lost volume lies after the position the checkpoints below stop at.
        DiskBuilder b(340000);
        b.entry(0, 0, 0x07, 2048, 50000).ntfs(2048, 50000, 1);
        b.fat32(260000, 70000, 3);
        disk = b.bytes();
        os.addDisk("/img/disk.img", disk, 512, false);
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) savedXdg = old;
        ::setenv("XDG_CONFIG_HOME", tmp.path().c_str(), 1);
        std::error_code ec;
        if (std::filesystem::is_directory(platform::ExecutableDirectory() + "/data", ec)) {
            GTEST_SKIP() << "a data folder beside the test program takes the configuration";
        }
    }
    void TearDown() override {
        if (savedXdg) {
            ::setenv("XDG_CONFIG_HOME", savedXdg->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
        scan::ShowOnlyDeleted = false;
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

    // Writes a configuration file holding `config` and returns its path.
    std::string WriteConfig(const app::Config& config, const std::string& name = "cfg.xml") {
        app::ConfigDocument doc;
        EXPECT_TRUE(doc.SaveAs(config, tmp.file(name)));
        return tmp.file(name);
    }

    // A checkpoint of the fake disk stopped at sector 250000 after finding a volume at 5000.
    void WriteCheckpoint(const std::string& path) {
        partitions::TPartiCheckpointData data;
        data.SourceType = 2;
        data.SourceId = "/img/disk.img";
        data.LBA = 0;
        data.Blocks = 340000;
        data.CurrLBA = 250000;
        DiskBuilder boot(1);
        boot.fat16(0, 40000, 9);
        data.Partitions.push_back(partitions::MakeLostPartition(boot.sector(0), 1, 5000, 512, 0));
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        ASSERT_TRUE(partitions::SavePartiCheckpoint(path, data));
    }

    static std::vector<std::int64_t> LostStarts(const std::string& json) {
        const auto j = nlohmann::json::parse(json);
        std::vector<std::int64_t> starts;
        for (const auto& p : j["lost"]) starts.push_back(p["start"]);
        return starts;
    }

    std::string ConfiguredPartiPath(const std::string& file) {
        app::ConfigDocument doc;
        EXPECT_TRUE(doc.Open(file));
        app::Config c;
        EXPECT_TRUE(doc.Load(c)) << doc.Error();
        return c.PartiCheckpointPath;
    }

    platform::fake::FakePlatform os;
    std::vector<std::byte> disk;
    TempDir tmp;
    std::optional<std::string> savedXdg;
};

TEST_F(CliConfigTest, DeletedOnlySwitchFollowsTheFileOfEachRun) {
    app::Config on;
    on.ShowOnlyDeleted = true;
    const std::string file = WriteConfig(on);
    ASSERT_EQ(Run({"partitions", "/img/disk.img", "--config", file}).first, 0);
    EXPECT_TRUE(scan::ShowOnlyDeleted);
    ASSERT_EQ(Run({"partitions", "/img/disk.img"}).first, 0);
    EXPECT_FALSE(scan::ShowOnlyDeleted) << "no file: the default";

    // The default file is read when there is one.
    std::filesystem::create_directories(tmp / "brenvale");
    WriteConfig(on, "brenvale/Config.xml");
    ASSERT_EQ(Run({"partitions", "/img/disk.img"}).first, 0);
    EXPECT_TRUE(scan::ShowOnlyDeleted);
}

TEST_F(CliConfigTest, BrokenNamedFileWarnsAndRunsOn) {
    std::ofstream(tmp / "bad.xml") << R"(<S><FileTypes expand="maybe"/></S>)";
    std::string err;
    EXPECT_EQ(Run({"partitions", "/img/disk.img", "--config", tmp.file("bad.xml")}, &err).first, 0);
    EXPECT_THAT(err, ::testing::HasSubstr("warning: configuration " + tmp.file("bad.xml") +
                                          " not fully read"));
    EXPECT_THAT(err, ::testing::HasSubstr("expand"));
}

TEST_F(CliConfigTest, FindPartitionsUsesTheConfiguredCheckpoint) {
    app::Config c;
    c.PartiCheckpointPath = tmp.file("mine/p.prc");
    const std::string file = WriteConfig(c);
    WriteCheckpoint(c.PartiCheckpointPath);
    const auto [code, out] =
        Run({"find-partitions", "/img/disk.img", "--config", file, "--resume", "--json"});
    ASSERT_EQ(code, 0);
    EXPECT_THAT(LostStarts(out), ::testing::ElementsAre(5000, 260000))
        << "resumed from the configured file";
    EXPECT_EQ(ConfiguredPartiPath(file), c.PartiCheckpointPath);
}

TEST_F(CliConfigTest, FindPartitionsSavesAChangedCheckpointPath) {
    // Nothing configured: the default checkpoint in the data folder is resumed, and its path is
    // remembered the way the desktop program remembers it.
    const std::string file = WriteConfig(app::Config{});
    const std::string defaultCheckpoint = platform::DataDirectory() + "/parti_scan.prc";
    WriteCheckpoint(defaultCheckpoint);
    const auto [code, out] =
        Run({"find-partitions", "/img/disk.img", "--config", file, "--resume", "--json"});
    ASSERT_EQ(code, 0);
    EXPECT_THAT(LostStarts(out), ::testing::ElementsAre(5000, 260000));
    EXPECT_EQ(ConfiguredPartiPath(file), defaultCheckpoint);

    // An explicit --checkpoint is used once and not remembered.
    const std::string other = tmp.file("other.prc");
    WriteCheckpoint(other);
    ASSERT_EQ(Run({"find-partitions", "/img/disk.img", "--config", file, "--checkpoint", other,
                   "--resume", "--json"})
                  .first,
              0);
    EXPECT_EQ(ConfiguredPartiPath(file), defaultCheckpoint);
}

}  // namespace
}  // namespace brenvale::test
