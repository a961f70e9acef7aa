#pragma once
// Reads the next batch while the current one is being parsed: one reader thread and two
// page-aligned buffers. Batches are handed out in the order they were asked for, so a pass
// over a disk gives the same results as a plain loop of reads; only the waiting overlaps.

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <span>
#include <thread>
#include <utility>

#include "storage/aligned_buffer.h"

namespace brenvale::storage {

class TDevice;

class ReadAhead {
public:
    // The caller may read the device while a batch is being read (TDevice reads take turns).
    explicit ReadAhead(TDevice& device);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts reading `sectors` sectors at `lba` into the buffer that the last Wait did not
    // return. At most one read is outstanding: Start, Wait, Start, Wait...
    void Start(std::uint64_t lba, std::uint32_t sectors);
    // The bytes of the read started last (as many as TDevice::Read delivered). They stay valid
    // until the Start after next. An exception of the read is thrown here.
    std::span<const std::byte> Wait();

private:
    void run();

    TDevice& device_;
    AlignedBuffer buffers_[2];
    int next_ = 0;  // the buffer the next Start fills
    std::mutex mutex_;
    std::condition_variable cv_;
    bool requested_ = false;
    bool done_ = false;
    bool quit_ = false;
    std::uint64_t lba_ = 0;
    std::uint32_t sectors_ = 0;
    int target_ = 0;
    std::uint32_t bytes_ = 0;
    std::exception_ptr error_;
    std::thread thread_;
};

}  // namespace brenvale::storage
