#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace brenvale::platform {

std::string ExecutableDirectory() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string{} : exe.parent_path().string();
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home == '/') return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir == '/') return pw->pw_dir;
    return {};
}

std::string DataDirectory() {
    const std::string exeDir = ExecutableDirectory();
    if (!exeDir.empty()) {
        const std::string beside = exeDir + "/data";
        std::error_code ec;
        if (std::filesystem::is_directory(beside, ec) && ::access(beside.c_str(), W_OK) == 0) return beside;
    }
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return std::string(xdg) + "/brenvale";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.config/brenvale";
}

}  // namespace brenvale::platform
