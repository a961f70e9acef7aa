#pragma once
// Runs brenvale-cli in-process on the Linux platform and keeps what it printed.

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "platform/linux/linux_platform.h"

namespace brenvale::test {

struct CliOutcome {
    int code;
    std::string out, err;
};

inline CliOutcome RunCli(std::vector<std::string> args) {
    static auto os = platform::makeLinuxPlatform();
    args.insert(args.begin(), "brenvale-cli");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int code = cli::Run(static_cast<int>(argv.size()), argv.data(), *os, out, err);
    return {code, out.str(), err.str()};
}

}  // namespace brenvale::test
