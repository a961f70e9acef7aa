#include "platform/timed_read.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace brenvale::platform {
namespace {

using namespace std::chrono_literals;
using Done = AsyncRead::Done;

// Plays back a fixed script: what submit reports, then what each wait reports in turn.
class ScriptedRead final : public AsyncRead {
public:
    ScriptedRead(std::optional<Done> atSubmit, std::vector<std::optional<Done>> waits)
        : atSubmit_(atSubmit), waits_(std::move(waits)) {}

    std::optional<Done> submit(std::span<std::byte> buf, std::uint64_t offset) override {
        ++submits;
        submittedData = buf.data();
        submittedSize = buf.size();
        submittedOffset = offset;
        return atSubmit_;
    }
    std::optional<Done> wait(Millis timeout) override {
        waitedFor.push_back(timeout);
        if (next_ >= waits_.size()) {
            ADD_FAILURE() << "wait called more often than scripted";
            return std::nullopt;
        }
        return waits_[next_++];
    }
    void cancel() override {
        ++cancels;
        cancelledAfterWaits = waitedFor.size();
    }

    int submits = 0;
    int cancels = 0;
    std::size_t cancelledAfterWaits = 0;
    const std::byte* submittedData = nullptr;
    std::size_t submittedSize = 0;
    std::uint64_t submittedOffset = 0;
    std::vector<Millis> waitedFor;

private:
    std::optional<Done> atSubmit_;
    std::vector<std::optional<Done>> waits_;
    std::size_t next_ = 0;
};

struct TimedReadCase {
    std::string name;
    std::optional<Done> atSubmit;
    std::vector<std::optional<Done>> waits;
    Millis timeout;
    ReadOutcome expected;
    std::vector<Millis> expectedWaits;
    bool expectCancel;
};

void PrintTo(const TimedReadCase& c, std::ostream* os) { *os << c.name; }

class ReadWithTimeoutTest : public testing::TestWithParam<TimedReadCase> {};

TEST_P(ReadWithTimeoutTest, FollowsTheTimeOutRule) {
    const TimedReadCase& c = GetParam();
    ScriptedRead io(c.atSubmit, c.waits);
    std::vector<std::byte> buf(4096);

    const ReadOutcome out = readWithTimeout(io, buf, 123456, c.timeout);

    EXPECT_EQ(out.status, c.expected.status);
    EXPECT_EQ(out.error, c.expected.error);
    EXPECT_EQ(out.bytes, c.expected.bytes);
    EXPECT_EQ(io.submits, 1);
    EXPECT_EQ(io.submittedData, buf.data());
    EXPECT_EQ(io.submittedSize, buf.size());
    EXPECT_EQ(io.submittedOffset, 123456u);
    EXPECT_EQ(io.waitedFor, c.expectedWaits);
    EXPECT_EQ(io.cancels, c.expectCancel ? 1 : 0);
    // The cancel comes between the first wait and the drain wait, never before waiting.
    if (c.expectCancel) {
        EXPECT_EQ(io.cancelledAfterWaits, 1u);
    }
}

const Done kOk512{0, 512};
const Done kShort100{0, 100};
const Done kEio{EIO, 0};

INSTANTIATE_TEST_SUITE_P(
    Script, ReadWithTimeoutTest,
    testing::Values(
        TimedReadCase{"CompletesAtOnce", kOk512, {}, 250ms, {ReadStatus::Ok, 0, 512}, {}, false},
        TimedReadCase{"FailsAtOnce", kEio, {}, 250ms, {ReadStatus::Failed, EIO, 0}, {}, false},
        TimedReadCase{"CompletesWithinWait", std::nullopt, {Done{0, 4096}}, 250ms,
                      {ReadStatus::Ok, 0, 4096}, {250ms}, false},
        TimedReadCase{"FailsWithinWait", std::nullopt, {Done{ENXIO, 0}}, 250ms,
                      {ReadStatus::Failed, ENXIO, 0}, {250ms}, false},
        TimedReadCase{"ZeroTimeoutMeansDefault", std::nullopt, {kOk512}, 0ms,
                      {ReadStatus::Ok, 0, 512}, {kDefaultTimeout}, false},
        TimedReadCase{"CompletesWhileDraining", std::nullopt, {std::nullopt, kShort100}, 300ms,
                      {ReadStatus::Ok, 0, 100}, {300ms, kCancelDrain}, true},
        TimedReadCase{"CancelledWhileDraining", std::nullopt, {std::nullopt, Done{ECANCELED, 0}},
                      300ms, {ReadStatus::TimedOut, kErrTimedOut, 0}, {300ms, kCancelDrain},
                      true},
        TimedReadCase{"FailsWhileDraining", std::nullopt, {std::nullopt, kEio}, 0ms,
                      {ReadStatus::TimedOut, kErrTimedOut, 0}, {kDefaultTimeout, kCancelDrain},
                      true},
        TimedReadCase{"NeverDrains", std::nullopt, {std::nullopt, std::nullopt}, 300ms,
                      {ReadStatus::Hung, kErrTimedOut, 0}, {300ms, kCancelDrain}, true}),
    [](const testing::TestParamInfo<TimedReadCase>& p) { return p.param.name; });

TEST(DeviceErrors, OfflineCodesAreExactlyTheDeviceGoneOnes) {
    struct Case {
        int code;
        bool offline;
    };
    const Case cases[] = {
        {ENODEV, true},  {ENXIO, true},   {ENOMEDIUM, true},     {EBADF, true},
        {ENOTCONN, true}, {ESHUTDOWN, true}, {EIO, false},       {EILSEQ, false},
        {ETIMEDOUT, false}, {ECANCELED, false}, {kErrTimedOut, false}, {0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isOfflineError(c.code), c.offline) << "code " << c.code;
    }
}

TEST(DeviceErrors, TextsComeFromTheSystemExceptOurTimeOut) {
    EXPECT_EQ(errorText(kErrTimedOut), "Timed out");
    EXPECT_EQ(errorText(EIO), "Input/output error");
    EXPECT_EQ(errorText(ENOENT), "No such file or directory");
    EXPECT_EQ(errorText(ENOMEDIUM), "No medium found");
    // Unknown codes still get a text rather than an empty string.
    EXPECT_FALSE(errorText(99999).empty());
}

}  // namespace
}  // namespace brenvale::platform
