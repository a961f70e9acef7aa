#pragma once
// Bounded random access to the bytes of one thing (a file on a volume, a buffer): its size, and
// reads at any offset that never go past it. For parsers that look past one batch and for
// previews that seek.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "storage/aligned_buffer.h"

namespace brenvale::storage {

class TDevice;

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Copies the bytes from `offset` into `out`, stopping at size(). Returns how many were
    // delivered from the start of `out`: fewer than asked at the end, none at or past it, and
    // fewer when the device fails.
    virtual std::size_t read(std::uint64_t offset, std::span<std::byte> out) = 0;
};

// The bytes of a span that outlives the source.
class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<const std::byte> data) : data_(data) {}
    std::uint64_t size() const override { return data_.size(); }
    std::size_t read(std::uint64_t offset, std::span<std::byte> out) override;

private:
    std::span<const std::byte> data_;
};

// A stretch of a file on its device, in file order.
struct ByteExtent {
    std::int64_t offset = -1;  // byte offset on the device; -1 for a sparse stretch that reads as zeros
    std::uint64_t length = 0;
};

// A file made of extents on a device (sectors read through TDevice::Read). The extents are
// checked and laid out once; reads then find theirs by a binary search. One reader at a time.
class ExtentByteSource final : public ByteSource {
public:
    // Null when an extent lies outside the device, has a negative offset other than -1, or the
    // lengths add up past 2^64 - 1. Empty extents are dropped.
    static std::unique_ptr<ExtentByteSource> create(TDevice& device, std::span<const ByteExtent> extents);

    std::uint64_t size() const override { return size_; }
    std::size_t read(std::uint64_t offset, std::span<std::byte> out) override;

private:
    ExtentByteSource(TDevice& device, std::vector<ByteExtent> extents, std::vector<std::uint64_t> starts,
                     std::uint64_t size);
    // Device bytes [at, at + out.size()); false when the device delivers less.
    bool readDevice(std::uint64_t at, std::span<std::byte> out);

    TDevice& device_;
    std::vector<ByteExtent> extents_;
    std::vector<std::uint64_t> starts_;  // file offset of each extent
    std::uint64_t size_ = 0;
    AlignedBuffer bounce_;
};

}  // namespace brenvale::storage
