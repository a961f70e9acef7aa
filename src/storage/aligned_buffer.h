#pragma once
// A page-aligned byte buffer that grows on demand and keeps its memory between uses: batch
// buffers are reused across reads, and the kernel copies into page-aligned memory fastest.

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>

namespace brenvale::storage {

class AlignedBuffer {
public:
    static constexpr std::size_t kAlignment = 4096;

    // Makes room for at least `size` bytes; existing contents are kept. Throws std::bad_alloc.
    void reserve(std::size_t size) {
        if (size <= size_) return;
        const std::size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
        Ptr fresh(static_cast<std::byte*>(std::aligned_alloc(kAlignment, rounded)));
        if (!fresh) throw std::bad_alloc();
        if (size_) std::memcpy(fresh.get(), data_.get(), size_);
        data_ = std::move(fresh);
        size_ = rounded;
    }
    std::byte* data() { return data_.get(); }
    const std::byte* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    std::span<std::byte> span() { return {data_.get(), size_}; }

private:
    struct Free {
        void operator()(std::byte* p) const { std::free(p); }
    };
    using Ptr = std::unique_ptr<std::byte, Free>;
    Ptr data_;
    std::size_t size_ = 0;
};

}  // namespace brenvale::storage
