// exFAT entry sets decoded from bytes alone: whole and deleted sets, sets that the span or a
// primary entry cuts, names past 255 units, the stream's flags and 64-bit length, and labels.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "scan/exfat_entry_set.h"
#include "scan/volume_builder.h"
#include "storage/le.h"

namespace brenvale::test {
namespace {

using scan::DecodeExfatEntrySet;
using scan::ExfatSetStatus;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

std::vector<std::byte> Bytes(const std::vector<RawEntry>& entries) {
    std::vector<std::byte> out;
    for (const RawEntry& e : entries) out.insert(out.end(), e.begin(), e.end());
    return out;
}

std::vector<RawEntry> Join(std::initializer_list<std::vector<RawEntry>> runs) {
    std::vector<RawEntry> out;
    for (const auto& r : runs) out.insert(out.end(), r.begin(), r.end());
    return out;
}

std::u16string Letters(std::size_t n) {
    std::u16string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(char16_t(u'a' + i % 26));
    return s;
}

TEST(ExfatEntrySetDecode, WholeSetGivesEveryField) {
    auto set = ExfatEntries({.name = u"Gr\u00FC\u00DFe.txt", .cluster = 77, .length = 12345});
    ASSERT_TRUE(storage::putLe16(set[0], 4, 0x0021));          // archive, read-only
    ASSERT_TRUE(storage::putLe32(set[0], 8, 0x5A217A31));      // created
    ASSERT_TRUE(storage::putLe32(set[0], 12, 0x5A238001));     // last modified
    const auto bytes = Bytes(set);
    const auto r = DecodeExfatEntrySet(bytes);
    ASSERT_EQ(r.status, ExfatSetStatus::Ok);
    EXPECT_TRUE(r.set.inUse);
    EXPECT_EQ(r.set.secondaryCount, 2);
    EXPECT_EQ(r.set.entries, 3u);
    EXPECT_EQ(r.set.attributes, 0x21);
    EXPECT_FALSE(r.set.folder());
    EXPECT_EQ(r.set.createTimestamp, 0x5A217A31u);
    EXPECT_EQ(r.set.lastModifiedTimestamp, 0x5A238001u);
    EXPECT_TRUE(r.set.hasStream);
    EXPECT_FALSE(r.set.noFatChain());
    EXPECT_EQ(r.set.firstCluster, 77u);
    EXPECT_EQ(r.set.dataLength, 12345u);
    EXPECT_EQ(r.set.name, u"Gr\u00FC\u00DFe.txt");
    EXPECT_EQ(r.set.nameUtf8(), "Gr\xC3\xBC\xC3\x9F" "e.txt");
}

// One expected reading of a set: status, and for a set that decoded, its main fields.
struct Expect {
    ExfatSetStatus status;
    std::u16string name = {};
    std::size_t entries = 0;
    bool inUse = true;
    std::uint32_t cluster = 0;
    std::uint64_t length = 0;
    bool noFatChain = false;
    bool folder = false;
};

TEST(ExfatEntrySetDecode, SetsAsTheyStand) {
    const auto plain = ExfatEntries({.name = u"plain.txt", .cluster = 10, .length = 5});
    const auto twoNames = ExfatEntries({.name = u"a name of two entries", .cluster = 11, .length = 1});
    auto overrunIntoNext = plain;
    overrunIntoNext[0][1] = std::byte{9};  // claims 9 secondaries; the next set's file entry follows
    auto overrunIntoEnd = plain;
    overrunIntoEnd[0][1] = std::byte{9};
    auto secondariesNotInUse = twoNames;  // a file in use whose secondaries say they are not
    for (std::size_t i = 1; i < secondariesNotInUse.size(); ++i) secondariesNotInUse[i][0] &= std::byte{0x7F};
    auto twoStreams = plain;
    twoStreams[0][1] = std::byte{3};
    twoStreams.push_back(ExfatEntries({.name = u"x", .cluster = 99, .length = 4 * kGiB, .noFatChain = true})[1]);
    auto noSecondaries = plain;
    noSecondaries[0][1] = std::byte{0};
    auto nameFirstEnds = twoNames;
    for (std::size_t i = 4; i < 15; ++i) nameFirstEnds[2][2 + 2 * i] = nameFirstEnds[2][3 + 2 * i] = std::byte{0};

    struct Row {
        const char* what;
        std::vector<std::byte> bytes;
        std::size_t off;
        Expect expect;
    };
    const std::vector<Row> rows = {
        {"whole set", Bytes(plain), 0, {ExfatSetStatus::Ok, u"plain.txt", 3, true, 10, 5}},
        {"deleted set",
         Bytes(ExfatEntries({.name = u"gone.txt", .cluster = 12, .length = 70000, .deleted = true})), 0,
         {ExfatSetStatus::Ok, u"gone.txt", 3, false, 12, 70000}},
        {"folder", Bytes(ExfatEntries({.name = u"docs", .folder = true, .cluster = 13})), 0,
         {ExfatSetStatus::Ok, u"docs", 3, true, 13, 0, false, true}},
        {"after a label", Bytes(Join({{ExfatLabel(u"DISK")}, plain})), 32,
         {ExfatSetStatus::Ok, u"plain.txt", 3, true, 10, 5}},
        {"two name entries", Bytes(twoNames), 0, {ExfatSetStatus::Ok, u"a name of two entries", 4, true, 11, 1}},
        {"a name entry that ends early", Bytes(nameFirstEnds), 0, {ExfatSetStatus::Ok, u"a na" u"ntries", 4, true, 11, 1}},
        {"secondaries not in use", Bytes(secondariesNotInUse), 0,
         {ExfatSetStatus::Ok, u"a name of two entries", 4, true, 11, 1}},
        {"no FAT chain", Bytes(ExfatEntries({.name = u"contig.bin", .cluster = 40, .length = 9000, .noFatChain = true})),
         0, {ExfatSetStatus::Ok, u"contig.bin", 3, true, 40, 9000, true}},
        {"5 GiB", Bytes(ExfatEntries({.name = u"big.bin", .cluster = 14, .length = 5 * kGiB})), 0,
         {ExfatSetStatus::Ok, u"big.bin", 3, true, 14, 5 * kGiB}},
        {"4 GiB + 1", Bytes(ExfatEntries({.name = u"big.bin", .cluster = 14, .length = 4 * kGiB + 1})), 0,
         {ExfatSetStatus::Ok, u"big.bin", 3, true, 14, 4 * kGiB + 1}},
        {"the last of two streams", Bytes(twoStreams), 0,
         {ExfatSetStatus::Ok, u"plain.txt", 4, true, 99, 4 * kGiB, true}},
        {"count runs into the next set", Bytes(Join({overrunIntoNext, ExfatEntries({.name = u"next"})})), 0,
         {ExfatSetStatus::Ok, u"plain.txt", 3, true, 10, 5}},
        {"count runs into the end of the folder", Bytes(Join({overrunIntoEnd, {RawEntry{}}})), 0,
         {ExfatSetStatus::Ok, u"plain.txt", 3, true, 10, 5}},
        {"no secondaries", Bytes(noSecondaries), 0, {ExfatSetStatus::Ok, u"", 1, true, 0, 0}},
        {"count runs past the span", Bytes(overrunIntoEnd), 0, {ExfatSetStatus::CutShort}},
        {"span ends inside the set", [&] {
             auto b = Bytes(twoNames);
             b.resize(b.size() - 1);
             return b;
         }(),
         0, {ExfatSetStatus::CutShort}},
        {"span ends after the file entry", Bytes({plain[0]}), 0, {ExfatSetStatus::CutShort}},
        {"a stream entry", Bytes(plain), 32, {ExfatSetStatus::NotASet}},
        {"a name entry", Bytes(plain), 64, {ExfatSetStatus::NotASet}},
        {"a label", Bytes({ExfatLabel(u"DISK")}), 0, {ExfatSetStatus::NotASet}},
        {"end of folder", Bytes({RawEntry{}}), 0, {ExfatSetStatus::NotASet}},
        {"offset inside the file entry", Bytes(plain), 1, {ExfatSetStatus::NotASet}},
        {"fewer than 32 bytes", [&] {
             auto b = Bytes(plain);
             b.resize(31);
             return b;
         }(),
         0, {ExfatSetStatus::NotASet}},
        {"offset past the end", Bytes(plain), 96, {ExfatSetStatus::NotASet}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const auto got = DecodeExfatEntrySet(r.bytes, r.off);
        ASSERT_EQ(got.status, r.expect.status);
        if (got.status != ExfatSetStatus::Ok) continue;
        EXPECT_EQ(got.set.name, r.expect.name);
        EXPECT_EQ(got.set.entries, r.expect.entries);
        EXPECT_EQ(got.set.inUse, r.expect.inUse);
        EXPECT_EQ(got.set.firstCluster, r.expect.cluster);
        EXPECT_EQ(got.set.dataLength, r.expect.length);
        EXPECT_EQ(got.set.noFatChain(), r.expect.noFatChain);
        EXPECT_EQ(got.set.folder(), r.expect.folder);
    }
}

TEST(ExfatEntrySetDecode, NameIsCutAt255Units) {
    struct Row {
        std::size_t units;
        std::size_t expected;
    };
    for (const Row& r : {Row{254, 254}, Row{255, 255}, Row{256, 255}, Row{270, 255}, Row{300, 255}}) {
        SCOPED_TRACE(testing::Message() << r.units << " units");
        const std::u16string name = Letters(r.units);
        const auto bytes = Bytes(ExfatEntries({.name = name, .cluster = 10, .length = 1}));
        const auto got = DecodeExfatEntrySet(bytes);
        ASSERT_EQ(got.status, ExfatSetStatus::Ok);
        EXPECT_EQ(got.set.name, name.substr(0, r.expected));
        // Every entry is still part of the set, even those whose units are left out.
        EXPECT_EQ(got.set.entries, bytes.size() / 32);
    }
}

TEST(ExfatEntrySetDecode, LabelEntry) {
    auto longCount = ExfatLabel(u"ELEVENCHARS");
    longCount[1] = std::byte{30};  // a count past the 11 units the entry holds
    auto zeroInside = ExfatLabel(u"DATA");
    zeroInside[1] = std::byte{8};  // the units after "DATA" are zero
    struct Row {
        const char* what;
        std::vector<std::byte> bytes;
        std::size_t off;
        std::optional<scan::ExfatLabel> label;
    };
    const std::vector<Row> rows = {
        {"label in use", Bytes({ExfatLabel(u"MYDISK")}), 0, scan::ExfatLabel{true, "MYDISK"}},
        {"removed label", Bytes({ExfatLabel(u"OLDDISK", false)}), 0, scan::ExfatLabel{false, "OLDDISK"}},
        {"non-ASCII", Bytes({ExfatLabel(u"D\u00C4TEN")}), 0, scan::ExfatLabel{true, "D\xC3\x84TEN"}},
        {"count past 11", Bytes({longCount}), 0, scan::ExfatLabel{true, "ELEVENCHARS"}},
        {"zero unit before the count", Bytes({zeroInside}), 0, scan::ExfatLabel{true, "DATA"}},
        {"count below the text", [] {
             auto e = ExfatLabel(u"MYDISK");
             e[1] = std::byte{2};
             return Bytes({e});
         }(),
         0, scan::ExfatLabel{true, "MY"}},
        {"after a set", Bytes(Join({ExfatEntries({.name = u"f"}), {ExfatLabel(u"LATE")}})), 96,
         scan::ExfatLabel{true, "LATE"}},
        {"a file entry", Bytes(ExfatEntries({.name = u"f"})), 0, std::nullopt},
        {"end of folder", Bytes({RawEntry{}}), 0, std::nullopt},
        {"fewer than 32 bytes", [] {
             auto b = Bytes({ExfatLabel(u"MYDISK")});
             b.resize(31);
             return b;
         }(),
         0, std::nullopt},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const auto got = scan::DecodeExfatLabel(r.bytes, r.off);
        ASSERT_EQ(got.has_value(), r.label.has_value());
        if (!got) continue;
        EXPECT_EQ(got->inUse, r.label->inUse);
        EXPECT_EQ(got->text, r.label->text);
    }
}

}  // namespace
}  // namespace brenvale::test
