#include <iostream>

#include "cli/cli_app.h"
#include "platform/linux/linux_drive_commands.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
    auto os = brenvale::platform::makeLinuxPlatform();
    auto drives = brenvale::platform::makeLinuxDriveCommands();
    return brenvale::cli::Run(argc, argv, *os, std::cout, std::cerr, drives.get());
}
