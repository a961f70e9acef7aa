#include "partitions/parti_checkpoint.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <span>
#include <system_error>

#include "partitions/lost_partitions.h"
#include "storage/le.h"

namespace brenvale::partitions {
namespace {

using Bytes = std::span<const std::byte>;

// Appends little-endian fields to a growing buffer.
class Writer {
public:
    void u8(std::uint8_t v) { buf_.push_back(static_cast<std::byte>(v)); }
    // grow() makes room first, so the writers below cannot miss.
    void u16(std::uint16_t v) { static_cast<void>(storage::putLe16(buf_, grow(2), v)); }
    void u32(std::uint32_t v) { static_cast<void>(storage::putLe32(buf_, grow(4), v)); }
    void u64(std::uint64_t v) { static_cast<void>(storage::putLe64(buf_, grow(8), v)); }
    void i64(std::int64_t v) { u64(static_cast<std::uint64_t>(v)); }
    void bytes(Bytes b) { buf_.insert(buf_.end(), b.begin(), b.end()); }
    // Length-prefixed UTF-8; false when the length does not fit its 4 bytes.
    [[nodiscard]] bool string(const std::string& s) {
        if (s.size() > std::numeric_limits<std::uint32_t>::max()) return false;
        u32(static_cast<std::uint32_t>(s.size()));
        bytes(std::as_bytes(std::span(s.data(), s.size())));
        return true;
    }
    const std::vector<std::byte>& data() const { return buf_; }

private:
    std::size_t grow(std::size_t n) {
        const std::size_t off = buf_.size();
        buf_.resize(off + n);
        return off;
    }
    std::vector<std::byte> buf_;
};

// Reads fields in order from a span; the first read past the end fails this and every later
// read, so a parser checks once per record instead of after every field.
class Reader {
public:
    explicit Reader(Bytes data) : data_(data) {}

    bool ok() const { return ok_; }
    std::size_t remaining() const { return data_.size() - pos_; }

    std::uint8_t u8() { return take(1) ? storage::u8(data_, pos_ - 1) : 0; }
    std::uint16_t u16() { return take(2) ? storage::le16(data_, pos_ - 2) : 0; }
    std::uint32_t u32() { return take(4) ? storage::le32(data_, pos_ - 4) : 0; }
    std::uint64_t u64() { return take(8) ? storage::le64(data_, pos_ - 8) : 0; }
    std::int64_t i64() { return static_cast<std::int64_t>(u64()); }

    std::string string() {
        const std::uint32_t n = u32();
        if (!take(n)) return {};
        return std::string(reinterpret_cast<const char*>(data_.data() + pos_ - n), n);
    }

    template <class T>
    T record() {
        T rec{};
        if (!take(sizeof(T))) return rec;
        if (auto r = storage::readRecord<T>(data_, pos_ - sizeof(T))) rec = *r;
        return rec;
    }

private:
    bool take(std::size_t n) {
        if (!ok_ || !storage::fits(data_, pos_, n)) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }

    Bytes data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

[[nodiscard]] bool writeRecord(Writer& w, const TPartition& p) {
    w.u16(static_cast<std::uint16_t>(p.DriveLetter));
    if (!w.string(p.VolLabel)) return false;
    w.bytes(storage::recordBytes(p.Entry));
    w.i64(p.BaseLBA);
    w.bytes(storage::recordBytes(p.BootSector));
    w.u32(p.BytesPerSector);
    w.u64(p.Attributes);
    w.bytes(std::as_bytes(std::span(p.GptTypeGuid.bytes)));
    w.i64(p.SectCount64);
    w.i64(p.SectNum64);
    w.u8(p.Primary ? 1 : 0);
    w.u8(p.Active ? 1 : 0);
    return true;
}

TPartition readPartition(Reader& r) {
    TPartition p;
    p.DriveLetter = static_cast<char16_t>(r.u16());
    p.VolLabel = r.string();
    p.Entry = r.record<storage::TPartitionEntry>();
    p.BaseLBA = r.i64();
    p.BootSector = r.record<storage::TBootSector>();
    p.BytesPerSector = r.u32();
    p.Attributes = r.u64();
    p.GptTypeGuid.bytes = r.record<decltype(p.GptTypeGuid.bytes)>();
    p.SectCount64 = r.i64();
    p.SectNum64 = r.i64();
    p.Primary = r.u8() != 0;
    p.Active = r.u8() != 0;
    return p;
}

std::optional<TPartiCheckpointData> parse(Bytes file) {
    Reader r(file);
    const auto magic = r.record<std::array<char, kPartiCheckpointMagic.size()>>();
    if (!r.ok() || magic != kPartiCheckpointMagic) return std::nullopt;
    const std::uint32_t version = r.u32();
    if (version != 1 && version != 2) return std::nullopt;

    TPartiCheckpointData d;
    d.SourceType = r.u8();
    d.SourceId = r.string();
    d.DeviceNum = r.u8();
    d.PartiStartLBA = r.i64();
    d.FS = r.u8();
    d.LBA = r.i64();
    d.Blocks = r.i64();
    d.CurrLBA = r.i64();
    if (version >= 2) {
        d.RefFrame = r.u8();
        d.RefPartiStart = r.i64();
    }
    const std::uint32_t count = r.u32();
    if (!r.ok()) return std::nullopt;
    // Every record takes at least its fixed part, so a count the file cannot hold is refused
    // before anything is allocated for it.
    if (std::uint64_t{count} * kPartiRecordFixedSize > r.remaining()) return std::nullopt;

    d.Partitions.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        TPartition p = readPartition(r);
        if (!r.ok()) return std::nullopt;
        // No device is bound yet, so only the boot sector itself is judged.
        if (IsPlausibleLostPartition(p, 0)) d.Partitions.push_back(std::move(p));
    }
    return d;
}

// The whole file, or nullopt when it cannot be read or is larger than any checkpoint.
std::optional<std::vector<std::byte>> readFile(const std::string& fileName) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(fileName, ec);
    if (ec || size > kMaxPartiCheckpointBytes) return std::nullopt;
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return std::nullopt;
    // One byte more than expected shows a file that grew since its size was taken.
    std::vector<std::byte> data(static_cast<std::size_t>(size) + 1);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (in.bad() || static_cast<std::uint64_t>(in.gcount()) != size) return std::nullopt;
    data.resize(static_cast<std::size_t>(size));
    return data;
}

}  // namespace

bool SavePartiCheckpoint(const std::string& FileName, const TPartiCheckpointData& Data) {
    Writer w;
    w.bytes(std::as_bytes(std::span(kPartiCheckpointMagic)));
    w.u32(kPartiCheckpointVersion);
    w.u8(Data.SourceType);
    if (!w.string(Data.SourceId)) return false;
    w.u8(Data.DeviceNum);
    w.i64(Data.PartiStartLBA);
    w.u8(Data.FS);
    w.i64(Data.LBA);
    w.i64(Data.Blocks);
    w.i64(Data.CurrLBA);
    w.u8(Data.RefFrame);
    w.i64(Data.RefPartiStart);
    if (Data.Partitions.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    w.u32(static_cast<std::uint32_t>(Data.Partitions.size()));
    for (const auto& p : Data.Partitions) {
        if (!writeRecord(w, p)) return false;
    }
    // A file the loader would refuse is no checkpoint.
    if (w.data().size() > kMaxPartiCheckpointBytes) return false;

    const std::string temp = FileName + ".tmp";
    std::error_code ec;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (out) {
            out.write(reinterpret_cast<const char*>(w.data().data()),
                      static_cast<std::streamsize>(w.data().size()));
            out.close();
        }
        if (!out) {
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    std::filesystem::rename(temp, FileName, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        return false;
    }
    return true;
}

int LoadPartiCheckpoint(const std::string& FileName, TPartiCheckpointData& Data) {
    Data = {};
    std::error_code ec;
    const bool exists = std::filesystem::exists(FileName, ec);
    if (!ec && !exists) return kPartiCheckpointMissing;
    const auto file = readFile(FileName);
    if (!file) return kPartiCheckpointInvalid;
    auto parsed = parse(*file);
    if (!parsed) return kPartiCheckpointInvalid;
    Data = std::move(*parsed);
    return kPartiCheckpointLoaded;
}

void FreePartiCheckpoint(TPartiCheckpointData& Data) {
    std::vector<TPartition>().swap(Data.Partitions);
}

std::string PartiCheckpointPath(const std::string& configured, const std::string& dataDir) {
    if (!configured.empty()) return configured;
    return dataDir + "/" + kPartiCheckpointFileName;
}

}  // namespace brenvale::partitions
