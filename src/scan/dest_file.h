#pragma once
// A recovered file being written into the destination. Only a file whose every byte was
// written is kept: one that fails half-way (disk full, file too large for the destination,
// unreadable source, a stop) is removed again, so that no truncated or empty file is left
// under a real name where it would pass for a recovered one.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace brenvale::scan {

class DestFile {
public:
    // Creates `path`, never replacing anything there, even what appeared since the name was chosen.
    explicit DestFile(std::string path);
    // Removes the file unless Commit() succeeded.
    ~DestFile();
    DestFile(const DestFile&) = delete;
    DestFile& operator=(const DestFile&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    bool Write(std::span<const std::byte> bytes);
    // Closes the file; true, and the file stays, when all of it reached the destination.
    bool Commit();
    const std::string& Path() const { return path_; }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::string path_;
    std::unique_ptr<std::FILE, Closer> file_;
    bool created_ = false;
    bool committed_ = false;
};

}  // namespace brenvale::scan
