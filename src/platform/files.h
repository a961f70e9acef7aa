#pragma once
// Files the program writes: large outputs written straight through write(2), and files that
// must survive a crash (the data reaches the disk before the call returns).

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace brenvale::platform {

// A file opened for writing, created or truncated. Writes go to the system unbuffered: callers
// write large, preferably page-aligned, pieces.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Writes all of `data`; false on any error.
    [[nodiscard]] virtual bool write(std::span<const std::byte> data) = 0;
    // Flushes the data to the disk; false on error.
    [[nodiscard]] virtual bool sync() = 0;
    // Closes the file, reporting what the system held back until then; false on error.
    [[nodiscard]] virtual bool close() = 0;
};

// Null when the file cannot be created.
std::unique_ptr<OutputFile> createOutputFile(const std::string& path);

// Creates or truncates `path`, writes all of `data` and flushes it to the disk. False on any
// error; the file may then hold part of the data.
[[nodiscard]] bool writeFileDurably(const std::string& path, std::span<const std::byte> data);

// Flushes the entries of the folder `path` (a file created or renamed in it) to the disk.
[[nodiscard]] bool syncFolder(const std::string& path);

}  // namespace brenvale::platform
