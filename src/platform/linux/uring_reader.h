#pragma once
// Asynchronous reads through io_uring: the kernel backend of readWithTimeout.

#include <cstddef>
#include <memory>

#include "platform/timed_read.h"

namespace brenvale::platform::linux_os {

class UringReader final : public AsyncRead {
public:
    // Null when the kernel offers no usable io_uring (too old, disabled, or out of locked
    // memory); the caller then falls back to a reader thread.
    static std::unique_ptr<UringReader> create(int fd);
    ~UringReader() override;

    // A new read while the previous one never completed abandons that one: its completion, if it
    // ever comes, is recognised by its tag and dropped.
    std::optional<Done> submit(std::span<std::byte> buf, std::uint64_t offset) override;
    std::optional<Done> wait(Millis timeout) override;
    void cancel() override;

    // Reads submitted whose completion has not been seen yet (the current one and abandoned ones).
    std::size_t readsInFlight() const;

private:
    struct State;
    explicit UringReader(std::unique_ptr<State> state);
    std::optional<Done> reapReady();

    std::unique_ptr<State> state_;
};

}  // namespace brenvale::platform::linux_os
