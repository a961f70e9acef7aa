// The archive signatures and their exact lengths, wherever a file lies relative to the batches:
// every case is scanned with batches of 1, 3, 8 and 2048 sectors and must give the same hit.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "archive_bytes.h"
#include "scan_disk.h"

namespace brenvale::raw {
namespace {

using namespace testing;

ByteVec withMemberNames(std::initializer_list<const char*> names) {
    ZipBytes z;
    unsigned seed = 1;
    for (const char* n : names) z.add(n, textBytes(700, seed++));
    return z.finish();
}

ByteVec tarWithSizeField(std::string_view field, std::size_t dataBytes) {
    ByteVec v = tarHeader("odd.bin", 0, field);
    append(v, textBytes(dataBytes));
    v.resize((v.size() + 511) / 512 * 512 + 1024, std::byte{0});
    v.resize((v.size() + 10239) / 10240 * 10240, std::byte{0});
    return v;
}

ByteVec cab(std::uint32_t declared, std::size_t bytes) {
    ByteVec v = testing::bytes("MSCF");
    put32(v, 0);
    put32(v, declared);
    v.resize(bytes, std::byte{0x11});
    return v;
}

ByteVec concat(ByteVec a, const ByteVec& b) {
    append(a, b);
    return a;
}

struct LengthCase {
    const char* name;
    ByteVec file;
    int major;
    int minor;
    const char* ext;
    std::int64_t size;  // -2: the file's own length
};

std::vector<LengthCase> lengthCases() {
    const ByteVec big = textBytes(300000, 9);
    ByteVec withFakeHeader = textBytes(5000, 4);
    // A local-header signature inside a streamed member's data is not its end.
    put(withFakeHeader, std::string_view("PK\x03\x04", 4));
    append(withFakeHeader, textBytes(3000, 5));
    return {
        {"stored zip, two members", ZipBytes().add("a.txt", textBytes(1000)).add("b.txt", textBytes(3000, 2)).finish(), 0, 1, "zip", -2},
        {"zip with an archive comment", ZipBytes().add("a.txt", textBytes(100)).finish("a comment"), 0, 1, "zip", -2},
        {"zip, descriptors without signature", ZipBytes().add("a", textBytes(4000), ZipBytes::Descriptor::Plain).add("b", textBytes(10, 3), ZipBytes::Descriptor::Plain).finish(), 0, 1, "zip", -2},
        {"zip, signed descriptors", ZipBytes().add("a", big, ZipBytes::Descriptor::Signed).add("b", {}, ZipBytes::Descriptor::Signed).finish(), 0, 1, "zip", -2},
        {"zip, ZIP64 descriptors", ZipBytes().add("a", textBytes(70000), ZipBytes::Descriptor::Signed64).finish(), 0, 1, "zip", -2},
        {"zip, signature bytes inside streamed data", ZipBytes().add("x", withFakeHeader, ZipBytes::Descriptor::Plain).finish(), 0, 1, "zip", -2},
        {"docx", withMemberNames({"[Content_Types].xml", "_rels/.rels", "word/document.xml"}), 1, 8, "docx", -2},
        {"xlsx", withMemberNames({"[Content_Types].xml", "xl/workbook.xml"}), 1, 9, "xlsx", -2},
        {"pptx", withMemberNames({"[Content_Types].xml", "ppt/presentation.xml"}), 1, 10, "pptx", -2},
        {"docx whose first member is another", withMemberNames({"word/document.xml", "[Content_Types].xml"}), 0, 1, "zip", -2},
        {"jar with [Content_Types].xml first", withMemberNames({"[Content_Types].xml", "META-INF/MANIFEST.MF", "word/document.xml"}), 0, 1, "jar", -2},
        {"rar 4, two stored members", rar4({{"a.txt", textBytes(3000)}, {"b.bin", big}}), 0, 0, "rar", -2},
        {"rar 4 without its end block", rar4({{"a.txt", textBytes(3000)}}, false), 0, 0, "rar", -2},
        {"tar of one 1,000-byte member", tarOf({{"a.txt", textBytes(1000)}}), 0, 4, "tar", 10240},
        {"tar of three members", tarOf({{"a", textBytes(1)}, {"b", big}, {"c", {}}}), 0, 4, "tar", -2},
        {"tar with a base-256 size", tarWithSizeField(std::string_view("\x80\0\0\0\0\0\0\0\0\0\x03\xE8", 12), 1000), 0, 4, "tar", -2},
        {"tar with a size that is not octal", tarWithSizeField("00000001750x", 1000), 0, 4, "tar", 0},
        {"gzip level 1 (extra flags 4)", gzipOf(big, 1), 0, 2, "gz", -2},
        {"gzip level 6 (extra flags 0)", gzipOf(big, 6), 0, 2, "gz", -2},
        {"gzip level 9 (extra flags 2)", gzipOf(big, 9), 0, 2, "gz", -2},
        {"gzip of two members", concat(gzipOf(textBytes(2000), 6), gzipOf(big, 9)), 0, 2, "gz", -2},
        {"bzip2 -1", bzip2Of(big, 1), 0, 5, "bz2", -2},
        {"bzip2 -9", bzip2Of(textBytes(1000), 9), 0, 5, "bz2", -2},
        {"bzip2 of two streams", concat(bzip2Of(textBytes(1000), 9), bzip2Of(big, 2)), 0, 5, "bz2", -2},
        {"cab", cab(5000, 5000), 0, 3, "cab", 5000},
        {"cab whose size field says 0", cab(0, 700), 0, 3, "cab", 0},
    };
}

TEST(ArchiveLengths, ExactWhereverTheFileLies) {
    for (const LengthCase& c : lengthCases()) {
        SCOPED_TRACE(c.name);
        const std::int64_t expected = c.size == -2 ? static_cast<std::int64_t>(c.file.size()) : c.size;
        ExpectFoundWherever(c.file, {0, expected, c.major, c.minor, c.ext}, {1, 3, 8, 2048});
    }
}

TEST(ArchiveLengths, SignaturesThatAreNotTheFormat) {
    struct Case {
        const char* name;
        ByteVec head;
    };
    const Case cases[] = {
        {"RAR 5", bytes(std::string_view("Rar!\x1A\x07\x01\x00\x33\x92\xB5\xE5\x0A\x01\x05\x06\x00\x05\x01\x01\x80\x80\x00", 23))},
        {"gzip with extra flags 1", [] {
             ByteVec g = gzipOf(textBytes(100), 6);
             g[8] = std::byte{1};
             return g;
         }()},
        {"gzip of another method", bytes(std::string_view("\x1F\x8B\x07\x00\x00\x00\x00\x00\x00\x03", 10))},
        {"tar-like block with a bad checksum and no mark", [] {
             ByteVec h = tarHeader("a", 10);
             for (std::size_t i = 257; i < 265; ++i) h[i] = std::byte{0};
             h[0] = std::byte{'b'};  // the checksum no longer holds
             return h;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteVec disk = noiseDisk(64);
        place(disk, 10, c.head);
        EXPECT_FALSE(hitAt(scanDisk(disk, 8), 10).has_value());
    }
}

TEST(ArchiveLengths, OldStyleTarWithoutMarkIsFoundByItsChecksum) {
    ByteVec tar = tarOf({{"a.txt", textBytes(1000)}, {"b.txt", textBytes(5000, 2)}});
    for (std::size_t header : {std::size_t{0}, std::size_t{1536}}) {
        std::fill(tar.begin() + static_cast<std::ptrdiff_t>(header + 257), tar.begin() + static_cast<std::ptrdiff_t>(header + 265), std::byte{0});
        unsigned sum = 0;
        for (std::size_t i = 0; i < 512; ++i) sum += i >= 148 && i < 156 ? ' ' : std::to_integer<unsigned>(tar[header + i]);
        char check[8];
        std::snprintf(check, sizeof check, "%06o", sum);
        for (int i = 0; i < 7; ++i) tar[header + 148 + i] = static_cast<std::byte>(check[i]);
    }
    ByteVec disk = noiseDisk(256);
    place(disk, 17, tar);
    const auto hit = hitAt(scanDisk(disk, 4), 17);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->size, static_cast<std::int64_t>(tar.size()));
    EXPECT_EQ(hit->ext, "tar");
}

// Damage: what the walk can still vouch for.
TEST(ArchiveLengths, DamagedAndTruncatedFiles) {
    const ZipBytes two = ZipBytes().add("a.txt", textBytes(3000)).add("b.txt", textBytes(3000, 2));
    const ByteVec zip = two.finish();
    const std::size_t secondHeader = 30 + 5 + 3000;

    ByteVec brokenHeader = zip;
    for (std::size_t i = 0; i < 4; ++i) brokenHeader[secondHeader + i] = std::byte{0x33};
    ByteVec brokenData = zip;
    for (std::size_t i = 0; i < 500; ++i) brokenData[100 + i] = std::byte{0x50};  // 'P' galore
    ByteVec gz = gzipOf(textBytes(200000, 5), 6);
    for (std::size_t i = 0; i < 256; ++i) gz[gz.size() / 2 + i] = std::byte{0x5A};

    struct Case {
        const char* name;
        ByteVec file;
        std::size_t keep;     // bytes of the file on the disk (the rest is cut by its end)
        std::int64_t size;
    };
    const Case cases[] = {
        {"zip whose second local header is overwritten", brokenHeader, brokenHeader.size(), static_cast<std::int64_t>(secondHeader)},
        {"zip whose data is overwritten, heads intact", brokenData, brokenData.size(), static_cast<std::int64_t>(zip.size())},
        {"zip cut by the end of the disk", zip, 4096, kUnknownSize},
        {"gzip whose deflate data is overwritten", gz, gz.size(), kUnknownSize},
        {"gzip cut by the end of the disk", gz, gz.size() / 2 / kSector * kSector, kUnknownSize},
        {"tar cut inside its end blocks", tarOf({{"a", textBytes(1000)}}), 2560, 2560},
        {"tar cut inside a member", tarOf({{"a", textBytes(9000)}}), 4096, kUnknownSize},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t lba = 40;
        ByteVec disk = noiseDisk(lba + (c.file.size() + kSector - 1) / kSector + 1);
        place(disk, lba, c.file);
        disk.resize(lba * kSector + c.keep);
        for (std::size_t batch : {std::size_t{1}, std::size_t{8}}) {
            const auto hit = hitAt(scanDisk(disk, batch), static_cast<std::int64_t>(lba));
            ASSERT_TRUE(hit);
            EXPECT_EQ(hit->size, c.size);
        }
    }
}

TEST(ArchiveLengths, WalksStopAtTheTypesMaximumSize) {
    SizeTables sizes;
    sizes.MaxSize[SizeIndex(0, 1)] = 8192;
    sizes.MaxSize[SizeIndex(0, 2)] = 8192;
    ByteVec disk = noiseDisk(512);
    const ByteVec zip = ZipBytes().add("a", textBytes(5000)).add("b", textBytes(5000, 2)).finish();
    const ByteVec gz = gzipOf(noise(20000, 11), 1);
    place(disk, 10, zip);
    place(disk, 100, gz);
    const auto hits = scanDisk(disk, 8, sizes);
    // The ZIP keeps the member that fits; the gzip stream has not ended within its maximum.
    EXPECT_EQ(hitAt(hits, 10)->size, 30 + 1 + 5000);
    EXPECT_EQ(hitAt(hits, 100)->size, kUnknownSize);
}

// Every member header of a TAR starts a TAR of its own, which ends where the archive ends.
// Twenty thousand members: walked one by one, that is 200 million header reads.
TEST(ArchiveLengths, EveryMemberOfALargeTarEndsWithTheArchive) {
    std::vector<std::pair<std::string, ByteVec>> members;
    for (int i = 0; i < 20000; ++i) members.emplace_back("m" + std::to_string(i), textBytes(100 + i % 400, static_cast<unsigned>(i)));
    const ByteVec tar = tarOf(members);
    ByteVec disk = noiseDisk(64);
    const std::size_t lba = 64;
    disk.resize(disk.size() + tar.size() + 64 * kSector, std::byte{0xEE});
    place(disk, lba, tar);
    for (std::size_t batch : {std::size_t{7}, std::size_t{2048}}) {
        const auto hits = scanDisk(disk, batch);
        ASSERT_EQ(hits.size(), members.size()) << batch;
        const std::int64_t end = static_cast<std::int64_t>(lba * kSector + tar.size());
        for (std::size_t i = 0; i < hits.size(); ++i) {
            // Member i's header: one header and one data block before it per earlier member.
            EXPECT_EQ(hits[i].lba, static_cast<std::int64_t>(lba + 2 * i));
            EXPECT_EQ(hits[i].size, end - hits[i].lba * static_cast<std::int64_t>(kSector));
            EXPECT_EQ(hits[i].ext, "tar");
        }
    }
}

// Sectors full of the admission bytes must cost a constant per sector, and give no false hit
// that reaches further than its own heads.
TEST(ArchiveLengths, BatchesOfAdmissionBytes) {
    ByteVec pk;
    while (pk.size() < 4 * 1048576) put(pk, std::string_view("PK\x03\x04", 4));
    const ByteVec zeros(4 * 1048576, std::byte{0});
    const ByteVec ones(4 * 1048576, std::byte{0xFF});
    EXPECT_TRUE(scanDisk(zeros, 2048).empty());
    EXPECT_TRUE(scanDisk(ones, 2048).empty());
    const auto hits = scanDisk(pk, 2048);
    EXPECT_EQ(hits.size(), pk.size() / kSector);
    for (const auto& h : hits) EXPECT_EQ(h.size, 0) << h;
}

}  // namespace
}  // namespace brenvale::raw
