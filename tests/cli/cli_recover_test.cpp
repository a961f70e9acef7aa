// brenvale-cli recover on the volumes the real tools made: every file comes back byte for byte,
// live and deleted, with its modification time; names stay unique; what cannot be written
// fails that file and the command goes on.

#include <gmock/gmock.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "cli/run_cli.h"
#include "support/fixtures.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

namespace fs = std::filesystem;

// Local time is UTC while these run, as it was when the images were made.
class UtcEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};
const auto* const kUtc = ::testing::AddGlobalTestEnvironment(new UtcEnvironment);

// The recovered copy of a manifest path: as it is, or with the first character of a name a
// deleted short entry lost shown as "_".
std::optional<fs::path> Recovered(const fs::path& root, const std::string& manifestPath) {
    fs::path p = root;
    std::size_t at = 1;
    while (at <= manifestPath.size()) {
        const auto slash = manifestPath.find('/', at);
        const std::string part = manifestPath.substr(at, (slash == std::string::npos ? manifestPath.size() : slash) - at);
        at = slash == std::string::npos ? manifestPath.size() + 1 : slash + 1;
        if (fs::exists(p / part)) {
            p /= part;
            continue;
        }
        std::size_t first = 1;
        while (first < part.size() && (static_cast<unsigned char>(part[first]) & 0xC0) == 0x80) ++first;
        if (!fs::exists(p / ("_" + part.substr(first)))) return std::nullopt;
        p /= "_" + part.substr(first);
    }
    return p;
}

struct RecoverCase {
    const char* image;
    const char* manifest;
    std::vector<std::string> selector;
    bool fat;
};

void PrintTo(const RecoverCase& c, std::ostream* os) { *os << c.image << " " << c.manifest; }

class FixtureRecoverTest : public ::testing::TestWithParam<RecoverCase> {};

TEST_P(FixtureRecoverTest, EveryFileComesBackByteForByte) {
    const auto& c = GetParam();
    BRENVALE_REQUIRE_FIXTURE(image, c.image);
    BRENVALE_REQUIRE_FIXTURE(manifestPath, c.manifest);
    TempDir tmp;
    const auto dest = tmp.path() / "out";
    std::vector<std::string> args{"recover", image.string(), "--to", dest.string(), "--quiet"};
    args.insert(args.end(), c.selector.begin(), c.selector.end());
    const auto r = RunCli(args);
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_THAT(r.out, ::testing::HasSubstr("Failed Files: 0"));
    for (const auto& row : loadManifest(manifestPath)) {
        if (row.type != "file") continue;
        // FAT keeps nothing of a deleted empty file.
        if (c.fat && row.status == "deleted" && row.size == 0) continue;
        SCOPED_TRACE(row.path);
        const auto copy = Recovered(dest, row.path);
        ASSERT_TRUE(copy) << "not recovered";
        EXPECT_EQ(sha256Hex(ReadWholeFile(*copy)), row.sha256);
        // Times after 2050 are not set: the DOS form recovery goes through ends there.
        if (row.status == "live" && row.mtime < 2524608000) {
            struct stat st {};
            ASSERT_EQ(::stat(copy->c_str(), &st), 0);
            // FAT times have two-second steps.
            EXPECT_NEAR(static_cast<double>(st.st_mtime), static_cast<double>(row.mtime), c.fat ? 1.0 : 0.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, FixtureRecoverTest,
    ::testing::Values(RecoverCase{"fat12.img", "fat12.manifest.tsv", {}, true},
                      RecoverCase{"fat16.img", "fat16.manifest.tsv", {}, true},
                      RecoverCase{"fat32.img", "fat32.manifest.tsv", {}, true},
                      RecoverCase{"exfat.img", "exfat.manifest.tsv", {}, false},
                      RecoverCase{"ntfs.img", "ntfs.manifest.tsv", {}, false},
                      RecoverCase{"ntfs-features.img", "ntfs-features.manifest.tsv", {}, false},
                      RecoverCase{"demo.img", "demo.p1.manifest.tsv", {"--partition", "1"}, true},
                      RecoverCase{"demo.img", "demo.p2.manifest.tsv", {"--partition", "2"}, false},
                      RecoverCase{"demo.img", "demo.p3.manifest.tsv", {"--partition", "3"}, false}),
    [](const auto& p) { return std::to_string(p.index); });

TEST(FixtureRecover, ChosenPathsAndDeletedOnly) {
    BRENVALE_REQUIRE_FIXTURE(image, "fat16.img");
    TempDir tmp;
    const auto dest = tmp.path() / "out";
    const auto r = RunCli({"recover", image.string(), "--to", dest.string(), "--quiet", "--deleted-only",
                           "/Documents", "/README.TXT"});
    ASSERT_EQ(r.code, 0) << r.err;
    // The folder keeps only its deleted file and the folders leading to deleted ones.
    EXPECT_TRUE(fs::exists(dest / "Documents" / "Old Draft Version.txt"));
    EXPECT_FALSE(fs::exists(dest / "Documents" / "Meeting Notes.txt"));
    EXPECT_TRUE(fs::exists(dest / "Documents" / "Projects" / "Alpha Project" / "Deep Level Four" / "Removed Deep File.bin"));
    EXPECT_FALSE(fs::exists(dest / "Documents" / "Projects" / "Alpha Project" / "PLAN.DOC"));
    // A file named on the command line is recovered even when it is live.
    EXPECT_TRUE(fs::exists(dest / "README.TXT"));

    // The same file again gets a new name beside the first.
    ASSERT_EQ(RunCli({"recover", image.string(), "--to", dest.string(), "--quiet", "/README.TXT"}).code, 0);
    EXPECT_TRUE(fs::exists(dest / "README_1.TXT"));
    EXPECT_EQ(ReadWholeFile(dest / "README_1.TXT"), ReadWholeFile(dest / "README.TXT"));

    const auto missing = RunCli({"recover", image.string(), "--to", dest.string(), "/No Such File"});
    EXPECT_EQ(missing.code, 2);
}

TEST(FixtureRecover, AFileTheDestinationCannotHoldFailsAndTheRestGoesOn) {
    BRENVALE_REQUIRE_FIXTURE(image, "fat16.img");
    TempDir tmp;
    const auto dest = tmp.path() / "out";
    // A destination that takes no file over 64 KiB, like a full disk would.
    const auto r = [&] {
        FileSizeLimit limit(64 * 1024);
        return RunCli({"recover", image.string(), "--to", dest.string(), "--quiet", "/Large Archive Data.bin",
                       "/README.TXT"});
    }();
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.err, ::testing::HasSubstr("Recover \"Large Archive Data.bin\" failed due to \"Error Writing File\""));
    EXPECT_THAT(r.out, ::testing::HasSubstr("Processed Files: 2"));
    EXPECT_THAT(r.out, ::testing::HasSubstr("Recovered Files: 1"));
    EXPECT_THAT(r.out, ::testing::HasSubstr("Failed Files: 1"));
    EXPECT_TRUE(fs::exists(dest / "README.TXT"));
}

}  // namespace
}  // namespace brenvale::test
