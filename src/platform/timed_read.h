#pragma once
// One read with a time-out, built on a minimal asynchronous-read primitive so the same rule
// serves the kernel backend and the scripted test backend.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace brenvale::platform {

using Millis = std::chrono::milliseconds;

enum class ReadStatus {
    Ok,        // completed; `bytes` were transferred (may be short at the end of a file)
    Failed,    // completed with `error` (an errno value)
    TimedOut,  // did not complete in time and was cancelled; `error` is kErrTimedOut
    Hung,      // did not complete and the cancellation did not drain either
};

struct ReadOutcome {
    ReadStatus status = ReadStatus::Failed;
    int error = 0;
    std::size_t bytes = 0;
};

// How long a cancelled read may take to drain before it counts as hung.
inline constexpr Millis kCancelDrain{2000};
// A time-out of 0 means this one.
inline constexpr Millis kDefaultTimeout{1000};

// One outstanding read at a time.
class AsyncRead {
public:
    struct Done {
        int error = 0;  // 0: success
        std::size_t bytes = 0;
    };
    virtual ~AsyncRead() = default;
    // Starts a read into `buf`. Returns the completion when it finished (or failed) at once,
    // nullopt while it is pending.
    virtual std::optional<Done> submit(std::span<std::byte> buf, std::uint64_t offset) = 0;
    // Waits up to `timeout` for the pending read; nullopt if it is still pending.
    virtual std::optional<Done> wait(Millis timeout) = 0;
    // Asks the pending read to stop; its completion still has to be waited for.
    virtual void cancel() = 0;
};

// Issues the read, waits `timeout` (0 = kDefaultTimeout), then cancels and waits kCancelDrain
// for the cancellation. A read that completes successfully while draining counts as a success.
ReadOutcome readWithTimeout(AsyncRead& io, std::span<std::byte> buf, std::uint64_t offset,
                            Millis timeout);

}  // namespace brenvale::platform
