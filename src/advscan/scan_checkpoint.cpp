#include "advscan/scan_checkpoint.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <unordered_map>

#include "raw/signature_scan.h"
#include "storage/checkpoint_io.h"

namespace brenvale::advscan {

namespace {

using storage::CheckpointReader;
using storage::CheckpointWriter;

// Names, labels and paths are short; a longer length is damage.
constexpr std::size_t kMaxText = 64 * 1024;
// The loader holds the whole file in memory; a scan of millions of records is some hundreds
// of MiB.
constexpr std::size_t kMaxFileBytes = std::size_t{16} << 30;
// The fewest bytes an entry of each list takes, for the count checks.
constexpr std::size_t kMinTaggedEntry = 1 + 32 + 4 + 4 + 1 + 8 + 4 + 1;
constexpr std::size_t kMinNtfsEntry = 8 * 4 + 4 + sizeof(storage::TFileNameAttrHead) + 2 + 8 + 1;
constexpr std::size_t kMinDeferred = 8 + 4;

std::uint8_t tagOf(const scan::TScanEntry* e) {
    switch (e->Kind()) {
        case scan::EntryKind::Fat32: return kTagFat32;
        case scan::EntryKind::Ntfs: return kTagNtfs;
        case scan::EntryKind::ExFat: return kTagExFat;
        case scan::EntryKind::Fat: break;
    }
    return kTagFat;
}

void writeNtfs(CheckpointWriter& w, const scan::tntfsfilerecord& r) {
    w.i64(r.sectornumber);
    w.i64(r.recordnumber);
    w.u64(r.allocsize);
    w.u64(r.realsize);
    w.string(r.filename, kMaxText);
    w.record(r.head);
    w.u16(r.flag);
    w.i64(r.tmpsectnum);
    w.u8(r.torn ? 1 : 0);
}

void writeEntry(CheckpointWriter& w, const scan::TScanEntry* e) {
    const std::uint8_t tag = tagOf(e);
    w.u8(tag);
    if (tag == kTagNtfs) {
        writeNtfs(w, *static_cast<const scan::tntfsfilerecord*>(e));
    } else if (tag == kTagFat32) {
        const auto& m = *static_cast<const scan::TMidEntry32*>(e);
        w.record(m.FDT32Entry);
        w.string(m.LongFileName, kMaxText);
        w.u32(m.ClusNumber);
        w.u8(m.Status);
        w.i64(m.DirSectNum);
        w.u32(m.DirClusNum);
        w.u8(m.RegularDir ? 1 : 0);
    } else {
        const auto& m = *static_cast<const scan::TMidEntry*>(e);
        w.record(m.FDTEntry);
        w.string(m.LongFileName, kMaxText);
        w.u32(m.ClusNumber);
        w.u8(m.Status);
        w.i64(m.DirSectNum);
        w.u32(m.DirClusNum);
        w.u8(m.RegularDir ? 1 : 0);
        w.u8(m.NoFatChain ? 1 : 0);
        w.u32(m.SizeHigh);
    }
}

bool flag(CheckpointReader& r) {
    const std::uint8_t v = r.u8();
    if (v > 1) r.fail();
    return v == 1;
}

scan::tntfsfilerecord* readNtfs(CheckpointReader& r, TCheckpointData& d) {
    scan::tntfsfilerecord& n = d.OwnedNtfs.emplace_back();
    n.sectornumber = r.i64();
    n.recordnumber = r.i64();
    n.allocsize = r.u64();
    n.realsize = r.u64();
    n.filename = r.string(kMaxText);
    n.head = r.record<storage::TFileNameAttrHead>();
    n.flag = r.u16();
    n.tmpsectnum = r.i64();
    n.torn = flag(r);
    return &n;
}

template <class E>
void readMid(CheckpointReader& r, E& m) {
    m.LongFileName = r.string(kMaxText);
    m.ClusNumber = r.u32();
    m.Status = r.u8();
    if (m.Status > scan::kStatusDamaged) r.fail();
    m.DirSectNum = r.i64();
    m.DirClusNum = r.u32();
    m.RegularDir = flag(r);
}

// A tagged entry; null (and the reader failed) on an unknown tag.
scan::TScanEntry* readEntry(CheckpointReader& r, TCheckpointData& d) {
    const std::uint8_t tag = r.u8();
    switch (tag) {
        case kTagNtfs: return readNtfs(r, d);
        case kTagFat32: {
            scan::TMidEntry32& m = d.OwnedMid32.emplace_back();
            m.FDT32Entry = r.record<storage::TFDT32Entry>();
            readMid(r, m);
            return &m;
        }
        case kTagFat:
        case kTagExFat: {
            scan::TMidEntry& m = d.OwnedMid.emplace_back(tag == kTagExFat ? scan::EntryKind::ExFat : scan::EntryKind::Fat);
            m.FDTEntry = r.record<storage::TFDTEntry>();
            readMid(r, m);
            m.NoFatChain = flag(r);
            m.SizeHigh = r.u32();
            return &m;
        }
        default: r.fail(); return nullptr;
    }
}

}  // namespace

const scan::TScanEntry* EntryParentOf(const scan::TScanEntry* e) {
    switch (e->Kind()) {
        case scan::EntryKind::Fat32: return static_cast<const scan::TMidEntry32*>(e)->Parent;
        case scan::EntryKind::Ntfs: return static_cast<const scan::tntfsfilerecord*>(e)->Parent;
        case scan::EntryKind::Fat:
        case scan::EntryKind::ExFat: break;
    }
    return static_cast<const scan::TMidEntry*>(e)->Parent;
}

namespace {

template <class T, class Write>
void writeList(CheckpointWriter& w, const std::vector<T>& list, Write&& write) {
    w.count(list.size());
    for (const T& v : list) write(v);
}

}  // namespace

std::vector<std::byte> EncodeScanCheckpoint(const TCheckpointData& d, const CheckpointFilter& filter) {
    CheckpointWriter w;
    // Room for the entries at a typical name's length, so the buffer is not copied as it grows.
    w.reserve(4096 + (d.Records.size() + d.AdvNTFSFileList.size() + d.AdvFatFileList.size()) * (kMinNtfsEntry + 48) +
              d.AdvFDTs.size() * 8 + d.AdvDeferred.size() * 4096);
    w.bytes(std::as_bytes(std::span(kScanCheckpointMagic)));
    w.u32(kScanCheckpointVersion);
    w.u8(d.SourceType);
    w.string(d.SourceId, kMaxText);
    w.i64(d.PartiStartLBA);
    w.i64(d.VolumeSerial);
    w.u8(d.FS);
    w.string(d.VolumeLabel, kMaxText);
    w.u8(d.ScanMode);
    w.u8(d.Progress);
    w.i64(d.LastRecordNum);
    w.u8(d.Complete ? 1 : 0);
    w.u8(d.AdvPhase);
    w.u8(d.Source.DeviceType);
    w.u8(d.Source.DeviceNum);
    w.string(d.Source.Model, kMaxText);
    w.u64(d.Source.DeviceSectors);
    w.u32(d.Source.SectorBytes);
    w.u64(d.Source.ObjectSectors);
    writeList(w, d.DoneClus, [&](std::uint32_t c) { w.u32(c); });
    const auto passes = [&](const scan::TScanEntry* e) { return !filter || filter(e); };
    std::unordered_map<const scan::TScanEntry*, std::uint32_t> index;
    for (const scan::TScanEntry* e : d.Records) {
        if (passes(e)) index.emplace(e, static_cast<std::uint32_t>(index.size()));
    }
    w.count(index.size());
    for (const scan::TScanEntry* e : d.Records) {
        if (!index.contains(e)) continue;
        writeEntry(w, e);
        const scan::TScanEntry* parent = EntryParentOf(e);
        const auto at = parent ? index.find(parent) : index.end();
        w.u32(at == index.end() ? kNoParent : at->second);
    }
    if (d.AdvPhase != 0) {
        w.i64(d.AdvLBA);
        w.i64(d.AdvLBAEnd);
        // Slots a FAT stage has used up (-1) are not harvested sectors.
        w.count(static_cast<std::size_t>(std::count_if(d.AdvFDTs.begin(), d.AdvFDTs.end(), [](std::int64_t s) { return s >= 0; })));
        for (std::int64_t s : d.AdvFDTs) {
            if (s >= 0) w.i64(s);
        }
        w.u32(static_cast<std::uint32_t>(d.AdvFat32Count));
        w.u32(static_cast<std::uint32_t>(d.AdvSectorsPerClus));
        w.u32(static_cast<std::uint32_t>(d.AdvRootSectNum));
        writeList(w, d.AdvScannedDirSectors, [&](std::uint32_t s) { w.u32(s); });
        writeList(w, d.AdvNTFSFileList, [&](const scan::tntfsfilerecord* r) { writeNtfs(w, *r); });
        writeList(w, d.AdvFatFileList, [&](const scan::TMidEntry* e) { writeEntry(w, e); });
        for (std::int32_t v : d.AdvStats) w.u32(static_cast<std::uint32_t>(v));
        writeList(w, d.AdvExFatDirs, [&](std::int64_t s) { w.i64(s); });
        w.u32(d.AdvExFatCount);
        w.u32(d.AdvRecordLength);
        writeList(w, d.AdvDeferred, [&](const HarvestLists::Deferred& r) {
            w.i64(r.Sector);
            w.count(r.Bytes.size());
            w.bytes(r.Bytes);
        });
        // Sorted, so one state always gives the same bytes.
        std::vector<std::pair<std::int64_t, std::int64_t>> ext(d.AdvExtensionRecords.begin(), d.AdvExtensionRecords.end());
        std::sort(ext.begin(), ext.end());
        writeList(w, ext, [&](const auto& p) {
            w.i64(p.first);
            w.i64(p.second);
        });
        w.i64(d.AdvHeldBackRel);
        w.count(d.AdvHeldBack.size());
        w.bytes(d.AdvHeldBack);
        if (d.AdvRaw) {
            d.AdvRaw->SaveState(w);
        } else if (!d.AdvRawState.empty()) {
            w.bytes(d.AdvRawState);
        } else {
            const raw::SizeTables sizes;  // the scan keeps a reference
            raw::RawScan(sizes, 512).SaveState(w);
        }
    }
    if (!w.ok()) return {};
    return w.take();
}

int DecodeScanCheckpoint(std::span<const std::byte> bytes, TCheckpointData& out) {
    FreeScanCheckpoint(out);
    TCheckpointData d;
    CheckpointReader r(bytes);
    const auto magic = r.record<std::array<char, 8>>();
    if (!r.ok() || magic != kScanCheckpointMagic || r.u32() != kScanCheckpointVersion) return kCheckpointInvalid;
    d.SourceType = r.u8();
    d.SourceId = r.string(kMaxText);
    d.PartiStartLBA = r.i64();
    d.VolumeSerial = r.i64();
    d.FS = r.u8();
    d.VolumeLabel = r.string(kMaxText);
    d.ScanMode = r.u8();
    d.Progress = r.u8();
    d.LastRecordNum = r.i64();
    d.Complete = flag(r);
    d.AdvPhase = r.u8();
    d.Source.DeviceType = r.u8();
    d.Source.DeviceNum = r.u8();
    d.Source.Model = r.string(kMaxText);
    d.Source.DeviceSectors = r.u64();
    d.Source.SectorBytes = r.u32();
    d.Source.ObjectSectors = r.u64();
    if (d.SourceType > 1 || d.AdvPhase > 2 || d.PartiStartLBA < 0 || d.VolumeSerial < -1 || d.VolumeSerial > 0xFFFFFFFFll)
        r.fail();

    const std::uint32_t done = r.count(4);
    d.DoneClus.reserve(done);
    for (std::uint32_t i = 0; i < done && r.ok(); ++i) d.DoneClus.push_back(r.u32());
    d.RecordCount = r.count(kMinTaggedEntry);
    d.Records.reserve(d.RecordCount);
    for (std::uint32_t i = 0; i < d.RecordCount && r.ok(); ++i) {
        if (scan::TScanEntry* e = readEntry(r, d)) d.Records.push_back(e);
        d.RecordParents.push_back(r.u32());
    }
    for (std::uint32_t p : d.RecordParents) {
        if (p != kNoParent && p >= d.RecordCount) r.fail();
    }

    if (d.AdvPhase != 0 && r.ok()) {
        d.AdvLBA = r.i64();
        d.AdvLBAEnd = r.i64();
        const std::uint32_t fdts = r.count(8);
        d.AdvFDTs.reserve(fdts);
        for (std::uint32_t i = 0; i < fdts && r.ok(); ++i) {
            d.AdvFDTs.push_back(r.i64());
            if (d.AdvFDTs.back() < 0) r.fail();
        }
        d.AdvFat32Count = static_cast<std::int32_t>(r.u32());
        d.AdvSectorsPerClus = static_cast<std::int32_t>(r.u32());
        d.AdvRootSectNum = static_cast<std::int32_t>(r.u32());
        const std::uint32_t dirs = r.count(4);
        d.AdvScannedDirSectors.reserve(dirs);
        for (std::uint32_t i = 0; i < dirs && r.ok(); ++i) d.AdvScannedDirSectors.push_back(r.u32());
        const std::uint32_t ntfs = r.count(kMinNtfsEntry);
        d.AdvNTFSFileList.reserve(ntfs);
        for (std::uint32_t i = 0; i < ntfs && r.ok(); ++i) d.AdvNTFSFileList.push_back(readNtfs(r, d));
        const std::uint32_t fat = r.count(kMinTaggedEntry);
        d.AdvFatFileList.reserve(fat);
        for (std::uint32_t i = 0; i < fat && r.ok(); ++i) {
            // The harvest's list holds exFAT entries only.
            scan::TScanEntry* e = readEntry(r, d);
            if (!e || e->Kind() != scan::EntryKind::ExFat) {
                r.fail();
                break;
            }
            d.AdvFatFileList.push_back(static_cast<scan::TMidEntry*>(e));
        }
        for (auto& v : d.AdvStats) v = static_cast<std::int32_t>(r.u32());
        const std::uint32_t exfat = r.count(8);
        d.AdvExFatDirs.reserve(exfat);
        for (std::uint32_t i = 0; i < exfat && r.ok(); ++i) d.AdvExFatDirs.push_back(r.i64());
        d.AdvExFatCount = r.u32();
        d.AdvRecordLength = r.u32();
        if (d.AdvRecordLength != 0 && d.AdvRecordLength != 1024 && d.AdvRecordLength != 2048 && d.AdvRecordLength != 4096)
            r.fail();
        const std::uint32_t deferred = r.count(kMinDeferred);
        for (std::uint32_t i = 0; i < deferred && r.ok(); ++i) {
            HarvestLists::Deferred rec;
            rec.Sector = r.i64();
            const std::uint32_t n = r.count(1);
            if (n != 1024 && n != 2048 && n != 4096) r.fail();
            const auto b = r.bytes(n);
            rec.Bytes.assign(b.begin(), b.end());
            d.AdvDeferred.push_back(std::move(rec));
        }
        const std::uint32_t ext = r.count(16);
        for (std::uint32_t i = 0; i < ext && r.ok(); ++i) {
            const std::int64_t number = r.i64();
            d.AdvExtensionRecords[number] = r.i64();
        }
        d.AdvHeldBackRel = r.i64();
        const std::uint32_t held = r.count(1);
        const auto heldBytes = r.bytes(held);
        d.AdvHeldBack.assign(heldBytes.begin(), heldBytes.end());
        if (d.AdvHeldBackRel < -1 || (d.AdvHeldBackRel >= 0) != !d.AdvHeldBack.empty() || held % 512 != 0 || held > 65536)
            r.fail();
        // The signature scan's state is checked by reading it into a scratch scan.
        if (r.ok()) {
            const std::size_t from = r.position();
            const raw::SizeTables sizes;  // the scan keeps a reference
            raw::RawScan scratch(sizes, 512);
            if (!scratch.LoadState(r)) r.fail();
            if (r.ok()) {
                const auto state = bytes.subspan(from, r.position() - from);
                d.AdvRawState.assign(state.begin(), state.end());
            }
        }
    }
    if (!r.ok()) return kCheckpointInvalid;
    out = std::move(d);
    return kCheckpointLoaded;
}

bool SaveScanCheckpoint(const std::string& fileName, const TCheckpointData& data, const CheckpointFilter& filter) {
    const std::vector<std::byte> bytes = EncodeScanCheckpoint(data, filter);
    if (bytes.empty()) return false;
    std::error_code ec;
    const auto folder = std::filesystem::path(fileName).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    return storage::saveFileAtomically(fileName, bytes);
}

int LoadScanCheckpoint(const std::string& fileName, TCheckpointData& data) {
    FreeScanCheckpoint(data);
    std::error_code ec;
    if (!std::filesystem::exists(fileName, ec)) return kCheckpointMissing;
    const auto bytes = storage::readWholeFile(fileName, kMaxFileBytes);
    if (!bytes) return kCheckpointInvalid;
    return DecodeScanCheckpoint(*bytes, data);
}

void FreeScanCheckpoint(TCheckpointData& data) {
    data = TCheckpointData{};
}

}  // namespace brenvale::advscan
