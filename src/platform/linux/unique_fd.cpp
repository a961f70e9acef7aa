#include "platform/linux/unique_fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace brenvale::platform::linux_os {

void UniqueFd::reset(int fd) {
    // close() is not retried on EINTR: on Linux the descriptor is released regardless.
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

std::optional<Pipe> makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

bool writeAll(int fd, std::span<const std::byte> data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data = data.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace brenvale::platform::linux_os
