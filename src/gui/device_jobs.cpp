#include "gui/device_jobs.h"

namespace brenvale::gui {

DeviceJobs::DeviceJobs() : thread_([this] { loop(); }) {}

DeviceJobs::~DeviceJobs() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

void DeviceJobs::post(std::function<void()> job, bool urgent) {
    {
        std::lock_guard lock(mutex_);
        if (urgent) {
            jobs_.push_front(std::move(job));
        } else {
            jobs_.push_back(std::move(job));
        }
    }
    wake_.notify_one();
}

void DeviceJobs::clear() {
    std::lock_guard lock(mutex_);
    jobs_.clear();
}

std::size_t DeviceJobs::queued() const {
    std::lock_guard lock(mutex_);
    return jobs_.size();
}

void DeviceJobs::drain() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !running_; });
}

void DeviceJobs::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        if (stop_) return;
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        lock.unlock();
        try {
            job();
        } catch (...) {
            // A job reports its own failures; one that throws anyway must not end the thread.
        }
        lock.lock();
        running_ = false;
        if (jobs_.empty()) idle_.notify_all();
    }
}

}  // namespace brenvale::gui
