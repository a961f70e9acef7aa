#include "cli/drive_source.h"

#include "storage/fs_types.h"
#include "storage/partition_table.h"

namespace brenvale::cli {

OpenedDrive OpenDrive(Context& ctx, const std::string& sourceArg) {
    auto src = OpenSource(ctx, sourceArg);
    OpenedDrive out;
    out.kind = src.kind;
    out.drive = std::make_unique<partitions::TPhysicalDrv>(ctx.os, std::move(src.device));
    return out;
}

partitions::TPartition* SelectRecord(const partitions::TPhysicalDrv& drv, const VolumeSelector& sel) {
    auto& list = drv.PartitionList;
    if (sel.wholeDisk) return list.front();
    if (sel.partition) {
        if (*sel.partition == 0 || *sel.partition >= list.size()) {
            throw CliError(kExitUsage, "--partition " + std::to_string(*sel.partition) + ": the disk has " +
                                           std::to_string(list.size() - 1) + " records (see 'brenvale-cli partitions')");
        }
        return list[*sel.partition];
    }
    if (sel.lost) {
        if (*sel.lost == 0 || *sel.lost > drv.LostPartitionList.size()) {
            throw CliError(kExitUsage, "--lost " + std::to_string(*sel.lost) + ": " +
                                           std::to_string(drv.LostPartitionList.size()) + " lost partitions were found");
        }
        return drv.LostPartitionList[*sel.lost - 1];
    }
    if (sel.free) {
        std::size_t seen = 0;
        for (std::size_t i = 1; i < list.size(); ++i) {
            if (RecordKind(drv, list[i]) == "free" && ++seen == *sel.free) return list[i];
        }
        throw CliError(kExitUsage, "--free " + std::to_string(*sel.free) + ": the disk has " + std::to_string(seen) +
                                       " stretches of free space (see 'brenvale-cli partitions')");
    }
    partitions::TPartition* only = nullptr;
    for (std::size_t i = 1; i < list.size(); ++i) {
        if (list[i]->BootSector.FileSystemType == storage::kFsUnknown) continue;
        if (only) throw CliError(kExitUsage, "the disk has several volumes: choose one with --partition N");
        only = list[i];
    }
    if (!only) throw CliError(kExitUsage, "the disk has no volume: choose --partition N, --lost N or --whole-disk");
    return only;
}

std::string RecordKind(const partitions::TPhysicalDrv& drv, const partitions::TPartition* p) {
    if (p->Entry.SystemFlag == storage::kPartTypeEmpty) return "free";
    if (drv.IsInnerExtParti(p)) return "link";
    if (partitions::IsExtendedType(p->Entry.SystemFlag)) return "extended";
    return "partition";
}

}  // namespace brenvale::cli
