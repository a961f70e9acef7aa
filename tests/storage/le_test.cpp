#include "storage/le.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace brenvale::storage {
namespace {

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (int v : values) out.push_back(static_cast<std::byte>(v));
    return out;
}

TEST(LittleEndian, FitsIsExactAndOverflowSafe) {
    const std::array<std::byte, 8> buf{};
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    struct Case {
        std::size_t off, len;
        bool expected;
    } cases[] = {
        {0, 8, true},     {0, 0, true},     {8, 0, true},     {7, 1, true},
        {7, 2, false},    {8, 1, false},    {9, 0, false},    {0, 9, false},
        {1, kMax, false}, {kMax, 2, false}, {kMax, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fits(buf, c.off, c.len), c.expected) << "off " << c.off << " len " << c.len;
    }
}

TEST(LittleEndian, ReadsLeastSignificantByteFirst) {
    const auto d = bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xF9});
    EXPECT_EQ(u8(d, 8), 0xF9u);
    EXPECT_EQ(le16(d, 0), 0x0201u);
    EXPECT_EQ(le16(d, 7), 0xF908u);
    EXPECT_EQ(le32(d, 1), 0x05040302u);
    EXPECT_EQ(le64(d, 0), 0x0807060504030201ull);
    EXPECT_EQ(le64(d, 1), 0xF908070605040302ull);
}

TEST(LittleEndian, OutOfRangeReadsGiveZero) {
    const auto d = bytes({0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(u8(d, 4), 0u);
    EXPECT_EQ(le16(d, 3), 0u);
    EXPECT_EQ(le32(d, 1), 0u);
    EXPECT_EQ(le64(d, 0), 0u);
    EXPECT_EQ(le32(d, std::numeric_limits<std::size_t>::max() - 1), 0u);
}

TEST(LittleEndian, WritersRoundTripAndRefuseWhatDoesNotFit) {
    std::array<std::byte, 16> buf{};
    ASSERT_TRUE(putLe16(buf, 0, 0xBEEF));
    ASSERT_TRUE(putLe32(buf, 2, 0xDEADBEEF));
    ASSERT_TRUE(putLe64(buf, 8, 0x0123456789ABCDEFull));
    EXPECT_EQ(buf[0], std::byte{0xEF});
    EXPECT_EQ(buf[1], std::byte{0xBE});
    EXPECT_EQ(buf[2], std::byte{0xEF});
    EXPECT_EQ(buf[5], std::byte{0xDE});
    EXPECT_EQ(buf[8], std::byte{0xEF});
    EXPECT_EQ(buf[15], std::byte{0x01});
    EXPECT_EQ(le16(buf, 0), 0xBEEFu);
    EXPECT_EQ(le32(buf, 2), 0xDEADBEEFu);
    EXPECT_EQ(le64(buf, 8), 0x0123456789ABCDEFull);

    const auto before = buf;
    EXPECT_FALSE(putLe16(buf, 15, 0xFFFF));
    EXPECT_FALSE(putLe32(buf, 13, 0xFFFFFFFF));
    EXPECT_FALSE(putLe64(buf, 9, ~0ull));
    EXPECT_EQ(buf, before);
}

#pragma pack(push, 1)
struct Sample {
    std::uint8_t a;
    std::uint32_t b;
};
#pragma pack(pop)

TEST(LittleEndian, RecordsCopyOnlyWhenTheyFit) {
    const auto d = bytes({0x00, 0x7F, 0x04, 0x03, 0x02, 0x01});
    const auto rec = readRecord<Sample>(d, 1);
    ASSERT_TRUE(rec.has_value());
    const std::uint32_t b = rec->b;  // copied: a packed member cannot bind to a reference
    EXPECT_EQ(rec->a, 0x7F);
    EXPECT_EQ(b, 0x01020304u);
    EXPECT_FALSE(readRecord<Sample>(d, 2).has_value());
    EXPECT_FALSE(readRecord<Sample>(std::span(d).first(4), 0).has_value());

    std::array<std::byte, 6> out{};
    EXPECT_FALSE(writeRecord(out, 2, *rec));
    EXPECT_EQ(out, (std::array<std::byte, 6>{}));
    ASSERT_TRUE(writeRecord(out, 1, *rec));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), d.begin()));
    EXPECT_EQ(recordBytes(*rec)[0], std::byte{0x7F});
}

}  // namespace
}  // namespace brenvale::storage
