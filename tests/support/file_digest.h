#pragma once
// The SHA-256 of a file written by a test, to compare with the original's.

#include <filesystem>
#include <string>

namespace brenvale::test {

// 64 lower-case hex digits; that of no bytes when the file cannot be read.
std::string fileSha256Hex(const std::filesystem::path& path);

}  // namespace brenvale::test
