#pragma once
// Opening a SOURCE as a drive with its partition tree.

#include <memory>
#include <string>

#include "cli/context.h"
#include "partitions/physical_drv.h"

namespace brenvale::cli {

struct OpenedDrive {
    std::unique_ptr<partitions::TPhysicalDrv> drive;
    SourceKind kind = SourceKind::Raw;
};

// Builds the partition tree of SOURCE (as OpenSource names it). Throws CliError(2).
OpenedDrive OpenDrive(Context& ctx, const std::string& spec);

// What a record of the tree is: "partition", "free", "extended" or "link".
std::string RecordKind(const partitions::TPhysicalDrv& drv, const partitions::TPartition* p);

}  // namespace brenvale::cli
