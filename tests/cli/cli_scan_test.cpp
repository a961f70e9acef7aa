// brenvale-cli scan on the volumes the real tools made: every entry the manifest has, at its
// path, with its size, type, status and modification time.

#include <gmock/gmock.h>

#include <ctime>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/run_cli.h"
#include "support/iso_time.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using nlohmann::json;

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> out;
    std::size_t at = 1;
    while (at <= path.size()) {
        const auto slash = path.find('/', at);
        const auto end = slash == std::string::npos ? path.size() : slash;
        out.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// A deleted entry without a long name has lost its first character: it is listed with "_".
bool sameName(const std::string& scanned, const std::string& original) {
    if (scanned == original) return true;
    if (scanned.empty() || original.empty() || scanned[0] != '_') return false;
    std::size_t first = 1;  // the lost character may take several UTF-8 bytes
    while (first < original.size() && (static_cast<unsigned char>(original[first]) & 0xC0) == 0x80) ++first;
    return scanned.substr(1) == original.substr(first);
}

bool samePath(const std::string& scanned, const std::string& original) {
    const auto a = components(scanned), b = components(original);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!sameName(a[i], b[i])) return false;
    }
    return true;
}

json scanJson(const std::vector<std::string>& extra) {
    std::vector<std::string> args{"scan"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("--json");
    const auto r = RunCli(args);
    EXPECT_EQ(r.code, 0) << r.err;
    return r.code == 0 ? json::parse(r.out) : json();
}

// FAT does not keep a deleted empty file: with no cluster there is nothing to list.
bool listable(const ManifestRow& row, bool fat) {
    return !(fat && row.status == "deleted" && row.type == "file" && row.size == 0);
}

// What NTFS lists besides the user's files: its own metadata files and the orphan folder.
bool fileSystemOwn(const std::string& path) {
    return path.rfind("/$", 0) == 0 || path.rfind("/!!! Orphaned Files !!!", 0) == 0;
}

struct ScanCase {
    const char* image;
    const char* manifest;
    std::vector<std::string> selector;
    const char* fileSystem;
    const char* label;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.image << " " << c.manifest; }

class FixtureScanTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(FixtureScanTest, ListsEveryEntryOfTheManifest) {
    const auto& c = GetParam();
    BRENVALE_REQUIRE_FIXTURE(image, c.image);
    BRENVALE_REQUIRE_FIXTURE(manifestPath, c.manifest);
    const auto rows = loadManifest(manifestPath);
    std::vector<std::string> args{image.string()};
    args.insert(args.end(), c.selector.begin(), c.selector.end());
    const json j = scanJson(args);
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j["file_system"], c.fileSystem);
    EXPECT_EQ(j["result"], 0);
    EXPECT_EQ(j["label"], c.label);
    const bool fat = std::string(c.fileSystem).find("FAT") == 0;

    const json& entries = j["entries"];
    std::vector<bool> matched(entries.size());
    std::multimap<std::string, std::size_t> byPath;
    for (std::size_t i = 0; i < entries.size(); ++i) byPath.emplace(entries[i]["path"].get<std::string>(), i);
    for (const auto& row : rows) {
        if (!listable(row, fat)) continue;
        SCOPED_TRACE(row.path);
        std::size_t found = entries.size();
        for (auto [it, end] = byPath.equal_range(row.path); it != end && found == entries.size(); ++it) {
            if (!matched[it->second]) found = it->second;
        }
        // A deleted entry may have lost the first character of its name (or of a folder's).
        for (std::size_t i = 0; found == entries.size() && row.status == "deleted" && i < entries.size(); ++i) {
            if (!matched[i] && samePath(entries[i]["path"].get<std::string>(), row.path)) found = i;
        }
        ASSERT_LT(found, entries.size()) << "not listed";
        matched[found] = true;
        const json& e = entries[found];
        EXPECT_EQ(e["type"], row.type);
        EXPECT_EQ(e["status"], row.status);
        if (row.type == "file") {
            EXPECT_EQ(e["size"].get<std::uint64_t>(), row.size);
            EXPECT_EQ(e["modified"], isoUtc(row.mtime));
        }
        EXPECT_EQ(e["name"], components(e["path"].get<std::string>()).back());
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (fileSystemOwn(entries[i]["path"])) continue;
        EXPECT_TRUE(matched[i]) << "listed but not in the manifest: " << entries[i]["path"];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, FixtureScanTest,
    ::testing::Values(ScanCase{"fat12.img", "fat12.manifest.tsv", {}, "FAT12", "FAT12FIXT"},
                      ScanCase{"fat16.img", "fat16.manifest.tsv", {}, "FAT16", "FAT16FIXT"},
                      ScanCase{"fat32.img", "fat32.manifest.tsv", {}, "FAT32", "FAT32FIXT"},
                      ScanCase{"exfat.img", "exfat.manifest.tsv", {}, "exFAT", "EXFATFIXT"},
                      ScanCase{"gpt.img", "gpt.p1.manifest.tsv", {}, "FAT32", "BASICDATA"},
                      ScanCase{"demo.img", "demo.p1.manifest.tsv", {"--partition", "1"}, "FAT32", "PHOTOS"},
                      ScanCase{"demo.img", "demo.p2.manifest.tsv", {"--partition", "2"}, "exFAT", "CAMERA"},
                      ScanCase{"ntfs.img", "ntfs.manifest.tsv", {}, "NTFS", "NTFSFIXT"},
                      ScanCase{"ntfs-features.img", "ntfs-features.manifest.tsv", {}, "NTFS", "NTFSFEAT"},
                      ScanCase{"ntfs-many.img", "ntfs-many.manifest.tsv", {}, "NTFS", "NTFSMANY"},
                      ScanCase{"demo.img", "demo.p3.manifest.tsv", {"--partition", "3"}, "NTFS", "Windows"}),
    [](const auto& p) { return std::to_string(p.index) + "_" + p.param.fileSystem; });

TEST(FixtureScan, Fat32DeletedFolderWithClearedHighWordIsFoundAndWalked) {
    BRENVALE_REQUIRE_FIXTURE(image, "fat32.img");
    const json j = scanJson({image.string()});
    std::map<std::string, json> byPath;
    for (const auto& e : j["entries"]) byPath[e["path"]] = e;
    ASSERT_TRUE(byPath.count("/Lost Album"));
    EXPECT_EQ(byPath["/Lost Album"]["status"], "deleted");
    // Its first cluster lies above 65535, so the high word had to be found again.
    EXPECT_GT(byPath["/Lost Album"]["first_cluster"].get<std::uint32_t>(), 0xFFFFu);
    EXPECT_TRUE(byPath.count("/Lost Album/track list.txt"));
    EXPECT_TRUE(byPath.count("/Lost Album/Cover Art.jpg"));
}

TEST(FixtureScan, DeletedOnlyShowsDeletedEntriesAndTheFoldersLeadingToThem) {
    BRENVALE_REQUIRE_FIXTURE(image, "fat16.img");
    BRENVALE_REQUIRE_FIXTURE(manifestPath, "fat16.manifest.tsv");
    const json all = scanJson({image.string()});
    const json filtered = scanJson({image.string(), "--deleted-only"});
    std::vector<std::string> deletedPaths;
    for (const auto& e : all["entries"]) {
        if (e["status"] != "live") deletedPaths.push_back(e["path"]);
    }
    ASSERT_FALSE(deletedPaths.empty());
    std::vector<std::string> shown;
    for (const auto& e : filtered["entries"]) {
        const std::string path = e["path"];
        shown.push_back(path);
        if (e["status"] != "live") continue;
        // A live entry is only shown as a folder on the way to something deleted.
        EXPECT_EQ(e["type"], "dir") << path;
        EXPECT_TRUE(std::any_of(deletedPaths.begin(), deletedPaths.end(),
                                [&](const std::string& d) { return d.rfind(path + "/", 0) == 0; }))
            << path;
    }
    EXPECT_THAT(shown, ::testing::IsSupersetOf(deletedPaths));
    // A live folder with nothing deleted below it is hidden.
    EXPECT_THAT(shown, ::testing::Not(::testing::Contains("/SYSTEM")));
}

TEST(FixtureScan, WritesTheStartAndEndLinesToTheEventLog) {
    BRENVALE_REQUIRE_FIXTURE(image, "demo.img");
    TempDir tmp;
    const auto log = tmp.file("events.log");
    const auto r = RunCli({"scan", image.string(), "--partition", "2", "--event-log", log, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto bytes = ReadWholeFile(log);
    const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    EXPECT_THAT(text, ::testing::HasSubstr("Standard Scan"));
    EXPECT_THAT(text, ::testing::HasSubstr("Starting scan \"" + image.string() + "/Partition 2\""));
    EXPECT_THAT(text, ::testing::HasSubstr("Scan progress completed"));
}

TEST(FixtureScan, ADiskWithSeveralVolumesNeedsASelector) {
    BRENVALE_REQUIRE_FIXTURE(image, "demo.img");
    const auto r = RunCli({"scan", image.string()});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, ::testing::HasSubstr("--partition"));
    const auto bad = RunCli({"scan", image.string(), "--partition", "9"});
    EXPECT_EQ(bad.code, 2);
}

TEST(FixtureScan, TreeListingIndentsByDepthWithSizesForPeople) {
    BRENVALE_REQUIRE_FIXTURE(image, "fat16.img");
    const auto r = RunCli({"scan", image.string(), "--tree"});
    ASSERT_EQ(r.code, 0) << r.err;
    // "Deep Level Four" is three folders down; its files one more.
    EXPECT_THAT(r.out, ::testing::ContainsRegex("live +450  B  [0-9-]+ [0-9:]+          Stra"));
    EXPECT_THAT(r.out, ::testing::HasSubstr("      Deep Level Four/"));
}

}  // namespace
}  // namespace brenvale::test
