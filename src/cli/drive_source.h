#pragma once
// Opening a SOURCE as a drive with its partition tree.

#include <memory>
#include <optional>
#include <string>

#include "cli/context.h"
#include "partitions/physical_drv.h"

namespace brenvale::cli {

struct OpenedDrive {
    std::unique_ptr<partitions::TPhysicalDrv> drive;
    SourceKind kind = SourceKind::Raw;
};

// Builds the partition tree of SOURCE (as OpenSource names it). Throws CliError(2).
OpenedDrive OpenDrive(Context& ctx, const std::string& sourceArg);

// Which record of a drive a command works on: --partition N (as `partitions` numbers them),
// --lost N, --free N (the N-th stretch of free space `partitions` lists), --whole-disk, or,
// with none of them, the only volume of the drive.
struct VolumeSelector {
    std::optional<std::size_t> partition;
    std::optional<std::size_t> lost;
    std::optional<std::size_t> free;
    bool wholeDisk = false;
    bool any() const { return partition || lost || free || wholeDisk; }
};

// The selected record; throws CliError(2) with a clear message when there is none.
partitions::TPartition* SelectRecord(const partitions::TPhysicalDrv& drv, const VolumeSelector& sel);

// What a record of the tree is: "partition", "free", "extended" or "link".
std::string RecordKind(const partitions::TPhysicalDrv& drv, const partitions::TPartition* p);

}  // namespace brenvale::cli
