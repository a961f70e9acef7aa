// Recovery of files and folders found by the standard scan: where a file's bytes lie (FAT
// chains, exFAT runs, NTFS data runs), copying them into a new file under a unique name, and
// the file's times.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>

#include "platform/file_times.h"
#include "scan/dest_file.h"
#include "scan/dest_names.h"
#include "scan/dos_time.h"
#include "scan/undelete.h"
#include "scan/volume_reader.h"
#include "storage/device_events.h"
#include "storage/disk_extents.h"
#include "storage/fs_types.h"

namespace brenvale::scan {

namespace {

constexpr std::uint64_t kCopyPiece = 1 << 20;
constexpr int kMaxRecoverDepth = 1000;
// Chain clusters handed to the extent list between two looks at the stop flag.
constexpr std::uint64_t kStopCheckClusters = 4096;

// Local wall-clock DOS date and time as seconds since the epoch.
std::int64_t localToUnix(const DosDateTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

// Appends `length` bytes at volume offset `offset` (-1: a hole), merging with the last extent
// when they continue it.
void addExtent(std::vector<DataExtent>& out, std::int64_t offset, std::uint64_t length) {
    if (!out.empty()) {
        auto& last = out.back();
        const bool holes = last.offset < 0 && offset < 0;
        const bool adjacent = last.offset >= 0 && offset >= 0 &&
                              static_cast<std::uint64_t>(last.offset) + last.length == static_cast<std::uint64_t>(offset);
        if (holes || adjacent) {
            last.length += length;
            return;
        }
    }
    out.push_back({offset, length});
}

}  // namespace

std::string RecoverStatusText(std::int32_t code) {
    static constexpr const char* kTexts[] = {"Successful",        "Error Creating File", "User Terminated",
                                             "Error Writing File", "Unexpected Error",    "Error Reading File",
                                             "Error Reading Run List", "Nonrecoverable File"};
    return code >= 0 && code < 8 ? kTexts[code] : "";
}

std::uint64_t TUndelete::ClusterBytes() const {
    switch (FileSystem()) {
        case storage::kFsNtfs: return FNtfsGeo ? FNtfsGeo->clusterBytes : 0;
        case storage::kFsExfat: return std::uint64_t{ExFatSPC()} * FGeo.bytesPerSector;
        default: return FGeo.clusterBytes();
    }
}

std::uint64_t TUndelete::VolumeBytes() const {
    const std::uint64_t device = FDevice->Sectors();
    const auto start = static_cast<std::uint64_t>(std::max<std::int64_t>(partitions::PartitionStart(FPartition), 0));
    const std::uint64_t room = device > start ? device - start : 0;
    const auto claimed = static_cast<std::uint64_t>(std::max<std::int64_t>(partitions::PartitionSize(FPartition), 0));
    return (claimed == 0 || claimed > room ? room : claimed) * FDevice->BytesPerSector();
}

std::int32_t TUndelete::fileExtents(const TScanEntry* e, const std::string& name, std::uint64_t from,
                                    std::uint64_t limit, std::vector<DataExtent>& out, std::uint64_t& size,
                                    std::uint64_t& listStart) {
    out.clear();
    const std::uint64_t cluster = ClusterBytes();
    std::uint32_t first = 0;
    bool contiguous = false;
    if (e->Kind() == EntryKind::Fat32) {
        const auto& m = *AsMid32(e);
        size = m.FDT32Entry.filesize;
        first = m.FDT32Entry.firstCluster();
        // A live entry's FAT chain is authoritative; only a deleted one may have lost its high word.
        if (m.FDT32Entry.hi1stclusternumber == 0 && m.Status != kStatusLive) {
            const std::int64_t hi = FindHiClusNum(name, 0, m.FDT32Entry.lo1stclusternumber);
            if (hi > 0) first |= static_cast<std::uint32_t>(hi) << 16;
        }
    } else if (e->Kind() == EntryKind::ExFat) {
        const auto& m = *AsMid(e);
        size = EntrySize(m);
        first = m.DirClusNum;
        contiguous = m.NoFatChain;
    } else {
        const auto& m = *AsMid(e);
        size = m.FDTEntry.filesize;
        first = m.FDTEntry.firstclusternumber;
    }
    listStart = 0;
    if (size == 0) return kRecoverSuccessful;
    if (cluster == 0) return kRecoverReadError;
    const std::uint64_t clusters = (size + cluster - 1) / cluster;
    // Clusters are numbered from 2; the volume holds no data past its last one (nor past its
    // end, whatever its boot sector counts). A file claiming more than that is damage, and
    // copying it would only read until the volume ends.
    const bool exfat = e->Kind() == EntryKind::ExFat;
    const std::uint64_t heapBytes = (exfat ? ExFatHeap() : FGeo.firstDataSector) * FGeo.bytesPerSector;
    const std::uint64_t volume = VolumeBytes();
    const std::uint64_t fitting = volume > heapBytes ? (volume - heapBytes) / cluster : 0;
    // The boot sector's count only holds for its own cluster size (the advanced scan may
    // have found another one for exFAT).
    const bool ownClusters = !exfat || ExFatSPC() == FGeo.sectorsPerCluster;
    const std::uint64_t lastCluster = (ownClusters ? std::min<std::uint64_t>(FGeo.dataClusters, fitting) : fitting) + 1;
    if (clusters > lastCluster - 1) return kRecoverNonrecoverable;
    if (first < 2 || first > lastCluster) return kRecoverReadError;
    // Only the clusters of the bytes asked for: a preview of a large file reads its start.
    const std::uint64_t firstIndex = std::min(from, size) / cluster;
    const std::uint64_t endIndex = std::min(clusters, (std::min(size, from + std::min(limit, size)) + cluster - 1) / cluster);
    listStart = firstIndex * cluster;
    TClusterBuf chain;
    std::uint32_t count = 0;
    if (contiguous) {
        chain.assign(1, first);
    } else if (!GetClusNumChain(first, chain, count) || chain.empty()) {
        return FTerminated ? kRecoverStopped : kRecoverReadError;
    }
    if (FTerminated) return kRecoverStopped;
    auto clusterOffset = [&](std::uint64_t c) {
        const std::uint64_t sector = exfat ? (c - 2) * ExFatSPC() + ExFatHeap() : FGeo.firstDataSector + (c - 2) * FGeo.sectorsPerCluster;
        return static_cast<std::int64_t>(sector * FGeo.bytesPerSector);
    };
    auto bytesFrom = [&](std::uint64_t index, std::uint64_t end) { return std::min(size, end * cluster) - index * cluster; };
    std::uint64_t i = firstIndex;
    for (; i < endIndex && i < chain.size(); ++i) {
        if (i % kStopCheckClusters == 0 && FTerminated) return kRecoverStopped;
        addExtent(out, clusterOffset(chain[i]), bytesFrom(i, i + 1));
    }
    // Past its chain (a deleted file whose FAT entries were cleared, or data without a chain)
    // a file goes on in the clusters that follow its last one: one stretch, which must end
    // inside the volume.
    if (i < endIndex) {
        const std::uint64_t next = std::uint64_t{chain.back()} + (i - chain.size() + 1);
        const std::uint64_t last = std::uint64_t{chain.back()} + (endIndex - chain.size());
        if (last > lastCluster) return kRecoverReadError;
        addExtent(out, clusterOffset(next), bytesFrom(i, endIndex));
    }
    return kRecoverSuccessful;
}

std::int32_t TUndelete::copyExtents(const std::vector<DataExtent>& extents, std::uint64_t listStart,
                                    std::uint64_t size, std::uint64_t from, std::uint64_t limit, bool interactive,
                                    const DataSink& sink) {
    std::vector<std::byte> piece;
    std::uint64_t pos = listStart;  // file offset of the current extent
    const std::uint64_t end = std::min(size, from + std::min(limit, size));
    for (const auto& ext : extents) {
        if (pos >= end) break;
        if (FTerminated) return kRecoverStopped;
        const std::uint64_t extEnd = pos + ext.length;
        std::uint64_t at = std::max(pos, from);
        while (at < std::min(extEnd, end)) {
            if (interactive) pump();
            if (FTerminated) return kRecoverStopped;
            const std::uint64_t n = std::min({kCopyPiece, extEnd - at, end - at});
            piece.assign(static_cast<std::size_t>(n), std::byte{0});
            if (ext.offset >= 0) {
                const std::uint64_t volumeOffset = static_cast<std::uint64_t>(ext.offset) + (at - pos);
                if (FReader->Read(volumeOffset, piece) == 0) return kRecoverReadError;
            }
            if (!sink(piece)) return kRecoverWriteError;
            at += n;
            if (interactive && FOnRecoverProgress && end > from) {
                FOnRecoverProgress(static_cast<std::int32_t>(std::lround(double(at - from) / double(end - from) * 100.0)));
            }
        }
        pos = extEnd;
    }
    return kRecoverSuccessful;
}

std::int32_t TUndelete::readFileData(const TScanEntry* e, const std::string& name, std::uint64_t from,
                                     std::uint64_t limit, bool interactive, const DataSink& sink) {
    std::vector<DataExtent> extents;
    if (IsNtfsEntry(e)) {
        const auto& f = *AsNtfs(e);
        if (f.realsize == 0) return kRecoverSuccessful;
        bool compressed = false, resident = false;
        std::vector<std::byte> body;
        const std::int32_t r = ntfsExtents(f, extents, compressed, body, resident);
        if (r != kRecoverSuccessful) return r;
        if (resident) {
            const std::size_t start = static_cast<std::size_t>(std::min<std::uint64_t>(from, body.size()));
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(limit, body.size() - start));
            return sink(std::span<const std::byte>(body).subspan(start, n)) ? kRecoverSuccessful : kRecoverWriteError;
        }
        if (compressed) return copyCompressed(extents, f.realsize, from, limit, interactive, sink);
        return copyExtents(extents, 0, f.realsize, from, limit, interactive, sink);
    }
    std::uint64_t size = 0;
    std::uint64_t listStart = 0;
    const std::int32_t r = fileExtents(e, name, from, limit, extents, size, listStart);
    if (r != kRecoverSuccessful) return r;
    return copyExtents(extents, listStart, size, from, limit, interactive, sink);
}

void TUndelete::SetRecoveredTimes(const TScanEntry* e, const std::string& path) const {
    std::optional<std::int64_t> modified;
    if (IsNtfsEntry(e)) {
        const storage::TFileNameAttrHead h = AsNtfs(e)->head;
        if (const auto t = FileTimeDos(h.FileAlteredTime)) modified = localToUnix(*t);
    } else {
        const bool fat32 = e->Kind() == EntryKind::Fat32;
        const auto d = fat32 ? AsMid32(e)->FDT32Entry.updatedate : AsMid(e)->FDTEntry.updatedate;
        const auto t = fat32 ? AsMid32(e)->FDT32Entry.updatetime : AsMid(e)->FDTEntry.updatetime;
        // Only a real date: the unset pair (both words 0) would stand for 1899-12-30, which a
        // recovered file is better off without.
        if (IsValidDosPair(d, t)) {
            if (const auto dt = DecodeDosDateTime(d, t)) modified = localToUnix(*dt);
        }
    }
    if (modified) platform::SetFileModificationTime(path, *modified);
}

bool TUndelete::RecoverFile(const TScanEntry* aFile, const std::string& ErasedFileName, const std::string& DestPath) {
    auto report = [&](std::int32_t code) {
        if (FOnRecover) FOnRecover(ErasedFileName, code);
        return code == kRecoverSuccessful;
    };
    try {
        FRecoveringSize = EntryDataSize(aFile);
        if (FOnRecover) FOnRecover(ErasedFileName, kRecoverStarting);
        DestFile out(UniqueDestName(ErasedFileName, DestPath));
        if (!out.IsOpen()) return report(kRecoverCreateError);
        const std::int32_t code = readFileData(aFile, ErasedFileName, 0, UINT64_MAX, true,
                                               [&](std::span<const std::byte> b) { return out.Write(b); });
        // A file that failed is removed as `out` goes (see DestFile).
        if (code != kRecoverSuccessful) return report(code);
        if (!out.Commit()) return report(kRecoverWriteError);
        report(kRecoverSuccessful);
        SetRecoveredTimes(aFile, out.Path());
        return true;
    } catch (const std::exception& e) {
        if (FUi) FUi->ShowMessage(storage::MessageKind::Error, e.what(), "Error");
        return false;
    }
}

bool TUndelete::RecoverDir(const TScanEntry* aDir, const std::string& ErasedDirName, const std::string& DestPath,
                           bool OnlyDeleted) {
    return recoverDir(aDir, ErasedDirName, DestPath, OnlyDeleted, 0);
}

bool TUndelete::recoverDir(const TScanEntry* aDir, const std::string& name, const std::string& DestPath,
                           bool OnlyDeleted, int depth) {
    if (FOnRecover) FOnRecover(name, kRecoverFolderStarting);
    const std::string folder = UniqueDestName(name, DestPath);
    std::error_code ec;
    if (!std::filesystem::create_directory(folder, ec)) {
        // Path too long, no inodes left, no permission: the folder and all it holds fail, and
        // the summary says so instead of counting fewer files.
        if (FOnRecover) FOnRecover(name, kRecoverCreateError);
        failChildren(aDir, OnlyDeleted, kRecoverCreateError, depth);
        return false;
    }
    return recoverChildren(aDir, folder, OnlyDeleted, depth);
}

bool TUndelete::RecoverChildren(const TScanEntry* aDir, const std::string& DestFolder, bool OnlyDeleted) {
    return recoverChildren(aDir, DestFolder, OnlyDeleted, 0);
}

template <class Visit>
bool TUndelete::forEachChild(const TScanEntry* aDir, bool OnlyDeleted, int depth, Visit&& visit) {
    if (depth >= kMaxRecoverDepth) return false;
    std::int32_t first = -1, last = -1;
    const auto key = aDir ? DelKeyOfEntry(aDir) : DelRootKey();
    if (!GetDirBounds(key, first, last)) return false;
    for (std::int32_t i = first; i <= last; ++i) {
        if (FTerminated || storage::DeviceAborted) return false;
        const TScanEntry* child = ScannedFiles[static_cast<std::size_t>(i)];
        // Entries of other folders can share the key (a cluster, a record number).
        if (EntryParent(child) != aDir) continue;
        const bool isDir = DelEntryIsDir(child);
        if (OnlyDeleted && !(isDir ? DelSubtreeHasDeleted(DelKeyOfEntry(child)) : DelEntryIsDeleted(child))) continue;
        visit(child, isDir);
    }
    return true;
}

bool TUndelete::recoverChildren(const TScanEntry* aDir, const std::string& folder, bool OnlyDeleted, int depth) {
    return forEachChild(aDir, OnlyDeleted, depth, [&](const TScanEntry* child, bool isDir) {
        const std::string childName = EntryDisplayName(child);
        if (isDir) {
            recoverDir(child, childName, folder, OnlyDeleted, depth + 1);
        } else {
            RecoverFile(child, childName, folder);
        }
    });
}

TUndelete::RecoveryTotals TUndelete::CountRecovery(const TScanEntry* aDir, bool OnlyDeleted) {
    RecoveryTotals totals;
    countChildren(aDir, OnlyDeleted, 0, totals);
    return totals;
}

void TUndelete::countChildren(const TScanEntry* aDir, bool OnlyDeleted, int depth, RecoveryTotals& totals) {
    forEachChild(aDir, OnlyDeleted, depth, [&](const TScanEntry* child, bool isDir) {
        if (isDir) {
            countChildren(child, OnlyDeleted, depth + 1, totals);
        } else {
            ++totals.Files;
            totals.Bytes += EntryDataSize(child);
        }
    });
}

void TUndelete::failChildren(const TScanEntry* aDir, bool OnlyDeleted, std::int32_t code, int depth) {
    forEachChild(aDir, OnlyDeleted, depth, [&](const TScanEntry* child, bool isDir) {
        if (isDir) {
            failChildren(child, OnlyDeleted, code, depth + 1);
        } else if (FOnRecover) {
            const std::string childName = EntryDisplayName(child);
            FRecoveringSize = EntryDataSize(child);
            FOnRecover(childName, kRecoverStarting);
            FOnRecover(childName, code);
        }
    });
}

bool TUndelete::RecoverFileToBuf(const TScanEntry* aFile, const std::string& ErasedFileName,
                                 std::vector<std::byte>& Buffer, std::int64_t Size) {
    try {
        const std::uint64_t want = Size < 1 ? 65536 : static_cast<std::uint64_t>(Size);
        Buffer.clear();
        const std::int32_t code = readFileData(aFile, ErasedFileName, 0, want, false, [&](std::span<const std::byte> b) {
            Buffer.insert(Buffer.end(), b.begin(), b.end());
            return true;
        });
        return code == kRecoverSuccessful;
    } catch (const std::exception&) {
        return false;
    }
}

std::int64_t TUndelete::RecoverFileTailToBuf(const TScanEntry* aFile, const std::string& ErasedFileName,
                                             std::vector<std::byte>& Buffer, std::int64_t Size) {
    Buffer.clear();
    if (Size < 1) return 0;
    try {
        const std::uint64_t size = EntryDataSize(aFile);
        const std::uint64_t from = size > static_cast<std::uint64_t>(Size) ? size - static_cast<std::uint64_t>(Size) : 0;
        readFileData(aFile, ErasedFileName, from, static_cast<std::uint64_t>(Size), false, [&](std::span<const std::byte> b) {
            Buffer.insert(Buffer.end(), b.begin(), b.end());
            return true;
        });
        return static_cast<std::int64_t>(size);
    } catch (const std::exception&) {
        return 0;
    }
}

bool TUndelete::DestInsideScannedObject(platform::Platform& os, const std::string& DestPath) const {
    if (FDevice->DeviceType() == storage::kDeviceImage) return false;
    std::uint32_t disk = 0;
    std::int64_t origin = 0;
    if (!storage::DeviceDiskPosition(os, FDevice->Path(), disk, origin)) return false;
    const auto s = static_cast<std::int64_t>(FDevice->BytesPerSector());
    const std::int64_t start = FWholeDiskObject ? 0 : partitions::PartitionStart(FPartition);
    const std::int64_t length = FWholeDiskObject ? static_cast<std::int64_t>(FDevice->Sectors())
                                                 : partitions::PartitionSize(FPartition);
    // A folder that does not exist yet is judged by the nearest one that does (the platform
    // walks up to it).
    return storage::PathOverlapsDiskRange(os, DestPath, static_cast<int>(disk), origin + start * s,
                                          origin + (start + length) * s);
}

}  // namespace brenvale::scan
