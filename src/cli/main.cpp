#include <iostream>

#include "cli/cli_app.h"
#include "platform/drive_commands.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    auto os = brenvale::platform::makeSystemPlatform();
    auto drives = brenvale::platform::makeSystemDriveCommands();
    return brenvale::cli::Run(argc, argv, *os, std::cout, std::cerr, drives.get());
}
