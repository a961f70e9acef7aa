#pragma once
// Asynchronous reads on a worker thread, for kernels without a usable io_uring. A blocking
// pread cannot be cancelled: a read that outlives its time-out leaves its worker behind
// (detached) and the next read gets a fresh one.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "platform/timed_read.h"

namespace brenvale::platform::linux_os {

class ThreadReader final : public AsyncRead {
public:
    // One blocking positioned read: bytes transferred, or -errno.
    using ReadFn = std::function<long(int fd, std::span<std::byte> buf, std::uint64_t offset)>;

    // `read` defaults to pread on `fd`; `fd` is duplicated per worker, so a worker left behind
    // never reads a descriptor number the caller has closed and reused.
    explicit ThreadReader(int fd, ReadFn read = {});
    ~ThreadReader() override;

    std::optional<Done> submit(std::span<std::byte> buf, std::uint64_t offset) override;
    std::optional<Done> wait(Millis timeout) override;
    // A no-op: nothing interrupts a pread stuck in the kernel. The drain wait that follows
    // only gives it a last chance to finish.
    void cancel() override;

    // Workers given up on because their read never returned.
    std::size_t abandonedWorkers() const { return abandoned_; }

private:
    struct Worker;
    int startWorker();  // 0, or the errno that prevented it
    void abandonWorker();

    int fd_;
    ReadFn read_;
    std::shared_ptr<Worker> worker_;
    std::thread thread_;
    bool busy_ = false;  // a read was handed to the worker and not collected yet
    std::size_t abandoned_ = 0;
};

}  // namespace brenvale::platform::linux_os
