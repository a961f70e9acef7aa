#pragma once
// Checkpoint files: little-endian fields written into a buffer and read back with every count
// and length checked against the bytes left, and a save that replaces the old file whole or not
// at all. The partition checkpoint uses them, and so will the scan checkpoint.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "storage/le.h"

namespace brenvale::storage {

// Appends little-endian fields to a growing buffer. A string longer than its bound fails the
// writer for good (ok() turns false), so a caller checks once before saving.
class CheckpointWriter {
public:
    void u8(std::uint8_t v) { buf_.push_back(static_cast<std::byte>(v)); }
    void u16(std::uint16_t v);
    void u32(std::uint32_t v);
    void u64(std::uint64_t v);
    void i64(std::int64_t v) { u64(static_cast<std::uint64_t>(v)); }
    void bytes(std::span<const std::byte> b) { buf_.insert(buf_.end(), b.begin(), b.end()); }
    template <class T>
    void record(const T& rec) {
        bytes(recordBytes(rec));
    }
    // A 4-byte length, then the bytes; fails the writer when longer than `maxLength`.
    void string(const std::string& s, std::size_t maxLength = std::numeric_limits<std::uint32_t>::max());
    // A 4-byte count; fails the writer when it does not fit.
    void count(std::size_t n);

    void fail() { ok_ = false; }
    bool ok() const { return ok_; }
    const std::vector<std::byte>& data() const { return buf_; }
    // The bytes written, moved out (the writer is empty afterwards).
    std::vector<std::byte> take() { return std::move(buf_); }
    void reserve(std::size_t n) { buf_.reserve(n); }

private:
    std::size_t grow(std::size_t n);
    std::vector<std::byte> buf_;
    bool ok_ = true;
};

// Reads fields in order from a span. The first read past the end, length over its bound or count
// the bytes left cannot hold fails this reader and every later read (each returns zero or
// empty), so a parser checks ok() once per record instead of after every field.
class CheckpointReader {
public:
    explicit CheckpointReader(std::span<const std::byte> data) : data_(data) {}

    bool ok() const { return ok_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }
    void fail() { ok_ = false; }

    std::uint8_t u8() { return take(1) ? storage::u8(data_, pos_ - 1) : 0; }
    std::uint16_t u16() { return take(2) ? le16(data_, pos_ - 2) : 0; }
    std::uint32_t u32() { return take(4) ? le32(data_, pos_ - 4) : 0; }
    std::uint64_t u64() { return take(8) ? le64(data_, pos_ - 8) : 0; }
    std::int64_t i64() { return static_cast<std::int64_t>(u64()); }

    // `n` bytes as they are; empty (and failed) when fewer are left.
    std::span<const std::byte> bytes(std::size_t n);

    template <class T>
    T record() {
        T rec{};
        if (!take(sizeof(T))) return rec;
        if (auto r = readRecord<T>(data_, pos_ - sizeof(T))) rec = *r;
        return rec;
    }

    // A 4-byte length and that many bytes; fails when the length is over `maxLength` or past
    // the end.
    std::string string(std::size_t maxLength = std::numeric_limits<std::uint32_t>::max());

    // A 4-byte count of items that take at least `minItemBytes` each; fails, and returns 0,
    // when the bytes left cannot hold them, before anything is allocated for them.
    std::uint32_t count(std::size_t minItemBytes);

private:
    bool take(std::size_t n);

    std::span<const std::byte> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// Writes `data` to `path` + ".tmp", flushes it to the disk, renames it over `path` and flushes
// the folder, so `path` holds either its old bytes or all of the new ones. On failure the old
// file is untouched and the temporary file removed.
[[nodiscard]] bool saveFileAtomically(const std::string& path, std::span<const std::byte> data);

// The whole of a regular file; nullopt when it cannot be read or holds more than `maxBytes`.
std::optional<std::vector<std::byte>> readWholeFile(const std::string& path, std::size_t maxBytes);

}  // namespace brenvale::storage
