#pragma once
// A block device or image file opened read-only, read through the time-out rule.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/block_source.h"
#include "platform/linux/bounce_buffer.h"
#include "platform/linux/unique_fd.h"
#include "platform/platform.h"

namespace brenvale::platform {

struct LinuxSourceOptions {
    // Serve reads straight from the page cache when it already holds them.
    bool cachedFastPath = true;
    // Use io_uring when the kernel offers it; otherwise (or when false) a reader thread.
    bool allowIoUring = true;
    // Replaces the asynchronous reader (fault injection); receives the open descriptor.
    std::function<std::unique_ptr<AsyncRead>(int fd)> makeReader;
};

// Which way each read went, for diagnostics and tests.
struct LinuxReadCounters {
    std::uint64_t cachedWhole = 0;    // served entirely from the page cache
    std::uint64_t cachedPartial = 0;  // page cache gave a head, the rest went asynchronously
    std::uint64_t asyncReads = 0;     // asynchronous requests issued
};

enum class LinuxReaderKind { IoUring, Thread, Injected };

// Not thread-safe: one caller at a time, as the device layer uses it.
class LinuxBlockSource final : public BlockSource {
public:
    // Opens `path` for reading only. Directories, pipes and character devices are refused
    // (EISDIR, ENOTBLK) before they are opened, so opening never blocks on a pipe.
    static OpenResult open(const std::string& path, const LinuxSourceOptions& options = {});
    ~LinuxBlockSource() override;

    ReadOutcome readTimed(std::span<std::byte> dst, std::uint64_t offset,
                          Millis timeout) override;
    std::optional<std::uint64_t> sizeBytes() override;
    std::optional<DiskGeometry> geometry() override;
    std::optional<std::uint32_t> logicalSectorSize() override;
    bool isBlockDevice() const override { return isBlock_; }

    LinuxReaderKind readerKind() const { return readerKind_; }
    const LinuxReadCounters& counters() const { return counters_; }

private:
    LinuxBlockSource(linux_os::UniqueFd fd, bool isBlock, const LinuxSourceOptions& options);
    // Page-cache attempt: bytes copied, or nullopt when the cache cannot help.
    std::optional<std::size_t> readCached(std::span<std::byte> buf, std::uint64_t offset);
    bool atEnd(std::uint64_t offset);

    linux_os::UniqueFd fd_;
    bool isBlock_ = false;
    bool fastPath_ = true;
    std::uint64_t knownSize_ = 0;
    std::unique_ptr<AsyncRead> reader_;
    LinuxReaderKind readerKind_ = LinuxReaderKind::Thread;
    linux_os::BounceBuffer bounce_;
    LinuxReadCounters counters_;
};

}  // namespace brenvale::platform
