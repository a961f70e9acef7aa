#pragma once
// Scratch files for the platform tests: a private temporary folder and files of known bytes.

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace brenvale::platform::test {

// Bytes that differ at every offset within a large range, so a read from a wrong offset shows.
inline std::vector<std::byte> patternBytes(std::size_t size, std::uint64_t seed = 0x9e3779b97f4a7c15) {
    std::vector<std::byte> bytes(size);
    std::uint64_t x = seed;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        bytes[i] = static_cast<std::byte>(x >> 56);
    }
    return bytes;
}

inline void writeFile(const std::filesystem::path& path, const std::vector<std::byte>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

inline std::vector<std::byte> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> bytes(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) bytes[i] = static_cast<std::byte>(raw[i]);
    return bytes;
}

// Runs a shell command quietly (its own redirections still apply); true when it exits with 0.
inline bool run(const std::string& command) {
    return std::system(("{ " + command + "; } >/dev/null 2>&1").c_str()) == 0;
}

using TempDir = brenvale::test::TempDir;

}  // namespace brenvale::platform::test
