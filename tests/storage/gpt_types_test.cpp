#include "storage/gpt_types.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

#include "storage/le.h"
#include "storage/partition_table.h"

namespace brenvale::storage {
namespace {

using Raw = std::array<std::uint8_t, 16>;

TEST(GptGuid, ParsesIntoMixedEndianDiskOrder) {
    struct Case {
        std::string_view text;
        Raw disk;
    } cases[] = {
        {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B",
         {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11, 0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9,
          0x3B}},
        {"00112233-4455-6677-8899-AABBCCDDEEFF",
         {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE,
          0xFF}},
        {"00000000-0000-0000-0000-000000000000", {}},
    };
    for (const auto& c : cases) {
        const auto g = Guid::parse(c.text);
        ASSERT_TRUE(g.has_value()) << c.text;
        EXPECT_EQ(g->bytes, c.disk) << c.text;
        EXPECT_EQ(g->toString(), c.text);
        EXPECT_EQ(g->isZero(), c.disk == Raw{}) << c.text;
    }
}

TEST(GptGuid, FormatsUpperCase) {
    const auto g = Guid::parse("0fc63daf-8483-4772-8e79-3d69d8477de4");
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->toString(), "0FC63DAF-8483-4772-8E79-3D69D8477DE4");
    EXPECT_EQ(*g, Guid::parse("0FC63DAF-8483-4772-8E79-3D69D8477DE4"));
}

TEST(GptGuid, RejectsMalformedText) {
    const std::string_view cases[] = {
        "",
        "C12A7328-F81F-11D2-BA4B-00A0C93EC93",     // short
        "C12A7328-F81F-11D2-BA4B-00A0C93EC93B0",   // long
        "{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}",  // braces
        "C12A7328F81F-11D2-BA4B-00A0C93EC93B0",    // dash missing
        "C12A7328-F81F-11D2-BA4B_00A0C93EC93B",    // wrong separator
        "C12A732G-F81F-11D2-BA4B-00A0C93EC93B",    // not hex
        "C12A7328-F81F-11D2-BA4B-00A0C93EC93 ",
        "C12A7328-F81-F11D2-BA4B-00A0C93EC93B",  // dash misplaced
    };
    for (auto text : cases) EXPECT_FALSE(Guid::parse(text).has_value()) << text;
}

TEST(GptGuid, TypeNames) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "ESP"},
        {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "MSR"},
        {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Recovery"},
        {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Basic Data"},
        {"5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", "LDM Metadata"},
        {"AF9B60A0-1431-4F62-BC68-3311714A69AD", "LDM Data"},
        {"24D41741-1C9A-48B4-A4B2-F59D4B2A3A01", "Rapid Start"},
        {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux"},
        {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux Swap"},
        {"0FC63DAF-8483-4772-8E79-3D69D8477DE5", ""},
        {"00000000-0000-0000-0000-000000000000", ""},
    };
    for (const auto& [text, name] : cases) {
        const auto g = Guid::parse(text);
        ASSERT_TRUE(g.has_value()) << text;
        EXPECT_EQ(GptTypeName(*g), name) << text;
    }
}

TEST(GptGuid, TypeOfAnEntryAsStoredOnDisk) {
    // The ESP type as a partitioning tool writes it: the first three groups byte-swapped.
    std::array<std::byte, kGptEntryRecordSize> entry{};
    const Raw esp{0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                  0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
    for (std::size_t i = 0; i < esp.size(); ++i) entry[i] = std::byte{esp[i]};
    ASSERT_TRUE(putLe64(entry, 32, 2048));
    ASSERT_TRUE(putLe64(entry, 40, 206847));
    ASSERT_TRUE(putLe16(entry, 56, u'E'));
    ASSERT_TRUE(putLe16(entry, 58, 0x0131));  // a character beyond ASCII
    ASSERT_TRUE(putLe16(entry, 62, u'X'));    // after the terminator

    const auto e = readRecord<TGptEntry>(entry, 0);
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(GptTypeName(e->TypeGuid), "ESP");
    EXPECT_EQ(e->TypeGuid.toString(), "C12A7328-F81F-11D2-BA4B-00A0C93EC93B");
    EXPECT_TRUE(e->UniqueGuid.isZero());
    const std::uint64_t first = e->FirstLba, last = e->LastLba;
    EXPECT_EQ(first, 2048u);
    EXPECT_EQ(last, 206847u);
    EXPECT_TRUE(gptEntryName(*e) == u"E\u0131");
}

}  // namespace
}  // namespace brenvale::storage
