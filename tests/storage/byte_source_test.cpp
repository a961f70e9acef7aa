// Byte sources: over a buffer and over a file's extents on a device (the scripted disk, whose
// every byte tells where it came from).
#include "storage/byte_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "storage/device_test_util.h"

namespace brenvale::test {
namespace {

using storage::ByteExtent;
using storage::ExtentByteSource;

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();

// Byte `b` of the patterned disk.
std::byte DiskByte(std::uint64_t b) { return static_cast<std::byte>(((b / 512) * 7 + b % 512) & 0xFF); }

// What a file over `extents` holds.
std::vector<std::byte> Expected(const std::vector<ByteExtent>& extents) {
    std::vector<std::byte> out;
    for (const auto& e : extents) {
        for (std::uint64_t i = 0; i < e.length; ++i) {
            out.push_back(e.offset < 0 ? std::byte{0} : DiskByte(static_cast<std::uint64_t>(e.offset) + i));
        }
    }
    return out;
}

struct ReadCase {
    const char* name;
    std::uint64_t offset;
    std::size_t length;
};

// Reads every case from `source` into a buffer prefilled with 0xEE and compares with the slice
// of `whole`; bytes past the count must stay untouched.
void ExpectReads(storage::ByteSource& source, const std::vector<std::byte>& whole, std::span<const ReadCase> cases) {
    ASSERT_EQ(source.size(), whole.size());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::byte> buf(c.length, std::byte{0xEE});
        const std::size_t got = source.read(c.offset, buf);
        const std::uint64_t avail = c.offset >= whole.size() ? 0 : whole.size() - c.offset;
        ASSERT_EQ(got, std::min<std::uint64_t>(avail, c.length));
        EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(got),
                               whole.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(c.offset, whole.size()))));
        EXPECT_TRUE(std::all_of(buf.begin() + static_cast<std::ptrdiff_t>(got), buf.end(),
                                [](std::byte b) { return b == std::byte{0xEE}; }));
    }
}

TEST(MemoryByteSource, ReadsAreBoundedBySize) {
    std::vector<std::byte> data(1000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::byte>(i * 13);
    storage::MemoryByteSource source(data);
    const ReadCase cases[] = {
        {"all", 0, 1000},          {"middle", 400, 17},       {"across the end", 990, 20},
        {"last byte", 999, 1},     {"at size", 1000, 5},      {"past size", 5000, 5},
        {"zero length", 10, 0},    {"zero length at size", 1000, 0},
        {"offset near 2^64", kU64Max, 8},
    };
    ExpectReads(source, data, cases);
    storage::MemoryByteSource empty({});
    std::vector<std::byte> buf(4);
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_EQ(empty.read(0, buf), 0u);
}

class ExtentByteSourceTest : public FakeDiskTest {};

TEST_F(ExtentByteSourceTest, ReadsAcrossExtentEdgesHolesAndTheEnd) {
    const std::vector<ByteExtent> extents = {
        {5220, 1000},                  // mid-sector start and end
        {-1, 300},                     // sparse
        {1024000, 4000},               // sector-aligned start
        {512, 1200000},                // longer than one device request, overlaps the first
        {kSectors * 512 - 700, 700},   // ends at the device's end
    };
    auto dev = Open();
    auto source = ExtentByteSource::create(*dev, extents);
    ASSERT_NE(source, nullptr);
    const auto whole = Expected(extents);
    const std::uint64_t size = whole.size();
    const ReadCase cases[] = {
        {"the whole file", 0, whole.size()},
        {"inside the first extent", 10, 100},
        {"first extent into the hole", 900, 200},
        {"inside the hole", 1050, 100},
        {"hole into the third extent", 1250, 100},
        {"across three extents", 999, 4400},
        {"long extent past its first megabyte", 5300 + (1u << 20) - 100, 300},
        {"into the last extent", size - 800, 400},
        {"across the end", size - 10, 100},
        {"last byte", size - 1, 1},
        {"at size", size, 10},
        {"past size", size + 4096, 10},
        {"zero length", 100, 0},
        {"offset near 2^64", kU64Max - 1, 10},
    };
    ExpectReads(*source, whole, cases);
}

TEST_F(ExtentByteSourceTest, ExtentsAreCheckedOnce) {
    const std::int64_t deviceBytes = kSectors * 512;
    const struct {
        const char* name;
        std::vector<ByteExtent> extents;
        bool valid;
        std::uint64_t size;
    } cases[] = {
        {"no extents", {}, true, 0},
        {"empty extents are dropped", {{0, 0}, {100, 10}, {-1, 0}, {kI64Max, 0}}, true, 10},
        {"up to the device's end", {{deviceBytes - 1, 1}}, true, 1},
        {"the whole device", {{0, static_cast<std::uint64_t>(deviceBytes)}}, true, kSectors * 512},
        {"sparse beyond any device", {{-1, kU64Max}}, true, kU64Max},
        {"one byte past the device's end", {{deviceBytes - 1, 2}}, false, 0},
        {"starts at the device's end", {{deviceBytes, 1}}, false, 0},
        {"offset near 2^63", {{kI64Max, 1}}, false, 0},
        {"length near 2^64", {{100, kU64Max}}, false, 0},
        {"negative offset other than -1", {{-2, 10}}, false, 0},
        {"lengths add up past 2^64", {{-1, kU64Max}, {0, 1}}, false, 0},
    };
    auto dev = Open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto source = ExtentByteSource::create(*dev, c.extents);
        ASSERT_EQ(source != nullptr, c.valid);
        if (source) {
            EXPECT_EQ(source->size(), c.size);
        }
    }
}

TEST_F(ExtentByteSourceTest, SparseFileReadsZerosWithoutTheDevice) {
    auto dev = Open();
    const std::vector<ByteExtent> extents = {{-1, 5000}};
    auto source = ExtentByteSource::create(*dev, extents);
    ASSERT_NE(source, nullptr);
    const auto reads = disk->reads;
    std::vector<std::byte> buf(6000, std::byte{0xEE});
    EXPECT_EQ(source->read(0, buf), 5000u);
    EXPECT_TRUE(AllZero(std::span(buf).first(5000)));
    EXPECT_EQ(disk->reads, reads);
}

TEST_F(ExtentByteSourceTest, ADeviceThatFailsGivesAShortCount) {
    auto dev = Open();
    const std::vector<ByteExtent> extents = {{-1, 100}, {512, 2048}};
    auto source = ExtentByteSource::create(*dev, extents);
    ASSERT_NE(source, nullptr);
    disk->faults.offlineAfterReads = disk->reads;
    disk->faults.reopenFails = true;
    std::vector<std::byte> buf(2148);
    EXPECT_EQ(source->read(0, buf), 100u);
    EXPECT_EQ(source->read(200, buf), 0u);
}

}  // namespace
}  // namespace brenvale::test
