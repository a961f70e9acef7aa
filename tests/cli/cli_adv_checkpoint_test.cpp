// brenvale-cli adv-scan --checkpoint / --resume / --restart / --results, and carve --results:
// a scan resumed from a checkpoint lists what one whole scan lists and removes the file, a
// checkpoint of another source is refused with its message, and the hits kept by --results
// are listed and written by carve as a scan of the disk lists and writes them.

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>

#include "advscan/checkpoint_resume.h"
#include "advscan/image_scan.h"
#include "cli/run_cli.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using ::testing::HasSubstr;

// The listing without its timings.
std::string withoutTimes(const std::string& json) {
    return std::regex_replace(json, std::regex(R"("seconds":\{[^}]*\})"), "");
}

// A checkpoint of `image` taken as `--whole-disk` scans it (no boot sector of its own) after `batches` batches of the pass.
void stopAfter(const std::filesystem::path& image, int batches, const std::string& file) {
    advscan::ImageScan s(image, advscan::BootSector::Gone);
    std::atomic<bool> stop{false};
    bool stages = false;
    int seen = 0;
    advscan::AdvCallbacks cb;
    cb.Stage = [&](const std::string&) { stages = true; };
    cb.Progress = [&](int) {
        if (!stages && ++seen == batches) stop = true;
    };
    ASSERT_EQ(s.adv.AdvScan(stop, cb), advscan::kAdvStopped);
    ASSERT_TRUE(advscan::SaveAdvancedScanCheckpoint(file, s.adv));
}

TEST(AdvScanCheckpointCli, ResumeListsWhatOneScanLists) {
    BRENVALE_REQUIRE_FIXTURE(image, "adv/qformat.img");
    TempDir dir;
    const std::string file = dir.file("scan.qvc");
    const auto whole = RunCli({"adv-scan", image.string(), "--whole-disk", "--json"});
    ASSERT_EQ(whole.code, 0) << whole.err;

    stopAfter(image, 6, file);
    const auto resumed = RunCli({"adv-scan", image.string(), "--whole-disk", "--json", "--checkpoint", file, "--resume"});
    ASSERT_EQ(resumed.code, 0) << resumed.err;
    EXPECT_THAT(resumed.err, HasSubstr("Resuming the advanced scan"));
    EXPECT_EQ(withoutTimes(resumed.out), withoutTimes(whole.out));
    // The completed scan's checkpoint has served.
    EXPECT_FALSE(std::filesystem::exists(file));

    // --restart leaves the checkpoint unread (and removes it once the scan completes).
    stopAfter(image, 2, file);
    const auto restarted = RunCli({"adv-scan", image.string(), "--whole-disk", "--json", "--checkpoint", file, "--restart"});
    ASSERT_EQ(restarted.code, 0) << restarted.err;
    EXPECT_THAT(restarted.err, ::testing::Not(HasSubstr("Resuming")));
    EXPECT_EQ(withoutTimes(restarted.out), withoutTimes(whole.out));
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(AdvScanCheckpointCli, RefusesACheckpointOfAnotherSource) {
    BRENVALE_REQUIRE_FIXTURE(image, "adv/qformat.img");
    BRENVALE_REQUIRE_FIXTURE(other, "adv/wiped.img");
    TempDir dir;
    const std::string file = dir.file("scan.qvc");
    stopAfter(image, 2, file);
    const auto r = RunCli({"adv-scan", other.string(), "--whole-disk", "--checkpoint", file, "--resume"});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr(advscan::kCheckpointMismatch));
    // The other source's scan did not touch it.
    EXPECT_TRUE(std::filesystem::exists(file));

    const auto missing = RunCli({"adv-scan", image.string(), "--whole-disk", "--checkpoint", dir.file("none.qvc"), "--resume"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_THAT(missing.err, HasSubstr(advscan::kCheckpointMissingText));

    std::ofstream(dir.file("junk.qvc")) << "QVSCP001 but nothing else";
    const auto junk = RunCli({"adv-scan", image.string(), "--whole-disk", "--checkpoint", dir.file("junk.qvc"), "--resume"});
    EXPECT_EQ(junk.code, 2);
    EXPECT_THAT(junk.err, HasSubstr(advscan::kCheckpointInvalidText));

    const auto both = RunCli({"adv-scan", image.string(), "--checkpoint", file, "--resume", "--restart"});
    EXPECT_EQ(both.code, 2);
}

TEST(AdvScanCheckpointCli, CarveFromSavedResults) {
    BRENVALE_REQUIRE_FIXTURE(image, "carve/documents.img");
    TempDir dir;
    const std::string results = dir.file("results.qvc");
    const auto scanned = RunCli({"adv-scan", image.string(), "--whole-disk", "--results", results});
    ASSERT_EQ(scanned.code, 0) << scanned.err;
    ASSERT_TRUE(std::filesystem::exists(results));

    const auto direct = RunCli({"carve", image.string(), "--json", "--to", dir.file("direct")});
    ASSERT_EQ(direct.code, 0) << direct.err;
    const auto saved = RunCli({"carve", image.string(), "--json", "--results", results, "--to", dir.file("saved")});
    ASSERT_EQ(saved.code, 0) << saved.err;
    const auto hits = nlohmann::json::parse(direct.out)["hits"];
    ASSERT_FALSE(hits.empty());
    EXPECT_EQ(nlohmann::json::parse(saved.out)["hits"], hits);
    // The same files, byte for byte.
    std::size_t files = 0;
    for (const auto& f : std::filesystem::directory_iterator(dir / "direct")) {
        ++files;
        const auto twin = dir / "saved" / f.path().filename();
        ASSERT_TRUE(std::filesystem::exists(twin)) << twin;
        std::ifstream a(f.path(), std::ios::binary), b(twin, std::ios::binary);
        EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {})) << twin;
    }
    EXPECT_EQ(files, hits.size());

    // The results of another image are refused.
    BRENVALE_REQUIRE_FIXTURE(other, "carve/cad-mail.img");
    const auto foreign = RunCli({"carve", other.string(), "--results", results});
    EXPECT_EQ(foreign.code, 2);
    EXPECT_THAT(foreign.err, HasSubstr(advscan::kCheckpointMismatch));
}

// The library reads the same file back into a scan object of the image.
TEST(AdvScanCheckpointCli, ResultsLoadIntoAScan) {
    BRENVALE_REQUIRE_FIXTURE(image, "adv/qformat.img");
    TempDir dir;
    const std::string results = dir.file("results.qvc");
    ASSERT_EQ(RunCli({"adv-scan", image.string(), "--whole-disk", "--results", results}).code, 0);
    advscan::ImageScan whole(image, advscan::BootSector::Gone);
    ASSERT_EQ(whole.Run(), advscan::kAdvCompleted);
    whole.raw.FinishPending();

    advscan::ImageScan loaded(image, advscan::BootSector::Gone);
    std::string reason;
    ASSERT_TRUE(advscan::LoadScanResults(results, loaded.adv, reason)) << reason;
    EXPECT_EQ(loaded.adv.Lists.NTFSFileList.size(), whole.adv.Lists.NTFSFileList.size());
    EXPECT_EQ(loaded.adv.Folders.TopDirs, whole.adv.Folders.TopDirs);
    EXPECT_EQ(loaded.adv.AdvNtfsVolStart(), whole.adv.AdvNtfsVolStart());
    EXPECT_EQ(loaded.raw.RawFiles.size(), whole.raw.RawFiles.size());

    advscan::ImageScan other(image.parent_path() / "wiped.img", advscan::BootSector::Gone);
    EXPECT_FALSE(advscan::LoadScanResults(results, other.adv, reason));
    EXPECT_EQ(reason, advscan::kCheckpointMismatch);
}

}  // namespace
}  // namespace brenvale::test
