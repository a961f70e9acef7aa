// Big-endian readers and writers: the same rules as the little-endian ones beside them.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "storage/le.h"

namespace brenvale::storage {
namespace {

constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (int v : values) out.push_back(static_cast<std::byte>(v));
    return out;
}

TEST(BigEndian, ReadsMostSignificantByteFirst) {
    const auto d = bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xF9});
    const struct {
        std::size_t off;
        std::uint64_t be16, be32, be64;
    } cases[] = {
        {0, 0x0102, 0x01020304, 0x0102030405060708ull},
        {1, 0x0203, 0x02030405, 0x02030405060708F9ull},
        {5, 0x0607, 0x060708F9, 0},  // eight bytes from 5 run past the end
        {7, 0x08F9, 0, 0},
        {8, 0, 0, 0},
        {9, 0, 0, 0},
        {kMax - 1, 0, 0, 0},
        {kMax, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.off);
        EXPECT_EQ(be16(d, c.off), c.be16);
        EXPECT_EQ(be32(d, c.off), c.be32);
        EXPECT_EQ(be64(d, c.off), c.be64);
    }
}

TEST(BigEndian, IsTheByteSwapOfLittleEndian) {
    const auto d = bytes({0x8A, 0x00, 0x7F, 0xFF, 0x10, 0x20, 0x30, 0xC0});
    EXPECT_EQ(be16(d, 0), __builtin_bswap16(le16(d, 0)));
    EXPECT_EQ(be32(d, 2), __builtin_bswap32(le32(d, 2)));
    EXPECT_EQ(be64(d, 0), __builtin_bswap64(le64(d, 0)));
}

TEST(BigEndian, ReadersAreConstexpr) {
    static constexpr std::array<std::byte, 4> d{std::byte{0xCA}, std::byte{0xFE}, std::byte{0xBA},
                                                std::byte{0xBE}};
    static_assert(be32(d, 0) == 0xCAFEBABEu);
    static_assert(be16(d, 2) == 0xBABEu);
    static_assert(be16(d, 3) == 0);
}

TEST(BigEndian, WritersRoundTripAndRefuseWhatDoesNotFit) {
    std::array<std::byte, 16> buf{};
    ASSERT_TRUE(putBe16(buf, 0, 0xBEEF));
    ASSERT_TRUE(putBe32(buf, 2, 0xDEADBEEF));
    ASSERT_TRUE(putBe64(buf, 8, 0x0123456789ABCDEFull));
    EXPECT_EQ(buf[0], std::byte{0xBE});
    EXPECT_EQ(buf[1], std::byte{0xEF});
    EXPECT_EQ(buf[2], std::byte{0xDE});
    EXPECT_EQ(buf[5], std::byte{0xEF});
    EXPECT_EQ(buf[8], std::byte{0x01});
    EXPECT_EQ(buf[15], std::byte{0xEF});
    EXPECT_EQ(be16(buf, 0), 0xBEEFu);
    EXPECT_EQ(be32(buf, 2), 0xDEADBEEFu);
    EXPECT_EQ(be64(buf, 8), 0x0123456789ABCDEFull);

    const auto before = buf;
    EXPECT_FALSE(putBe16(buf, 15, 0xFFFF));
    EXPECT_FALSE(putBe32(buf, 13, 0xFFFFFFFF));
    EXPECT_FALSE(putBe64(buf, 9, ~0ull));
    EXPECT_FALSE(putBe16(buf, kMax, 1));
    EXPECT_FALSE(putBe64(buf, kMax - 3, 1));
    EXPECT_EQ(buf, before);
    EXPECT_TRUE(putBe16(buf, 14, 0x1234));
    EXPECT_EQ(buf[14], std::byte{0x12});
}

}  // namespace
}  // namespace brenvale::storage
