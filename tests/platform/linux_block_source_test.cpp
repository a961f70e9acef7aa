#include "platform/linux/linux_block_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <future>
#include <iostream>
#include <string>
#include <thread>

#include "platform/errors.h"
#include "platform/linux/bounce_buffer.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/thread_reader.h"
#include "platform_test_util.h"

namespace brenvale::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::patternBytes;
using test::TempDir;

constexpr std::byte kUntouched{0xCC};

struct SourceMode {
    std::string name;
    LinuxSourceOptions options;
    LinuxReaderKind expectedReader;
};

void PrintTo(const SourceMode& m, std::ostream* os) { *os << m.name; }

// One image file shared by every mode: 20 MiB and an odd tail, so a whole-file read spans
// several asynchronous requests and ends mid-page.
class LinuxBlockSourceReads : public testing::TestWithParam<SourceMode> {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        content_ = new std::vector<std::byte>(patternBytes((20u << 20) + 777));
        test::writeFile(*dir_ / "image.bin", *content_);
    }
    static void TearDownTestSuite() {
        delete content_;
        delete dir_;
    }
    static fs::path imagePath() { return *dir_ / "image.bin"; }

    static TempDir* dir_;
    static std::vector<std::byte>* content_;
};
TempDir* LinuxBlockSourceReads::dir_ = nullptr;
std::vector<std::byte>* LinuxBlockSourceReads::content_ = nullptr;

struct RangeCase {
    const char* name;
    bool fromEnd;  // offset counts back from (or, if positive, past) the end of the file
    std::int64_t offset;
    std::size_t length;  // SIZE_MAX: the whole file and a page more
};

TEST_P(LinuxBlockSourceReads, ReadsTheFileBytesAtEachOffset) {
    const SourceMode& mode = GetParam();
    const std::vector<std::byte>& file = *content_;
    const auto mtimeBefore = fs::last_write_time(imagePath());

    OpenResult opened = LinuxBlockSource::open(imagePath(), mode.options);
    ASSERT_NE(opened.source, nullptr) << "errno " << opened.error;
    auto& source = static_cast<LinuxBlockSource&>(*opened.source);
    if (source.readerKind() != mode.expectedReader) {
        GTEST_SKIP() << "io_uring is not available on this kernel";
    }
    EXPECT_FALSE(source.isBlockDevice());
    EXPECT_EQ(source.sizeBytes(), file.size());
    EXPECT_EQ(source.geometry(), std::nullopt);
    EXPECT_EQ(source.logicalSectorSize(), std::nullopt);

    const RangeCase cases[] = {
        {"first sector", false, 0, 512},
        {"unaligned middle", false, 3 * 4096 + 7, 1000},
        {"short at end", true, -100, 512},
        {"at end", true, 0, 512},
        {"past end", true, 4096, 512},
        {"whole file in one call", false, 0, SIZE_MAX},
        {"empty", false, 5, 0},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint64_t offset =
            static_cast<std::uint64_t>((c.fromEnd ? static_cast<std::int64_t>(file.size()) : 0) +
                                       c.offset);
        const std::size_t length = c.length == SIZE_MAX ? file.size() + 4096 : c.length;
        const std::size_t expected =
            offset >= file.size() ? 0 : std::min<std::size_t>(length, file.size() - offset);
        std::vector<std::byte> dst(length, kUntouched);

        const ReadOutcome out = source.readTimed(dst, offset, 1000ms);

        ASSERT_EQ(out.status, ReadStatus::Ok);
        EXPECT_EQ(out.error, 0);
        ASSERT_EQ(out.bytes, expected);
        EXPECT_TRUE(std::equal(dst.begin(), dst.begin() + expected, file.begin() + offset));
        EXPECT_TRUE(std::all_of(dst.begin() + expected, dst.end(),
                                [](std::byte b) { return b == kUntouched; }))
            << "bytes beyond the transfer were written";
    }

    const LinuxReadCounters& n = source.counters();
    if (mode.options.cachedFastPath) {
        // The file was just written, so the page cache holds all of it.
        EXPECT_EQ(n.cachedWhole, 6u);
        EXPECT_EQ(n.asyncReads, 0u);
    } else {
        EXPECT_EQ(n.cachedWhole + n.cachedPartial, 0u);
        // One request per non-empty range, the whole-file read split in three.
        EXPECT_EQ(n.asyncReads, 8u);
    }

    opened.source.reset();
    EXPECT_EQ(test::readFile(imagePath()), file) << "reading changed the file";
    EXPECT_EQ(fs::last_write_time(imagePath()), mtimeBefore) << "reading touched the file";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, LinuxBlockSourceReads,
    testing::Values(SourceMode{"PageCacheThenIoUring", {true, true, {}}, LinuxReaderKind::IoUring},
                    SourceMode{"IoUring", {false, true, {}}, LinuxReaderKind::IoUring},
                    SourceMode{"ReaderThread", {false, false, {}}, LinuxReaderKind::Thread}),
    [](const testing::TestParamInfo<SourceMode>& p) { return p.param.name; });

// Writes `file` to `path`, flushes it, drops all of it from the page cache and brings back only
// its first MiB (plus whatever read-ahead adds, far less than the whole). False when the tools
// for that are missing.
bool writePartlyCached(const fs::path& path, const std::vector<std::byte>& file) {
    test::writeFile(path, file);
    const std::string quoted = "'" + path.string() + "'";
    return test::run("sync " + quoted) && test::run("dd if=" + quoted + " iflag=nocache count=0") &&
           test::run("dd if=" + quoted + " of=/dev/null bs=64K count=16");
}

TEST(LinuxBlockSource, PartlyCachedRangeTakesTheCachedHeadAndReadsTheRest) {
    TempDir dir;
    const fs::path path = dir / "partly.bin";
    const auto file = patternBytes(32u << 20, 7);
    if (!writePartlyCached(path, file)) GTEST_SKIP() << "sync or dd is not available";

    OpenResult opened = LinuxBlockSource::open(path);
    ASSERT_NE(opened.source, nullptr);
    auto& source = static_cast<LinuxBlockSource&>(*opened.source);
    const std::uint64_t offset = 512u << 10;
    std::vector<std::byte> dst(file.size() - offset, kUntouched);

    const ReadOutcome out = source.readTimed(dst, offset, 2000ms);

    ASSERT_EQ(out.status, ReadStatus::Ok);
    ASSERT_EQ(out.bytes, dst.size());
    EXPECT_TRUE(std::equal(dst.begin(), dst.end(), file.begin() + offset));
    if (source.counters().cachedWhole == 1) {
        // Either the cache could not be dropped, or the read-ahead that the cached read starts
        // for missing pages finished within that same call (a fast device).
        GTEST_SKIP() << "the page cache served the whole range";
    }
    EXPECT_EQ(source.counters().cachedPartial, 1u);
    EXPECT_GE(source.counters().asyncReads, 1u);
}

TEST(LinuxBlockSource, FailedReadLeavesOnlyCorrectBytesInTheCallerBuffer) {
    TempDir dir;
    const auto file = patternBytes(20u << 20, 11);
    struct Case {
        const char* name;
        bool cachedHead;  // the range starts in the page cache
        bool firstRequestOk;
    };
    const Case cases[] = {
        {"second of several requests fails", false, true},
        {"cached head, failing rest", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir / (std::string(c.name) + ".bin");
        if (c.cachedHead) {
            if (!writePartlyCached(path, file)) GTEST_SKIP() << "sync or dd is not available";
        } else {
            test::writeFile(path, file);
        }
        LinuxSourceOptions options;
        options.cachedFastPath = c.cachedHead;
        const bool firstOk = c.firstRequestOk;
        options.makeReader = [&file, firstOk](int fd) {
            auto calls = std::make_shared<int>(0);
            return std::make_unique<linux_os::ThreadReader>(
                fd, [&file, firstOk, calls](int, std::span<std::byte> buf, std::uint64_t at) -> long {
                    if ((*calls)++ > 0 || !firstOk) return -EIO;
                    std::memcpy(buf.data(), file.data() + at, buf.size());
                    return static_cast<long>(buf.size());
                });
        };
        OpenResult opened = LinuxBlockSource::open(path, options);
        ASSERT_NE(opened.source, nullptr);
        auto& source = static_cast<LinuxBlockSource&>(*opened.source);
        std::vector<std::byte> dst(file.size(), kUntouched);

        const ReadOutcome out = source.readTimed(dst, 0, 1000ms);
        if (c.cachedHead && source.counters().cachedWhole == 1) {
            // The read-ahead the cached read started finished within it (a fast device): the
            // whole range came from the cache and no failing request was ever made.
            std::cout << "[ NOTE ] " << c.name << ": the page cache served the whole range\n";
            continue;
        }

        EXPECT_EQ(out.status, ReadStatus::Failed);
        EXPECT_EQ(out.error, EIO);
        // Nothing but correct bytes: a cached head may already be in place, the rest is untouched.
        const auto head = static_cast<std::size_t>(std::mismatch(dst.begin(), dst.end(), file.begin()).first - dst.begin());
        EXPECT_TRUE(std::all_of(dst.begin() + head, dst.end(), [](std::byte b) { return b == kUntouched; }));
        if (!c.cachedHead) {
            EXPECT_EQ(head, 0u) << "nothing was cached, nothing may be in place";
        }
        if (c.cachedHead) {
            EXPECT_EQ(source.counters().cachedPartial, 1u) << "the head was not served from cache";
        } else {
            EXPECT_EQ(source.counters().asyncReads, 2u);
        }
    }
}

TEST(LinuxBlockSource, OpenRefusesWhatIsNotAFileOrBlockDevice) {
    TempDir dir;
    test::writeFile(dir / "file", patternBytes(16));
    const bool haveFifo = test::run("mkfifo '" + (dir / "fifo").string() + "'");

    struct Case {
        fs::path path;
        int error;
    };
    std::vector<Case> cases = {
        {dir / "missing", ENOENT},
        {dir / "missing" / "below", ENOENT},
        {dir / "file" / "below", ENOTDIR},
        {dir.path(), EISDIR},
        {"/dev/null", ENOTBLK},  // a character device
    };
    // A pipe would block the opener until a writer appeared; it must be refused at once.
    if (haveFifo) cases.push_back({dir / "fifo", ENOTBLK});

    LinuxPlatform platform;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        const OpenResult opened = platform.openReadOnly(c.path);
        EXPECT_EQ(opened.source, nullptr);
        EXPECT_EQ(opened.error, c.error);
    }
}

// Stands in for a device whose first read never returns until released, and then lands in the
// buffer it was given long after its caller gave up. The release happens while the next read is
// in flight, so a buffer shared between the two would show the stray bytes.
struct LateCompletion {
    std::shared_ptr<const std::vector<std::byte>> file;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> landed;
    std::shared_future<void> hasLanded = landed.get_future().share();
    std::atomic<int> calls{0};

    static linux_os::ThreadReader::ReadFn readFn(std::shared_ptr<LateCompletion> self) {
        return [self](int, std::span<std::byte> buf, std::uint64_t offset) -> long {
            const int call = self->calls++;
            if (call == 0) {
                self->released.wait();
                std::fill(buf.begin(), buf.end(), std::byte{0xEE});
                self->landed.set_value();
                return static_cast<long>(buf.size());
            }
            const auto& data = *self->file;
            const std::size_t n =
                offset >= data.size() ? 0 : std::min<std::size_t>(buf.size(), data.size() - offset);
            std::memcpy(buf.data(), data.data() + offset, n);
            if (call == 1) {
                self->release.set_value();
                self->hasLanded.wait_for(5s);
            }
            return static_cast<long>(n);
        };
    }
};

TEST(LinuxBlockSource, HungReadGivesUpItsBufferAndLaterReadsStayCorrect) {
    TempDir dir;
    auto late = std::make_shared<LateCompletion>();
    late->file = std::make_shared<const std::vector<std::byte>>(patternBytes(64 * 1024, 3));
    test::writeFile(dir / "image.bin", *late->file);

    LinuxSourceOptions options;
    options.cachedFastPath = false;
    options.makeReader = [late](int fd) {
        return std::make_unique<linux_os::ThreadReader>(fd, LateCompletion::readFn(late));
    };
    OpenResult opened = LinuxBlockSource::open(dir / "image.bin", options);
    ASSERT_NE(opened.source, nullptr);
    const std::size_t abandonedBefore = linux_os::abandonedBounceBuffers();

    std::vector<std::byte> first(8192, kUntouched);
    const ReadOutcome hung = opened.source->readTimed(first, 0, 20ms);
    EXPECT_EQ(hung.status, ReadStatus::Hung);
    EXPECT_EQ(hung.error, kErrTimedOut);
    EXPECT_EQ(linux_os::abandonedBounceBuffers(), abandonedBefore + 1);

    std::vector<std::byte> second(8192, kUntouched);
    const ReadOutcome ok = opened.source->readTimed(second, 4096, 2000ms);
    ASSERT_EQ(ok.status, ReadStatus::Ok);
    ASSERT_EQ(ok.bytes, second.size());
    ASSERT_EQ(late->hasLanded.wait_for(5s), std::future_status::ready);

    EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](std::byte b) { return b == kUntouched; }))
        << "a hung read reached the caller's buffer";
    EXPECT_TRUE(std::equal(second.begin(), second.end(), late->file->begin() + 4096))
        << "the late completion landed in a buffer still in use";
}

}  // namespace
}  // namespace brenvale::platform
