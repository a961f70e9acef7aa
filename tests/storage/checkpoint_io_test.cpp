// Checkpoint fields, their bounded reader, and the save that replaces a file whole or not at all.
#include "storage/checkpoint_io.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <array>
#include <csignal>
#include <filesystem>
#include <functional>
#include <limits>
#include <vector>

#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace brenvale::storage {
namespace {

constexpr std::uint32_t kU32Max = std::numeric_limits<std::uint32_t>::max();

struct Parsed {
    std::uint8_t a = 0;
    std::uint16_t b = 0;
    std::uint32_t c = 0;
    std::int64_t d = 0;
    std::string name;
    std::vector<std::array<std::byte, 3>> items;
};

// A small file in the shape checkpoints take: fields, a bounded string, a counted list.
std::vector<std::byte> Sample() {
    CheckpointWriter w;
    w.u8(0x11);
    w.u16(0x2233);
    w.u32(0x44556677);
    w.i64(-5);
    w.string("hello", 16);
    w.count(2);
    w.bytes(std::as_bytes(std::span("abcdef", 6)));
    EXPECT_TRUE(w.ok());
    return w.data();
}

Parsed Parse(CheckpointReader& r) {
    Parsed p;
    p.a = r.u8();
    p.b = r.u16();
    p.c = r.u32();
    p.d = r.i64();
    p.name = r.string(16);
    const std::uint32_t n = r.count(3);
    for (std::uint32_t i = 0; i < n && r.ok(); ++i) p.items.push_back(r.record<std::array<std::byte, 3>>());
    return p;
}

TEST(CheckpointReader, ReadsWhatTheWriterWrote) {
    const auto data = Sample();
    ASSERT_EQ(data.size(), 1u + 2 + 4 + 8 + 4 + 5 + 4 + 6);
    CheckpointReader r(data);
    const Parsed p = Parse(r);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_EQ(p.a, 0x11);
    EXPECT_EQ(p.b, 0x2233);
    EXPECT_EQ(p.c, 0x44556677u);
    EXPECT_EQ(p.d, -5);
    EXPECT_EQ(p.name, "hello");
    ASSERT_EQ(p.items.size(), 2u);
    EXPECT_EQ(p.items[1][2], std::byte{'f'});
    // Little-endian on disk.
    EXPECT_EQ(data[1], std::byte{0x33});
    EXPECT_EQ(data[2], std::byte{0x22});
}

TEST(CheckpointReader, EveryTruncatedPrefixFails) {
    const auto data = Sample();
    for (std::size_t size = 0; size < data.size(); ++size) {
        SCOPED_TRACE(size);
        CheckpointReader r(std::span<const std::byte>(data).first(size));
        const Parsed p = Parse(r);
        EXPECT_FALSE(r.ok());
        EXPECT_LE(p.items.size(), 1u);
    }
}

TEST(CheckpointReader, CountsAreCheckedAgainstTheBytesLeft) {
    const std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();
    const struct {
        const char* name;
        std::uint32_t count;
        std::size_t itemBytes;
        std::size_t following;  // bytes after the count
        bool ok;
    } cases[] = {
        {"none", 0, 100, 0, true},
        {"exactly the bytes left", 4, 25, 100, true},
        {"one item too many", 5, 25, 100, false},
        {"2^32 - 1 one-byte items", kU32Max, 1, 100, false},
        {"2^32 - 1 items of 2^32 bytes (the product overflows 32 bits)", kU32Max, std::size_t{1} << 32, 100, false},
        {"items of 2^64 - 1 bytes", 1, kMaxSize, 100, false},
        {"no size: any count passes", kU32Max, 0, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CheckpointWriter w;
        w.u32(c.count);
        w.bytes(std::vector<std::byte>(c.following));
        CheckpointReader r(w.data());
        const std::uint32_t n = r.count(c.itemBytes);
        EXPECT_EQ(r.ok(), c.ok);
        EXPECT_EQ(n, c.ok ? c.count : 0u);
    }
}

TEST(CheckpointReader, StringLengthsAreBounded) {
    const struct {
        const char* name;
        std::uint32_t length;
        std::size_t stored;
        std::size_t bound;
        bool ok;
    } cases[] = {
        {"empty", 0, 0, 10, true},
        {"all that is left", 10, 10, 10, true},
        {"one byte past the end", 11, 10, 100, false},
        {"2^32 - 1", kU32Max, 10, kU32Max, false},
        {"2^32 - 16", kU32Max - 15, 64, kU32Max, false},
        {"over its bound, though stored", 10, 10, 9, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CheckpointWriter w;
        w.u32(c.length);
        w.bytes(std::vector<std::byte>(c.stored, std::byte{'x'}));
        CheckpointReader r(w.data());
        const std::string s = r.string(c.bound);
        EXPECT_EQ(r.ok(), c.ok);
        EXPECT_EQ(s, c.ok ? std::string(c.length, 'x') : std::string());
    }
}

TEST(CheckpointReader, FailureIsSticky) {
    const std::vector<std::byte> data(64, std::byte{1});
    CheckpointReader r(data);
    EXPECT_EQ(r.u8(), 1u);
    EXPECT_TRUE(r.bytes(100).empty());
    EXPECT_FALSE(r.ok());
    // Bytes are left, but nothing more is read.
    EXPECT_EQ(r.u8(), 0u);
    EXPECT_EQ(r.u32(), 0u);
    EXPECT_EQ(r.u64(), 0u);
    EXPECT_EQ(r.string(), "");
    EXPECT_EQ(r.count(1), 0u);
    EXPECT_EQ(r.position(), 1u);
}

TEST(CheckpointWriter, RefusesWhatTheReaderWouldRefuse) {
    CheckpointWriter longString;
    longString.string(std::string(11, 'x'), 10);
    EXPECT_FALSE(longString.ok());
    CheckpointWriter bigCount;
    bigCount.count(std::size_t{1} << 32);
    EXPECT_FALSE(bigCount.ok());
    CheckpointWriter fits;
    fits.string(std::string(10, 'x'), 10);
    fits.count(kU32Max);
    EXPECT_TRUE(fits.ok());
    EXPECT_EQ(fits.data().size(), 4u + 10 + 4);
}

std::vector<std::byte> Filled(std::size_t n, int v) { return std::vector<std::byte>(n, static_cast<std::byte>(v)); }

TEST(SaveFileAtomically, WritesAndReplacesWhole) {
    test::TempDir dir;
    const std::string file = dir.file("state.chk");
    ASSERT_TRUE(saveFileAtomically(file, Filled(10000, 0x5A)));
    EXPECT_EQ(test::ReadWholeFile(file), Filled(10000, 0x5A));
    ASSERT_TRUE(saveFileAtomically(file, Filled(300, 0x33)));
    EXPECT_EQ(test::ReadWholeFile(file), Filled(300, 0x33));
    ASSERT_TRUE(saveFileAtomically(file, {}));
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
    EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
}


TEST(SaveFileAtomically, TheOldFileSurvivesAFailedSave) {
    const struct {
        const char* name;
        std::function<void(const test::TempDir&, const std::string&)> arrange;
        std::size_t newSize;
        bool writeFails;  // the new data cannot be written whole
    } cases[] = {
        {"the temporary name is a folder",
         [](const test::TempDir&, const std::string& f) {
             std::filesystem::create_directories(f + ".tmp/inside");
         },
         100, false},
        {"the disk fills while writing", [](const test::TempDir&, const std::string&) {}, 1 << 20, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string file = dir.file("state.chk");
        test::WriteWholeFile(file, Filled(5000, 0x77));
        c.arrange(dir, file);
        bool saved = true;
        if (c.writeFails) {
            test::FileSizeLimit limit(64 << 10);
            saved = saveFileAtomically(file, Filled(c.newSize, 0x11));
        } else {
            saved = saveFileAtomically(file, Filled(c.newSize, 0x11));
        }
        EXPECT_FALSE(saved);
        EXPECT_EQ(test::ReadWholeFile(file), Filled(5000, 0x77));
        if (c.writeFails) {
            EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
        }
    }
}

TEST(SaveFileAtomically, FailsWithoutLeavingATemporaryFile) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "taken");
    const struct {
        const char* name;
        std::string file;
    } cases[] = {
        {"folder does not exist", dir.file("missing/state.chk")},
        {"target is a folder", dir.file("taken")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(saveFileAtomically(c.file, Filled(10, 1)));
        EXPECT_FALSE(std::filesystem::exists(c.file + ".tmp"));
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "taken"));
}

TEST(ReadWholeFile, SizeLimitAndUnreadableFiles) {
    test::TempDir dir;
    test::WriteWholeFile(dir.file("f"), Filled(100, 9));
    std::filesystem::create_directory(dir.path() / "folder");
    EXPECT_EQ(readWholeFile(dir.file("f"), 100), Filled(100, 9));
    EXPECT_EQ(readWholeFile(dir.file("f"), 99), std::nullopt);
    EXPECT_EQ(readWholeFile(dir.file("none"), 100), std::nullopt);
    EXPECT_EQ(readWholeFile(dir.file("folder"), 100), std::nullopt);
}

}  // namespace
}  // namespace brenvale::storage
