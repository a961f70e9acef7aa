#pragma once
// State shared by the commands of one brenvale-cli run.

#include <cstdint>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

#include "app/config.h"
#include "app/event_log.h"
#include "cli/progress.h"
#include "platform/drive_commands.h"
#include "platform/platform.h"

namespace brenvale::storage {
class TDevice;
}

namespace brenvale::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the operation failed or did not finish
inline constexpr int kExitUsage = 2;   // bad usage or unusable input

// Ends a command with an exit code and a one-line message for stderr.
class CliError : public std::runtime_error {
public:
    CliError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

struct Context {
    Context(platform::Platform& os_, std::ostream& out_, std::ostream& err_) : os(os_), out(out_), err(err_), progress(err_) {}

    platform::Platform& os;
    platform::DriveCommands* drives = nullptr;  // null: the program cannot send drive commands
    std::ostream& out;
    std::ostream& err;
    bool json = false;
    bool quiet = false;
    std::uint32_t sectorSize = 0;  // raw images: 0 means 512
    std::string configFile;
    app::Config config;           // the settings in force for this run
    app::ConfigDocument configDoc;  // has a file name when a configuration file was read
    std::string eventLogFile;
    app::EventLog log;
    Progress progress;
    int exitCode = kExitOk;
};

// What a SOURCE argument names.
enum class SourceKind { Physical, Volume, Dif, Raw };
const char* SourceKindName(SourceKind kind);

struct OpenedSource {
    std::unique_ptr<storage::TDevice> device;
    SourceKind kind = SourceKind::Raw;
};

// Opens "drive:N", "volume:N" or a path (image file or block device). Throws CliError(2).
OpenedSource OpenSource(Context& ctx, const std::string& sourceArg);

}  // namespace brenvale::cli
