#include "scan/dest_file.h"

#include <filesystem>
#include <system_error>

namespace brenvale::scan {

DestFile::DestFile(std::string path) : path_(std::move(path)), file_(std::fopen(path_.c_str(), "wbx")) {
    created_ = file_ != nullptr;
}

DestFile::~DestFile() {
    if (!created_ || committed_) return;
    file_.reset();
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

bool DestFile::Write(std::span<const std::byte> bytes) {
    if (!file_) return false;
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) == bytes.size();
}

bool DestFile::Commit() {
    if (!file_) return false;
    // fclose flushes the buffer: a full disk often shows only here.
    committed_ = std::fclose(file_.release()) == 0;
    return committed_;
}

}  // namespace brenvale::scan
