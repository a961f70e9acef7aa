#pragma once
// Registration of the brenvale-cli commands. Each adds its subcommand to `app`; the
// subcommand's callback runs it and leaves its exit code in ctx.exitCode.

#include <CLI/CLI.hpp>

#include "cli/context.h"

namespace brenvale::cli {

void RegisterSources(CLI::App& app, Context& ctx);
void RegisterInfo(CLI::App& app, Context& ctx);
void RegisterImage(CLI::App& app, Context& ctx);
void RegisterPartitions(CLI::App& app, Context& ctx);
void RegisterFindPartitions(CLI::App& app, Context& ctx);
void RegisterScan(CLI::App& app, Context& ctx);
void RegisterRecover(CLI::App& app, Context& ctx);
void RegisterSearch(CLI::App& app, Context& ctx);
void RegisterHealth(CLI::App& app, Context& ctx);
void RegisterCarve(CLI::App& app, Context& ctx);
void RegisterAdvScan(CLI::App& app, Context& ctx);
void RegisterStats(CLI::App& app, Context& ctx);

// Runs `body`, turning a CliError into the exit code and a message on stderr.
void RunCommand(Context& ctx, const std::function<int()>& body);

}  // namespace brenvale::cli
