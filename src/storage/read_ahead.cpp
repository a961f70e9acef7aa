#include "storage/read_ahead.h"

#include "storage/device.h"

namespace brenvale::storage {

ReadAhead::ReadAhead(TDevice& device) : device_(device), thread_([this] { run(); }) {}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void ReadAhead::Start(std::uint64_t lba, std::uint32_t sectors) {
    buffers_[next_].reserve(std::size_t{sectors} * device_.BytesPerSector());
    {
        std::lock_guard lock(mutex_);
        lba_ = lba;
        sectors_ = sectors;
        target_ = next_;
        requested_ = true;
        done_ = false;
        error_ = nullptr;
    }
    next_ ^= 1;
    cv_.notify_all();
}

std::span<const std::byte> ReadAhead::Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return done_; });
    done_ = false;
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    return {buffers_[target_].data(), bytes_};
}

void ReadAhead::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return requested_ || quit_; });
        if (quit_) return;
        requested_ = false;
        const std::uint64_t lba = lba_;
        const std::uint32_t sectors = sectors_;
        std::byte* dest = buffers_[target_].data();
        lock.unlock();
        std::uint32_t bytes = 0;
        std::exception_ptr error;
        try {
            bytes = device_.Read(lba, sectors, dest);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        bytes_ = bytes;
        error_ = error;
        done_ = true;
        cv_.notify_all();
    }
}

}  // namespace brenvale::storage
