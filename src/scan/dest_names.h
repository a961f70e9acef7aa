#pragma once
// Names of recovered files and folders in the destination: safe to create, and never the name
// of something already there.

#include <string>

namespace brenvale::scan {

// A name read from disk as one safe path component: "/", NUL and control characters become
// "_", as do the names "." and ".." (and an empty name); a name too long for the destination
// is shortened, keeping its extension, at a character boundary.
std::string SafeFileName(std::string name);

// Folder + "/" + Name, or Folder + "/" + base + "_" + n + extension for the first n from 1
// that names nothing yet (file, folder or link). A leading "?" of Name becomes "_".
std::string UniqueDestName(std::string Name, std::string Folder);

}  // namespace brenvale::scan
