#pragma once
// Saving a drive's raw pages to a folder and reading them back, so a user can send us what
// their drive returned and tests can replay it. One folder per drive: the pages as binary
// files and a small "drive.txt" with the kind, the reading's state and the prediction.

#include <filesystem>
#include <optional>
#include <string>

#include "health/drive_pages.h"

namespace brenvale::health {

// False when the folder or a file could not be written.
bool SavePages(const DrivePages& pages, const std::filesystem::path& dir, const std::string& device);

struct SavedDrive {
    std::string Device;  // the device the pages were read from
    DrivePages Pages;
};
// Nullopt when the folder holds no "drive.txt". Missing pages stay empty; oversized files
// are not read.
std::optional<SavedDrive> LoadPages(const std::filesystem::path& dir);

}  // namespace brenvale::health
