#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "partitions/lost_partitions.h"
#include "partitions/physical_drv.h"
#include "storage/aligned_buffer.h"
#include "storage/device_events.h"
#include "storage/fs_detect.h"
#include "storage/fs_types.h"
#include "storage/le.h"

namespace brenvale::partitions {

namespace {

constexpr std::uint32_t kBatchBytes = 1048576;
constexpr std::int64_t kMinBatch = 256;
constexpr std::int64_t kMaxBatch = 16384;
constexpr std::int64_t kQuickSpan = 4096;
constexpr std::int64_t kQuickOffsets[] = {2048, 4096, 8192, 16384, 32768};

// The volume serial: neighbouring copies of one boot sector share it.
std::uint32_t fingerprint(std::span<const std::byte> sector, std::uint8_t fs) {
    switch (fs) {
        case storage::kFsFat12:
        case storage::kFsFat16: return storage::le32(sector, 39);
        case storage::kFsFat32: return storage::le32(sector, 67);
        case storage::kFsNtfs: return storage::le32(sector, 72);
        default: return storage::le32(sector, 100);
    }
}

// A sector the search examines: it ends in the boot signature and holds a file system we know.
std::optional<std::uint8_t> candidateFs(std::span<const std::byte> sector) {
    if (storage::le16(sector, 510) != storage::kMbrSignature) return std::nullopt;
    const std::uint8_t fs = storage::DetectFileSystem(sector);
    if (fs == storage::kFsUnknown) return std::nullopt;
    return fs;
}

}  // namespace

std::optional<std::uint32_t> TPhysicalDrv::lastPrintBefore(std::int64_t from, std::int64_t to, std::int64_t batch) {
    const std::uint32_t s = Device->BytesPerSector();
    const std::size_t step = s / 512 * 512;
    storage::AlignedBuffer buf;
    buf.reserve(static_cast<std::size_t>(batch) * s);
    // Backwards a batch at a time: the nearest candidate before `to` is usually close.
    for (std::int64_t end = to; end > from;) {
        if (FOnPump) FOnPump();
        if (Terminated || storage::DeviceAborted) return std::nullopt;
        const std::int64_t first = std::max(from, end - batch);
        const auto n = static_cast<std::uint32_t>(end - first);
        const std::uint32_t got = Device->Read(static_cast<std::uint64_t>(first), n, buf.data());
        if (got < static_cast<std::uint64_t>(n) * s) return std::nullopt;
        const std::span<const std::byte> data(buf.data(), got);
        for (std::size_t k = static_cast<std::size_t>(n); k-- > 0;) {
            const auto sector = data.subspan(k * step, 512);
            if (const auto fs = candidateFs(sector)) return fingerprint(sector, *fs);
        }
        end = first;
    }
    return kNoFingerprint;
}

void TPhysicalDrv::TerminateProgress() {
    Terminated = true;
    Processing = false;
}

int TPhysicalDrv::DetectLostParti(TPartition* Parti, std::int64_t LBA, std::int64_t Blocks, bool Quick) {
    if (Processing.exchange(true)) return kSearchNothingDone;
    Terminated = false;
    storage::DeviceAborted = false;
    Device->PrepareForNewOperation();

    const std::uint32_t s = Device->BytesPerSector();
    const auto deviceSectors = static_cast<std::int64_t>(Device->Sectors());
    const std::int64_t start = PartitionStart(Parti) + LBA;
    std::int64_t b = std::clamp<std::int64_t>(kBatchBytes / s, kMinBatch, kMaxBatch);
    if (Blocks < b) b = Blocks;

    const std::uint64_t imageSectors = Device->DeviceType() == storage::kDeviceImage ? Device->Sectors() : 0;
    // Records restored from a checkpoint join the list, unless one already starts there.
    std::int64_t q = ResumeCurrLBA > 0 && ResumeCurrLBA > start ? ResumeCurrLBA : start;
    for (auto& restored : ResumeLostParts) {
        // A checkpoint is a file like any other: keep only records that fit this device.
        if (restored.BaseLBA != 0 || !IsPlausibleLostPartition(restored, Device->Sectors())) continue;
        const bool known = std::any_of(LostPartitionList.begin(), LostPartitionList.end(), [&](const TPartition* p) {
            return PartitionStart(p) == PartitionStart(&restored);
        });
        if (known) continue;
        // The checkpoint does not keep what a record claims beyond the image's end: the record
        // is made again from its boot sector, as the search made it.
        const std::uint8_t fs = restored.BootSector.FileSystemType;
        TPartition remade = MakeLostPartition(restored.BootSector.Sector, fs, static_cast<std::uint64_t>(restored.SectNum64),
                                              s, imageSectors);
        remade.VolLabel = restored.VolLabel;
        if (!IsPlausibleLostPartition(remade, Device->Sectors())) continue;
        TPartition* rec = newRecord();
        *rec = std::move(remade);
        LostPartitionList.push_back(rec);
    }
    ResumeLostParts.clear();
    ResumeCurrLBA = 0;
    const std::optional<std::uint32_t> resumePrint = std::exchange(ResumeLastPrint, std::nullopt);

    auto finish = [&](int result) {
        std::stable_sort(LostPartitionList.begin(), LostPartitionList.end(),
                         [](const TPartition* x, const TPartition* y) { return PartitionStart(x) < PartitionStart(y); });
        Terminated = false;
        Processing = false;
        return result;
    };
    if (b <= 0 || start < 0 || q >= deviceSectors) return finish(kSearchNothingDone);

    const std::int64_t t = (Blocks + b - 1) / b;
    std::int64_t i0 = q > start ? std::min((q - start) / b, t) : 0;
    const std::size_t step = s / 512 * 512;
    std::int64_t resumeAt = q;
    std::optional<std::uint32_t> printAtResume;  // nullopt: not known
    bool found = false;

    try {
        // A resumed search starts with the fingerprint the stopped one had at this point.
        std::optional<std::uint32_t> lastPrint = kNoFingerprint;
        if (q > start) lastPrint = resumePrint ? resumePrint : lastPrintBefore(start, q, b);
        printAtResume = lastPrint;
        storage::AlignedBuffer buf;
        buf.reserve(static_cast<std::size_t>(b) * s);
        for (std::int64_t i = i0; i < t && !found; ++i) {
            if (FOnPump) FOnPump();
            resumeAt = q;
            printAtResume = lastPrint;
            if (Terminated || storage::DeviceAborted) break;
            // The last batch stops at the end of the device rather than being skipped.
            const std::int64_t n = std::min(b, deviceSectors - q);
            if (n <= 0) break;
            const std::uint32_t got =
                Device->Read(static_cast<std::uint64_t>(q), static_cast<std::uint32_t>(n), buf.data());
            if (got == 0) break;
            if (!Quick && FOnScan) FOnScan(static_cast<int>(std::lround(double(i) / double(t) * 100.0)));

            const std::span<const std::byte> batch(buf.data(), got);
            for (std::size_t off = 0; off + 512 <= batch.size(); off += step) {
                if (Terminated) break;
                const auto sector = batch.subspan(off, 512);
                const auto candidate = candidateFs(sector);
                if (!candidate) continue;
                const std::uint8_t fs = *candidate;
                const std::uint32_t print = fingerprint(sector, fs);
                if (print == lastPrint) continue;
                lastPrint = print;

                const std::int64_t at = q + static_cast<std::int64_t>(off / s);
                const auto startsHere = [at](const TPartition* p) { return PartitionStart(p) == at; };
                const bool listed = std::any_of(PartitionList.begin() + 1, PartitionList.end(), [&](const TPartition* p) {
                    return !(p->Entry.SystemFlag == storage::kPartTypeEmpty || IsExtendedType(p->Entry.SystemFlag)) &&
                           startsHere(p);
                });
                if (listed || std::any_of(LostPartitionList.begin(), LostPartitionList.end(), startsHere)) continue;
                TPartition cand = MakeLostPartition(sector, fs, static_cast<std::uint64_t>(at), s, imageSectors);
                const bool sameBoot = std::any_of(LostPartitionList.begin(), LostPartitionList.end(), [&](const TPartition* p) {
                    return p->BootSector.Sector == cand.BootSector.Sector;
                });
                if (sameBoot || !IsPlausibleLostPartition(cand, Device->Sectors())) continue;
                TPartition* rec = newRecord();
                *rec = std::move(cand);
                LostPartitionList.push_back(rec);
                if (Quick) {
                    QuickLastParti = rec;
                    found = true;
                    break;
                }
            }
            if (Terminated) break;
            q += b;
            resumeAt = q;
            printAtResume = lastPrint;
        }
    } catch (const std::exception& e) {
        if (FOnError) FOnError(e.what());
        return finish(kSearchNothingDone);
    }

    if (storage::DeviceAborted) return finish(kSearchDeviceAborted);
    if (Terminated) {
        ResumeCurrLBA = resumeAt;
        ResumeLastPrint = printAtResume;
        return finish(kSearchStopped);
    }
    return finish(kSearchDone);
}

void TPhysicalDrv::quickProbe(TPartition* gap) {
    const std::int64_t Z = PartitionSize(gap);
    std::int64_t o = 0;
    while (o < Z) {
        QuickLastParti = nullptr;
        DetectLostParti(gap, o, std::min(kQuickSpan, Z - o), true);
        for (const std::int64_t k : kQuickOffsets) {
            if (QuickLastParti || o + k >= Z) break;
            DetectLostParti(gap, o + k, 1, true);
        }
        if (!QuickLastParti) return;
        const std::int64_t end = PartitionStart(QuickLastParti) + PartitionSize(QuickLastParti) - PartitionStart(gap);
        // A found volume always moves the probe forward, whatever size it claims.
        o = std::max(end, o + 1);
    }
}

}  // namespace brenvale::partitions
