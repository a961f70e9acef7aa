#pragma once
// The two bytes a file's first sector carries, by extension: how a guessed first cluster is
// checked against the file that should begin there.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace brenvale::scan {

struct ExtensionSignature {
    const char* ext;
    std::uint8_t sig[2];
    std::uint8_t offset;
};

// "@$%" names no real file: it probes for a folder (its first slot, ".").
inline constexpr char kFolderProbeExt[] = "@$%";

// The row for `ext` (lower case, no dot), or null.
const ExtensionSignature* SignatureOfExtension(std::string_view ext);

// The text after the last dot of `fileName`, lower-cased; empty without a dot.
std::string LowerExtension(std::string_view fileName);

// `sector` holds the row's two bytes at its offset.
bool HasSignature(std::span<const std::byte> sector, const ExtensionSignature& row);

}  // namespace brenvale::scan
