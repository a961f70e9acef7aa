#pragma once
// Owning file descriptor: closed exactly once, never leaked on an early return.

#include <cstddef>
#include <optional>
#include <span>
#include <utility>

namespace brenvale::platform::linux_os {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// A pipe (read end, write end), both close-on-exec: a source whose reads stay pending until
// data is written, which is how the asynchronous readers' time-out paths are exercised.
struct Pipe {
    UniqueFd readEnd;
    UniqueFd writeEnd;
};
std::optional<Pipe> makePipe();

// Writes all of `data`; false on error.
bool writeAll(int fd, std::span<const std::byte> data);

}  // namespace brenvale::platform::linux_os
