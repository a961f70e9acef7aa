#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/drive_source.h"
#include "cli/partition_output.h"

namespace brenvale::cli {

namespace {

int listPartitions(Context& ctx, const std::string& sourceArg) {
    auto opened = OpenDrive(ctx, sourceArg);
    PrintPartitionTree(ctx, *opened.drive, true);
    return kExitOk;
}

}  // namespace

void RegisterPartitions(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("partitions", "List the partitions, free space and lost partitions of a disk or image");
    auto sourceArg = std::make_shared<std::string>();
    cmd->add_option("SOURCE", *sourceArg, "Image file, block device, drive:N or volume:N")->required();
    cmd->callback([&ctx, sourceArg] { RunCommand(ctx, [&] { return listPartitions(ctx, *sourceArg); }); });
}

}  // namespace brenvale::cli
