#include "cli/volume_scan.h"

#include <fmt/format.h>

#include "app/standard_scan.h"
#include "cli/cli_ui.h"
#include "platform/terminal.h"
#include "storage/fs_types.h"

namespace brenvale::cli {

namespace {

std::atomic<app::StandardScanCommand*> gScanning{nullptr};
std::atomic<partitions::TPhysicalDrv*> gSearching{nullptr};

void stopRunning() {
    if (auto* c = gScanning.load()) c->Stop();
    if (auto* d = gSearching.load()) d->TerminateProgress();
}

// The volume's name in the event log: the source, then the record as `partitions` numbers it.
std::string nodePath(const std::string& sourceArg, const partitions::TPhysicalDrv& drv,
                     const partitions::TPartition* record) {
    const auto& list = drv.PartitionList;
    for (std::size_t i = 1; i < list.size(); ++i) {
        if (list[i] == record) return list.size() == 2 ? sourceArg : fmt::format("{}/Partition {}", sourceArg, i);
    }
    for (std::size_t i = 0; i < drv.LostPartitionList.size(); ++i) {
        if (drv.LostPartitionList[i] == record) return fmt::format("{}/Lost Partitions/Partition {}", sourceArg, i + 1);
    }
    return fmt::format("{}/Total Disk Space", sourceArg);
}

void findLostPartitions(Context& ctx, partitions::TPhysicalDrv& drv) {
    const auto sectors = static_cast<std::int64_t>(drv.Device->Sectors());
    drv.FOnScan = [&ctx](int percent) { ctx.progress.update(fmt::format("Searching for lost partitions: {}%", percent)); };
    gSearching = &drv;
    int result = 0;
    {
        platform::InterruptGuard guard(stopRunning);
        result = drv.DetectLostParti(&drv.Partition, 0, sectors, false);
    }
    gSearching = nullptr;
    drv.FOnScan = nullptr;
    ctx.progress.finish();
    if (result == partitions::kSearchStopped) throw CliError(kExitFailed, "the search for lost partitions was stopped");
}

}  // namespace

void AddVolumeSelector(CLI::App* cmd, VolumeSelector& sel, bool freeSpace) {
    auto* partition = cmd->add_option("--partition", sel.partition, "Volume N as 'partitions' numbers it");
    auto* lost = cmd->add_option("--lost", sel.lost, "Lost partition N, as 'find-partitions' numbers it");
    auto* whole = cmd->add_flag("--whole-disk", sel.wholeDisk, "The whole disk as one stretch");
    partition->excludes(lost)->excludes(whole);
    lost->excludes(whole);
    if (freeSpace) {
        auto* free = cmd->add_option("--free", sel.free, "Free-space stretch N, as 'partitions' lists them");
        free->excludes(partition)->excludes(lost)->excludes(whole);
    }
}

ScannedVolume OpenVolume(Context& ctx, const std::string& sourceArg, const VolumeSelector& sel) {
    ScannedVolume v;
    v.drive = OpenDrive(ctx, sourceArg);
    auto& drv = *v.drive.drive;
    if (sel.lost) findLostPartitions(ctx, drv);
    v.record = SelectRecord(drv, sel);
    v.ui = std::make_unique<CliUi>(ctx);
    v.scan = std::make_unique<scan::TUndelete>(*drv.Device, *v.record, v.ui.get());
    v.scan->FWholeDiskObject = sel.wholeDisk;
    return v;
}

ScannedVolume ScanVolume(Context& ctx, const std::string& sourceArg, const VolumeSelector& sel) {
    ScannedVolume v = OpenVolume(ctx, sourceArg, sel);
    auto& drv = *v.drive.drive;
    v.ui->progressLabel = "Scanning";
    app::StandardScanCommand command(*v.ui, ctx.log);
    gScanning = &command;
    {
        platform::InterruptGuard guard(stopRunning);
        v.result = command.Run(*v.scan, nodePath(sourceArg, drv, v.record));
    }
    gScanning = nullptr;
    ctx.progress.finish();
    return v;
}

SectorSpan ChosenSectors(const std::optional<std::int64_t>& from, const std::optional<std::int64_t>& count,
                         std::uint64_t start, std::uint64_t sectors) {
    if (!from && !count) return {start, sectors};
    const auto end = static_cast<std::int64_t>(start + sectors);
    const std::int64_t first = from.value_or(static_cast<std::int64_t>(start));
    if (first < static_cast<std::int64_t>(start) || first >= end) {
        throw CliError(kExitUsage, fmt::format("--from {} is outside the volume (sectors {} to {})", first, start, end - 1));
    }
    const std::int64_t n = count.value_or(end - first);
    if (n <= 0 || n > end - first) {
        throw CliError(kExitUsage, fmt::format("--count {} does not fit: {} sectors from sector {}", n, end - first, first));
    }
    return {static_cast<std::uint64_t>(first), static_cast<std::uint64_t>(n)};
}

}  // namespace brenvale::cli
