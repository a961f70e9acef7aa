#include "platform/files.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/linux/unique_fd.h"

namespace brenvale::platform {
namespace {

class LinuxOutputFile final : public OutputFile {
public:
    explicit LinuxOutputFile(linux_os::UniqueFd fd) : fd_(std::move(fd)) {}
    bool write(std::span<const std::byte> data) override { return fd_.valid() && linux_os::writeAll(fd_.get(), data); }
    bool sync() override { return fd_.valid() && ::fsync(fd_.get()) == 0; }
    bool close() override { return fd_.valid() && ::close(fd_.release()) == 0; }

private:
    linux_os::UniqueFd fd_;
};

}  // namespace

std::unique_ptr<OutputFile> createOutputFile(const std::string& path) {
    // The mode a stdio "wb" file gets: 0666 less the umask.
    linux_os::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.valid()) return nullptr;
    return std::make_unique<LinuxOutputFile>(std::move(fd));
}

bool writeFileDurably(const std::string& path, std::span<const std::byte> data) {
    auto file = createOutputFile(path);
    return file && file->write(data) && file->sync() && file->close();
}

bool syncFolder(const std::string& path) {
    linux_os::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.valid() && ::fsync(fd.get()) == 0;
}

}  // namespace brenvale::platform
