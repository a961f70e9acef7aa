#include "advscan/adv_recover.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
#include <unordered_map>

#include "advscan/advanced_scan.h"
#include "advscan/fat_entry_access.h"
#include "scan/dest_file.h"
#include "scan/dest_names.h"
#include "scan/entry_cast.h"
#include "scan/lznt1.h"
#include "scan/ntfs_file_record.h"
#include "scan/ntfs_record.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/le.h"

namespace brenvale::advscan {

namespace {

constexpr std::int32_t kNoStatus = -1;
constexpr std::uint64_t kPieceBytes = 1 << 20;
constexpr std::uint64_t kUnitClusters = 16;
constexpr std::uint32_t kAttrList = 0x20;
constexpr std::uint16_t kFileAttrCompressed = 0x0800;
constexpr std::uint16_t kAttrFlagCompressed = 0x0001;
constexpr std::size_t kNtfsRecordNumberAt = 44;
constexpr std::uint16_t kRecordNumberLayout = 0x30;  // update sequence offset of records that carry their number

}  // namespace

AdvRecovery::AdvRecovery(const AdvancedScan& adv, scan::TUndelete& scan)
    : adv_(adv), scan_(scan), bps_(scan.Device().BytesPerSector() ? scan.Device().BytesPerSector() : 512) {}

std::uint8_t AdvRecovery::FsTypeOf(const AdvNode& node) const {
    switch (node.kind) {
        case AdvNode::Kind::NtfsRoot:
        case AdvNode::Kind::NtfsRecord: return kAdvNtfs;
        case AdvNode::Kind::ExFatRoot:
        case AdvNode::Kind::ExFatFolder:
        case AdvNode::Kind::ExFatEntry: return kAdvExFat;
        default: return adv_.Fat.FatType;
    }
}

bool AdvRecovery::readAbs(std::uint64_t abs, std::span<std::byte> into) {
    constexpr std::uint64_t kMostSectors = 32768;  // per device read
    const std::uint64_t count = into.size() / bps_;
    if (count == 0 || abs + count > scan_.Device().Sectors()) return false;
    for (std::uint64_t done = 0; done < count;) {
        const std::uint64_t n = std::min(kMostSectors, count - done);
        const auto part = into.subspan(static_cast<std::size_t>(done * bps_), static_cast<std::size_t>(n * bps_));
        if (scan_.Device().Read(abs + done, static_cast<std::uint32_t>(n), part) != part.size()) return false;
        done += n;
    }
    return true;
}

bool AdvRecovery::readRel(std::int64_t rel, std::span<std::byte> into) {
    const std::uint64_t count = into.size() / bps_;
    if (rel < 0 || static_cast<std::uint64_t>(rel) + count > adv_.ObjectSectors()) return false;
    return readAbs(adv_.ObjectStart() + static_cast<std::uint64_t>(rel), into);
}

void AdvRecovery::progress(std::uint64_t done, std::uint64_t total, bool interactive) const {
    if (interactive && scan_.FOnRecoverProgress && total > 0) {
        scan_.FOnRecoverProgress(static_cast<std::int32_t>(std::lround(double(std::min(done, total)) / double(total) * 100.0)));
    }
}

std::int32_t AdvRecovery::copyClusters(const std::vector<std::uint32_t>& chain, std::int64_t heap, std::int32_t spc,
                                       std::uint64_t size, std::uint64_t limit, bool interactive, const Sink& sink) {
    const std::uint64_t clusterBytes = std::uint64_t(spc) * bps_;
    const std::uint64_t want = std::min(size, limit);
    const std::uint64_t clusters = (want + clusterBytes - 1) / clusterBytes;
    auto clusterAt = [&](std::uint64_t i) {
        // Past its chain a file goes on in the clusters after its last one.
        return i < chain.size() ? std::uint64_t{chain[i]} : std::uint64_t{chain.back()} + (i - chain.size() + 1);
    };
    std::vector<std::byte> piece;
    std::uint64_t written = 0;
    for (std::uint64_t i = 0; i < clusters;) {
        if (scan_.FTerminated) return scan::kRecoverStopped;
        if (storage::DeviceAborted) return scan::kRecoverReadError;
        // Clusters that follow each other are read at once, up to a piece.
        const std::uint64_t first = clusterAt(i);
        std::uint64_t n = 1;
        while (i + n < clusters && clusterAt(i + n) == first + n && (n + 1) * clusterBytes <= kPieceBytes) ++n;
        if (first < 2) return scan::kRecoverReadError;
        const std::int64_t rel = heap + static_cast<std::int64_t>(first - 2) * spc;
        piece.resize(static_cast<std::size_t>(n * clusterBytes));
        if (!readRel(rel, piece)) return scan::kRecoverReadError;
        const std::uint64_t take = std::min<std::uint64_t>(piece.size(), want - written);
        if (!sink(std::span<const std::byte>(piece).first(static_cast<std::size_t>(take)))) return scan::kRecoverWriteError;
        written += take;
        i += n;
        progress(written, want, interactive);
    }
    return scan::kRecoverSuccessful;
}

std::int32_t AdvRecovery::copyNtfs(const scan::tntfsfilerecord& r, std::uint64_t limit, bool interactive, const Sink& sink) {
    if (r.realsize == 0) return scan::kRecoverSuccessful;
    // The record where it was harvested, at its own length, fixed up, and checked to be the
    // record the tree lists.
    const std::uint32_t length = adv_.BootRecordLength ? adv_.BootRecordLength
                                 : adv_.Lists.RecordLength ? adv_.Lists.RecordLength
                                                           : 1024;
    if (r.recordnumber < 0 || r.sectornumber < 0) return kNoStatus;
    const std::uint64_t within = length < bps_ ? static_cast<std::uint64_t>(r.recordnumber) % (bps_ / length) * length : 0;
    std::vector<std::byte> sectors((within + length + bps_ - 1) / bps_ * bps_);
    if (!readRel(r.sectornumber, sectors)) return kNoStatus;
    std::span<std::byte> rec = std::span(sectors).subspan(static_cast<std::size_t>(within), length);
    if (std::memcmp(rec.data(), "FILE", 4) != 0 || !scan::ApplyFixups(rec)) return kNoStatus;
    if (storage::le16(rec, 4) >= kRecordNumberLayout &&
        storage::le32(rec, kNtfsRecordNumberAt) != static_cast<std::uint32_t>(r.recordnumber)) {
        return kNoStatus;
    }
    if (scan::FindAttribute(rec, kAttrList)) return scan::kRecoverNonrecoverable;
    scan::NtfsDataStream data = scan::ParseDataStream(rec, nullptr);
    if (!data.found) {
        Diag.push_back(fmt::format("record {} at sector {}: the sectors read hold no usable data attribute", r.recordnumber,
                                   r.sectornumber));
        return kNoStatus;
    }
    if (data.runStatus == scan::RunListStatus::Invalid) return scan::kRecoverRunListError;
    if (data.resident) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(limit, data.value.size()));
        return sink(std::span<const std::byte>(data.value).first(n)) ? scan::kRecoverSuccessful : scan::kRecoverWriteError;
    }
    const std::uint64_t spc = adv_.SectorsPerClusNtfs > 0 ? static_cast<std::uint64_t>(adv_.SectorsPerClusNtfs) : 0;
    const std::uint64_t clusterBytes = spc * bps_;
    if (clusterBytes == 0) {
        Diag.push_back(fmt::format("record {}: recovery given up, the cluster size is unknown ({} sectors per cluster, {} "
                                   "bytes per sector, record at sector {})",
                                   r.recordnumber, adv_.SectorsPerClusNtfs, bps_, r.sectornumber));
        return scan::kRecoverReadError;
    }
    const std::int64_t volume = adv_.AdvNtfsVolStart();
    if (volume < 0) {
        Diag.push_back(fmt::format("record {}: the volume start is unknown (the records do not give it and the object is "
                                   "no NTFS volume)",
                                   r.recordnumber));
        return kNoStatus;
    }
    // The clusters of the runs, in order; a run at cluster 0 is a hole. Runs must cover the
    // file, and those with data must lie on the device.
    const std::uint64_t clusters = (r.realsize + clusterBytes - 1) / clusterBytes;
    const bool compressed = (r.head.Flags & kFileAttrCompressed) != 0 || (data.attrFlags & kAttrFlagCompressed) != 0;
    const std::uint64_t deviceSectors = scan_.Device().Sectors();
    std::uint64_t covered = 0;
    for (const auto& run : data.runs) {
        if (run.clusnum <= 0) continue;
        const auto n = static_cast<std::uint64_t>(run.clusnum);
        if (run.offset != 0) {
            if (run.offset < 0 || static_cast<std::uint64_t>(run.offset) > deviceSectors / spc ||
                n > deviceSectors / spc - static_cast<std::uint64_t>(run.offset)) {
                return scan::kRecoverReadError;
            }
        }
        covered += std::min(n, clusters + kUnitClusters);
        if (covered >= clusters) break;
    }
    if (covered < clusters) return scan::kRecoverRunListError;
    const std::uint64_t want = std::min(r.realsize, limit);
    auto sectorOf = [&](std::int64_t cluster) { return static_cast<std::uint64_t>(volume) + spc * static_cast<std::uint64_t>(cluster); };
    std::vector<std::byte> piece;
    std::uint64_t written = 0;
    if (!compressed) {
        for (const auto& run : data.runs) {
            for (std::uint64_t k = 0; k < static_cast<std::uint64_t>(std::max<std::int64_t>(run.clusnum, 0)) && written < want;) {
                if (scan_.FTerminated) return scan::kRecoverStopped;
                const std::uint64_t n = std::min<std::uint64_t>({static_cast<std::uint64_t>(run.clusnum) - k, kPieceBytes / clusterBytes + 1,
                                                                 (want - written + clusterBytes - 1) / clusterBytes});
                piece.assign(static_cast<std::size_t>(n * clusterBytes), std::byte{0});
                if (run.offset != 0 && !readAbs(sectorOf(run.offset + static_cast<std::int64_t>(k)), piece)) return scan::kRecoverReadError;
                const std::uint64_t take = std::min<std::uint64_t>(piece.size(), want - written);
                if (!sink(std::span<const std::byte>(piece).first(static_cast<std::size_t>(take)))) return scan::kRecoverWriteError;
                written += take;
                k += n;
                progress(written, want, interactive);
            }
            if (written >= want) break;
        }
        return scan::kRecoverSuccessful;
    }
    // Compressed: units of 16 clusters; a unit whose last clusters are holes holds its data
    // compressed in the clusters before them.
    const std::uint64_t unitBytes = kUnitClusters * clusterBytes;
    std::size_t runAt = 0;
    std::uint64_t inRun = 0;
    auto nextCluster = [&]() -> std::optional<std::int64_t> {
        while (runAt < data.runs.size() && inRun >= static_cast<std::uint64_t>(std::max<std::int64_t>(data.runs[runAt].clusnum, 0))) {
            ++runAt;
            inRun = 0;
        }
        if (runAt >= data.runs.size()) return std::nullopt;
        const auto& run = data.runs[runAt];
        const std::uint64_t i = inRun++;
        return run.offset == 0 ? -1 : run.offset + static_cast<std::int64_t>(i);
    };
    std::vector<std::int64_t> unit;
    std::vector<std::byte> plain;
    while (written < want) {
        if (scan_.FTerminated) return scan::kRecoverStopped;
        unit.clear();
        for (std::uint64_t i = 0; i < kUnitClusters; ++i) {
            const auto c = nextCluster();
            if (!c) break;
            unit.push_back(*c);
        }
        std::size_t dataClusters = 0;
        while (dataClusters < unit.size() && unit[dataClusters] >= 0) ++dataClusters;
        piece.assign(static_cast<std::size_t>(dataClusters * clusterBytes), std::byte{0});
        for (std::size_t i = 0; i < dataClusters; ++i) {
            if (!readAbs(sectorOf(unit[i]), std::span(piece).subspan(static_cast<std::size_t>(i * clusterBytes),
                                                                       static_cast<std::size_t>(clusterBytes)))) {
                return scan::kRecoverReadError;
            }
        }
        plain.clear();
        if (dataClusters == unit.size()) {
            plain = piece;
        } else if (dataClusters > 0) {
            scan::Lznt1DecodeUnit(piece, plain, static_cast<std::size_t>(unitBytes));
        }
        plain.resize(static_cast<std::size_t>(unitBytes), std::byte{0});
        const std::uint64_t take = std::min<std::uint64_t>(unitBytes, want - written);
        if (!sink(std::span<const std::byte>(plain).first(static_cast<std::size_t>(take)))) return scan::kRecoverWriteError;
        written += take;
        progress(written, want, interactive);
        if (unit.empty()) break;
    }
    return scan::kRecoverSuccessful;
}

std::int32_t AdvRecovery::copyData(const scan::TScanEntry* e, std::uint8_t fsType, std::uint64_t limit, bool interactive,
                                   const Sink& sink) {
    if (scan::IsNtfsEntry(e)) return copyNtfs(*scan::AsNtfs(e), limit, interactive, sink);
    if (fsType == kAdvExFat || e->Kind() == scan::EntryKind::ExFat) {
        const scan::TMidEntry& m = *scan::AsMid(e);
        const std::uint64_t size = scan::EntrySize(m);
        if (size == 0) return scan::kRecoverSuccessful;
        const std::int32_t spc = adv_.ExFatSPC();
        const std::int64_t heap = adv_.ExFatHeap();
        if (spc <= 0 || heap <= 0) return kNoStatus;
        if (size > adv_.ObjectSectors() * bps_) return kNoStatus;
        std::vector<std::uint32_t> chain{m.DirClusNum};
        // The FAT of the object only describes the geometry its boot sector gives (also when
        // the files confirmed that geometry); a file flagged as contiguous needs none.
        const ExFatInference& inferred = adv_.ExFatInferred;
        const bool ownFat = scan_.FileSystem() == 4 &&
                            (!inferred.Geometry.Usable() || inferred.AcceptedBy == ExFatAcceptedBy::BootSector);
        std::uint32_t count = 0;
        if (!m.NoFatChain && ownFat && (!scan_.GetClusNumChain(m.DirClusNum, chain, count) || chain.empty())) chain = {m.DirClusNum};
        return copyClusters(chain, heap, spc, size, limit, interactive, sink);
    }
    const FatRebuild& fat = adv_.Fat;
    const std::uint64_t size = fatentry::visit(e, [](const auto& m) { return std::uint64_t{fatentry::slotOf(m).filesize}; });
    if (size == 0) return scan::kRecoverSuccessful;
    if (fat.SectorsPerClus <= 0 || !fat.RootSectNum) return kNoStatus;
    std::vector<std::uint32_t> chain{fat.FatClusOf(e)};
    std::uint32_t count = 0;
    if (fat.AdvFatChainTrusted() && !scan_.GetClusNumChain(chain.front(), chain, count)) return scan::kRecoverReadError;
    if (chain.empty()) return scan::kRecoverReadError;
    return copyClusters(chain, *fat.RootSectNum, fat.SectorsPerClus, size, limit, interactive, sink);
}

bool AdvRecovery::AdvRecoverFile(const scan::TScanEntry* e, std::uint8_t fsType, const std::string& name, const std::string& path) {
    if (!e || !recovered_.insert(e).second) return false;
    auto report = [&](std::int32_t code) {
        if (code != kNoStatus && scan_.FOnRecover) scan_.FOnRecover(name, code);
        return code == scan::kRecoverSuccessful;
    };
    try {
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
        scan_.FRecoveringSize = AdvEntrySize(e);
        if (scan_.FOnRecover) scan_.FOnRecover(name, scan::kRecoverStarting);
        scan::DestFile out(scan::UniqueDestName(name, path));
        if (!out.IsOpen()) return report(scan::kRecoverCreateError);
        const std::int32_t code =
            copyData(e, fsType, UINT64_MAX, true, [&](std::span<const std::byte> b) { return out.Write(b); });
        if (code != scan::kRecoverSuccessful) {
            // Said as a failure even when the reason has no code of its own: the file was
            // announced and is not there.
            return report(code == kNoStatus ? scan::kRecoverReadError : code);
        }
        if (!out.Commit()) return report(scan::kRecoverWriteError);
        report(scan::kRecoverSuccessful);
        scan_.SetRecoveredTimes(e, out.Path());
        return true;
    } catch (const std::exception&) {
        return report(scan::kRecoverUnexpected);
    }
}

bool AdvRecovery::AdvRecoverFileToBuf(const scan::TScanEntry* e, std::uint8_t fsType, std::vector<std::byte>& buffer,
                                      std::int64_t size) {
    buffer.clear();
    if (!e) return false;
    try {
        const std::uint64_t want = size < 1 ? 65536 : static_cast<std::uint64_t>(size);
        return copyData(e, fsType, want, false, [&](std::span<const std::byte> b) {
                   buffer.insert(buffer.end(), b.begin(), b.end());
                   return true;
               }) == scan::kRecoverSuccessful;
    } catch (const std::exception&) {
        return false;
    }
}

bool AdvRecovery::RecoverNode(const AdvTree& tree, std::size_t node, const std::string& dest) {
    const auto& nodes = tree.Nodes();
    if (node >= nodes.size()) return false;
    if (!nodes[node].folder) return AdvRecoverFile(nodes[node].entry, FsTypeOf(nodes[node]), nodes[node].name, dest);
    // Folders as the tree shows them: each node's folder on disk is its parent's.
    const std::size_t end = tree.SubtreeEnd(node);
    std::unordered_map<std::size_t, std::string> made;
    bool ok = true;
    for (std::size_t i = node; i < end; ++i) {
        if (scan_.FTerminated || storage::DeviceAborted) return false;
        const AdvNode& n = nodes[i];
        const std::string& parentDir = i == node ? dest : made[static_cast<std::size_t>(n.parent)];
        if (parentDir.empty()) continue;  // below a folder that could not be made
        if (!n.folder) {
            ok = AdvRecoverFile(n.entry, FsTypeOf(n), n.name, parentDir) && ok;
            continue;
        }
        if (n.entry && !recovered_.insert(n.entry).second) continue;
        if (scan_.FOnRecover) scan_.FOnRecover(n.name, scan::kRecoverFolderStarting);
        std::string folder = scan::UniqueDestName(n.name, parentDir);
        std::error_code ec;
        if (!std::filesystem::create_directories(folder, ec) && ec) {
            if (scan_.FOnRecover) scan_.FOnRecover(n.name, scan::kRecoverCreateError);
            ok = false;
            folder.clear();
        }
        made[i] = std::move(folder);
    }
    return ok;
}

scan::TUndelete::RecoveryTotals AdvRecovery::CountNode(const AdvTree& tree, std::size_t node) const {
    scan::TUndelete::RecoveryTotals totals;
    const auto& nodes = tree.Nodes();
    if (node >= nodes.size()) return totals;
    for (std::size_t i = node, end = tree.SubtreeEnd(node); i < end; ++i) {
        if (nodes[i].folder) continue;
        ++totals.Files;
        totals.Bytes += AdvEntrySize(nodes[i].entry);
    }
    return totals;
}

}  // namespace brenvale::advscan
