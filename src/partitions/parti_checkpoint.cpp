#include "partitions/parti_checkpoint.h"

#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <system_error>

#include "partitions/lost_partitions.h"
#include "storage/checkpoint_io.h"

namespace brenvale::partitions {
namespace {

using Bytes = std::span<const std::byte>;
using storage::CheckpointReader;
using storage::CheckpointWriter;

// Labels and source paths are short; a longer length is damage, and is not written either.
constexpr std::size_t kMaxStoredString = std::size_t{64} << 10;

void writeRecord(CheckpointWriter& w, const TPartition& p) {
    w.u16(static_cast<std::uint16_t>(p.DriveLetter));
    w.string(p.VolLabel, kMaxStoredString);
    w.record(p.Entry);
    w.i64(p.BaseLBA);
    w.record(p.BootSector);
    w.u32(p.BytesPerSector);
    w.u64(p.Attributes);
    w.bytes(std::as_bytes(std::span(p.GptTypeGuid.bytes)));
    w.i64(p.SectCount64);
    w.i64(p.SectNum64);
    w.u8(p.Primary ? 1 : 0);
    w.u8(p.Active ? 1 : 0);
}

TPartition readPartition(CheckpointReader& r) {
    TPartition p;
    p.DriveLetter = static_cast<char16_t>(r.u16());
    p.VolLabel = r.string(kMaxStoredString);
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
    CheckpointReader r(file);
    const auto magic = r.record<std::array<char, kPartiCheckpointMagic.size()>>();
    if (!r.ok() || magic != kPartiCheckpointMagic) return std::nullopt;
    const std::uint32_t version = r.u32();
    if (version < 1 || version > kPartiCheckpointVersion) return std::nullopt;

    TPartiCheckpointData d;
    d.SourceType = r.u8();
    d.SourceId = r.string(kMaxStoredString);
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
    if (version >= 3) {
        const std::uint8_t known = r.u8();
        const std::uint32_t print = r.u32();
        if (known > 1) return std::nullopt;
        if (known == 1) d.LastPrint = print;
    }
    // Every record takes at least its fixed part, so a count the file cannot hold is refused
    // before anything is allocated for it.
    const std::uint32_t count = r.count(kPartiRecordFixedSize);
    if (!r.ok()) return std::nullopt;

    d.Partitions.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        TPartition p = readPartition(r);
        if (!r.ok()) return std::nullopt;
        // No device is bound yet, so only the boot sector itself is judged.
        if (IsPlausibleLostPartition(p, 0)) d.Partitions.push_back(std::move(p));
    }
    return d;
}

}  // namespace

bool SavePartiCheckpoint(const std::string& FileName, const TPartiCheckpointData& Data) {
    CheckpointWriter w;
    w.bytes(std::as_bytes(std::span(kPartiCheckpointMagic)));
    w.u32(kPartiCheckpointVersion);
    w.u8(Data.SourceType);
    w.string(Data.SourceId, kMaxStoredString);
    w.u8(Data.DeviceNum);
    w.i64(Data.PartiStartLBA);
    w.u8(Data.FS);
    w.i64(Data.LBA);
    w.i64(Data.Blocks);
    w.i64(Data.CurrLBA);
    w.u8(Data.RefFrame);
    w.i64(Data.RefPartiStart);
    w.u8(Data.LastPrint ? 1 : 0);
    w.u32(Data.LastPrint.value_or(0));
    w.count(Data.Partitions.size());
    for (const auto& p : Data.Partitions) {
        if (!w.ok()) return false;
        writeRecord(w, p);
    }
    // A file the loader would refuse is no checkpoint.
    if (!w.ok() || w.data().size() > kMaxPartiCheckpointBytes) return false;
    return storage::saveFileAtomically(FileName, w.data());
}

int LoadPartiCheckpoint(const std::string& FileName, TPartiCheckpointData& Data) {
    Data = {};
    std::error_code ec;
    const bool exists = std::filesystem::exists(FileName, ec);
    if (!ec && !exists) return kPartiCheckpointMissing;
    const auto file = storage::readWholeFile(FileName, kMaxPartiCheckpointBytes);
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
