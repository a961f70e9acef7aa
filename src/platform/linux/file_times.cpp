#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace brenvale::platform {

bool SetFileModificationTime(const std::string& path, std::int64_t modifiedUnix) {
    timespec times[2]{};
    times[0].tv_nsec = UTIME_NOW;
    times[1].tv_sec = static_cast<time_t>(modifiedUnix);
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace brenvale::platform
