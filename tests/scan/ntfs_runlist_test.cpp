// Run lists: what decodes, and whether the decoder says the list was whole, cut short or
// invalid.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scan/ntfs_record.h"

namespace brenvale::test {
namespace {

using scan::RunListStatus;
using storage::TRun;

std::vector<std::byte> Bytes(std::initializer_list<std::uint8_t> v) {
    std::vector<std::byte> out;
    for (auto b : v) out.push_back(std::byte{b});
    return out;
}

struct RunCase {
    const char* what;
    std::vector<std::byte> bytes;
    RunListStatus status;
    std::vector<TRun> runs;  // {offset, clusters}
};

TEST(RunList, DecodesAndSaysHowFar) {
    const RunCase cases[] = {
        {"two runs, the second back by 0x10", Bytes({0x21, 0x08, 0x00, 0x01, 0x11, 0x04, 0xF0, 0x00}),
         RunListStatus::Whole, {{0x100, 8}, {0xF0, 4}}},
        {"a sparse run keeps the previous offset", Bytes({0x11, 0x02, 0x40, 0x01, 0x10, 0x11, 0x02, 0x01, 0x00}),
         RunListStatus::Whole, {{0x40, 2}, {0, 0x10}, {0x41, 2}}},
        {"a 5-byte length", Bytes({0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}), RunListStatus::Whole, {{0, 0x100000000}}},
        {"8-byte offset", Bytes({0x81, 0x01, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0x00}), RunListStatus::Whole, {{0x1000, 1}}},
        {"7-byte negative offset",
         Bytes({0x41, 0x01, 0x00, 0x00, 0x00, 0x10, 0x71, 0x01, 0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}),
         RunListStatus::Whole, {{0x10000000, 1}, {0x10000000 - 0x1000, 1}}},
        {"empty list", Bytes({0x00}), RunListStatus::Whole, {}},
        {"no terminator", Bytes({0x11, 0x01, 0x20}), RunListStatus::CutShort, {{0x20, 1}}},
        {"cut inside a run", Bytes({0x11, 0x01, 0x20, 0x21, 0x01}), RunListStatus::CutShort, {{0x20, 1}}},
        {"no bytes at all", Bytes({}), RunListStatus::CutShort, {}},
        {"a 9-byte offset field", Bytes({0x11, 0x01, 0x20, 0x91, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}),
         RunListStatus::Invalid, {{0x20, 1}}},
        {"a 9-byte length field", Bytes({0x19, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}), RunListStatus::Invalid, {}},
        {"no length bytes", Bytes({0x10, 0x05, 0x00}), RunListStatus::Invalid, {}},
        {"a zero-length run", Bytes({0x11, 0x00, 0x20, 0x00}), RunListStatus::Invalid, {}},
        {"a run before cluster 0 decodes; the reader refuses it",
         Bytes({0x11, 0x01, 0x10, 0x11, 0x01, 0xE0, 0x00}), RunListStatus::Whole, {{0x10, 1}, {-0x10, 1}}},
        {"an offset past 2^63", Bytes({0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x11, 0x01, 0x01, 0x00}),
         RunListStatus::Invalid, {{INT64_MAX, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        storage::trunlist runs;
        const std::size_t last = c.bytes.empty() ? 0 : c.bytes.size() - 1;
        EXPECT_EQ(scan::getrunlist(c.bytes, last, runs), c.status);
        EXPECT_EQ(runs, c.runs);
    }
}

TEST(RunList, LastIndexBoundsTheBytes) {
    const auto bytes = Bytes({0x11, 0x01, 0x20, 0x11, 0x01, 0x20, 0x00});
    storage::trunlist runs;
    EXPECT_EQ(scan::getrunlist(bytes, 2, runs), RunListStatus::CutShort);
    EXPECT_EQ(runs, (std::vector<TRun>{{0x20, 1}}));
    runs.clear();
    EXPECT_EQ(scan::getrunlist(bytes, 1000, runs), RunListStatus::Whole) << "an index past the end is the end";
    EXPECT_EQ(runs, (std::vector<TRun>{{0x20, 1}, {0x40, 1}}));
}

TEST(RunList, WorseOfTwo) {
    EXPECT_EQ(scan::Worse(RunListStatus::Whole, RunListStatus::CutShort), RunListStatus::CutShort);
    EXPECT_EQ(scan::Worse(RunListStatus::Invalid, RunListStatus::CutShort), RunListStatus::Invalid);
    EXPECT_EQ(scan::Worse(RunListStatus::Whole, RunListStatus::Whole), RunListStatus::Whole);
}

}  // namespace
}  // namespace brenvale::test
