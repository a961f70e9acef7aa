#include "storage/checkpoint_io.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/files.h"

namespace brenvale::storage {

// grow() makes room first, so the writers below cannot miss. It runs before the buffer is
// taken as a span: an argument list may be evaluated in either order, and a span made
// before the buffer grew would not reach the new bytes.
void CheckpointWriter::u16(std::uint16_t v) {
    const std::size_t at = grow(2);
    static_cast<void>(putLe16(buf_, at, v));
}
void CheckpointWriter::u32(std::uint32_t v) {
    const std::size_t at = grow(4);
    static_cast<void>(putLe32(buf_, at, v));
}
void CheckpointWriter::u64(std::uint64_t v) {
    const std::size_t at = grow(8);
    static_cast<void>(putLe64(buf_, at, v));
}

void CheckpointWriter::string(const std::string& s, std::size_t maxLength) {
    if (s.size() > maxLength || s.size() > std::numeric_limits<std::uint32_t>::max()) {
        fail();
        return;
    }
    u32(static_cast<std::uint32_t>(s.size()));
    bytes(std::as_bytes(std::span(s.data(), s.size())));
}

void CheckpointWriter::count(std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) {
        fail();
        return;
    }
    u32(static_cast<std::uint32_t>(n));
}

std::size_t CheckpointWriter::grow(std::size_t n) {
    const std::size_t off = buf_.size();
    buf_.resize(off + n);
    return off;
}

bool CheckpointReader::take(std::size_t n) {
    if (!ok_ || !fits(data_, pos_, n)) {
        ok_ = false;
        return false;
    }
    pos_ += n;
    return true;
}

std::span<const std::byte> CheckpointReader::bytes(std::size_t n) {
    if (!take(n)) return {};
    return data_.subspan(pos_ - n, n);
}

std::string CheckpointReader::string(std::size_t maxLength) {
    const std::uint32_t n = u32();
    if (n > maxLength) fail();
    const auto b = bytes(n);
    if (!ok_) return {};
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

std::uint32_t CheckpointReader::count(std::size_t minItemBytes) {
    const std::uint32_t n = u32();
    if (!ok_) return 0;
    // n * minItemBytes > remaining, without the product overflowing.
    if (minItemBytes != 0 && n > remaining() / minItemBytes) {
        fail();
        return 0;
    }
    return n;
}

bool saveFileAtomically(const std::string& path, std::span<const std::byte> data) {
    const std::string temp = path + ".tmp";
    std::error_code ec;
    if (!platform::writeFileDurably(temp, data)) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        return false;
    }
    // The new file is in place; flushing its folder entry makes the rename itself durable, and
    // a folder that cannot be flushed does not undo it.
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    static_cast<void>(platform::syncFolder(folder.empty() ? std::string(".") : folder.string()));
    return true;
}

std::optional<std::vector<std::byte>> readWholeFile(const std::string& path, std::size_t maxBytes) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > maxBytes) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    // One byte more than expected shows a file that grew since its size was taken.
    std::vector<std::byte> data(static_cast<std::size_t>(size) + 1);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (in.bad() || static_cast<std::uint64_t>(in.gcount()) != size) return std::nullopt;
    data.resize(static_cast<std::size_t>(size));
    return data;
}

}  // namespace brenvale::storage
