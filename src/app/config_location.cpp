// Where the configuration file lives, and its creation on first run.

#include <fmt/format.h>

#include <filesystem>

#include "app/config.h"
#include "platform/paths.h"

namespace brenvale::app {

namespace {

namespace fs = std::filesystem;

constexpr char kShippedBeside[] = "data/Config.xml";
constexpr char kShippedInstalled[] = "../share/brenvale/Config.xml";

constexpr char kCannotCreateFolder[] = "Cannot create the folder \"{}\": {}";
constexpr char kCannotCopy[] = "Cannot copy \"{}\" to \"{}\": {}";
constexpr char kCannotWrite[] = "Cannot write \"{}\".";
constexpr char kNotAFile[] = "\"{}\" exists but is not a file.";

}  // namespace

std::string ConfigFilePath() {
    return platform::DataDirectory() + "/" + kConfigFileName;
}

std::vector<std::string> ShippedConfigCandidates() {
    const std::string exeDir = platform::ExecutableDirectory();
    if (exeDir.empty()) return {};
    return {(fs::path(exeDir) / kShippedBeside).lexically_normal().string(),
            (fs::path(exeDir) / kShippedInstalled).lexically_normal().string()};
}

bool CreateConfigFile(const std::string& path, const std::vector<std::string>& shippedDefaults,
                      std::string& error) {
    std::error_code ec;
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec)) {
        fs::create_directories(folder, ec);
        if (ec) {
            error = fmt::format(kCannotCreateFolder, folder.string(), ec.message());
            return false;
        }
    }
    for (const std::string& shipped : shippedDefaults) {
        if (!fs::is_regular_file(shipped, ec)) continue;
        if (!fs::copy_file(shipped, path, ec)) {
            error = fmt::format(kCannotCopy, shipped, path, ec.message());
            return false;
        }
        // An installed default may be read-only; the user's copy must take the program's saves.
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add,
                        ec);
        return true;
    }
    ConfigDocument generated;
    if (!generated.SaveAs(Config{}, path)) {
        error = fmt::format(kCannotWrite, path);
        return false;
    }
    return true;
}

bool EnsureConfigFile(std::string& path, std::string& error) {
    path = ConfigFilePath();
    std::error_code ec;
    if (fs::exists(path, ec)) {
        if (fs::is_regular_file(path, ec)) return true;
        error = fmt::format(kNotAFile, path);
        return false;
    }
    return CreateConfigFile(path, ShippedConfigCandidates(), error);
}

}  // namespace brenvale::app
