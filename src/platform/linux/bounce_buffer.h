#pragma once
// The page-aligned buffer the kernel reads into. Callers' buffers are never handed to the
// kernel: a read that hangs may still land long after its caller gave up, so only memory we can
// keep alive for the rest of the process may be its target.

#include <cstddef>
#include <span>

namespace brenvale::platform::linux_os {

class BounceBuffer {
public:
    BounceBuffer() = default;
    BounceBuffer(const BounceBuffer&) = delete;
    BounceBuffer& operator=(const BounceBuffer&) = delete;
    ~BounceBuffer();

    // At least `size` bytes, reusing the current allocation when it is big enough. Empty span
    // when the allocation fails.
    std::span<std::byte> get(std::size_t size);

    // Gives the current memory up for good (a hung read may still write it) and starts afresh.
    void abandon();

    std::size_t capacity() const { return size_; }

private:
    std::byte* data_ = nullptr;
    std::size_t size_ = 0;
};

// How many buffers were given up so far in this process.
std::size_t abandonedBounceBuffers();

}  // namespace brenvale::platform::linux_os
