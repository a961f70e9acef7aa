#pragma once
// Setting the times of a file the program wrote.

#include <cstdint>
#include <string>

namespace brenvale::platform {

// Sets the modification time of `path` (seconds since the epoch, UTC) and its access time to
// now. False when the system refused; the file itself is not touched otherwise.
bool SetFileModificationTime(const std::string& path, std::int64_t modifiedUnix);

}  // namespace brenvale::platform
