#pragma once

#include <ostream>

#include "platform/drive_commands.h"
#include "platform/platform.h"

namespace brenvale::cli {

// The whole command line: parses argv, runs the command and returns the exit code
// (0 success, 1 failed or incomplete, 2 bad usage or unusable input). `drives` answers the
// drive commands of "health"; without it only saved pages can be shown.
int Run(int argc, const char* const* argv, platform::Platform& os, std::ostream& out, std::ostream& err,
        platform::DriveCommands* drives = nullptr);

}  // namespace brenvale::cli
