#pragma once
// The signature scan: called once for every batch of sectors in ascending order, it lets the
// hits still waiting for their end look at the batch, then tests every sector of the batch for
// the start of a known file. The lists and counters of one scan live here.

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <unordered_map>
#include <vector>

#include "raw/file_types.h"
#include "raw/found_file.h"
#include "raw/scan_context.h"
#include "raw/test_chain.h"

namespace brenvale::storage {
class TDevice;
class CheckpointWriter;
class CheckpointReader;
}

namespace brenvale::raw {

// The reader of a device's sectors for a scan of it.
SectorReader DeviceSectors(storage::TDevice& device);

class RawScan {
public:
    // `sizes` must outlive the scan. `bytesPerSector` 0 counts as 512. `readSectors` serves the
    // formats whose test looks beyond the batch; without it those tests find nothing there.
    RawScan(const SizeTables& sizes, std::uint32_t bytesPerSector, SectorReader readSectors = {});

    // Scans one batch: Buffer holds the bytes read from sector BatchLBA on (whole sectors are
    // tested; a short batch is fine). Batches come in ascending order; a batch that does not
    // follow the previous one directly is fine too, the hits waiting then skip the gap.
    void RawSignatureScan(std::span<const std::byte> Buffer, std::int64_t BatchLBA);

    // The scan has read all it will read: the hits still waiting are listed, with the length
    // their format can vouch for or an unknown length. Not for a scan that was stopped, whose
    // waiting hits go on when it resumes.
    void FinishPending();

    // Disposes every hit and zeroes the counters: a fresh scan.
    void Clear();
    // What a stopped scan goes on from in a later run: the hits with their side-table facts,
    // the counters, the hits following a walk and the end of the last batch. A pending gzip
    // hit's decoder is not stored: LoadState measures its stream again up to where it stood.
    void SaveState(storage::CheckpointWriter& w) const;
    // False, with the scan cleared, when the stored state fails a check (a type outside the
    // catalogue, a count the bytes left cannot hold, a side-table index that names nothing).
    bool LoadState(storage::CheckpointReader& r);

    std::uint32_t BytesPerSector() const { return bps_; }
    const SideTables& Side() const { return side_; }
    const TArchiveFileInfo* ArchiveInfo(const TFoundFile& f) const { return side_.Archive(f.Info); }
    // The summary properties of a compound-file hit; null for other hits and for files without.
    const TCBFFFileInfo* CompoundInfo(const TFoundFile& f) const;

    // Finished hits, in the order they were finished. A deque: a scan may keep millions, and
    // growing it never holds two copies.
    std::deque<TFoundFile> RawFiles;
    std::vector<TFoundFile> PendingRawFiles;  // hits whose end is still sought
    std::array<std::uint32_t, kSizeSlots> NumberOfRawFiles{};  // finished hits per type
    std::uint64_t FPendTries = 0;  // parser calls made for pending hits
    std::uint64_t FPendFed = 0;    // bytes handed to them
    std::array<std::uint64_t, kSizeSlots> FPendByType{};

    // Bytes of a batch's end kept for the next batch, where a record head, a marker or a
    // descriptor cut by the batch boundary is put back together.
    static constexpr std::size_t kCarryBytes = 64 * 1024;

private:
    ScanContext context();
    void finish(TFoundFile hit);
    // One pending hit against the batch; true when it left the pending list.
    bool offerPending(ScanContext& ctx, TFoundFile& hit, std::span<const std::byte> batch, std::int64_t batchLba,
                      bool carryValid, const std::array<std::int64_t, kEndMarkerKinds>& markers);
    int callParser(ScanContext& ctx, LengthParser parser, TFoundFile& hit, std::span<const std::byte> data);
    // Runs a parser over batch[offset..) and notes the heads a shared walk stepped on.
    int walkInBatch(ScanContext& ctx, const Continuation& cont, TFoundFile& hit, std::span<const std::byte> batch,
                    std::size_t offset, bool pending);
    // A hit whose head a walk of this batch stepped on: it ends where that walk ends.
    void follow(TFoundFile hit, std::int64_t leader);
    void findMarkers(std::span<const std::byte> batch, bool carryValid, std::array<std::int64_t, kEndMarkerKinds>& at);
    void testSectors(ScanContext& ctx, std::span<const std::byte> batch, std::int64_t batchLba);
    void keepCarry(std::span<const std::byte> batch, std::int64_t batchLba, bool follows);

    const SizeTables& sizes_;
    std::uint32_t bps_;
    SectorReader readSectors_;
    SideTables side_;
    std::vector<std::byte> carry_;     // the end of the last batch
    std::int64_t carryNextLba_ = -1;   // the sector right after it
    std::vector<std::byte> seam_;      // carry + the start of the batch, rebuilt when needed
    std::vector<char> leaving_;        // per pending hit: finished in this batch
    // Shared walks (see Continuation::SharesWalk): per sector of the batch, the hit whose walk
    // stepped on a head there (-1: none); the hits that follow a walk still going, by the
    // walking hit's LBA; where the walks that ended in this batch ended (-1: unknown length).
    std::vector<std::int64_t> steppedOn_;
    std::unordered_map<std::int64_t, std::vector<TFoundFile>> followers_;
    std::unordered_map<std::int64_t, std::int64_t> walkEnds_;
    std::vector<std::int64_t> heads_;
};

}  // namespace brenvale::raw
