#include "platform/linux/bounce_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <mutex>
#include <vector>

namespace brenvale::platform::linux_os {

namespace {

// Buffers a hung read may still write. Never freed; the list itself is never destroyed so that
// nothing is released while the process runs its exit handlers.
struct Graveyard {
    std::mutex mutex;
    std::vector<std::span<std::byte>> buffers;
};

Graveyard& graveyard() {
    static Graveyard* const yard = new Graveyard;
    return *yard;
}

std::size_t pageSize() {
    static const std::size_t size = [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        return page > 0 ? static_cast<std::size_t>(page) : std::size_t{4096};
    }();
    return size;
}

}  // namespace

BounceBuffer::~BounceBuffer() {
    if (data_ != nullptr) ::munmap(data_, size_);
}

std::span<std::byte> BounceBuffer::get(std::size_t size) {
    if (size <= size_) return {data_, size};
    // Grow in 64 KiB steps so a run of slightly larger reads does not remap every time.
    constexpr std::size_t kStep = 64 * 1024;
    std::size_t want = (size + kStep - 1) / kStep * kStep;
    want = (want + pageSize() - 1) / pageSize() * pageSize();
    // Anonymous mappings are page-aligned and go straight back to the kernel when released.
    void* mem = ::mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) return {};
    if (data_ != nullptr) ::munmap(data_, size_);
    data_ = static_cast<std::byte*>(mem);
    size_ = want;
    return {data_, size};
}

void BounceBuffer::abandon() {
    if (data_ == nullptr) return;
    Graveyard& yard = graveyard();
    std::lock_guard lock(yard.mutex);
    yard.buffers.emplace_back(data_, size_);
    data_ = nullptr;
    size_ = 0;
}

std::size_t abandonedBounceBuffers() {
    Graveyard& yard = graveyard();
    std::lock_guard lock(yard.mutex);
    return yard.buffers.size();
}

}  // namespace brenvale::platform::linux_os
