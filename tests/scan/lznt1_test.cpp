// LZNT1 units: literal and compressed chunks, overlapping back-references, and the inputs a
// damaged stream gives (references before the chunk, chunks past the unit, the output limit).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/lznt1.h"

namespace brenvale::test {
namespace {

std::vector<std::byte> Bytes(std::initializer_list<int> v) {
    std::vector<std::byte> out;
    for (int b : v) out.push_back(static_cast<std::byte>(b));
    return out;
}

std::string Decode(const std::vector<std::byte>& unit, std::size_t limit = 65536) {
    std::vector<std::byte> out;
    scan::Lznt1DecodeUnit(unit, out, limit);
    return {reinterpret_cast<const char*>(out.data()), out.size()};
}

struct Lznt1Case {
    const char* what;
    std::vector<std::byte> unit;
    std::size_t limit;
    std::string expected;
};

class Lznt1Test : public ::testing::TestWithParam<Lznt1Case> {};

TEST_P(Lznt1Test, Decodes) { EXPECT_EQ(Decode(GetParam().unit, GetParam().limit), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Units, Lznt1Test,
    ::testing::Values(
        // Flags 0x08: three literals, then offset 3 length 9 (token 0x2006), which overlaps itself.
        Lznt1Case{"back_reference", Bytes({0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20, 0, 0}), 65536, "abcabcabcabc"},
        // A stored chunk (bit 15 clear) is copied as it is.
        Lznt1Case{"stored_chunk", Bytes({0x02, 0x30, 'x', 'y', 'z', 0, 0}), 65536, "xyz"},
        // Two chunks follow each other into the output.
        Lznt1Case{"two_chunks", Bytes({0x01, 0x30, 'h', 'i', 0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20, 0, 0}), 65536,
                  "hiabcabcabcabc"},
        // Offset 1 repeats the previous byte.
        Lznt1Case{"offset_one", Bytes({0x03, 0xB0, 0x02, 'q', 0x02, 0x00, 0, 0}), 65536, "qqqqqq"},
        // Offset 5 at position 3 points before the chunk: the chunk ends there.
        Lznt1Case{"reference_before_chunk", Bytes({0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x40, 0, 0}), 65536, "abc"},
        // A chunk claiming more bytes than the unit holds is not read.
        Lznt1Case{"chunk_past_unit", Bytes({0xFF, 0xBF, 0x00, 'a', 'b'}), 65536, ""},
        // A reference token cut off by the chunk's end.
        Lznt1Case{"cut_token", Bytes({0x02, 0xB0, 0x02, 'a', 0x06}), 65536, "a"},
        // The output stops at the limit.
        Lznt1Case{"limit", Bytes({0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20, 0, 0}), 5, "abcab"},
        Lznt1Case{"empty", Bytes({}), 65536, ""}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(Lznt1, ChunkOutputStopsAt4096Bytes) {
    // One literal, then references of the longest length until far past 4 KiB.
    std::vector<std::byte> chunk{std::byte{0xFE}, std::byte{'z'}};
    for (int i = 0; i < 7; ++i) {
        chunk.push_back(std::byte{0xFF});
        chunk.push_back(std::byte{0x0F});
    }
    for (int group = 0; group < 40; ++group) {
        chunk.push_back(std::byte{0xFF});
        for (int i = 0; i < 8; ++i) {
            chunk.push_back(std::byte{0xFF});
            chunk.push_back(std::byte{0x0F});
        }
    }
    const std::size_t length = chunk.size();
    std::vector<std::byte> unit{static_cast<std::byte>((length - 1) & 0xFF),
                                static_cast<std::byte>(0xB0 | (((length - 1) >> 8) & 0x0F))};
    unit.insert(unit.end(), chunk.begin(), chunk.end());
    const std::string out = Decode(unit);
    EXPECT_EQ(out.size(), 4096u);
    EXPECT_EQ(out.find_first_not_of('z'), std::string::npos);
}

}  // namespace
}  // namespace brenvale::test
