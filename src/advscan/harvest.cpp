#include "advscan/harvest.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <typeinfo>
#include <utility>
#include <limits>

#include "advscan/sector_tests.h"
#include "scan/exfat_entry_set.h"
#include "scan/ntfs_file_record.h"
#include "storage/device_events.h"
#include "storage/le.h"
#include "storage/utf.h"

namespace brenvale::advscan {

namespace {

// The longest structure that may run on past its first sector: an NTFS record of 4 KiB (an
// exFAT entry set is at most 19 slots).
constexpr std::size_t kLongestStructure = 4096;
constexpr std::int64_t kRootRecord = 5;

std::u16string trimmed(std::u16string s) {
    const auto blank = [](char16_t c) { return c == u' '; };
    while (!s.empty() && blank(s.back())) s.pop_back();
    const auto first = std::find_if_not(s.begin(), s.end(), blank);
    s.erase(s.begin(), first);
    return s;
}

int voteSlot(std::uint64_t spc) {
    switch (spc) {
        case 1: return 0;
        case 2: return 1;
        case 4: return 2;
        case 16: return 4;
        case 32: return 5;
        case 64: return 6;
        case 128: return 7;
        default: return 3;  // 8, and anything no volume uses
    }
}

}  // namespace

void HarvestLists::Clear() {
    FDTs.clear();
    Fat32Count = 0;
    ExFatDirs.clear();
    ExFatCount = 0;
    Votes.fill(0);
    RecordLength = 0;
    NTFSFileList.clear();
    FatFileList.clear();
    NtfsRecords.clear();
    MidEntries.clear();
    DeferredRecords.clear();
    ExtensionRecords.clear();
    HeldBack.clear();
    HeldBackRel = -1;
    Placeholders.clear();
}

SectorHarvester::SectorHarvester(HarvestLists& lists, KnownSets& known, const HarvestSetup& setup)
    : lists_(lists), known_(known), setup_(setup) {
    if (setup_.SectorBytes == 0) setup_.SectorBytes = 512;
    holdBack_ = (kLongestStructure + setup_.SectorBytes - 1) / setup_.SectorBytes;
    carry_.reserve(holdBack_ * setup_.SectorBytes + kLongestStructure);
    record_.reserve(kLongestStructure);
    if (lists_.HeldBackRel >= 0 && lists_.HeldBack.size() % setup_.SectorBytes == 0 && !lists_.HeldBack.empty()) {
        carry_.assign(lists_.HeldBack.begin(), lists_.HeldBack.end());
        carryRel_ = lists_.HeldBackRel;
        carrySectors_ = lists_.HeldBack.size() / setup_.SectorBytes;
    }
    lists_.HeldBack.clear();
    lists_.HeldBackRel = -1;
}

void SectorHarvester::Hold() {
    if (carryRel_ < 0) return;
    carry_.resize(carrySectors_ * setup_.SectorBytes);
    lists_.HeldBack = carry_;
    lists_.HeldBackRel = carryRel_;
    carryRel_ = -1;
}

void SectorHarvester::Batch(std::span<const std::byte> data, std::int64_t relLba) {
    const std::size_t bps = setup_.SectorBytes;
    const std::size_t sectors = data.size() / bps;
    if (carryRel_ >= 0 && carryRel_ + static_cast<std::int64_t>(carrySectors_) == relLba && data.size() < kLongestStructure) {
        // A batch shorter than the longest structure joins the held-back sectors; those with a
        // whole structure's length after them are classified, the rest wait for more.
        carry_.resize(carrySectors_ * bps);
        carry_.insert(carry_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(sectors * bps));
        const std::size_t total = carrySectors_ + sectors;
        const std::size_t ready = total > holdBack_ ? total - holdBack_ : 0;
        classify(carry_, carryRel_, 0, ready);
        carry_.erase(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(ready * bps));
        carryRel_ += static_cast<std::int64_t>(ready);
        carrySectors_ = total - ready;
        return;
    }
    if (carryRel_ >= 0) {
        if (carryRel_ + static_cast<std::int64_t>(carrySectors_) == relLba) {
            // The held-back sectors, with the start of this batch after them.
            carry_.resize(carrySectors_ * bps);
            carry_.insert(carry_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), kLongestStructure)));
            classify(carry_, carryRel_, 0, carrySectors_);
            carryRel_ = -1;
        } else {
            Finish();
        }
    }
    const std::size_t keep = std::min(holdBack_, sectors);
    classify(data, relLba, 0, sectors - keep);
    if (keep > 0) {
        carry_.assign(data.begin() + static_cast<std::ptrdiff_t>((sectors - keep) * bps), data.begin() + static_cast<std::ptrdiff_t>(sectors * bps));
        carryRel_ = relLba + static_cast<std::int64_t>(sectors - keep);
        carrySectors_ = keep;
    }
}

void SectorHarvester::Finish() {
    if (carryRel_ < 0) return;
    carry_.resize(carrySectors_ * setup_.SectorBytes);
    classify(carry_, carryRel_, 0, carrySectors_);
    carryRel_ = -1;
}

void SectorHarvester::classify(std::span<const std::byte> data, std::int64_t relLba, std::size_t first, std::size_t end) {
    for (std::size_t s = first; s < end; ++s) {
        const std::int64_t rel = relLba + static_cast<std::int64_t>(s);
        // One sector that cannot be worked on costs that sector, never the pass.
        try {
            sector(data, s * setup_.SectorBytes, rel);
        } catch (const std::exception& e) {
            storage::OnDeviceEvent(fmt::format("Advanced scan: skipped a bad sector (LBA={}, {}: {})", setup_.Lba0 + rel,
                                               typeid(e).name(), e.what()));
        }
    }
}

void SectorHarvester::sector(std::span<const std::byte> data, std::size_t at, std::int64_t rel) {
    const std::size_t bps = setup_.SectorBytes;
    const auto s = data.subspan(at, bps);
    if (lists_.RecordLength != 0 && ntfs(data, at, rel)) return;
    if (IsExFatDirSectorByLayout(s) || IsExFatDirSectorByChecksum(s)) {
        harvestExFat(data, at, rel);
        return;
    }
    if (IsFatDirSector(s)) {
        if (known_.DirSectors.contains(rel)) return;
        lists_.FDTs.push_back(rel);
        if (HasFat32Evidence(s)) ++lists_.Fat32Count;
    }
}

bool SectorHarvester::ntfs(std::span<const std::byte> data, std::size_t at, std::int64_t rel) {
    if (!LooksLikeNtfsRecord(data.subspan(at))) return false;
    const std::size_t length = lists_.RecordLength;
    const std::size_t places = std::max<std::size_t>(setup_.SectorBytes / length, 1);
    for (std::size_t k = 0; k < places; ++k) {
        const std::size_t place = at + k * length;
        // Only whole records: the bytes after the sector are there when the record runs on.
        if (!storage::fits(data, place, length)) break;
        const auto rec = data.subspan(place, length);
        if (LooksLikeNtfsRecord(rec)) harvestRecord(rec, rel);
    }
    return true;
}

namespace {

// Fix-ups: the saved sector ends go back over each 512-byte stride. The check values are not
// compared (a torn record still names its file), but the array must lie inside the record.
void fixUp(std::span<std::byte> record) {
    const std::size_t usa = storage::u8(record, 4);
    std::size_t strides = storage::u8(record, 6);
    strides = strides > 0 ? strides - 1 : 0;
    strides = std::min(strides, record.size() / 512);
    for (std::size_t i = 1; i <= strides; ++i) {
        if (!storage::fits(record, usa + 2 * i, 2)) break;
        std::memcpy(record.data() + 512 * i - 2, record.data() + usa + 2 * i, 2);
    }
}

std::int64_t numberOf(std::span<const std::byte> record) {
    return storage::le16(record, 4) > 44 ? std::int64_t{storage::le32(record, 44)} : -1;
}

constexpr std::uint32_t kAttrAttributeList = 0x20;

}  // namespace

std::int64_t HarvestRecordNumber(std::span<const std::byte> record) {
    return numberOf(record);
}

void RefillKnownSets(const HarvestLists& lists, const std::vector<scan::TScanEntry*>& standard,
                     const std::vector<std::uint32_t>& dirSectors, KnownSets& known) {
    known = KnownSets{};
    for (const scan::TScanEntry* e : standard) {
        if (e->Kind() == scan::EntryKind::Ntfs) {
            known.RecordNumbers.insert(static_cast<const scan::tntfsfilerecord*>(e)->recordnumber);
        } else if (e->Kind() == scan::EntryKind::ExFat) {
            known.Clusters.insert(static_cast<const scan::TMidEntry*>(e)->DirClusNum);
        }
    }
    for (std::uint32_t s : dirSectors) known.DirSectors.insert(s);
    for (const scan::tntfsfilerecord* r : lists.NTFSFileList) {
        if (r->recordnumber >= 0) known.RecordNumbers.insert(r->recordnumber);
    }
    for (const auto& d : lists.DeferredRecords) {
        if (const std::int64_t n = numberOf(d.Bytes); n >= 0) known.RecordNumbers.insert(n);
    }
    for (const scan::TMidEntry* e : lists.FatFileList) known.Clusters.insert(e->DirClusNum);
    for (std::int64_t s : lists.ExFatDirs) known.ExFatDirSet.insert(s);
}

bool NtfsRecordSink::Add(std::span<const std::byte> record, std::int64_t rel, scan::NtfsRecordSource* source) {
    const std::int64_t number = numberOf(record);
    if (number == kRootRecord) return false;
    if (storage::le64(record, 32) != 0) {
        // An extension record: where it lies, for the base records that point to it.
        if (number >= 0) lists_.ExtensionRecords.emplace(number, rel);
        return false;
    }
    if (number >= 0 && known_.RecordNumbers.contains(number)) return false;

    const auto parsed = scan::ParseFileRecord(record, source, 0);
    if (!parsed) {
        // Its name may lie in an extension record the pass has not met yet.
        if (!source && scan::FindAttribute(record, kAttrAttributeList)) {
            lists_.DeferredRecords.push_back({rel, std::vector<std::byte>(record.begin(), record.end())});
            if (number >= 0) known_.RecordNumbers.insert(number);
        }
        return false;
    }
    std::u16string name = trimmed(parsed->name);
    if (name.empty()) return false;
    if (const std::u16string longName = trimmed(parsed->longName); !longName.empty()) name = longName;

    const scan::NtfsDataStream data = scan::ParseDataStream(record, source);
    const bool runs = data.found && !data.resident && !data.runs.empty();
    if (runs && parsed->realSize > 8ull * bps_ && parsed->realSize < 1048576) {
        std::uint64_t clusters = 0;
        for (const auto& r : data.runs) clusters += static_cast<std::uint64_t>(std::max<std::int64_t>(r.clusnum, 0));
        if (clusters > 0 && bps_ != 0) ++lists_.Votes[static_cast<std::size_t>(voteSlot(parsed->allocSize / clusters / bps_))];
    }

    scan::tntfsfilerecord& r = lists_.NtfsRecords.emplace_back();
    r.sectornumber = rel;
    r.recordnumber = number;
    r.allocsize = parsed->allocSize;
    r.realsize = parsed->realSize;
    r.filename = storage::Utf16ToUtf8(name);
    r.head = parsed->head();
    r.flag = parsed->flags;
    r.tmpsectnum = runs ? data.runs.front().offset : 0;
    lists_.NTFSFileList.push_back(&r);
    if (number >= 0) known_.RecordNumbers.insert(number);
    return true;
}

namespace {

// The extension records of the harvest, read again from the object.
class HarvestedRecords : public scan::NtfsRecordSource {
public:
    HarvestedRecords(const HarvestLists& lists, std::uint32_t sectorBytes,
                     const std::function<bool(std::int64_t, std::span<std::byte>)>& read)
        : lists_(lists), sectorBytes_(sectorBytes), read_(read) {}

    bool ReadRecord(std::uint64_t number, std::vector<std::byte>& out) override {
        const auto at = lists_.ExtensionRecords.find(static_cast<std::int64_t>(number));
        if (at == lists_.ExtensionRecords.end() || lists_.RecordLength == 0) return false;
        const std::size_t sectors = (lists_.RecordLength + sectorBytes_ - 1) / sectorBytes_;
        out.assign(sectors * sectorBytes_, std::byte{0});
        if (!read_(at->second, out)) return false;
        out.resize(lists_.RecordLength);
        fixUp(out);
        return true;
    }
    // A list of attributes kept in clusters needs the volume's geometry, unknown until the
    // records are all in: such a record's spilled attributes stay out of reach.
    std::vector<std::byte> ReadRuns(const storage::trunlist&, std::uint64_t) override { return {}; }

private:
    const HarvestLists& lists_;
    std::uint32_t sectorBytes_;
    const std::function<bool(std::int64_t, std::span<std::byte>)>& read_;
};

}  // namespace

void HarvestDeferredRecords(HarvestLists& lists, KnownSets& known, std::uint32_t partitionBps, std::uint32_t sectorBytes,
                            const std::function<bool(std::int64_t rel, std::span<std::byte> into)>& readSectors) {
    if (lists.DeferredRecords.empty()) return;
    HarvestedRecords source(lists, sectorBytes ? sectorBytes : 512, readSectors);
    NtfsRecordSink sink(lists, known, partitionBps);
    std::vector<HarvestLists::Deferred> waiting;
    for (auto& d : std::exchange(lists.DeferredRecords, {})) {
        // Its number is already taken for it; let it through this once.
        const std::int64_t number = numberOf(d.Bytes);
        if (number >= 0) known.RecordNumbers.erase(number);
        if (!sink.Add(d.Bytes, d.Sector, &source)) {
            if (number >= 0) known.RecordNumbers.insert(number);
            waiting.push_back(std::move(d));
        }
    }
    lists.DeferredRecords = std::move(waiting);
}

void SectorHarvester::harvestRecord(std::span<const std::byte> bytes, std::int64_t rel) {
    ++recordsTried_;
    record_.assign(bytes.begin(), bytes.end());
    fixUp(record_);
    NtfsRecordSink(lists_, known_, setup_.PartitionBps).Add(record_, rel, nullptr);
}

void SectorHarvester::harvestExFat(std::span<const std::byte> data, std::size_t at, std::int64_t rel) {
    const std::size_t bps = setup_.SectorBytes;
    for (std::size_t off = at; off + 32 <= at + bps; off += 32) {
        const std::uint8_t type = storage::u8(data, off);
        if (type == 0) break;
        if ((type & 0x7F) != 0x05) continue;
        // The set may run on into the next sector, and past the batch's end (the held-back
        // sectors see the next batch's start).
        const auto result = scan::DecodeExfatEntrySet(data, off);
        if (result.status != scan::ExfatSetStatus::Ok) continue;
        const scan::ExfatEntrySet& set = result.set;
        if (set.firstCluster == 0 || set.name.empty()) continue;
        const std::uint64_t low = set.dataLength & 0xFFFFFFFF;
        if (setup_.PartitionBps != 0 && setup_.ObjectSectors != 0 && low / setup_.PartitionBps > setup_.ObjectSectors)
            continue;
        if (!known_.Clusters.insert(set.firstCluster).second) continue;
        if (known_.ExFatDirSet.insert(rel).second) lists_.ExFatDirs.push_back(rel);

        scan::TMidEntry& e = lists_.MidEntries.emplace_back(scan::EntryKind::ExFat);
        e.FDTEntry.attribute = static_cast<std::uint8_t>(set.attributes & 0xFF);
        e.FDTEntry.filesize = static_cast<std::uint32_t>(low);
        e.FDTEntry.createtime = static_cast<std::uint16_t>(set.createTimestamp & 0xFFFF);
        e.FDTEntry.createdate = static_cast<std::uint16_t>(set.createTimestamp >> 16);
        e.FDTEntry.updatetime = static_cast<std::uint16_t>(set.lastModifiedTimestamp & 0xFFFF);
        e.FDTEntry.updatedate = static_cast<std::uint16_t>(set.lastModifiedTimestamp >> 16);
        e.FDTEntry.accessdate = static_cast<std::uint16_t>(storage::le32(data, off + 16) >> 16);
        e.LongFileName = set.nameUtf8();
        e.Status = set.inUse ? scan::kStatusLive : scan::kStatusDeleted;  // a deleted set keeps its in-use bit clear
        e.NoFatChain = set.noFatChain();
        e.DirClusNum = set.firstCluster;
        e.DirSectNum = rel;
        e.SizeHigh = static_cast<std::uint32_t>(set.dataLength >> 32);
        lists_.FatFileList.push_back(&e);
        ++lists_.ExFatCount;
        // A set that ran past this sector: the rest of the sector belongs to it.
        if (off + set.entries * 32 > at + bps) break;
    }
}

}  // namespace brenvale::advscan
