#include <fmt/format.h>

#include <atomic>

#include "app/partition_scan.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "cli/drive_source.h"
#include "cli/partition_output.h"
#include "platform/paths.h"
#include "platform/terminal.h"

namespace brenvale::cli {

namespace {

struct FindArgs {
    std::string source;
    std::optional<std::int64_t> from;
    std::optional<std::int64_t> count;
    std::string checkpoint;
    bool resume = false;
    bool restart = false;
};

std::atomic<partitions::TPhysicalDrv*> gSearching{nullptr};

void stopSearch() {
    if (auto* drv = gSearching.load()) drv->TerminateProgress();
}

int findPartitions(Context& ctx, const FindArgs& a) {
    auto opened = OpenDrive(ctx, a.source);
    auto& drv = *opened.drive;
    const auto sectors = static_cast<std::int64_t>(drv.Device->Sectors());
    if (sectors == 0) throw CliError(kExitUsage, a.source + ": the source has no sectors");

    CliUi ui(ctx);
    ui.progressLabel = "Searching for lost partitions";
    if (a.resume) ui.answer = true;
    if (a.restart) ui.answer = false;
    if (a.from || a.count) {
        const std::int64_t from = a.from.value_or(0);
        if (from < 0 || from >= sectors) {
            throw CliError(kExitUsage, fmt::format("--from {} is outside the source (0 to {})", from, sectors - 1));
        }
        const std::int64_t count = a.count.value_or(sectors - from);
        if (count <= 0 || count > sectors - from) {
            throw CliError(kExitUsage, fmt::format("--count {} does not fit: {} sectors from sector {}", count, sectors - from, from));
        }
        ui.range = app::SectorRange{from, count};
    }

    // Without --checkpoint the search uses, and updates, the configured checkpoint path.
    const bool configuredPath = a.checkpoint.empty();
    std::string checkpointPath = configuredPath ? ctx.config.PartiCheckpointPath : a.checkpoint;
    app::PartitionScanCommand command(ui, ctx.log, checkpointPath, platform::DataDirectory());
    gSearching = &drv;
    int result = 0;
    {
        platform::InterruptGuard guard(stopSearch);
        result = command.Run(drv, {a.source, {0, sectors}});
    }
    gSearching = nullptr;
    ctx.progress.finish();
    if (configuredPath && checkpointPath != ctx.config.PartiCheckpointPath) {
        ctx.config.PartiCheckpointPath = checkpointPath;
        // Like every save of the configuration, a failure here is not reported.
        if (ctx.configDoc.HasFileName()) (void)ctx.configDoc.Save(ctx.config);
    }

    PrintLostPartitions(ctx, drv);
    if (result == partitions::kSearchStopped && drv.ResumeCurrLBA > 0) {
        ctx.err << "brenvale-cli: stopped at sector " << drv.ResumeCurrLBA << "; checkpoint " << command.CheckpointFile()
                << " (continue with --resume)\n";
    }
    return result == partitions::kSearchDone ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterFindPartitions(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("find-partitions", "Search a disk for partitions no table lists any more");
    auto args = std::make_shared<FindArgs>();
    cmd->add_option("SOURCE", args->source, "Image file, block device or drive:N")->required();
    cmd->add_option("--from", args->from, "First sector to search");
    cmd->add_option("--count", args->count, "Number of sectors to search");
    cmd->add_option("--checkpoint", args->checkpoint, "Checkpoint file (default: parti_scan.prc in the data folder)");
    auto* resume = cmd->add_flag("--resume", args->resume, "Continue from a checkpoint of this disk without asking");
    auto* restart = cmd->add_flag("--restart", args->restart, "Discard a checkpoint of this disk and start over");
    resume->excludes(restart);
    cmd->callback([&ctx, args] { RunCommand(ctx, [&] { return findPartitions(ctx, *args); }); });
}

}  // namespace brenvale::cli
