#include "cli/cli_app.h"

#include <filesystem>

#include "cli/commands.h"
#include "platform/terminal.h"
#include "scan/undelete.h"

namespace brenvale::cli {

namespace {

// Reads the --config file, or else the program's own file when there is one; without either
// the run keeps the defaults. A file read only in part leaves the rest at their defaults, as
// the desktop program does; only a file the user named is worth a warning.
void loadConfiguration(Context& ctx) {
    ctx.config = app::Config{};
    ctx.configDoc = app::ConfigDocument{};
    const bool named = !ctx.configFile.empty();
    const std::string path = named ? ctx.configFile : app::ConfigFilePath();
    std::error_code ec;
    if (named || std::filesystem::is_regular_file(path, ec)) {
        if ((!ctx.configDoc.Open(path) || !ctx.configDoc.Load(ctx.config)) && named) {
            ctx.err << "brenvale-cli: warning: configuration " << path << " not fully read (" << ctx.configDoc.Error()
                    << "); the settings after that point keep their defaults\n";
        }
    }
    scan::ShowOnlyDeleted = ctx.config.ShowOnlyDeleted;
}

}  // namespace

void RunCommand(Context& ctx, const std::function<int()>& body) {
    try {
        ctx.exitCode = body();
    } catch (const CliError& e) {
        ctx.progress.finish();
        ctx.err << "brenvale-cli: " << e.what() << '\n';
        ctx.exitCode = e.code();
    } catch (const std::exception& e) {
        ctx.progress.finish();
        ctx.err << "brenvale-cli: " << e.what() << '\n';
        ctx.exitCode = kExitFailed;
    }
}

int Run(int argc, const char* const* argv, platform::Platform& os, std::ostream& out, std::ostream& err,
        platform::DriveCommands* drives) {
    Context ctx(os, out, err);
    ctx.drives = drives;
    CLI::App app{"Brenvale: finds and recovers deleted files and lost partitions", "brenvale-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "Brenvale 1.1.2");
    app.add_flag("--json", ctx.json, "Machine-readable output");
    app.add_flag("-q,--quiet", ctx.quiet, "No progress line");
    app.add_option("--event-log", ctx.eventLogFile, "Write the event log to FILE at exit");
    app.add_option("--config", ctx.configFile, "Configuration file to use")->check(CLI::ExistingFile);
    app.add_option("--sector-size", ctx.sectorSize, "Sector size of raw image files (default 512)")
        ->check(CLI::IsMember({512, 1024, 2048, 4096}));
    // Options of the whole program may also follow the command.
    app.fallthrough();

    ctx.log.AttachDeviceSink();
    RegisterSources(app, ctx);
    RegisterInfo(app, ctx);
    RegisterImage(app, ctx);
    RegisterPartitions(app, ctx);
    RegisterFindPartitions(app, ctx);
    RegisterScan(app, ctx);
    RegisterRecover(app, ctx);
    RegisterSearch(app, ctx);
    RegisterHealth(app, ctx);
    RegisterCarve(app, ctx);
    RegisterAdvScan(app, ctx);
    RegisterStats(app, ctx);
    app.parse_complete_callback([&] {
        ctx.progress.enable(!ctx.quiet && platform::stderrIsTerminal());
        loadConfiguration(ctx);
    });

    int code = kExitOk;
    try {
        app.parse(argc, argv);
        code = ctx.exitCode;
    } catch (const CLI::ParseError& e) {
        // --help and --version end here with success; real parse errors are usage errors.
        code = app.exit(e, out, err) == 0 ? kExitOk : kExitUsage;
    }
    app::EventLog::DetachDeviceSink();
    if (!ctx.eventLogFile.empty() && !ctx.log.SaveEventLog(ctx.eventLogFile)) {
        err << "brenvale-cli: cannot write the event log to " << ctx.eventLogFile << '\n';
        if (code == kExitOk) code = kExitFailed;
    }
    return code;
}

}  // namespace brenvale::cli
