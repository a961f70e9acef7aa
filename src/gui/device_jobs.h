#pragma once
// The thread of the "Raw Recovery" window that reads the scanned device: thumbnails, previews
// and recovery, one at a time and in order, so two never read the device at once and the
// window never waits for a read or a decoder. Urgent jobs (a preview the user waits for) go
// before the queued thumbnails.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace brenvale::gui {

class DeviceJobs {
public:
    DeviceJobs();
    // Waits for the running job; the queued ones are dropped.
    ~DeviceJobs();
    DeviceJobs(const DeviceJobs&) = delete;
    DeviceJobs& operator=(const DeviceJobs&) = delete;

    void post(std::function<void()> job, bool urgent = false);
    // Drops the jobs not started yet.
    void clear();
    std::size_t queued() const;
    // Blocks until every job posted so far has run (tests, and closing).
    void drain();

private:
    void loop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    bool running_ = false;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace brenvale::gui
