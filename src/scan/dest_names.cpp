#include "scan/dest_names.h"

#include <filesystem>
#include <system_error>

namespace brenvale::scan {

namespace {

constexpr std::size_t kMaxNameBytes = 255;  // what Linux file systems take in one component
constexpr std::size_t kMaxKeptExtension = 32;

// Links count too, dangling or not: creating the file would follow them.
bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
}

// Cuts `s` to at most `n` bytes without splitting a UTF-8 sequence.
std::string cutUtf8(const std::string& s, std::size_t n) {
    if (s.size() <= n) return s;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return s.substr(0, n);
}

}  // namespace

std::string SafeFileName(std::string name) {
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7F) c = '_';
    }
    if (name.empty()) return "_";
    if (name == ".") return "_";
    if (name == "..") return "__";
    if (name.size() > kMaxNameBytes) {
        const auto dot = name.rfind('.');
        std::string ext = dot != std::string::npos && name.size() - dot <= kMaxKeptExtension ? name.substr(dot) : "";
        name = cutUtf8(name.substr(0, name.size() - ext.size()), kMaxNameBytes - ext.size()) + ext;
    }
    return name;
}

std::string UniqueDestName(std::string Name, std::string Folder) {
    if (!Name.empty() && Name[0] == '?') Name[0] = '_';
    Name = SafeFileName(std::move(Name));
    if (Folder.size() > 1 && Folder.back() == '/') Folder.pop_back();
    auto dot = Name.rfind('.');
    if (dot == 0 || (dot != std::string::npos && Name.size() - dot > kMaxKeptExtension)) dot = std::string::npos;
    const std::string base = dot == std::string::npos ? Name : Name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : Name.substr(dot);
    std::string candidate = Folder + "/" + Name;
    for (unsigned n = 1; exists(candidate) && n <= 65535; ++n) {
        // The suffix must fit in the name too.
        const std::string suffix = "_" + std::to_string(n);
        candidate = Folder + "/" + cutUtf8(base, kMaxNameBytes - ext.size() - suffix.size()) + suffix + ext;
    }
    return candidate;
}

}  // namespace brenvale::scan
