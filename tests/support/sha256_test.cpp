#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/fixtures.h"

namespace brenvale::test {
namespace {

std::string hashOf(std::string_view text) {
    return sha256Hex(std::as_bytes(std::span(text.data(), text.size())));
}

std::string hashOfRepeated(char c, std::size_t n) {
    return hashOf(std::string(n, c));
}

TEST(Sha256, PublishedVectors) {
    EXPECT_EQ(hashOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hashOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hashOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hashOfRepeated('a', 1'000'000),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Lengths around the block size decide whether the length field needs a block of its own;
// the expected values were computed with sha256sum.
struct PaddingCase {
    std::size_t length;
    const char* digest;
};

void PrintTo(const PaddingCase& c, std::ostream* os) {
    *os << c.length << " bytes";
}

class Sha256Padding : public ::testing::TestWithParam<PaddingCase> {};

TEST_P(Sha256Padding, MatchesReference) {
    EXPECT_EQ(hashOfRepeated('a', GetParam().length), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(
    AroundOneBlock, Sha256Padding,
    ::testing::Values(
        PaddingCase{55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        PaddingCase{56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        PaddingCase{63, "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        PaddingCase{64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        PaddingCase{65, "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        PaddingCase{119, "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        PaddingCase{120, "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"}),
    [](const auto& tc) { return "Length" + std::to_string(tc.param.length); });

TEST(Sha256, EveryByteValue) {
    // 0..255 three times: catches sign extension of bytes above 0x7f.
    std::vector<std::byte> data;
    for (int round = 0; round < 3; ++round) {
        for (int v = 0; v < 256; ++v) data.push_back(static_cast<std::byte>(v));
    }
    EXPECT_EQ(sha256Hex(data), "f3a25aa93aa2fbba28d79260535bbd6a5eb0fc1c24a8b0f04e12b484c1dfe363");
}

}  // namespace
}  // namespace brenvale::test
