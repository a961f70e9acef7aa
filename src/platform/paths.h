#pragma once
// Where the program keeps its own files (configuration, checkpoints, diagnostic logs).

#include <string>

namespace brenvale::platform {

// "data" beside the executable when that folder exists and is writable (portable use), else
// $XDG_CONFIG_HOME/brenvale (~/.config/brenvale without it). Not created here.
std::string DataDirectory();

// The user's home folder ($HOME, else the password database's entry); empty when there is none.
std::string HomeDirectory();

// The folder of the running executable; empty when it cannot be told.
std::string ExecutableDirectory();

}  // namespace brenvale::platform
