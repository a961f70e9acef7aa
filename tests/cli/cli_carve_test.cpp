// brenvale-cli carve and types: the listing, its filters and numbers, writing what was picked,
// and the refusals of bad arguments.

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "cli/run_cli.h"
#include "raw/picture_bytes.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using namespace raw::testing;
using ::testing::HasSubstr;

constexpr std::size_t kSector = 512;


class CarveCli : public ::testing::Test {
protected:
    void SetUp() override {
        ByteVec disk = noise(4096 * kSector);
        for (std::size_t s = 0; s < 4096; ++s) disk[s * kSector] = std::byte{0xEE};
        files = {
            {50, gzipOf(textBytes(100000), 6)},
            {300, ZipBytes().add("[Content_Types].xml", textBytes(500)).add("word/document.xml", textBytes(900, 2)).finish()},
            {2047, tarOf({{"a.txt", textBytes(5000)}})},
            {3000, gzipOf(textBytes(2000, 3), 1)},
        };
        for (const auto& [lba, bytes] : files) std::copy(bytes.begin(), bytes.end(), disk.begin() + static_cast<std::ptrdiff_t>(lba * kSector));
        image = dir.file("disk.img");
        WriteWholeFile(image, disk);
    }
    TempDir dir;
    std::string image;
    std::vector<std::pair<std::size_t, ByteVec>> files;
};

TEST_F(CarveCli, ListsEveryFileWithItsPlaceAndSize) {
    const auto r = RunCli({"carve", image, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["outcome"], "completed");
    EXPECT_EQ(j["sectors"], 4096);
    ASSERT_EQ(j["hits"].size(), files.size());
    const char* exts[] = {"gz", "docx", "tar", "gz"};
    const char* names[] = {"GZ_1.gz", "DOCX_1.docx", "TAR_1.tar", "GZ_2.gz"};
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto& h = j["hits"][i];
        EXPECT_EQ(h["number"], i + 1);
        EXPECT_EQ(h["ext"], exts[i]);
        EXPECT_EQ(h["name"], names[i]);
        EXPECT_EQ(h["first_sector"], files[i].first);
        EXPECT_EQ(h["offset"], files[i].first * kSector);
        EXPECT_EQ(h["size"], files[i].second.size());
        EXPECT_EQ(h["writes"], files[i].second.size());
    }
    ASSERT_EQ(j["counts"].size(), 3u);
    EXPECT_EQ(j["counts"][0]["type"], "GZIP Compression File ( .gz .gzip)");
    EXPECT_EQ(j["counts"][0]["count"], 2);

    const auto text = RunCli({"carve", image});
    ASSERT_EQ(text.code, 0);
    EXPECT_THAT(text.out, HasSubstr("Word 2007 Document ( .docx .docm .dotx .dotm)"));
    EXPECT_THAT(text.out, HasSubstr("4  files found in 4096 sectors from sector 0"));
}

TEST_F(CarveCli, FiltersByTypeSizeAndRange) {
    auto count = [&](std::vector<std::string> extra) {
        std::vector<std::string> args{"carve", image, "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto r = RunCli(args);
        EXPECT_EQ(r.code, 0) << r.err;
        return nlohmann::json::parse(r.out)["hits"].size();
    };
    EXPECT_EQ(count({"--types", "gz"}), 2u);
    EXPECT_EQ(count({"--types", "docx,tar"}), 2u);
    EXPECT_EQ(count({"--size-kb", "0", "4"}), 2u);   // the docx and the small gzip
    EXPECT_EQ(count({"--size-kb", "5", "20"}), 1u);  // the tar
    // Whole batches are read: sectors 0..2047 hold the first two files and the tar's first
    // sector, which is listed with the default size its unknown length gets.
    EXPECT_EQ(count({"--from", "100", "--count", "10"}), 3u);
}

TEST_F(CarveCli, WritesThePickedFiles) {
    const auto out = dir / "out";
    const auto r = RunCli({"carve", image, "--to", out.string(), "--pick", "1,3-4"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Recovered Files: 3"));
    EXPECT_EQ(ReadWholeFile(out / "GZ_1.gz"), files[0].second);
    EXPECT_EQ(ReadWholeFile(out / "TAR_1.tar"), files[2].second);
    EXPECT_EQ(ReadWholeFile(out / "GZ_2.gz"), files[3].second);
    EXPECT_FALSE(std::filesystem::exists(out / "DOCX_1.docx"));
}

TEST_F(CarveCli, RefusesBadArguments) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--types", "jpg,foo"}, "unknown type \"foo\""},
        {{"--to", (dir / "o").string(), "--pick", "9"}, "outside the hits listed (1 to 4)"},
        {{"--to", (dir / "o").string(), "--pick", "x"}, "not a number"},
        {{"--pick", "1"}, "--pick needs --to"},
        {{"--from", "5000"}, "--from 5000 is outside the volume"},
        {{"--from", "10", "--count", "5000"}, "--count 5000 does not fit"},
        {{"--size-kb", "9", "1"}, "--size-kb takes MIN MAX"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"carve", image};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = RunCli(args);
        EXPECT_EQ(r.code, 2) << c.message;
        EXPECT_THAT(r.err, HasSubstr(c.message));
    }
}

TEST(CarveCliPictures, SizesInPixelsAndThumbnails) {
    TempDir dir;
    ByteVec disk = noise(2048 * kSector);
    for (std::size_t s = 0; s < 2048; ++s) disk[s * kSector] = std::byte{0xEE};
    const ByteVec jpeg = jpegOf(30000, 71);
    const ByteVec preview = jpegOf(2000, 72);
    const ByteVec nef = tiffOf("NIKON CORPORATION", 20000, preview);
    std::copy(jpeg.begin(), jpeg.end(), disk.begin() + 10 * kSector);
    std::copy(nef.begin(), nef.end(), disk.begin() + 200 * kSector);
    const std::string image = dir.file("pictures.img");
    WriteWholeFile(image, disk);

    const auto r = RunCli({"carve", image, "--json", "--thumbnails", (dir / "thumbs").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto hits = nlohmann::json::parse(r.out)["hits"];
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0]["ext"], "jpg");
    // The test picture's frame header is all 0x02 bytes: 0x0202 by 0x0202.
    EXPECT_EQ(hits[0]["width"], 0x0202);
    EXPECT_EQ(hits[0]["height"], 0x0202);
    EXPECT_EQ(hits[1]["ext"], "nef");
    EXPECT_EQ(hits[1]["width"], 4000);
    EXPECT_EQ(hits[1]["height"], 3000);
    EXPECT_EQ(ReadWholeFile(dir / "thumbs" / "JPG_1.thumb.jpg"), jpeg);
    EXPECT_EQ(ReadWholeFile(dir / "thumbs" / "NEF_1.thumb.jpg"), preview);
    EXPECT_THAT(r.err, HasSubstr("2 thumbnails written"));
}

TEST(TypesCli, ListsTheCatalogueWithTheSizesInForce) {
    const auto r = RunCli({"types", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["types"].size(), 59u);
    EXPECT_EQ(j["types"][0]["caption"], "RAR Compression File ( .rar)");
    EXPECT_EQ(j["types"][0]["default_size"], 64 * 1048576);
    EXPECT_EQ(j["types"][1]["extensions"], "zip jar");
    EXPECT_EQ(j["largest_max_size"], 250 * 1048576);
    const auto text = RunCli({"types"});
    EXPECT_THAT(text.out, HasSubstr("Canon CR3 Raw Graphic Files ( .cr3)"));
}

}  // namespace
}  // namespace brenvale::test
