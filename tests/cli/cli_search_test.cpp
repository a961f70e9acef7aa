// brenvale-cli search: name patterns, size and date ranges, deleted-only, folders and the
// hit limit, on the volumes the real tools made.

#include <gmock/gmock.h>

#include <nlohmann/json.hpp>
#include <set>

#include "cli/run_cli.h"
#include "support/fixtures.h"

namespace brenvale::test {
namespace {


std::set<std::string> Hits(const std::vector<std::string>& args) {
    std::vector<std::string> all{"search"};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back("--json");
    const auto r = RunCli(all);
    EXPECT_EQ(r.code, 0) << r.err;
    std::set<std::string> out;
    if (r.code != 0) return out;
    const auto j = nlohmann::json::parse(r.out);
    for (const auto& e : j["entries"]) out.insert(e["path"].get<std::string>());
    return out;
}

struct SearchCase {
    const char* what;
    const char* image;
    std::vector<std::string> args;
    std::set<std::string> expected;
};

class SearchTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchTest, FindsExactlyTheMatchingEntries) {
    const auto& c = GetParam();
    BRENVALE_REQUIRE_FIXTURE(image, c.image);
    std::vector<std::string> args{image.string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Hits(args), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, SearchTest,
    ::testing::Values(
        // Two patterns find both kinds; deleted files only by default.
        SearchCase{"patterns_deleted", "ntfs.img", {"--name", "*.jpg,*.png"}, {"/Photos/Ünïcödé Deleted Photo.jpg"}},
        SearchCase{"patterns_all",
                   "ntfs.img",
                   {"--all", "--name", "*.jpg,*.png"},
                   {"/Photos/Holiday Photo 001.jpg", "/Photos/Ünïcödé Deleted Photo.jpg", "/Photos/Sunset.png"}},
        // A blank after the comma belongs to the second pattern, which then matches nothing.
        SearchCase{"blank_after_comma",
                   "ntfs.img",
                   {"--all", "--name", "*.jpg, *.png"},
                   {"/Photos/Holiday Photo 001.jpg", "/Photos/Ünïcödé Deleted Photo.jpg"}},
        // "?" is one character, case does not matter.
        SearchCase{"question_mark", "fat16.img", {"--all", "--name", "config.sy?"}, {"/SYSTEM/CONFIG.SYS"}},
        // Sizes 5 and 2 search 2000 to 5000 bytes.
        SearchCase{"size_range_reversed",
                   "fat16.img",
                   {"--size-kb", "5", "2"},
                   {"/Documents/Old Draft Version.txt",
                    "/Documents/Projects/Alpha Project/Deep Level Four/Removed Deep File.bin", "/Trash Folder/_ECOND.BIN"}},
        // A live file inside a deleted folder counts as deleted.
        SearchCase{"inside_deleted_folder",
                   "exfat.img",
                   {"--name", "nested*"},
                   {"/Trash Folder/Inner Folder/nested file.txt"}},
        // One folder of an exFAT volume, with and without its subfolders.
        SearchCase{"exfat_folder",
                   "exfat.img",
                   {"--all", "--in", "/Documents/Projects", "--name", "*.*"},
                   {"/Documents/Projects/Alpha Project/PLAN.DOC", "/Documents/Projects/Alpha Project/naïve café.md",
                    "/Documents/Projects/Alpha Project/Deep Level Four/Straße Übersicht.csv",
                    "/Documents/Projects/Alpha Project/Deep Level Four/DEEP.BIN",
                    "/Documents/Projects/Alpha Project/Deep Level Four/Removed Deep File.bin"}},
        SearchCase{"exfat_folder_no_subdirs",
                   "exfat.img",
                   {"--all", "--in", "/Documents/Projects/Alpha Project", "--no-subdirs"},
                   {"/Documents/Projects/Alpha Project/PLAN.DOC", "/Documents/Projects/Alpha Project/naïve café.md",
                    "/Documents/Projects/Alpha Project/Empty Folder", "/Documents/Projects/Alpha Project/Deep Level Four"}},
        // The later date's whole day is inside the range (1980-01-01 00:00:02 is OLD.TXT's time).
        SearchCase{"date_range_whole_day", "fat12.img", {"--all", "--date", "modified", "1979-06-01", "1980-01-01"},
                   {"/OLD.TXT"}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(Search, StopsAfterTenThousandHitsWithAWarning) {
    BRENVALE_REQUIRE_FIXTURE(image, "ntfs-many.img");
    const auto r = RunCli({"search", image.string(), "--all", "--name", "item-*", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.err, ::testing::HasSubstr("There are too many records (>10000) match the search condition."));
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["entries"].size(), 10001u);
    // Fewer hits than the limit: no warning.
    const auto few = RunCli({"search", image.string(), "--name", "item-*", "--json"});
    EXPECT_THAT(few.err, ::testing::Not(::testing::HasSubstr("too many")));
    EXPECT_EQ(nlohmann::json::parse(few.out)["entries"].size(), 5u);
}

TEST(Search, RejectsWhatItCannotUse) {
    BRENVALE_REQUIRE_FIXTURE(image, "fat12.img");
    EXPECT_EQ(RunCli({"search", image.string(), "--date", "born", "2020-01-01", "2020-02-01"}).code, 2);
    EXPECT_EQ(RunCli({"search", image.string(), "--date", "created", "2020-13-01", "2020-02-01"}).code, 2);
    EXPECT_EQ(RunCli({"search", image.string(), "--in", "/No Such Folder"}).code, 2);
    EXPECT_EQ(RunCli({"search", image.string(), "--all", "--deleted"}).code, 2);
}

}  // namespace
}  // namespace brenvale::test
