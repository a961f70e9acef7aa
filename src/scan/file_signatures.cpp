#include "scan/file_signatures.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace brenvale::scan {

namespace {

constexpr std::array<ExtensionSignature, 42> kSignatures{{
    {"@$%", {0x2E, 0x20}, 0}, {"exe", {0x4D, 0x5A}, 0},  {"dll", {0x4D, 0x5A}, 0},  {"gif", {0x47, 0x49}, 0},
    {"zip", {0x50, 0x4B}, 0}, {"pdf", {0x25, 0x50}, 0},  {"bmp", {0x42, 0x4D}, 0},  {"ocx", {0x4D, 0x5A}, 0},
    {"rm", {0x2E, 0x52}, 0},  {"ani", {0x52, 0x49}, 0},  {"fon", {0x4D, 0x5A}, 0},  {"chm", {0x49, 0x54}, 0},
    {"wav", {0x52, 0x49}, 0}, {"bpl", {0x4D, 0x5A}, 0},  {"tlb", {0x4D, 0x53}, 0},  {"vxd", {0x4D, 0x5A}, 0},
    {"rar", {0x52, 0x61}, 0}, {"jpg", {0xFF, 0xD8}, 0},  {"sfx", {0x4D, 0x5A}, 0},  {"scp", {0x3B, 0x0D}, 0},
    {"toc", {0x3A, 0x42}, 0}, {"hlp", {0x3F, 0x5F}, 0},  {"png", {0x89, 0x50}, 0},  {"dwg", {0x41, 0x43}, 0},
    {"pas", {0x75, 0x6E}, 0}, {"dpr", {0x70, 0x72}, 0},  {"dfm", {0x6F, 0x62}, 0},  {"avi", {0x52, 0x49}, 0},
    {"wma", {0x30, 0x26}, 0}, {"icl", {0x4D, 0x5A}, 0},  {"doc", {0xD0, 0xCF}, 0},  {"xls", {0xD0, 0xCF}, 0},
    {"mdb", {0x00, 0x01}, 0}, {"ppt", {0xD0, 0xCF}, 0},  {"mov", {0x66, 0x74}, 4},  {"mp4", {0x66, 0x74}, 4},
    {"docx", {0x50, 0x4B}, 0}, {"xlsx", {0x50, 0x4B}, 0}, {"pptx", {0x50, 0x4B}, 0}, {"stp", {0x49, 0x53}, 0},
    {"step", {0x49, 0x53}, 0}, {"msi", {0xD0, 0xCF}, 0},
}};

}  // namespace

const ExtensionSignature* SignatureOfExtension(std::string_view ext) {
    const auto row = std::find_if(kSignatures.begin(), kSignatures.end(), [&](const ExtensionSignature& r) { return ext == r.ext; });
    return row == kSignatures.end() ? nullptr : &*row;
}

std::string LowerExtension(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string ext(fileName.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

bool HasSignature(std::span<const std::byte> sector, const ExtensionSignature& row) {
    return sector.size() > std::size_t{row.offset} + 1u && std::to_integer<std::uint8_t>(sector[row.offset]) == row.sig[0] &&
           std::to_integer<std::uint8_t>(sector[row.offset + 1u]) == row.sig[1];
}

}  // namespace brenvale::scan
