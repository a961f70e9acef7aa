#include <iostream>

#include "cli/cli_app.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
    auto os = brenvale::platform::makeLinuxPlatform();
    return brenvale::cli::Run(argc, argv, *os, std::cout, std::cerr);
}
