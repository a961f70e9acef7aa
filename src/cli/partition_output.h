#pragma once
// How partition records are printed: JSON and an aligned table.

#include <nlohmann/json.hpp>
#include <vector>

#include "cli/context.h"
#include "partitions/physical_drv.h"

namespace brenvale::cli {

nlohmann::ordered_json LostPartitionsJson(const std::vector<partitions::TPartition*>& lost);

// The records of PartitionList after the disk record (numbered from 1), then, if `withLost`,
// the lost partitions. JSON or a table, as ctx.json says.
void PrintPartitionTree(Context& ctx, const partitions::TPhysicalDrv& drv, bool withLost);
// Only the lost partitions.
void PrintLostPartitions(Context& ctx, const partitions::TPhysicalDrv& drv);

}  // namespace brenvale::cli
