// The standard scan of NTFS volumes: every base record of the master file table, in use or
// not, then the orphan pass and the linking of entries to their folders.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fmt/format.h>
#include <unordered_map>

#include "scan/ntfs_file_record.h"
#include "scan/ntfs_record.h"
#include "scan/undelete.h"
#include "scan/volume_reader.h"
#include "storage/device_events.h"
#include "storage/le.h"
#include "storage/utf.h"

namespace brenvale::scan {

namespace {

using storage::le16;
using storage::le32;

constexpr std::uint64_t kBatchBytes = 512000;
constexpr std::uint64_t kSize48 = 0xFFFFFFFFFFFFull;
constexpr std::uint8_t kDosNamespace = 2;
constexpr std::size_t kPumpEvery = 16384;
constexpr char kDamagedMftRunList[] =
    "The run list of the master file table is damaged ({}); the scan reads the {} extents it could decode.";

storage::TFileNameAttrHead headOf(std::span<const std::byte> value) {
    return storage::readRecord<storage::TFileNameAttrHead>(value, 0).value_or(storage::TFileNameAttrHead{});
}

std::uint64_t parentOf(const storage::TFileNameAttrHead& h) { return h.FileReferenceOfParentDir.recordNumber(); }

int percentOf(std::uint64_t done, std::uint64_t total) {
    return static_cast<int>(std::lround(static_cast<double>(done) / static_cast<double>(total + 1) * 100.0));
}

// Record number to entry. Numbers are slots of the master file table, so nearly all fit a
// plain table a little longer than the list; one that a damaged header puts far beyond goes
// to a map. With a hash map for every entry the two lookups were a tenth of a
// 100,000-entry scan.
class RecordIndex {
public:
    explicit RecordIndex(std::size_t entries) : dense_(entries * 2 + 1024, nullptr) {}
    // Where number n's entry goes; null while there is none.
    const tntfsfilerecord*& slot(std::int64_t n) {
        if (n >= 0 && static_cast<std::uint64_t>(n) < dense_.size()) return dense_[static_cast<std::size_t>(n)];
        return sparse_[n];
    }
    const tntfsfilerecord* find(std::int64_t n) const {
        if (n >= 0 && static_cast<std::uint64_t>(n) < dense_.size()) return dense_[static_cast<std::size_t>(n)];
        const auto it = sparse_.find(n);
        return it == sparse_.end() ? nullptr : it->second;
    }

private:
    std::vector<const tntfsfilerecord*> dense_;
    std::unordered_map<std::int64_t, const tntfsfilerecord*> sparse_;
};

}  // namespace

std::int64_t TUndelete::NtfsRecordByteOfs(std::int64_t n) const {
    if (n < 0 || !FNtfsGeo) return -1;
    const NtfsGeometry& g = *FNtfsGeo;
    const std::uint64_t partitionBytes =
        static_cast<std::uint64_t>(partitions::PartitionSize(FPartition)) * FDevice->BytesPerSector();
    // Record numbers are at most 48 bits and records at most 4 KiB: n x length cannot wrap.
    const auto number = static_cast<std::uint64_t>(n);
    if (number > kSize48) return -1;
    std::uint64_t ofs = 0;
    if (RunTable.empty()) {
        if (__builtin_add_overflow(g.mftByteOffset, number * g.recordSize, &ofs)) return -1;
    } else {
        std::uint64_t before = 0;
        bool found = false;
        for (const auto& ext : RunTable) {
            if (number < before + ext.RecCount) {
                std::uint64_t start = 0;
                if (ext.FromSect < 0 ||
                    __builtin_mul_overflow(static_cast<std::uint64_t>(ext.FromSect), g.bytesPerSector, &start) ||
                    __builtin_add_overflow(start, (number - before) * g.recordSize, &ofs)) {
                    return -1;
                }
                found = true;
                break;
            }
            before += ext.RecCount;
        }
        if (!found) return -1;
    }
    if (ofs > static_cast<std::uint64_t>(INT64_MAX) - g.recordSize) return -1;
    if (partitionBytes != 0 && ofs + g.recordSize > partitionBytes) return -1;
    return static_cast<std::int64_t>(ofs);
}

bool TUndelete::readRecordAt(std::int64_t byteOfs, std::vector<std::byte>& rec) {
    if (byteOfs < 0 || !FNtfsGeo) return false;
    rec.resize(FNtfsGeo->recordSize);
    if (FReader->Read(static_cast<std::uint64_t>(byteOfs), rec) != rec.size()) return false;
    // A torn extension record still holds what its intact sectors say.
    static_cast<void>(ApplyFixups(rec));
    return true;
}

// Extension records and non-resident attribute lists, read from this volume.
class TUndelete::VolumeRecords final : public NtfsRecordSource {
public:
    explicit VolumeRecords(TUndelete& scan) : scan_(scan) {}
    bool ReadRecord(std::uint64_t number, std::vector<std::byte>& out) override {
        return number <= kSize48 && scan_.readRecordAt(scan_.NtfsRecordByteOfs(static_cast<std::int64_t>(number)), out);
    }
    std::vector<std::byte> ReadRuns(const storage::trunlist& runs, std::uint64_t size) override {
        const std::uint64_t cluster = scan_.FNtfsGeo ? scan_.FNtfsGeo->clusterBytes : 0;
        std::vector<std::byte> out(static_cast<std::size_t>(size));
        std::size_t at = 0;
        for (const auto& run : runs) {
            if (at >= out.size() || cluster == 0) break;
            const std::uint64_t clusters = static_cast<std::uint64_t>(std::max<std::int64_t>(run.clusnum, 0));
            const std::uint64_t bytes = clusters > (out.size() - at) / cluster ? out.size() - at : clusters * cluster;
            const auto want = static_cast<std::size_t>(bytes);
            if (run.offset > 0 && static_cast<std::uint64_t>(run.offset) <= UINT64_MAX / cluster) {
                scan_.FReader->Read(static_cast<std::uint64_t>(run.offset) * cluster, std::span(out).subspan(at, want));
            }
            at += want;
        }
        out.resize(at);
        return out;
    }

private:
    TUndelete& scan_;
};

NtfsRecordSource& TUndelete::ntfsRecords() {
    if (!FNtfsRecords) FNtfsRecords = std::make_unique<VolumeRecords>(*this);
    return *FNtfsRecords;
}

bool TUndelete::readattribute(std::int64_t RecNum, std::uint32_t AttrType, std::uint16_t AttrId,
                              storage::TAttribute& Attr, std::int64_t ByteOfs) {
    try {
        std::vector<std::byte> rec;
        if (!readRecordAt(ByteOfs > 0 ? ByteOfs : NtfsRecordByteOfs(RecNum), rec)) return false;
        const auto at = FindAttribute(rec, AttrType, AttrId);
        return at && ParseAttribute(rec, *at, Attr);
    } catch (const std::exception& e) {
        ReportException(e);
        return false;
    }
}

bool TUndelete::getntfsbounds(const std::vector<TScanEntry*>& list, std::uint64_t reference, std::int32_t& first,
                              std::int32_t& last) const {
    first = last = -1;
    if (list.empty()) return false;
    auto parent = [](const TScanEntry* e) { return ParentRecordOf(*AsNtfs(e)); };
    const auto lo = std::partition_point(list.begin(), list.end(), [&](const TScanEntry* e) { return parent(e) < reference; });
    const auto hi = std::partition_point(lo, list.end(), [&](const TScanEntry* e) { return parent(e) == reference; });
    if (lo == hi) return false;
    first = static_cast<std::int32_t>(lo - list.begin());
    last = static_cast<std::int32_t>(hi - list.begin()) - 1;
    return true;
}

void TUndelete::addNtfsEntries(std::span<const std::byte> rec, std::int64_t slotSector, std::int64_t counter, bool torn) {
    auto info = ParseFileRecord(rec, &ntfsRecords(), FNtfsGeo->clusterBytes);
    if (!info || info->name.empty()) return;

    tntfsfilerecord* main = &FNtfsEntries.emplace_back();
    main->sectornumber = slotSector;
    main->recordnumber = static_cast<std::int64_t>(HeaderRecordNumber(rec).value_or(static_cast<std::uint64_t>(counter)));
    main->allocsize = info->allocSize;
    main->realsize = info->realSize;
    main->flag = info->flags;
    main->torn = torn;
    main->head = info->head();
    std::u16string_view name = TrimmedWide(info->name);
    const std::u16string_view longName = TrimmedWide(info->longName);
    if (!longName.empty() && 2 * longName.size() + 2 >= name.size()) name = longName;
    if (name.empty()) {
        FNtfsEntries.pop_back();
        return;
    }
    main->filename = storage::Utf16ToUtf8(name);
    ScannedFiles.push_back(main);

    // Further names: a long name beside a DOS one in the same folder, or hard links elsewhere.
    const std::uint64_t mainParent = parentOf(main->head);
    std::vector<std::uint64_t> added;
    for (const auto& value : info->otherNames) {
        auto head = headOf(value);
        const std::uint64_t p = parentOf(head);
        std::u16string n(head.LengthOfFileName, u'\0');
        for (std::size_t i = 0; i < head.LengthOfFileName; ++i) n[i] = le16(value, storage::kFileNameOffset + 2 * i);
        const std::u16string_view trimmed = TrimmedWide(n);
        if (trimmed.empty()) continue;
        if (main->head.FileNameSpace == kDosNamespace && head.FileNameSpace != kDosNamespace && p == mainParent) {
            main->filename = storage::Utf16ToUtf8(trimmed);
            main->head.FileNameSpace = head.FileNameSpace;
            continue;
        }
        if (p == mainParent || std::find(added.begin(), added.end(), p) != added.end()) continue;
        added.push_back(p);
        tntfsfilerecord* link = &FNtfsEntries.emplace_back(*main);
        // The same file under another folder: that name's parent, the file's own times.
        std::memcpy(&link->head, &head, offsetof(storage::TFileNameAttrHead, FileCreateTime));
        link->head.LengthOfFileName = head.LengthOfFileName;
        link->head.FileNameSpace = head.FileNameSpace;
        link->filename = storage::Utf16ToUtf8(trimmed);
        ScannedFiles.push_back(link);
    }
}

bool TUndelete::GetNtfsFilelist() {
    try {
        FTerminated = false;
        RunTable.clear();
        if (!FNtfsGeo) return false;
        const NtfsGeometry& geo = *FNtfsGeo;
        std::vector<std::byte> rec0;
        if (!readRecordAt(NtfsRecordByteOfs(0), rec0)) return false;
        const NtfsDataStream mft = ParseDataStream(rec0, &ntfsRecords());
        if (!mft.found || mft.resident) return false;
        const storage::trunlist& runs = mft.runs;
        if (mft.runStatus != RunListStatus::Whole) {
            storage::OnDeviceEvent(fmt::format(kDamagedMftRunList, RunListStatusText(mft.runStatus), runs.size()));
        }
        if (runs.empty()) return false;

        const std::uint32_t bps = geo.bytesPerSector;
        const std::uint32_t spc = geo.sectorsPerCluster;
        const std::uint32_t recLen = geo.recordSize;
        const std::uint64_t perBatch = std::max<std::uint64_t>(1, kBatchBytes / recLen);
        const std::uint64_t batchBytes = perBatch * recLen;
        const std::uint64_t recSectors = recLen / bps;
        std::uint64_t volumeSectors = static_cast<std::uint64_t>(partitions::PartitionSize(FPartition)) *
                                      FDevice->BytesPerSector() / bps;
        if (volumeSectors == 0) volumeSectors = FDevice->Sectors() * FDevice->BytesPerSector() / bps;

        std::uint64_t totalBatches = 0;
        std::vector<std::byte> probe(bps);
        for (const auto& run : runs) {
            const std::uint64_t clusters = static_cast<std::uint64_t>(std::max<std::int64_t>(run.clusnum, 0));
            TRunForTable ext;
            // Records the extent holds, saturated: a damaged run may claim 2^63 clusters.
            const std::uint64_t perCluster = geo.clusterBytes / recLen;
            const std::uint64_t slots = perCluster == 0 ? clusters / (recLen / geo.clusterBytes)
                                        : clusters > UINT32_MAX / perCluster ? UINT32_MAX
                                                                             : clusters * perCluster;
            if (run.offset <= 0 || static_cast<std::uint64_t>(run.offset) >= volumeSectors / spc) {
                // A sparse or impossible extent holds no readable records; its slots still count.
                ext.FromSect = -1;
                ext.RecCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(slots, UINT32_MAX));
                RunTable.push_back(ext);
                continue;
            }
            std::uint64_t start = static_cast<std::uint64_t>(run.offset) * spc;
            std::uint64_t sectors = clusters > (volumeSectors - start) / spc ? volumeSectors - start : clusters * spc;
            if (FReader->Read((start + sectors) * bps, probe) == probe.size() && HasRecordSignature(probe)) {
                sectors += recSectors;
            }
            if (FReader->Read(start * bps, probe) == probe.size() && !HasRecordSignature(probe) && sectors >= recSectors) {
                start += recSectors;
                sectors -= recSectors;
            }
            ext.FromSect = static_cast<std::int64_t>(start);
            ext.RecCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors * bps / recLen, UINT32_MAX));
            RunTable.push_back(ext);
            totalBatches += (std::uint64_t{ext.RecCount} * recLen + batchBytes - 1) / batchBytes;
        }

        std::vector<std::byte> batch;
        std::vector<std::byte> rec(recLen);
        std::int64_t counter = -1;
        std::uint64_t batchCount = 0;
        for (const auto& ext : RunTable) {
            for (std::uint64_t done = 0; done < ext.RecCount;) {
                if (stopRequested()) return true;
                const std::uint64_t n = std::min<std::uint64_t>(perBatch, ext.RecCount - done);
                const std::uint64_t firstSlot = done;
                done += n;
                if (ext.FromSect < 0 ||
                    (FResumeSkipRecordNum > 0 && FResumeSkipRecordNum >= counter + static_cast<std::int64_t>(n))) {
                    counter += static_cast<std::int64_t>(n);
                    continue;
                }
                ++batchCount;
                const int percent = percentOf(batchCount, totalBatches);
                if (FOnEnumDir) FOnEnumDir(3, "", static_cast<std::uint32_t>(percent));
                batch.resize(n * recLen);
                const std::uint64_t at = static_cast<std::uint64_t>(ext.FromSect) * bps + firstSlot * recLen;
                if (FReader->Read(at, batch) == 0) {
                    counter += static_cast<std::int64_t>(n);
                } else {
                    for (std::uint64_t i = 0; i < n; ++i) {
                        ++counter;
                        if ((FResumeSkipRecordNum > 0 && counter <= FResumeSkipRecordNum) || counter == kNtfsRootRecord) continue;
                        std::memcpy(rec.data(), batch.data() + i * recLen, recLen);
                        if (std::memcmp(rec.data(), "FILE", 4) == 0) {
                            const bool torn = !ApplyFixups(rec);
                            const std::int64_t sector = ext.FromSect + static_cast<std::int64_t>((firstSlot + i) * recLen / bps);
                            addNtfsEntries(rec, sector, counter, torn);
                        }
                        pump();
                        if (FTerminated) return true;
                    }
                }
                if (FOnScanCheckpoint) FOnScanCheckpoint(3, counter, 0, percent);
            }
        }
        GetUnchainedDirs();
        return true;
    } catch (const std::exception& e) {
        ReportException(e);
        return false;
    }
}

void TUndelete::GetUnchainedDirs() {
    UnchainedFolders.clear();
    RecordIndex byNumber(ScannedFiles.size());
    for (const TScanEntry* e : ScannedFiles) {
        const auto* r = AsNtfs(e);
        auto& s = byNumber.slot(r->recordnumber);
        if (!s) s = r;
    }
    std::unordered_set<std::uint64_t> added;
    for (const TScanEntry* e : ScannedFiles) {
        const std::uint64_t p = ParentRecordOf(*AsNtfs(e));
        if (p == kNtfsRootRecord) continue;
        const tntfsfilerecord* folder = byNumber.find(static_cast<std::int64_t>(p));
        if ((!folder || !IsFolder(*folder)) && added.insert(p).second) {
            UnchainedFolders.push_back(p);
        }
    }
}

void TUndelete::AddAdditionalRecords() {
    {
        // Gone before the sort below, which is where the scan's memory peaks.
        RecordIndex byNumber(ScannedFiles.size());
        for (const TScanEntry* e : ScannedFiles) {
            const auto* r = AsNtfs(e);
            // A folder wins over a file of the same number (hard-link copies share numbers).
            auto& s = byNumber.slot(r->recordnumber);
            if (!s || IsFolder(*r)) s = r;
        }
        for (const std::uint64_t number : UnchainedFolders) {
            const tntfsfilerecord* known = byNumber.find(static_cast<std::int64_t>(number));
            if (known && IsFolder(*known)) continue;
            tntfsfilerecord* folder = &FNtfsEntries.emplace_back(RootUnChained);
            folder->recordnumber = static_cast<std::int64_t>(number);
            folder->head.FileReferenceOfParentDir = storage::makeFileReference(kOrphanFolderKey, 0);
            folder->filename = fmt::format("Folder{:05}", number);
            folder->flag = storage::kFileRecordDirectory;
            ScannedFiles.push_back(folder);
        }
    }
    // Ordered by folder, then by name, ties kept in record order. Grouped by folder first on
    // keys held side by side, then each folder's names: one sort over the records themselves
    // went to memory for every comparison and was a sixth of a 100,000-entry scan.
    struct Keyed {
        std::uint64_t parent;
        TScanEntry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(ScannedFiles.size());
    for (TScanEntry* e : ScannedFiles) keyed.push_back({ParentRecordOf(*AsNtfs(e)), e});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) { return a.parent < b.parent; });
    for (std::size_t i = 0; i < keyed.size(); ++i) ScannedFiles[i] = keyed[i].entry;
    keyed.clear();
    keyed.shrink_to_fit();
    for (auto lo = ScannedFiles.begin(); lo != ScannedFiles.end();) {
        const std::uint64_t parent = ParentRecordOf(*AsNtfs(*lo));
        const auto hi = std::find_if(lo, ScannedFiles.end(), [parent](const TScanEntry* e) {
            return ParentRecordOf(*AsNtfs(e)) != parent;
        });
        std::stable_sort(lo, hi, [](const TScanEntry* a, const TScanEntry* b) {
            return AsNtfs(a)->filename < AsNtfs(b)->filename;
        });
        lo = hi;
    }
    const bool haveOrphanRoot = std::any_of(ScannedFiles.begin(), ScannedFiles.end(), [](const TScanEntry* e) {
        return AsNtfs(e)->recordnumber == kOrphanFolderRecord;
    });
    if (!haveOrphanRoot) {
        tntfsfilerecord* root = &FNtfsEntries.emplace_back(RootUnChained);
        root->flag = storage::kFileRecordDirectory;
        root->recordnumber = kOrphanFolderRecord;
        root->head.FileReferenceOfParentDir = storage::makeFileReference(kNtfsRootRecord, 0);
        root->filename = kOrphanFolderName;
        // First among the root's children, where a sorted list keeps it.
        const auto pos = std::partition_point(ScannedFiles.begin(), ScannedFiles.end(), [](const TScanEntry* e) {
            return ParentRecordOf(*AsNtfs(e)) < static_cast<std::uint64_t>(kNtfsRootRecord);
        });
        ScannedFiles.insert(pos, root);
    }
}

void TUndelete::LinkNtfsParents(tntfsfilerecord* Dir) {
    // Depth first with a stack of its own: a deep or cyclic tree cannot exhaust the call stack,
    // and each folder is descended once.
    std::unordered_set<std::uint64_t> descended;
    std::vector<tntfsfilerecord*> todo{Dir};
    std::size_t linked = 0;
    while (!todo.empty()) {
        tntfsfilerecord* d = todo.back();
        todo.pop_back();
        const std::uint64_t key = d ? FolderKeyOf(*d) : kNtfsRootRecord;
        if (!descended.insert(key).second) continue;
        std::int32_t first = -1, last = -1;
        if (!GetDirBounds(key, first, last)) continue;
        for (std::int32_t i = first; i <= last; ++i) {
            auto* e = AsNtfs(ScannedFiles[static_cast<std::size_t>(i)]);
            e->Parent = d;
            if (IsFolder(*e)) todo.push_back(e);
            if (++linked % kPumpEvery == 0) pump();
        }
    }
}

}  // namespace brenvale::scan
