#pragma once
// The harvest of the advanced scan: every sector of an object, batch by batch, is tried as an
// NTFS file record, an exFAT directory sector and a FAT directory sector, and what it holds is
// kept. Sector numbers are relative to the object's first sector and counted in the device's
// sectors; they are 64-bit, so objects past 2 TiB are no special case.
//
// A record or an entry set may begin in the last sectors of a batch and end in the next: those
// sectors are classified together with the start of the next batch, so a batch boundary loses
// nothing.

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "scan/entry_store.h"
#include "scan/mid_entry.h"
#include "scan/ntfs_entry.h"
#include "scan/ntfs_file_record.h"

namespace brenvale::advscan {

// Votes for 1, 2, 4, 8, 16, 32, 64 and 128 sectors per cluster, in that order.
using SpcVotes = std::array<std::int32_t, 8>;

// What a harvest has gathered: with the raw hits and where it stopped, its whole state.
struct HarvestLists {
    std::vector<std::int64_t> FDTs;       // FAT directory sectors, in the order found
    std::int32_t Fat32Count = 0;          // of them, those with FAT32 evidence
    std::vector<std::int64_t> ExFatDirs;  // sectors that gave exFAT entries, in the order found
    std::uint32_t ExFatCount = 0;
    SpcVotes Votes{};
    std::uint32_t RecordLength = 0;       // NTFS record length; 0 until known
    std::vector<scan::tntfsfilerecord*> NTFSFileList;
    std::vector<scan::TMidEntry*> FatFileList;  // the exFAT entries

    // Records whose name lies in another record (a folder or file so large that its attributes
    // spill over): kept until the pass has met the records they point to. Those records, by
    // number, and where they lie.
    struct Deferred {
        std::int64_t Sector;
        std::vector<std::byte> Bytes;  // fixed up
    };
    std::vector<Deferred> DeferredRecords;
    std::unordered_map<std::int64_t, std::int64_t> ExtensionRecords;

    // Folders the sorting stage made up for parents no record was found for; they stand in
    // NTFSFileList until the stage runs again, and are not part of what was harvested.
    std::vector<const scan::tntfsfilerecord*> Placeholders;

    // The last sectors of the batch read before a stop, kept to be classified with the first
    // batch a resume reads (a record or an entry set may run on into it); -1: none held.
    std::vector<std::byte> HeldBack;
    std::int64_t HeldBackRel = -1;

    // The records the lists point at.
    scan::EntryStore<scan::tntfsfilerecord> NtfsRecords;
    scan::EntryStore<scan::TMidEntry> MidEntries;

    void Clear();
};

// What the object's standard scan already found: not harvested again. The harvest adds what it
// finds, so the first copy met in ascending order wins.
struct KnownSets {
    std::unordered_set<std::uint32_t> Clusters;      // exFAT first clusters
    std::unordered_set<std::int64_t> DirSectors;     // FAT directory sectors read by the walk
    std::unordered_set<std::int64_t> RecordNumbers;  // NTFS records
    std::unordered_set<std::int64_t> ExFatDirSet;    // sectors already in ExFatDirs
};

// The sets as a harvest left them, made again from what it gathered (a checkpoint stores the
// lists, not the sets): `standard` are the standard scan's entries, `dirSectors` the folder
// sectors its walk read (empty when they are not this object's).
void RefillKnownSets(const HarvestLists& lists, const std::vector<scan::TScanEntry*>& standard,
                     const std::vector<std::uint32_t>& dirSectors, KnownSets& known);

// An NTFS record's own number (the header's 32-bit field), -1 when its header has none.
std::int64_t HarvestRecordNumber(std::span<const std::byte> record);

struct HarvestSetup {
    std::uint32_t SectorBytes = 512;       // the device's sector: the unit of every sector number
    std::uint32_t PartitionBps = 512;      // the boot sector's bytes per sector as stored (may be 0)
    std::uint64_t ObjectSectors = 0;       // 0: unknown
    std::int64_t Lba0 = 0;                 // the object's first sector, for the event log
};

// Harvests one record, fixed up: false when it names no file of its own.
class NtfsRecordSink {
public:
    NtfsRecordSink(HarvestLists& lists, KnownSets& known, std::uint32_t partitionBps)
        : lists_(lists), known_(known), bps_(partitionBps) {}
    // The record found at relative sector `rel`; `source` reads the records its attribute list
    // points to (null during the pass: such a record waits in DeferredRecords).
    bool Add(std::span<const std::byte> record, std::int64_t rel, scan::NtfsRecordSource* source);

private:
    HarvestLists& lists_;
    KnownSets& known_;
    std::uint32_t bps_;
};

// After the pass: the records that waited for their extension records are harvested, read
// through `readSectors` (relative sector, whole sectors). Those whose extension records are
// not there yet wait on (a resumed pass may bring them).
void HarvestDeferredRecords(HarvestLists& lists, KnownSets& known, std::uint32_t partitionBps, std::uint32_t sectorBytes,
                            const std::function<bool(std::int64_t rel, std::span<std::byte> into)>& readSectors);

// Classifies and harvests the sectors handed to it, in ascending order.
class SectorHarvester {
public:
    SectorHarvester(HarvestLists& lists, KnownSets& known, const HarvestSetup& setup);

    // One batch read at relative sector `relLba`. A batch that does not follow the last one
    // directly first finishes the sectors held back from that one.
    void Batch(std::span<const std::byte> data, std::int64_t relLba);
    // No more batches follow (the end of the range): the sectors held back are classified
    // with the bytes there are.
    void Finish();
    // The pass stopped: the sectors held back wait in the lists for the resume.
    void Hold();

    std::uint64_t RecordsTried() const { return recordsTried_; }

private:
    // Classifies the sectors of `data` from `first` up to (not including) `end`; `data` may
    // hold more bytes after them, which records and entry sets may use.
    void classify(std::span<const std::byte> data, std::int64_t relLba, std::size_t first, std::size_t end);
    void sector(std::span<const std::byte> data, std::size_t at, std::int64_t rel);
    bool ntfs(std::span<const std::byte> data, std::size_t at, std::int64_t rel);
    void harvestRecord(std::span<const std::byte> record, std::int64_t rel);
    void harvestExFat(std::span<const std::byte> data, std::size_t at, std::int64_t rel);

    HarvestLists& lists_;
    KnownSets& known_;
    HarvestSetup setup_;
    std::size_t holdBack_;                // sectors at a batch's end classified with the next
    std::vector<std::byte> carry_;        // those sectors, and room for the next batch's start
    std::int64_t carryRel_ = -1;          // their first sector; -1: none held
    std::size_t carrySectors_ = 0;
    std::vector<std::byte> record_;       // the record being fixed up
    std::uint64_t recordsTried_ = 0;
};

}  // namespace brenvale::advscan
