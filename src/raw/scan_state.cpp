// The signature scan's state written into a scan checkpoint and read back from one.

#include <algorithm>
#include <cstring>

#include "raw/formats/formats.h"
#include "raw/signature_scan.h"
#include "storage/checkpoint_io.h"

namespace brenvale::raw {

namespace {

// Bytes of a stored hit besides its extension: LBA, Size, three state words, Info, the two
// types, the picture size, and the extension's length word.
constexpr std::size_t kHitBytes = 8 + 8 + 4 * 3 + 4 + 2 * 4 + 4;
constexpr std::size_t kArchiveBytes = TArchiveFileInfo::kNamesBytes + 8;
constexpr std::size_t kMaxText = 64 * 1024;
constexpr std::size_t kStreamChunk = 1 << 20;
// No disk has this many sectors or a file this many bytes; beyond them the sector arithmetic
// of the scan would overflow.
constexpr std::int64_t kMaxLba = std::int64_t{1} << 40;
constexpr std::int64_t kMaxBytes = std::int64_t{1} << 50;

void writeHit(storage::CheckpointWriter& w, const TFoundFile& f) {
    w.i64(f.LBA);
    w.i64(f.Size);
    w.u32(static_cast<std::uint32_t>(f.ParsePoint));
    w.u32(static_cast<std::uint32_t>(f.ExtraData1));
    w.u32(static_cast<std::uint32_t>(f.ExtraData2));
    w.u32(f.Info);
    w.u16(f.MajorType);
    w.u16(f.MinorType);
    w.u16(f.Width);
    w.u16(f.Height);
    w.string(std::string(f.Ext()), f.ExtName.size() - 1);
}

// A hit of a type the catalogue has (a pending hit may not be classified yet).
bool readHit(storage::CheckpointReader& r, TFoundFile& f) {
    f.LBA = r.i64();
    f.Size = r.i64();
    f.ParsePoint = static_cast<std::int32_t>(r.u32());
    f.ExtraData1 = static_cast<std::int32_t>(r.u32());
    f.ExtraData2 = static_cast<std::int32_t>(r.u32());
    f.Info = r.u32();
    f.MajorType = r.u16();
    f.MinorType = r.u16();
    f.Width = r.u16();
    f.Height = r.u16();
    const std::string ext = r.string(f.ExtName.size() - 1);
    f.SetExt(ext);
    if (!r.ok() || f.LBA < 0 || f.LBA >= kMaxLba || f.Size < kUnknownSize || f.Size >= kMaxBytes) return false;
    if (f.MinorType == kUnclassified) return f.MajorType < kMajorTypes;
    return ValidTypePair(f.MajorType, f.MinorType);
}

void writeImage(storage::CheckpointWriter& w, const TRawImageInfo& i) {
    w.u32(static_cast<std::uint32_t>(i.Width));
    w.u32(static_cast<std::uint32_t>(i.Height));
    w.u16(i.PreviewWidth);
    w.u16(i.PreviewHeight);
    w.i64(i.PreviewOffset);
    w.i64(i.PreviewLength);
    w.u8(i.PreviewKind);
    w.u16(i.PreviewBits);
    w.string(i.Make, kMaxText);
    w.string(i.Model, kMaxText);
    w.string(i.DateTaken, kMaxText);
    w.u32(static_cast<std::uint32_t>(i.ISO));
    for (const auto* pair : {i.ExposureTime, i.FNumber, i.FocalLength}) {
        w.u32(pair[0]);
        w.u32(pair[1]);
    }
}

void readImage(storage::CheckpointReader& r, TRawImageInfo& i) {
    i.Width = static_cast<std::int32_t>(r.u32());
    i.Height = static_cast<std::int32_t>(r.u32());
    i.PreviewWidth = r.u16();
    i.PreviewHeight = r.u16();
    i.PreviewOffset = r.i64();
    i.PreviewLength = r.i64();
    i.PreviewKind = r.u8();
    i.PreviewBits = r.u16();
    i.Make = r.string(kMaxText);
    i.Model = r.string(kMaxText);
    i.DateTaken = r.string(kMaxText);
    i.ISO = static_cast<std::int32_t>(r.u32());
    for (auto* pair : {i.ExposureTime, i.FNumber, i.FocalLength}) {
        pair[0] = r.u32();
        pair[1] = r.u32();
    }
}

}  // namespace

void RawScan::SaveState(storage::CheckpointWriter& w) const {
    w.count(RawFiles.size());
    for (const auto& f : RawFiles) writeHit(w, f);
    w.count(PendingRawFiles.size());
    for (const auto& f : PendingRawFiles) writeHit(w, f);
    for (std::uint32_t n : NumberOfRawFiles) w.u32(n);
    w.u64(FPendTries);
    w.u64(FPendFed);
    for (std::uint64_t n : FPendByType) w.u64(n);

    w.count(side_.ArchiveCount());
    for (std::uint32_t i = 1; i <= side_.ArchiveCount(); ++i) {
        const TArchiveFileInfo& a = *side_.Archive(i);
        w.bytes(std::as_bytes(std::span(a.FileNames)));
        w.u8(a.NamesLength);
        for (bool b : {a.AnyName, a.MetaInf, a.FirstIsContentTypes, a.WordDocument, a.ExcelWorkbook,
                       a.PowerPointPresentation}) {
            w.u8(b ? 1 : 0);
        }
        w.u8(a.ProteusProject);
    }
    w.count(side_.ImageCount());
    for (std::uint32_t i = 1; i <= side_.ImageCount(); ++i) writeImage(w, *side_.Image(i));
    w.count(side_.CompoundCount());
    for (std::uint32_t i = 1; i <= side_.CompoundCount(); ++i) {
        const TCBFFFileInfo& c = *side_.Compound(i);
        for (const auto* s : {&c.Title, &c.Subject, &c.Author, &c.Orgnization}) w.string(*s, kMaxText);
    }

    // Sorted by leader, so the same state always gives the same bytes.
    std::vector<std::int64_t> leaders;
    for (const auto& [leader, hits] : followers_) leaders.push_back(leader);
    std::sort(leaders.begin(), leaders.end());
    w.count(leaders.size());
    for (std::int64_t leader : leaders) {
        const auto& hits = followers_.at(leader);
        w.i64(leader);
        w.count(hits.size());
        for (const auto& f : hits) writeHit(w, f);
    }
    w.i64(carryNextLba_);
    w.count(carry_.size());
    w.bytes(carry_);
}

bool RawScan::LoadState(storage::CheckpointReader& r) {
    Clear();
    auto hits = [&](auto& into) {
        const std::uint32_t n = r.count(kHitBytes);
        for (std::uint32_t i = 0; i < n && r.ok(); ++i) {
            TFoundFile f;
            if (!readHit(r, f)) r.fail();
            into.push_back(f);
        }
    };
    hits(RawFiles);
    hits(PendingRawFiles);
    for (auto& n : NumberOfRawFiles) n = r.u32();
    FPendTries = r.u64();
    FPendFed = r.u64();
    for (auto& n : FPendByType) n = r.u64();

    const std::uint32_t archives = r.count(kArchiveBytes);
    for (std::uint32_t i = 0; i < archives && r.ok(); ++i) {
        TArchiveFileInfo& a = *side_.Archive(side_.NewArchiveInfo());
        const auto names = r.bytes(a.FileNames.size());
        if (names.size() == a.FileNames.size()) std::memcpy(a.FileNames.data(), names.data(), names.size());
        a.NamesLength = r.u8();
        for (bool* b : {&a.AnyName, &a.MetaInf, &a.FirstIsContentTypes, &a.WordDocument, &a.ExcelWorkbook,
                        &a.PowerPointPresentation}) {
            const std::uint8_t v = r.u8();
            if (v > 1) r.fail();
            *b = v == 1;
        }
        a.ProteusProject = r.u8();
        if (a.NamesLength > TArchiveFileInfo::kNamesBytes || a.ProteusProject > TArchiveFileInfo::kProteusBoth) r.fail();
    }
    const std::uint32_t images = r.count(49);
    for (std::uint32_t i = 0; i < images && r.ok(); ++i) readImage(r, *side_.Image(side_.NewImageInfo()));
    const std::uint32_t compounds = r.count(16);
    for (std::uint32_t i = 0; i < compounds && r.ok(); ++i) {
        TCBFFFileInfo c;
        for (auto* s : {&c.Title, &c.Subject, &c.Author, &c.Orgnization}) *s = r.string(kMaxText);
        side_.NewCompoundInfo(std::move(c));
    }

    const std::uint32_t leaders = r.count(12);
    for (std::uint32_t i = 0; i < leaders && r.ok(); ++i) {
        const std::int64_t leader = r.i64();
        if (leader < 0 || leader >= kMaxLba) r.fail();
        hits(followers_[leader]);
    }
    carryNextLba_ = r.i64();
    const std::uint32_t carried = r.count(1);
    const auto carry = r.bytes(carried);
    carry_.assign(carry.begin(), carry.end());
    if (!r.ok() || carry_.size() > kCarryBytes || carryNextLba_ < -1 || carryNextLba_ >= kMaxLba) {
        Clear();
        return false;
    }

    // The decoders of pending gzip hits: measured again from the hit's start up to where the
    // saved scan had come, so the stream goes on as if never stopped.
    ScanContext ctx = context();
    for (TFoundFile& hit : PendingRawFiles) {
        if (!ContinuationOf(hit).HoldsStream) continue;
        const std::int64_t reached = hit.Size;
        hit.Info = side_.NewStream();
        hit.Size = hit.Info != 0 && reached >= 0 ? 0 : kUnknownSize;
        if (hit.Size < 0) continue;
        if (!readSectors_) {
            hit.Size = kUnknownSize;
            continue;
        }
        std::vector<std::byte> chunk(kStreamChunk);
        while (hit.Size >= 0 && hit.Size < reached) {
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(reached - hit.Size, kStreamChunk));
            const std::int64_t at = hit.LBA * bps_ + hit.Size;
            const std::int64_t sector = at / bps_;
            const auto skip = static_cast<std::size_t>(at % bps_);
            const std::size_t sectors = (skip + want + bps_ - 1) / bps_;
            chunk.resize(sectors * bps_);
            const std::uint32_t got = readSectors_(static_cast<std::uint64_t>(sector), chunk);
            if (got < skip + want) {
                hit.Size = kUnknownSize;
                break;
            }
            const std::span<const std::byte> data = std::span<const std::byte>(chunk).subspan(skip, want);
            if (formats::ParseCompressedStream(ctx, data, hit) != kParseMore && hit.Size < reached) hit.Size = kUnknownSize;
        }
    }
    return true;
}

}  // namespace brenvale::raw
