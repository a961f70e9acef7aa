#include "platform/linux/linux_block_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/linux/thread_reader.h"
#include "platform/linux/uring_reader.h"

namespace brenvale::platform {

using linux_os::UniqueFd;

namespace {

// Larger ranges are read in pieces, each with its own time-out: a slow but healthy disk moves
// 8 MiB well within a second, not a quarter of a gigabyte.
constexpr std::size_t kMaxRequest = 8u << 20;

// When the kernel has no geometry for a device (loop, NVMe), the usual translation.
constexpr std::uint32_t kSynthHeads = 255;
constexpr std::uint32_t kSynthSectors = 63;

constexpr std::uint32_t kMediaRemovable = 11;
constexpr std::uint32_t kMediaFixed = 12;

std::optional<std::uint64_t> querySize(int fd, bool isBlock) {
    if (isBlock) {
        std::uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) return std::nullopt;
        return bytes;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

// /sys/dev/block/M:m/removable, or the parent disk's for a partition.
bool sysfsRemovable(dev_t rdev) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path dir = fs::canonical("/sys/dev/block/" + std::to_string(major(rdev)) + ":" +
                                           std::to_string(minor(rdev)),
                                       ec);
    if (ec) return false;
    const fs::path disk = fs::exists(dir / "partition", ec) ? dir.parent_path() : dir;
    std::ifstream in(disk / "removable");
    int flag = 0;
    return (in >> flag) && flag == 1;
}

}  // namespace

OpenResult LinuxBlockSource::open(const std::string& path, const LinuxSourceOptions& options) {
    // Checked before opening: opening a FIFO for reading would wait for a writer.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {nullptr, errno};
    if (S_ISDIR(st.st_mode)) return {nullptr, EISDIR};
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return {nullptr, ENOTBLK};

    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return {nullptr, errno};
    if (::fstat(fd.get(), &st) != 0) return {nullptr, errno};
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return {nullptr, ENOTBLK};

    return {std::unique_ptr<BlockSource>(
                new LinuxBlockSource(std::move(fd), S_ISBLK(st.st_mode), options)),
            0};
}

LinuxBlockSource::LinuxBlockSource(UniqueFd fd, bool isBlock, const LinuxSourceOptions& options)
    : fd_(std::move(fd)), isBlock_(isBlock), fastPath_(options.cachedFastPath) {
    knownSize_ = querySize(fd_.get(), isBlock_).value_or(0);
    if (options.makeReader) {
        reader_ = options.makeReader(fd_.get());
        readerKind_ = LinuxReaderKind::Injected;
    } else if (options.allowIoUring) {
        if (auto uring = linux_os::UringReader::create(fd_.get())) {
            reader_ = std::move(uring);
            readerKind_ = LinuxReaderKind::IoUring;
        }
    }
    if (!reader_) {
        reader_ = std::make_unique<linux_os::ThreadReader>(fd_.get());
        readerKind_ = LinuxReaderKind::Thread;
    }
}

LinuxBlockSource::~LinuxBlockSource() {
    // The reader goes first: it decides whether an unfinished request forces its ring to be
    // kept. Any buffer such a request targets was already given up when it hung.
    reader_.reset();
}

bool LinuxBlockSource::atEnd(std::uint64_t offset) {
    if (offset >= knownSize_) {
        // The size may have changed since the last look (an image still being written).
        knownSize_ = querySize(fd_.get(), isBlock_).value_or(knownSize_);
    }
    return offset >= knownSize_;
}

std::optional<std::size_t> LinuxBlockSource::readCached(std::span<std::byte> buf,
                                                        std::uint64_t offset) {
    iovec iov{buf.data(), buf.size()};
    for (;;) {
        const ssize_t n = ::preadv2(fd_.get(), &iov, 1, static_cast<off_t>(offset), RWF_NOWAIT);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        // Not supported by this file system or kernel: stop asking.
        if (errno == EOPNOTSUPP || errno == EINVAL || errno == ENOSYS) fastPath_ = false;
        // Anything else (EAGAIN above all) leaves the read to the asynchronous path, which
        // also reports real errors with its time-out rule.
        return std::nullopt;
    }
}

ReadOutcome LinuxBlockSource::readTimed(std::span<std::byte> dst, std::uint64_t offset,
                                        Millis timeout) {
    if (dst.empty()) return {ReadStatus::Ok, 0, 0};

    std::size_t done = 0;
    if (fastPath_) {
        // RWF_NOWAIT never waits for the device: the first page not in memory ends it (the
        // read-ahead it may start for that page completes, or not, on its own). It cannot hang,
        // so it may write into dst directly; this is what keeps page-cached reads at the speed
        // of a plain read().
        if (auto n = readCached(dst, offset)) {
            done = *n;
            if (done == dst.size() || atEnd(offset + done)) {
                ++counters_.cachedWhole;
                return {ReadStatus::Ok, 0, done};
            }
            if (done > 0) ++counters_.cachedPartial;
        }
    }

    // The rest goes through the bounce buffer and reaches dst only once all of it succeeded:
    // a failing request leaves dst with nothing but the cached head, if any.
    const std::size_t rest = dst.size() - done;
    const std::span<std::byte> bounce = bounce_.get(rest);
    if (bounce.size() != rest) return {ReadStatus::Failed, ENOMEM, 0};
    std::size_t got = 0;
    while (got < rest) {
        const std::size_t want = std::min(rest - got, kMaxRequest);
        ++counters_.asyncReads;
        const ReadOutcome part =
            readWithTimeout(*reader_, bounce.subspan(got, want), offset + done + got, timeout);
        if (part.status == ReadStatus::Hung) bounce_.abandon();  // the kernel may still write it
        if (part.status != ReadStatus::Ok) return part;
        got += std::min(part.bytes, want);
        // A short transfer is the end of the data unless the source says there is more (a
        // failing device may return what it could before the error shows on the next read).
        if (part.bytes == 0 || (part.bytes < want && atEnd(offset + done + got))) break;
    }
    std::memcpy(dst.data() + done, bounce.data(), got);
    return {ReadStatus::Ok, 0, done + got};
}

std::optional<std::uint64_t> LinuxBlockSource::sizeBytes() {
    auto size = querySize(fd_.get(), isBlock_);
    if (size) knownSize_ = *size;
    return size;
}

std::optional<std::uint32_t> LinuxBlockSource::logicalSectorSize() {
    if (!isBlock_) return std::nullopt;
    int sector = 0;
    if (::ioctl(fd_.get(), BLKSSZGET, &sector) != 0 || sector <= 0) return std::nullopt;
    return static_cast<std::uint32_t>(sector);
}

std::optional<DiskGeometry> LinuxBlockSource::geometry() {
    if (!isBlock_) return std::nullopt;
    const auto sector = logicalSectorSize();
    const auto size = sizeBytes();
    if (!sector || !size) return std::nullopt;

    DiskGeometry geo;
    geo.bytesPerSector = *sector;
    hd_geometry hd{};
    if (::ioctl(fd_.get(), HDIO_GETGEO, &hd) == 0 && hd.heads != 0 && hd.sectors != 0) {
        geo.tracksPerCylinder = hd.heads;
        geo.sectorsPerTrack = hd.sectors;
    } else {
        geo.tracksPerCylinder = kSynthHeads;
        geo.sectorsPerTrack = kSynthSectors;
    }
    // The kernel's cylinder field is 16 bits and wraps on any modern disk, so the count is
    // always derived from the size, rounded down as a whole-cylinder geometry must be.
    const std::uint64_t cylinderBytes = std::uint64_t{geo.tracksPerCylinder} *
                                        geo.sectorsPerTrack * geo.bytesPerSector;
    geo.cylinders = *size / cylinderBytes;

    struct stat st {};
    const bool removable = ::fstat(fd_.get(), &st) == 0 && sysfsRemovable(st.st_rdev);
    geo.mediaType = removable ? kMediaRemovable : kMediaFixed;
    return geo;
}

}  // namespace brenvale::platform
