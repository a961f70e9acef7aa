#pragma once
// The size text shown by the file list, the raw-recovery window, statistics and properties.

#include <cstdint>
#include <string>

namespace brenvale::storage {

// -1 gives "by setting"; otherwise the size in GB, MB, KB or "  B" with up to two decimals,
// rounded half to even: 1536 gives "1.5 KB", 1000 gives "1000  B".
std::string FormatSize(std::int64_t Size);

}  // namespace brenvale::storage
