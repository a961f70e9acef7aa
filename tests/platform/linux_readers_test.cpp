// The two asynchronous readers under the time-out rule: io_uring against a pipe (a source that
// stays pending until written to) and the reader thread against scripted blocking reads.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <string_view>
#include <thread>

#include "platform/errors.h"
#include "platform/linux/thread_reader.h"
#include "platform/linux/unique_fd.h"
#include "platform/linux/uring_reader.h"

namespace brenvale::platform {
namespace {

using namespace std::chrono_literals;
using linux_os::makePipe;
using linux_os::ThreadReader;
using linux_os::UringReader;
using Clock = std::chrono::steady_clock;

std::span<const std::byte> bytesOf(std::string_view text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

std::string_view textOf(std::span<const std::byte> bytes, std::size_t n) {
    return {reinterpret_cast<const char*>(bytes.data()), n};
}

// Buffers handed to reads that are left outstanding: the kernel may fill them after the test.
template <std::size_t N>
std::span<std::byte> processLifetimeBuffer() {
    static std::array<std::byte, N> buffer{};
    return buffer;
}

TEST(UringReader, PendingReadIsCancelledAndTheNextReadIsNotConfused) {
    auto pipe = makePipe();
    ASSERT_TRUE(pipe);
    auto reader = UringReader::create(pipe->readEnd.get());
    if (!reader) GTEST_SKIP() << "io_uring is not available";
    std::array<std::byte, 16> buf{};

    const auto start = Clock::now();
    const ReadOutcome timedOut = readWithTimeout(*reader, buf, 0, 50ms);
    const auto took = Clock::now() - start;
    EXPECT_EQ(timedOut.status, ReadStatus::TimedOut);
    EXPECT_EQ(timedOut.error, kErrTimedOut);
    EXPECT_GE(took, 50ms);
    EXPECT_LT(took, kCancelDrain) << "a cancelled pipe read should drain at once";
    EXPECT_EQ(reader->readsInFlight(), 0u);

    // Both completions of the cancelled read (its own and the cancel's) are spent; the next
    // read must report its own data.
    ASSERT_TRUE(linux_os::writeAll(pipe->writeEnd.get(), bytesOf("hello")));
    const ReadOutcome ok = readWithTimeout(*reader, buf, 0, 1000ms);
    ASSERT_EQ(ok.status, ReadStatus::Ok);
    ASSERT_EQ(ok.bytes, 5u);
    EXPECT_EQ(textOf(buf, ok.bytes), "hello");
    EXPECT_EQ(reader->readsInFlight(), 0u);
}

TEST(UringReader, DataAlreadyThereCompletesAtSubmitOrFirstWait) {
    auto pipe = makePipe();
    ASSERT_TRUE(pipe);
    auto reader = UringReader::create(pipe->readEnd.get());
    if (!reader) GTEST_SKIP() << "io_uring is not available";
    ASSERT_TRUE(linux_os::writeAll(pipe->writeEnd.get(), bytesOf("ready")));
    std::array<std::byte, 16> buf{};

    const ReadOutcome ok = readWithTimeout(*reader, buf, 0, 1000ms);

    ASSERT_EQ(ok.status, ReadStatus::Ok);
    EXPECT_EQ(textOf(buf, ok.bytes), "ready");
}

TEST(UringReader, ANewReadAbandonsAnUnfinishedOne) {
    auto pipe = makePipe();
    ASSERT_TRUE(pipe);
    auto reader = UringReader::create(pipe->readEnd.get());
    if (!reader) GTEST_SKIP() << "io_uring is not available";
    const auto abandoned = processLifetimeBuffer<8>();
    const auto current = processLifetimeBuffer<4>();

    EXPECT_EQ(reader->submit(abandoned, 0), std::nullopt);
    EXPECT_EQ(reader->wait(10ms), std::nullopt);
    EXPECT_EQ(reader->submit(current, 0), std::nullopt);
    EXPECT_EQ(reader->readsInFlight(), 2u);

    // Whichever read the kernel serves first, only the current one's completion may be
    // reported, and the bytes reported must be the ones in its buffer.
    ASSERT_TRUE(linux_os::writeAll(pipe->writeEnd.get(), bytesOf("abcd")));
    auto done = reader->wait(200ms);
    if (!done) {
        ASSERT_TRUE(linux_os::writeAll(pipe->writeEnd.get(), bytesOf("efgh")));
        done = reader->wait(1000ms);
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(done->error, 0);
    ASSERT_EQ(done->bytes, 4u);
    const std::string_view got = textOf(current, 4);
    EXPECT_TRUE(got == "abcd" || got == "efgh") << got;
}

TEST(UringReader, DestroyingWithAReadOutstandingReturnsAtOnce) {
    auto pipe = makePipe();
    ASSERT_TRUE(pipe);
    auto reader = UringReader::create(pipe->readEnd.get());
    if (!reader) GTEST_SKIP() << "io_uring is not available";
    ASSERT_EQ(reader->submit(processLifetimeBuffer<16>(), 0), std::nullopt);
    ASSERT_EQ(reader->readsInFlight(), 1u);

    const auto start = Clock::now();
    reader.reset();
    EXPECT_LT(Clock::now() - start, 500ms);
}

struct ScriptedReadCase {
    const char* name;
    long result;  // what the blocking read returns
    ReadOutcome expected;
};

TEST(ThreadReader, ReportsWhatTheBlockingReadReturns) {
    auto pipe = makePipe();  // any valid descriptor; the scripted read ignores it
    ASSERT_TRUE(pipe);
    const ScriptedReadCase cases[] = {
        {"full", 512, {ReadStatus::Ok, 0, 512}},
        {"short", 100, {ReadStatus::Ok, 0, 100}},
        {"end of file", 0, {ReadStatus::Ok, 0, 0}},
        {"bad sector", -EIO, {ReadStatus::Failed, EIO, 0}},
        {"device gone", -ENODEV, {ReadStatus::Failed, ENODEV, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint64_t seenOffset = 0;
        ThreadReader reader(pipe->readEnd.get(),
                            [&](int, std::span<std::byte> buf, std::uint64_t offset) {
                                seenOffset = offset;
                                if (c.result > 0) std::memset(buf.data(), 0xAB, c.result);
                                return c.result;
                            });
        std::array<std::byte, 512> buf{};
        const ReadOutcome out = readWithTimeout(reader, buf, 7 * 512, 1000ms);
        EXPECT_EQ(out.status, c.expected.status);
        EXPECT_EQ(out.error, c.expected.error);
        EXPECT_EQ(out.bytes, c.expected.bytes);
        EXPECT_EQ(seenOffset, 7u * 512);
        if (c.result > 0) {
            EXPECT_EQ(buf[c.result - 1], std::byte{0xAB});
        }
    }
}

TEST(ThreadReader, ReadFinishingWhileDrainingCountsAsSuccess) {
    auto pipe = makePipe();
    ASSERT_TRUE(pipe);
    ThreadReader reader(pipe->readEnd.get(), [](int, std::span<std::byte> buf, std::uint64_t) {
        std::this_thread::sleep_for(150ms);
        return static_cast<long>(buf.size());
    });
    std::array<std::byte, 64> buf{};

    const auto start = Clock::now();
    const ReadOutcome out = readWithTimeout(reader, buf, 0, 20ms);

    EXPECT_EQ(out.status, ReadStatus::Ok);
    EXPECT_EQ(out.bytes, buf.size());
    EXPECT_LT(Clock::now() - start, kCancelDrain);
    EXPECT_EQ(reader.abandonedWorkers(), 0u);
}

// The first read blocks until released; later reads answer at once.
struct Gate {
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    std::promise<void> left;
    std::shared_future<void> hasLeft = left.get_future().share();
    std::atomic<int> calls{0};

    static ThreadReader::ReadFn readFn(std::shared_ptr<Gate> gate) {
        return [gate](int, std::span<std::byte> buf, std::uint64_t) -> long {
            if (gate->calls++ == 0) {
                gate->opened.wait();
                gate->left.set_value();
            }
            return static_cast<long>(buf.size());
        };
    }
};

TEST(ThreadReader, StuckReadHangsAndTheNextReadGetsAFreshWorker) {
    auto pipe = makePipe();
    ASSERT_TRUE(pipe);
    auto gate = std::make_shared<Gate>();
    ThreadReader reader(pipe->readEnd.get(), Gate::readFn(gate));
    const auto stuckBuf = processLifetimeBuffer<32>();
    std::array<std::byte, 32> buf{};

    const ReadOutcome hung = readWithTimeout(reader, stuckBuf, 0, 20ms);
    EXPECT_EQ(hung.status, ReadStatus::Hung);
    EXPECT_EQ(hung.error, kErrTimedOut);

    const ReadOutcome next = readWithTimeout(reader, buf, 0, 1000ms);
    EXPECT_EQ(next.status, ReadStatus::Ok);
    EXPECT_EQ(next.bytes, buf.size());
    EXPECT_EQ(reader.abandonedWorkers(), 1u);

    gate->open.set_value();
    EXPECT_EQ(gate->hasLeft.wait_for(5s), std::future_status::ready);
}

TEST(ThreadReader, DestroyingWithAStuckReadReturnsAtOnce) {
    auto pipe = makePipe();
    ASSERT_TRUE(pipe);
    auto gate = std::make_shared<Gate>();
    auto reader = std::make_unique<ThreadReader>(pipe->readEnd.get(), Gate::readFn(gate));
    ASSERT_EQ(reader->submit(processLifetimeBuffer<32>(), 0), std::nullopt);
    ASSERT_EQ(reader->wait(10ms), std::nullopt);

    const auto start = Clock::now();
    reader.reset();
    EXPECT_LT(Clock::now() - start, 500ms);

    gate->open.set_value();
    EXPECT_EQ(gate->hasLeft.wait_for(5s), std::future_status::ready);
}

}  // namespace
}  // namespace brenvale::platform
