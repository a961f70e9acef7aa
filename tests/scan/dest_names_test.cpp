// Names of recovered files: never outside the destination, never over something that exists.

#include <gtest/gtest.h>

#include <filesystem>

#include "scan/dest_names.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

struct SafeCase {
    std::string in, out;
};

class SafeFileNameTest : public ::testing::TestWithParam<SafeCase> {};

TEST_P(SafeFileNameTest, KeepsTheNameInsideItsFolder) { EXPECT_EQ(scan::SafeFileName(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(Names, SafeFileNameTest,
                         ::testing::Values(SafeCase{"report.txt", "report.txt"}, SafeCase{"..", "__"},
                                           SafeCase{".", "_"}, SafeCase{"", "_"},
                                           SafeCase{"../../etc/passwd", ".._.._etc_passwd"},
                                           SafeCase{std::string("a\0b", 3), "a_b"}, SafeCase{"tab\there", "tab_here"},
                                           SafeCase{"del\x7f", "del_"}, SafeCase{"naïve café.md", "naïve café.md"},
                                           SafeCase{"..hidden", "..hidden"}));

TEST(SafeFileName, ShortensLongNamesAtACharacterBoundaryKeepingTheExtension) {
    std::string name;
    for (int i = 0; i < 120; ++i) name += "é";  // 240 bytes
    name += "tail.jpeg";
    const std::string safe = scan::SafeFileName(name);
    EXPECT_LE(safe.size(), 255u);
    EXPECT_EQ(safe.substr(safe.size() - 5), ".jpeg");
    // Still valid UTF-8: every "é" is whole.
    EXPECT_EQ(safe.find("\xC3.", 0), std::string::npos);
    EXPECT_EQ((safe.size() - 5) % 2, 0u);
}

TEST(UniqueDestName, NumbersNamesThatExist) {
    TempDir tmp;
    const std::string dir = tmp.path().string();
    EXPECT_EQ(scan::UniqueDestName("a.txt", dir), dir + "/a.txt");
    WriteWholeFile(dir + "/a.txt", {});
    EXPECT_EQ(scan::UniqueDestName("a.txt", dir + "/"), dir + "/a_1.txt");
    std::filesystem::create_directory(dir + "/a_1.txt");
    std::filesystem::create_symlink(dir + "/nowhere", dir + "/a_2.txt");
    EXPECT_EQ(scan::UniqueDestName("a.txt", dir), dir + "/a_3.txt");
    // A lost first character shows as "?"; the file gets "_".
    EXPECT_EQ(scan::UniqueDestName("?ELETED.TXT", dir), dir + "/_ELETED.TXT");
    // Without an extension the number goes at the end.
    WriteWholeFile(dir + "/README", {});
    EXPECT_EQ(scan::UniqueDestName("README", dir), dir + "/README_1");
    EXPECT_EQ(scan::UniqueDestName("..", dir), dir + "/__");
}

}  // namespace
}  // namespace brenvale::test
