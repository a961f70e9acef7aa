#include "raw/signature_scan.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "storage/device.h"

namespace brenvale::raw {

namespace {

constexpr std::int64_t kNotFound = std::numeric_limits<std::int64_t>::min();
// Bytes a marker parser may read before its marker (a PDF's "startxref" line).
constexpr std::int64_t kMarkerLookBack = 64;

// First place of `needle` in `hay`, or -1.
std::int64_t findBytes(std::span<const std::byte> hay, std::span<const std::byte> needle) {
    if (needle.empty() || hay.size() < needle.size()) return -1;
    const auto* h = reinterpret_cast<const unsigned char*>(hay.data());
    const auto* n = reinterpret_cast<const unsigned char*>(needle.data());
    const std::size_t last = hay.size() - needle.size();
    std::size_t at = 0;
    while (at <= last) {
        const void* p = std::memchr(h + at, n[0], last - at + 1);
        if (!p) return -1;
        at = static_cast<std::size_t>(static_cast<const unsigned char*>(p) - h);
        if (std::memcmp(h + at, n, needle.size()) == 0) return static_cast<std::int64_t>(at);
        ++at;
    }
    return -1;
}

}  // namespace

SectorReader DeviceSectors(storage::TDevice& device) {
    return [&device](std::uint64_t lba, std::span<std::byte> into) -> std::uint32_t {
        const std::uint32_t bps = device.BytesPerSector() ? device.BytesPerSector() : 512;
        const auto blocks = static_cast<std::uint32_t>(into.size() / bps);
        return blocks ? device.Read(lba, blocks, into) : 0;
    };
}

RawScan::RawScan(const SizeTables& sizes, std::uint32_t bytesPerSector, SectorReader readSectors)
    : sizes_(sizes), bps_(bytesPerSector ? bytesPerSector : 512), readSectors_(std::move(readSectors)) {
    carry_.reserve(2 * kCarryBytes);
}

ScanContext RawScan::context() {
    return ScanContext{sizes_, side_, bps_, readSectors_ ? &readSectors_ : nullptr};
}

const TCBFFFileInfo* RawScan::CompoundInfo(const TFoundFile& f) const {
    return formats::IsCompoundFileType(f) ? side_.Compound(f.Info) : nullptr;
}

void RawScan::finish(TFoundFile hit) {
    if (ContinuationOf(hit).HoldsStream) {
        side_.FreeStream(hit.Info);
        hit.Info = 0;
    }
    if (ValidTypePair(hit.MajorType, hit.MinorType)) ++NumberOfRawFiles[SizeIndex(hit.MajorType, hit.MinorType)];
    RawFiles.push_back(hit);
    if (!ContinuationOf(hit).SharesWalk) return;
    const std::int64_t end = hit.Size >= 0 ? hit.LBA * bps_ + hit.Size : -1;
    walkEnds_[hit.LBA] = end;
    const auto it = followers_.find(hit.LBA);
    if (it == followers_.end()) return;
    std::vector<TFoundFile> following = std::move(it->second);
    followers_.erase(it);
    for (TFoundFile& f : following) {
        f.Size = end >= 0 ? end - f.LBA * bps_ : kUnknownSize;
        finish(f);
    }
}

void RawScan::follow(TFoundFile hit, std::int64_t leader) {
    const auto ended = walkEnds_.find(leader);
    if (ended == walkEnds_.end()) {
        followers_[leader].push_back(hit);
        return;
    }
    hit.Size = ended->second >= 0 ? ended->second - hit.LBA * bps_ : kUnknownSize;
    finish(hit);
}

int RawScan::walkInBatch(ScanContext& ctx, const Continuation& cont, TFoundFile& hit, std::span<const std::byte> batch,
                         std::size_t offset, bool pending) {
    const auto data = batch.subspan(offset);
    if (!cont.SharesWalk) return pending ? callParser(ctx, cont.Parser, hit, data) : cont.Parser(ctx, data, hit);
    heads_.clear();
    ctx.Heads = &heads_;
    const int r = pending ? callParser(ctx, cont.Parser, hit, data) : cont.Parser(ctx, data, hit);
    ctx.Heads = nullptr;
    for (const std::int64_t h : heads_) {
        const auto at = static_cast<std::int64_t>(offset) + h;
        if (at % bps_ == 0 && at / bps_ < static_cast<std::int64_t>(steppedOn_.size()) && steppedOn_[at / bps_] < 0) {
            steppedOn_[at / bps_] = hit.LBA;
        }
    }
    return r;
}

int RawScan::callParser(ScanContext& ctx, LengthParser parser, TFoundFile& hit, std::span<const std::byte> data) {
    ++FPendTries;
    FPendFed += data.size();
    if (ValidTypePair(hit.MajorType, hit.MinorType)) ++FPendByType[SizeIndex(hit.MajorType, hit.MinorType)];
    return parser(ctx, data, hit);
}

void RawScan::findMarkers(std::span<const std::byte> batch, bool carryValid,
                          std::array<std::int64_t, kEndMarkerKinds>& at) {
    at.fill(kNotFound);
    std::array<bool, kEndMarkerKinds> needed{};
    for (const auto& hit : PendingRawFiles) needed[static_cast<int>(ContinuationOf(hit).Marker)] = true;
    for (int k = 1; k < kEndMarkerKinds; ++k) {
        if (!needed[k]) continue;
        const auto marker = EndMarkerBytes(static_cast<EndMarker>(k));
        // A marker cut by the boundary starts in the carried end of the last batch: negative.
        if (carryValid && !carry_.empty()) {
            const std::size_t back = std::min(marker.size() - 1, carry_.size());
            std::vector<std::byte>& join = seam_;
            join.assign(carry_.end() - static_cast<std::ptrdiff_t>(back), carry_.end());
            join.insert(join.end(), batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(std::min(batch.size(), marker.size() - 1)));
            const std::int64_t p = findBytes(join, marker);
            if (p >= 0 && p < static_cast<std::int64_t>(back)) {
                at[k] = p - static_cast<std::int64_t>(back);
                continue;
            }
        }
        const std::int64_t p = findBytes(batch, marker);
        if (p >= 0) at[k] = p;
    }
}

bool RawScan::offerPending(ScanContext& ctx, TFoundFile& hit, std::span<const std::byte> batch, std::int64_t batchLba,
                           bool carryValid, const std::array<std::int64_t, kEndMarkerKinds>& markers) {
    const std::int64_t max = ctx.MaxSize(hit);
    if (max > 0 && hit.Size >= max) {
        hit.Size = kUnknownSize;
        finish(hit);
        return true;
    }
    const Continuation cont = ContinuationOf(hit);
    if (!cont.Parser || hit.Size < 0) return false;
    const auto n = static_cast<std::int64_t>(batch.size());
    auto position = [&] { return (hit.LBA - batchLba) * static_cast<std::int64_t>(bps_) + hit.Size; };
    auto settle = [&](int r) {
        if (r == kParseMore) return false;
        if (r == kParseBroken && cont.DisposeWhenBroken) return true;
        finish(hit);
        return true;
    };
    std::int64_t pos = position();

    if (cont.Marker != EndMarker::None && !(hit.ExtraData1 & formats::kWalkEveryBatch)) {
        const std::int64_t p = markers[static_cast<int>(cont.Marker)];
        if (p == kNotFound) {
            if (pos < n) hit.Size += n - pos;
            if (max > 0 && hit.Size >= max) {
                hit.Size = kUnknownSize;
                finish(hit);
                return true;
            }
            return false;
        }
        if (pos == 0 && p < kMarkerLookBack && carryValid) {
            // The marker began in the last batch's end, or close after it: hand the bytes
            // before it over again, for what a parser reads before its marker.
            const std::int64_t back = std::min<std::int64_t>(kMarkerLookBack - p, static_cast<std::int64_t>(carry_.size()));
            hit.Size -= back;
            pos = -back;
        } else if (pos < 0) {
            hit.Size -= pos;  // a gap before this batch belongs to the file
            pos = 0;
        }
    }

    if (pos < 0) {
        // The next record's head (or a marker) was cut by the end of the last batch: the walk
        // goes on over that end joined to the start of this batch.
        if (!carryValid || -pos > static_cast<std::int64_t>(carry_.size())) return settle(kParseBroken);
        seam_.assign(carry_.end() + static_cast<std::ptrdiff_t>(pos), carry_.end());
        seam_.insert(seam_.end(), batch.begin(),
                     batch.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(batch.size(), kCarryBytes)));
        const int r = callParser(ctx, cont.Parser, hit, seam_);
        if (r != kParseMore) return settle(r);
        pos = position();
        // Still short of the head's end: the next batch brings more.
        if (pos < 0) return false;
    }
    if (pos >= n) return false;
    return settle(walkInBatch(ctx, cont, hit, batch, static_cast<std::size_t>(pos), true));
}

void RawScan::testSectors(ScanContext& ctx, std::span<const std::byte> batch, std::int64_t batchLba) {
    const std::size_t sectors = batch.size() / bps_;
    const auto chain = TestChain();
    for (std::size_t g = 0; g < sectors; ++g) {
        const auto s = batch.subspan(g * bps_);
        if (!Admitted(s.first(bps_))) continue;
        ctx.SectorLba = batchLba + static_cast<std::int64_t>(g);
        for (const ChainRow& row : chain) {
            if (!row.Test) continue;
            TFoundFile hit;
            if (!row.Test(ctx, s, hit)) continue;
            hit.LBA = batchLba + static_cast<std::int64_t>(g);
            // A camera format the catalogue has no row for: no hit, and no other test either.
            if (hit.Ext() == "crw") break;
            if (!row.Parser) {
                finish(hit);
                break;
            }
            const Continuation cont = ContinuationOf(hit);
            if (cont.SharesWalk && steppedOn_[g] >= 0) {
                follow(hit, steppedOn_[g]);
                break;
            }
            const std::size_t from = g * bps_ + std::min<std::size_t>(row.HandFrom, s.size());
            const int r = cont.SharesWalk ? walkInBatch(ctx, cont, hit, batch, from, false)
                                          : row.Parser(ctx, batch.subspan(from), hit);
            if (r == kParseMore) {
                PendingRawFiles.push_back(hit);
            } else {
                finish(hit);
            }
            break;
        }
    }
}

void RawScan::keepCarry(std::span<const std::byte> batch, std::int64_t batchLba, bool follows) {
    // The last kCarryBytes of what was read, across batches smaller than that.
    if (!follows || batch.size() >= kCarryBytes) carry_.clear();
    const std::size_t keep = std::min(batch.size(), kCarryBytes);
    carry_.insert(carry_.end(), batch.end() - static_cast<std::ptrdiff_t>(keep), batch.end());
    if (carry_.size() > kCarryBytes) carry_.erase(carry_.begin(), carry_.end() - static_cast<std::ptrdiff_t>(kCarryBytes));
    // Only whole sectors continue at the next sector.
    carryNextLba_ = batch.size() % bps_ == 0 ? batchLba + static_cast<std::int64_t>(batch.size() / bps_) : -1;
}

void RawScan::RawSignatureScan(std::span<const std::byte> Buffer, std::int64_t BatchLBA) {
    ScanContext ctx = context();
    const bool carryValid = carryNextLba_ >= 0 && BatchLBA == carryNextLba_;
    steppedOn_.assign(Buffer.size() / bps_, -1);
    walkEnds_.clear();

    if (!PendingRawFiles.empty()) {
        std::array<std::int64_t, kEndMarkerKinds> markers{};
        findMarkers(Buffer, carryValid, markers);
        leaving_.assign(PendingRawFiles.size(), 0);
        auto compact = [&] {
            std::size_t out = 0;
            for (std::size_t i = 0; i < PendingRawFiles.size(); ++i) {
                if (!leaving_[i]) PendingRawFiles[out++] = PendingRawFiles[i];
            }
            PendingRawFiles.resize(out);
        };
        try {
            // Last to first, as hits are finished in that order.
            for (std::size_t i = PendingRawFiles.size(); i-- > 0;) {
                if (offerPending(ctx, PendingRawFiles[i], Buffer, BatchLBA, carryValid, markers)) leaving_[i] = 1;
            }
        } catch (...) {
            compact();
            throw;
        }
        compact();
    }
    testSectors(ctx, Buffer, BatchLBA);
    keepCarry(Buffer, BatchLBA, carryValid);
}

void RawScan::FinishPending() {
    ScanContext ctx = context();
    for (TFoundFile& hit : PendingRawFiles) {
        const Continuation cont = ContinuationOf(hit);
        if (cont.AtEnd && hit.Size >= 0) {
            cont.AtEnd(ctx, hit);
        } else {
            hit.Size = kUnknownSize;
        }
        finish(hit);
    }
    PendingRawFiles.clear();
    // Every walk has ended, so every follower has been listed.
    walkEnds_.clear();
}

void RawScan::Clear() {
    RawFiles.clear();
    PendingRawFiles.clear();
    NumberOfRawFiles.fill(0);
    FPendTries = 0;
    FPendFed = 0;
    FPendByType.fill(0);
    side_.Clear();
    followers_.clear();
    walkEnds_.clear();
    carry_.clear();
    carryNextLba_ = -1;
}

}  // namespace brenvale::raw
