#pragma once

#include <ostream>

#include "platform/platform.h"

namespace brenvale::cli {

// The whole command line: parses argv, runs the command and returns the exit code
// (0 success, 1 failed or incomplete, 2 bad usage or unusable input).
int Run(int argc, const char* const* argv, platform::Platform& os, std::ostream& out, std::ostream& err);

}  // namespace brenvale::cli
