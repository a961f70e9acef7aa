// Where an NTFS file's data lies (its unnamed data attribute, through the attribute list when
// it has one), and the reading of compressed streams unit by unit.

#include <algorithm>
#include <cmath>
#include <optional>

#include "scan/lznt1.h"
#include "scan/ntfs_record.h"
#include "scan/undelete.h"
#include "scan/volume_reader.h"

namespace brenvale::scan {

namespace {

constexpr std::uint64_t kUnitClusters = 16;
constexpr std::uint16_t kFileAttrCompressed = 0x0800;
constexpr std::uint16_t kAttrFlagCompressed = 0x0001;

}  // namespace

std::int32_t TUndelete::ntfsExtents(const tntfsfilerecord& f, std::vector<DataExtent>& out, bool& compressed,
                                    std::vector<std::byte>& resident, bool& isResident) {
    out.clear();
    std::vector<std::byte> rec;
    if (!FNtfsGeo || !readRecordAt(f.sectornumber * static_cast<std::int64_t>(FNtfsGeo->bytesPerSector), rec)) {
        return kRecoverRunListError;
    }
    NtfsDataStream data = ParseDataStream(rec, &ntfsRecords());
    if (!data.found || data.runStatus == RunListStatus::Invalid) return kRecoverRunListError;
    if (data.resident) {
        resident = std::move(data.value);
        isResident = true;
        return kRecoverSuccessful;
    }
    const storage::trunlist& runs = data.runs;
    compressed = (f.head.Flags & kFileAttrCompressed) != 0 || (data.attrFlags & kAttrFlagCompressed) != 0;
    const std::uint64_t cluster = ClusterBytes();
    if (cluster == 0) return kRecoverReadError;
    const std::uint64_t clusters = (f.realsize + cluster - 1) / cluster;
    // A compressed stream is read in whole units: the holes after a unit's data say that it
    // is compressed, also in the last unit.
    const std::uint64_t wanted = compressed ? (clusters + kUnitClusters - 1) / kUnitClusters * kUnitClusters : clusters;
    // The boot file really starts at cluster 0; anywhere else a run at 0 is a hole.
    const bool bootFile = f.filename == "$Boot";
    // Data runs lie inside the volume: one that reaches past its end is damage, found here
    // rather than by reading up to it.
    const std::uint64_t volumeClusters = VolumeBytes() / cluster;
    std::uint64_t covered = 0;
    for (const auto& run : runs) {
        if (covered >= wanted) break;
        if (FTerminated) return kRecoverStopped;
        if (run.clusnum <= 0) continue;
        const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(run.clusnum), wanted - covered);
        if (run.offset == 0 && !bootFile) {
            out.push_back({-1, n * cluster});
        } else {
            if (run.offset < 0 || static_cast<std::uint64_t>(run.offset) > volumeClusters ||
                n > volumeClusters - static_cast<std::uint64_t>(run.offset)) {
                return kRecoverReadError;
            }
            out.push_back({static_cast<std::int64_t>(static_cast<std::uint64_t>(run.offset) * cluster), n * cluster});
        }
        covered += n;
    }
    // Runs that stop short of the size leave part of the file unknown: not a recovery.
    if (covered < clusters) return kRecoverRunListError;
    return kRecoverSuccessful;
}

std::int32_t TUndelete::copyCompressed(const std::vector<DataExtent>& extents, std::uint64_t size, std::uint64_t from,
                                       std::uint64_t limit, bool interactive, const DataSink& sink) {
    const std::uint64_t cluster = ClusterBytes();
    const std::uint64_t unitBytes = kUnitClusters * cluster;
    const std::uint64_t end = std::min(size, from + std::min(limit, size));
    // A cursor over the extents hands out the clusters of one unit at a time: a damaged run
    // list may claim billions of clusters, which must not all be held at once.
    std::size_t ext = 0;
    std::uint64_t inExt = 0;  // clusters of extents[ext] already handed out
    auto nextCluster = [&]() -> std::optional<std::int64_t> {
        while (ext < extents.size() && inExt >= extents[ext].length / cluster) {
            ++ext;
            inExt = 0;
        }
        if (ext >= extents.size()) return std::nullopt;
        const auto& e = extents[ext];
        const std::uint64_t i = inExt++;
        return e.offset < 0 ? -1 : e.offset + static_cast<std::int64_t>(i * cluster);
    };
    std::vector<std::int64_t> unit;
    std::vector<std::byte> raw, plain;
    for (std::uint64_t unitStart = 0; unitStart < end; unitStart += unitBytes) {
        unit.clear();
        for (std::uint64_t i = 0; i < kUnitClusters; ++i) {
            const auto c = nextCluster();
            if (!c) break;
            unit.push_back(*c);
        }
        if (interactive) pump();
        if (FTerminated) return kRecoverStopped;
        if (unitStart + unitBytes <= from) continue;  // units decode on their own
        const std::size_t count = unit.size();
        // A compressed unit keeps its data in its first clusters; the rest are holes.
        std::size_t data = 0;
        while (data < count && unit[data] >= 0) ++data;
        raw.assign(data * cluster, std::byte{0});
        for (std::size_t i = 0; i < data; ++i) {
            const auto dst = std::span(raw).subspan(i * cluster, cluster);
            if (FReader->Read(static_cast<std::uint64_t>(unit[i]), dst) != cluster) return kRecoverUnexpected;
        }
        plain.clear();
        if (data == count) {
            plain = raw;  // stored as is
        } else if (data > 0) {
            Lznt1DecodeUnit(raw, plain, unitBytes);
        }
        plain.resize(unitBytes, std::byte{0});
        const std::uint64_t lo = std::max(unitStart, from), hi = std::min(unitStart + unitBytes, end);
        if (!sink(std::span<const std::byte>(plain).subspan(lo - unitStart, hi - lo))) return kRecoverWriteError;
        if (interactive && FOnRecoverProgress && end > from) {
            FOnRecoverProgress(static_cast<std::int32_t>(std::min<double>(100.0, std::lround(double(hi - from) / double(end - from) * 100.0))));
        }
    }
    return kRecoverSuccessful;
}

}  // namespace brenvale::scan
