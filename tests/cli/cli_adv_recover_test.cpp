// brenvale-cli recover --advanced and stats on damaged volumes the real tools made: the rebuilt
// tree comes back to disk as adv-scan lists it, files byte for byte (SHA-256 of the original
// volume's manifest); stats counts what the original held.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/run_cli.h"
#include "support/file_digest.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

namespace fs = std::filesystem;


TEST(CliAdvRecover, TheRebuiltTreeComesBackAsListed) {
    BRENVALE_REQUIRE_FIXTURE(image, "adv-fat/fat32-wiped.img");
    BRENVALE_REQUIRE_FIXTURE(original, "fat32.manifest.tsv");
    setenv("TZ", "UTC", 1);
    tzset();
    const TempDir dest;
    const auto r = RunCli({"recover", image.string(), "--whole-disk", "--advanced", "--to", dest.path().string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Failed Files: 0"), std::string::npos) << r.out;
    // Every live file of the original whose place survived (its folder's too), byte for byte.
    const fs::path root = dest.path() / "!!! Advanced Extra !!!" / "FAT Root";
    std::size_t compared = 0;
    for (const auto& row : loadManifest(original)) {
        if (row.type != "file" || row.status != "live" || row.size == 0 || row.path == "/Fragmented Log.txt") continue;
        const fs::path file = root / row.path.substr(1);
        ASSERT_TRUE(fs::exists(file)) << file;
        EXPECT_EQ(test::fileSha256Hex(file), row.sha256) << row.path;
        ++compared;
    }
    EXPECT_GT(compared, 10u);

    {
        SCOPED_TRACE("one folder");
        const TempDir one;
        const auto r2 = RunCli({"recover", image.string(), "--whole-disk", "--advanced", "--to", one.path().string(),
                                "/!!! Advanced Extra !!!/FAT Root/Documents/Projects"});
        ASSERT_EQ(r2.code, 0) << r2.err;
        EXPECT_TRUE(fs::exists(one.path() / "Projects" / "Alpha Project" / "PLAN.DOC"));
        EXPECT_FALSE(fs::exists(one.path() / "README.TXT"));
    }
    {
        SCOPED_TRACE("from the kept results: the same files, without scanning again");
        const TempDir kept;
        const std::string results = kept.file("scan.qvc");
        ASSERT_EQ(RunCli({"adv-scan", image.string(), "--whole-disk", "--results", results}).code, 0);
        const auto again = RunCli({"recover", image.string(), "--whole-disk", "--advanced", "--results", results, "--to",
                                   kept.file("out")});
        ASSERT_EQ(again.code, 0) << again.err;
        std::map<std::string, std::string> fresh, fromResults;
        for (const auto& e : fs::recursive_directory_iterator(dest.path())) {
            if (e.is_regular_file()) fresh[fs::relative(e.path(), dest.path()).string()] = test::fileSha256Hex(e.path());
        }
        for (const auto& e : fs::recursive_directory_iterator(kept.path() / "out")) {
            if (e.is_regular_file()) fromResults[fs::relative(e.path(), kept.path() / "out").string()] = test::fileSha256Hex(e.path());
        }
        EXPECT_EQ(fromResults, fresh);
        // Kept for another object: refused.
        const auto other = RunCli({"stats", (image.parent_path() / "fat16-wiped.img").string(), "--whole-disk", "--advanced",
                                   "--results", results});
        EXPECT_EQ(other.code, 2);
        EXPECT_NE(other.err.find("does not match"), std::string::npos) << other.err;
    }
    {
        SCOPED_TRACE("a path the tree does not hold");
        const auto bad = RunCli({"recover", image.string(), "--whole-disk", "--advanced", "--to", dest.path().string(),
                                 "/!!! Advanced Extra !!!/FAT Root/nothing"});
        EXPECT_EQ(bad.code, 2);
        EXPECT_NE(bad.err.find("no such entry in the advanced scan"), std::string::npos) << bad.err;
    }
}

TEST(CliStats, CountsWhatTheVolumeHolds) {
    BRENVALE_REQUIRE_FIXTURE(image, "fat16.img");
    BRENVALE_REQUIRE_FIXTURE(manifestPath, "fat16.manifest.tsv");
    // The original's folders and files; the standard scan leaves out deleted files of no bytes.
    std::uint64_t dirs = 0, files = 0, bytes = 0, docFiles = 0, docBytes = 0;
    for (const auto& row : loadManifest(manifestPath)) {
        if (row.type == "dir") {
            ++dirs;
        } else if (row.size > 0 || row.status == "live") {
            ++files;
            bytes += row.size;
            if (row.path.rfind("/Documents/", 0) == 0) ++docFiles, docBytes += row.size;
        }
    }
    const auto whole = RunCli({"stats", image.string(), "--json"});
    ASSERT_EQ(whole.code, 0) << whole.err;
    const auto w = nlohmann::json::parse(whole.out);
    EXPECT_EQ(w["directories"], dirs);
    EXPECT_EQ(w["files"], files);
    EXPECT_EQ(w["size"], bytes);
    // A folder and a file inside it: the file once.
    const auto part = RunCli({"stats", image.string(), "--json", "/Documents", "/Documents/Meeting Notes.txt"});
    ASSERT_EQ(part.code, 0) << part.err;
    const auto p = nlohmann::json::parse(part.out);
    EXPECT_EQ(p["files"], docFiles);
    EXPECT_EQ(p["size"], docBytes);
    const auto text = RunCli({"stats", image.string(), "/Documents"});
    EXPECT_NE(text.out.find("Directories: "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Total size: "), std::string::npos) << text.out;
}

}  // namespace
}  // namespace brenvale::test
