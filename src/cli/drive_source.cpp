#include "cli/drive_source.h"

#include "storage/partition_table.h"

namespace brenvale::cli {

OpenedDrive OpenDrive(Context& ctx, const std::string& spec) {
    auto src = OpenSource(ctx, spec);
    OpenedDrive out;
    out.kind = src.kind;
    out.drive = std::make_unique<partitions::TPhysicalDrv>(ctx.os, std::move(src.device));
    return out;
}

std::string RecordKind(const partitions::TPhysicalDrv& drv, const partitions::TPartition* p) {
    if (p->Entry.SystemFlag == storage::kPartTypeEmpty) return "free";
    if (drv.IsInnerExtParti(p)) return "link";
    if (partitions::IsExtendedType(p->Entry.SystemFlag)) return "extended";
    return "partition";
}

}  // namespace brenvale::cli
