// The standard scan of NTFS volumes: every base record of the master file table, in use or
// not, then the orphan pass and the linking of entries to their folders.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fmt/format.h>
#include <unordered_map>

#include "scan/ntfs_record.h"
#include "scan/ntfs_walk_detail.h"
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
constexpr std::uint8_t kDosNamespace = 2;
constexpr std::size_t kPumpEvery = 16384;

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
    if (n < 0) return -1;
    const std::uint64_t partitionBytes =
        static_cast<std::uint64_t>(partitions::PartitionSize(FPartition)) * FDevice->BytesPerSector();
    std::uint64_t ofs = 0;
    if (RunTable.empty()) {
        ofs = FMftCluster * FNtfsSpc * FNtfsBps + static_cast<std::uint64_t>(n) * FNtfsRecordSize;
    } else {
        std::uint64_t before = 0;
        bool found = false;
        for (const auto& ext : RunTable) {
            if (static_cast<std::uint64_t>(n) < before + ext.RecCount) {
                if (ext.FromSect < 0) return -1;
                ofs = static_cast<std::uint64_t>(ext.FromSect) * FNtfsBps + (n - before) * FNtfsRecordSize;
                found = true;
                break;
            }
            before += ext.RecCount;
        }
        if (!found) return -1;
    }
    if (partitionBytes != 0 && ofs + FNtfsRecordSize > partitionBytes) return -1;
    return ofs > static_cast<std::uint64_t>(INT64_MAX) ? -1 : static_cast<std::int64_t>(ofs);
}

bool TUndelete::readRecordAt(std::int64_t byteOfs, std::vector<std::byte>& rec) {
    if (byteOfs < 0) return false;
    rec.resize(FNtfsRecordSize);
    if (FReader->Read(static_cast<std::uint64_t>(byteOfs), rec) != rec.size()) return false;
    ApplyFixups(rec);
    return true;
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

bool TUndelete::getrunlistext(std::span<const std::byte> AttrListBody, storage::TAttribute& Attr, int Mode,
                              storage::trunlist& Runs) {
    storage::TAttribute last;
    bool any = false;
    for (const auto& e : ParseAttributeList(AttrListBody)) {
        // Only the unnamed stream: a named one is another stream of the file.
        if (e.type != storage::kAttrData || e.nameLength != 0) continue;
        storage::TAttribute a;
        if (!readattribute(static_cast<std::int64_t>(e.record), storage::kAttrData, e.id, a) &&
            !readattribute(static_cast<std::int64_t>(e.record), storage::kAttrData, 0, a)) {
            continue;
        }
        if (a.nonresidenthead && !a.attributebody.empty()) getrunlist(a.attributebody, a.attributebody.size() - 1, Runs);
        last = std::move(a);
        any = true;
    }
    if (Mode == 1 && any) Attr = std::move(last);
    return any;
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

void TUndelete::addNtfsEntries(std::span<const std::byte> rec, std::int64_t slotSector, std::int64_t counter) {
    auto info = checkrecord(rec);
    if (!info || info->name.empty()) return;

    tntfsfilerecord* main = &FNtfsEntries.emplace_back();
    main->sectornumber = slotSector;
    main->recordnumber = le16(rec, 4) == 48 ? le32(rec, 44) : counter;
    main->allocsize = info->alloc;
    main->realsize = info->real;
    main->flag = info->flags;
    main->head = headOf(info->value);
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
    auto further = [&](std::span<const std::byte> value) {
        if (value.size() < storage::kFileNameOffset + 2 * std::size_t{storage::u8(value, 64)}) return;
        auto head = headOf(value);
        const std::uint64_t p = parentOf(head);
        std::u16string n(head.LengthOfFileName, u'\0');
        for (std::size_t i = 0; i < head.LengthOfFileName; ++i) n[i] = le16(value, storage::kFileNameOffset + 2 * i);
        const std::u16string_view trimmed = TrimmedWide(n);
        if (trimmed.empty()) return;
        if (main->head.FileNameSpace == kDosNamespace && head.FileNameSpace != kDosNamespace && p == mainParent) {
            main->filename = storage::Utf16ToUtf8(trimmed);
            main->head.FileNameSpace = head.FileNameSpace;
            return;
        }
        if (p == mainParent || std::find(added.begin(), added.end(), p) != added.end()) return;
        added.push_back(p);
        tntfsfilerecord* link = &FNtfsEntries.emplace_back(*main);
        // The same file under another folder: that name's parent, the file's own times.
        std::memcpy(&link->head, &head, offsetof(storage::TFileNameAttrHead, FileCreateTime));
        link->head.LengthOfFileName = head.LengthOfFileName;
        link->head.FileNameSpace = head.FileNameSpace;
        link->filename = storage::Utf16ToUtf8(trimmed);
        ScannedFiles.push_back(link);
    };
    std::size_t off = le16(rec, 20);
    while (storage::fits(rec, off, 16) && storage::u8(rec, off) != 0xFF && le32(rec, off + 4) >= 16) {
        if (le32(rec, off) == storage::kAttrFileName && off != info->attrOfs) further(ResidentValue(rec, off));
        const auto next = NextAttribute(rec, off);
        if (!next) break;
        off = *next;
    }
    const std::uint64_t self = le32(rec, 44);
    std::vector<std::byte> other;
    for (const auto& e : ParseAttributeList(ReadAttributeList(rec))) {
        if (e.type != storage::kAttrFileName || e.record == self) continue;
        if (!readRecordAt(NtfsRecordByteOfs(static_cast<std::int64_t>(e.record)), other)) continue;
        if (const auto at = FindAttribute(other, storage::kAttrFileName, e.id)) {
            const auto v = ResidentValue(other, *at);
            // The chosen name may itself have come from here.
            if (!std::equal(v.begin(), v.end(), info->value.begin(), info->value.end())) further(v);
        }
    }
}

bool TUndelete::GetNtfsFilelist() {
    try {
        FTerminated = false;
        RunTable.clear();
        std::vector<std::byte> rec0;
        if (!readRecordAt(NtfsRecordByteOfs(0), rec0)) return false;
        storage::trunlist runs;
        if (FindAttribute(rec0, 0x20)) {
            storage::TAttribute unused;
            if (!getrunlistext(ReadAttributeList(rec0), unused, 0, runs)) return false;
        } else {
            const auto at = FindAttribute(rec0, storage::kAttrData);
            storage::TAttribute data;
            if (!at || !ParseAttribute(rec0, *at, data) || !data.nonresidenthead || data.attributebody.empty()) return false;
            getrunlist(data.attributebody, data.attributebody.size() - 1, runs);
        }
        if (runs.empty()) return false;

        const std::uint32_t bps = FNtfsBps;
        const std::uint32_t recLen = FNtfsRecordSize;
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
            if (run.offset <= 0 || static_cast<std::uint64_t>(run.offset) >= volumeSectors / std::max(FNtfsSpc, 1u)) {
                // A sparse or impossible extent holds no readable records; its slots still count.
                ext.FromSect = -1;
                ext.RecCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(clusters * FNtfsSpc * bps / recLen, UINT32_MAX));
                RunTable.push_back(ext);
                continue;
            }
            std::uint64_t start = static_cast<std::uint64_t>(run.offset) * FNtfsSpc;
            std::uint64_t sectors = std::min(clusters * FNtfsSpc, volumeSectors - start);
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
                            ApplyFixups(rec);
                            const std::int64_t sector = ext.FromSect + static_cast<std::int64_t>((firstSlot + i) * recLen / bps);
                            addNtfsEntries(rec, sector, counter);
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
