#pragma once
// Access to the volume images built by tests/fixtures/build-fixtures.sh and to their
// manifests. Tests that need an image skip (with a message) when it has not been built:
//
//     TEST(FatVolume, ListsDeletedFiles) {
//         BRENVALE_REQUIRE_FIXTURE(image, "fat16.img");
//         BRENVALE_REQUIRE_FIXTURE(manifestPath, "fat16.manifest.tsv");
//         const auto rows = brenvale::test::loadManifest(manifestPath);
//         ...
//     }

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brenvale::test {

// Where the fixture images are (BRENVALE_FIXTURE_DIR, set by the test build).
std::filesystem::path fixtureDir();

// The path of a fixture file, or nullopt when it has not been built.
std::optional<std::filesystem::path> fixture(std::string_view name);

// One line of a <image>.manifest.tsv: a file or folder the build script put in the volume.
struct ManifestRow {
    std::string path;    // "/" separated, UTF-8, starts with "/"
    std::string type;    // "file" or "dir"
    std::string status;  // "live" or "deleted"
    std::uint64_t size = 0;
    std::int64_t mtime = 0;  // seconds since the epoch, UTC
    std::string sha256;      // lower-case hex; empty for folders
};

// Reads a manifest. Throws std::runtime_error naming the file and line when the file
// cannot be read, the header is not the expected one or a line is malformed.
std::vector<ManifestRow> loadManifest(const std::filesystem::path& path);

// One line of a <disk>.layout.tsv: a partition of demo.img or gpt.img.
struct LayoutRow {
    unsigned index = 0;
    std::uint64_t start = 0;  // in 512-byte sectors
    std::uint64_t sectors = 0;
    std::string type;  // "0x0c" (MBR) or a type GUID (GPT)
    std::string name;  // GPT partition name; empty for MBR
    std::string guid;  // GPT partition GUID; empty for MBR
    std::string fs;    // "fat32", "exfat", "ntfs" or "none"
};

// Reads a layout file; throws std::runtime_error like loadManifest.
std::vector<LayoutRow> loadLayout(const std::filesystem::path& path);

// SHA-256 of data, as 64 lower-case hex digits.
std::string sha256Hex(std::span<const std::byte> data);

}  // namespace brenvale::test

// Declares `const std::filesystem::path var` naming fixture `name`, or skips the test
// when that fixture has not been built.
#define BRENVALE_REQUIRE_FIXTURE(var, name)                                         \
    const auto var##FixtureLookup_ = ::brenvale::test::fixture(name);               \
    if (!var##FixtureLookup_)                                                       \
        GTEST_SKIP() << "fixture " << (name) << " not found in "                    \
                     << ::brenvale::test::fixtureDir().string()                     \
                     << " (built by tests/fixtures/build-fixtures.sh, needs root)"; \
    const std::filesystem::path var = *var##FixtureLookup_
