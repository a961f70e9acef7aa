#include "platform/linux/thread_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include "platform/linux/unique_fd.h"

namespace brenvale::platform::linux_os {

struct ThreadReader::Worker {
    std::mutex mutex;
    std::condition_variable changed;
    UniqueFd fd;
    ReadFn read;
    // Guarded by `mutex`.
    bool hasJob = false;
    bool finished = false;
    bool quit = false;
    std::span<std::byte> buf;
    std::uint64_t offset = 0;
    Done result;

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return hasJob || quit; });
            if (quit) return;
            hasJob = false;
            const auto target = buf;
            const auto at = offset;
            lock.unlock();
            const long n = read(fd.get(), target, at);
            lock.lock();
            result = n < 0 ? Done{static_cast<int>(-n), 0} : Done{0, static_cast<std::size_t>(n)};
            finished = true;
            changed.notify_all();
        }
    }
};

namespace {

long preadAll(int fd, std::span<std::byte> buf, std::uint64_t offset) {
    for (;;) {
        const ssize_t n = ::pread(fd, buf.data(), buf.size(), static_cast<off_t>(offset));
        if (n >= 0) return static_cast<long>(n);
        if (errno != EINTR) return -errno;
    }
}

}  // namespace

ThreadReader::ThreadReader(int fd, ReadFn read) : fd_(fd), read_(std::move(read)) {
    if (!read_) read_ = preadAll;
}

ThreadReader::~ThreadReader() {
    if (!worker_) return;
    bool stuck = false;
    {
        std::lock_guard lock(worker_->mutex);
        stuck = busy_ && !worker_->finished;
    }
    if (stuck) {
        abandonWorker();
        return;
    }
    {
        std::lock_guard lock(worker_->mutex);
        worker_->quit = true;
    }
    worker_->changed.notify_all();
    thread_.join();
}

int ThreadReader::startWorker() {
    auto worker = std::make_shared<Worker>();
    worker->fd = UniqueFd(::fcntl(fd_, F_DUPFD_CLOEXEC, 0));
    if (!worker->fd.valid()) return errno;
    worker->read = read_;
    try {
        thread_ = std::thread([worker] { worker->run(); });
    } catch (const std::system_error& e) {
        return e.code().value() != 0 ? e.code().value() : EAGAIN;
    }
    worker_ = std::move(worker);
    return 0;
}

void ThreadReader::abandonWorker() {
    {
        std::lock_guard lock(worker_->mutex);
        worker_->quit = true;  // it leaves once its read returns, if ever
    }
    worker_->changed.notify_all();
    thread_.detach();
    worker_.reset();
    busy_ = false;
    ++abandoned_;
}

std::optional<AsyncRead::Done> ThreadReader::submit(std::span<std::byte> buf,
                                                    std::uint64_t offset) {
    if (busy_) {
        std::unique_lock lock(worker_->mutex);
        const bool finished = worker_->finished;
        lock.unlock();
        if (finished) {
            busy_ = false;  // the late read did return; the worker is free again
        } else {
            abandonWorker();
        }
    }
    if (!worker_) {
        if (const int error = startWorker(); error != 0) return Done{error, 0};
    }
    {
        std::lock_guard lock(worker_->mutex);
        worker_->buf = buf;
        worker_->offset = offset;
        worker_->finished = false;
        worker_->hasJob = true;
    }
    worker_->changed.notify_all();
    busy_ = true;
    return std::nullopt;
}

std::optional<AsyncRead::Done> ThreadReader::wait(Millis timeout) {
    if (!busy_) return Done{EINVAL, 0};
    std::unique_lock lock(worker_->mutex);
    if (!worker_->changed.wait_for(lock, timeout, [&] { return worker_->finished; })) {
        return std::nullopt;
    }
    busy_ = false;
    return worker_->result;
}

void ThreadReader::cancel() {}

}  // namespace brenvale::platform::linux_os
