#include <fmt/format.h>

#include <unordered_map>

#include "advscan/adv_recover.h"
#include "advscan/adv_tree.h"
#include "app/adv_recovery_backend.h"
#include "app/recover_command.h"
#include "cli/adv_session.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "cli/scan_rows.h"
#include "cli/volume_scan.h"
#include "platform/terminal.h"

namespace brenvale::cli {

namespace {

struct RecoverArgs {
    std::string source;
    VolumeSelector selector;
    std::string destination;
    bool deletedOnly = false;
    bool advanced = false;
    std::vector<std::string> paths;
    std::string results;  // a completed advanced scan kept by 'adv-scan --results'
};

std::atomic<app::RecoverCommand*> gRecovering{nullptr};

void stopRecovery() {
    if (auto* c = gRecovering.load()) c->Stop();
}

// The entries PATHS name, as `scan` prints them; the whole volume when there are none.
std::vector<app::RecoveryTarget> targetsOf(scan::TUndelete& scan, const std::vector<std::string>& paths) {
    if (paths.empty()) return {{nullptr, "", true}};
    std::unordered_map<std::string, const ScanRow*> byPath;
    const auto rows = ListRows(scan, false);
    for (const auto& r : rows) byPath.emplace(r.path, &r);
    std::vector<app::RecoveryTarget> out;
    for (std::string p : paths) {
        if (p.size() > 1 && p.back() == '/') p.pop_back();
        if (p == "/") {
            out.push_back({nullptr, "", true});
            continue;
        }
        if (!p.empty() && p.front() != '/') p.insert(0, "/");
        const auto it = byPath.find(p);
        if (it == byPath.end()) throw CliError(kExitUsage, p + ": no such entry in the scan (see 'brenvale-cli scan')");
        out.push_back({it->second->entry, it->second->facts.name, it->second->facts.folder});
    }
    return out;
}

std::vector<app::RecoveryTarget> nodesOf(const advscan::AdvTree& tree, const std::vector<std::string>& paths) {
    if (paths.empty()) return {{nullptr, advscan::kAdvancedExtra, true, 0}};
    std::vector<app::RecoveryTarget> out;
    for (std::string p : paths) {
        if (p.size() > 1 && p.back() == '/') p.pop_back();
        const auto node = tree.Find(p);
        if (!node) throw CliError(kExitUsage, p + ": no such entry in the advanced scan (see 'brenvale-cli adv-scan')");
        const advscan::AdvNode& n = tree.Nodes()[*node];
        out.push_back({n.entry, n.name, n.folder, static_cast<std::int64_t>(*node)});
    }
    return out;
}

int report(Context& ctx, const app::RecoverySummary& s) {
    if (s.outcome == app::RecoveryOutcome::DestinationRefused) return kExitUsage;
    // Said already, with the folder and the system's reason; nothing was written.
    if (s.outcome == app::RecoveryOutcome::DestinationUnwritable) return kExitFailed;
    for (const auto& line : s.DetailsList) ctx.err << Printable(line) << '\n';
    ctx.out << app::kSummaryTitle << '\n'
            << app::kProcessedLabel << ' ' << s.numProcessed << '\n'
            << app::kRecoveredLabel << ' ' << s.numRecovered << '\n'
            << app::kFailedLabel << ' ' << s.numFailed << '\n';
    if (s.numFailed > 0) ctx.out << app::kFailedFilesRemoved << '\n';
    if (s.outcome == app::RecoveryOutcome::Stopped) ctx.err << "brenvale-cli: recovery stopped\n";
    const bool clean = s.outcome == app::RecoveryOutcome::Done && s.numFailed == 0;
    return clean ? kExitOk : kExitFailed;
}

app::RecoverySummary runJobs(Context& ctx, CliUi& ui, const std::vector<app::RecoveryJob>& jobs, const std::string& destination) {
    app::RecoverCommand run(ui, ctx.log, ctx.os);
    gRecovering = &run;
    app::RecoverySummary s;
    {
        platform::InterruptGuard guard(stopRecovery);
        s = run.Run(jobs, destination);
    }
    gRecovering = nullptr;
    ctx.progress.finish();
    return s;
}

int runAdvancedRecover(Context& ctx, const RecoverArgs& a) {
    AdvSession session = RunAdvSession(ctx, a.source, a.selector, a.results);
    const advscan::AdvTree tree(*session.adv);
    advscan::AdvRecovery recovery(*session.adv, *session.volume.scan);
    app::AdvRecoveryBackend backend(tree, recovery);
    const auto targets = nodesOf(tree, a.paths);
    const int code = report(ctx, runJobs(ctx, *session.volume.ui, {{session.volume.scan.get(), targets, false, &backend}},
                                         a.destination));
    for (const auto& line : recovery.Diag) ctx.err << Printable(line) << '\n';
    return code;
}

int runRecover(Context& ctx, const RecoverArgs& a) {
    if (a.advanced) return runAdvancedRecover(ctx, a);
    auto v = ScanVolume(ctx, a.source, a.selector);
    if (v.result == scan::kScanNotScannable) throw CliError(kExitFailed, "the volume could not be scanned");
    auto& scan = *v.scan;
    const auto targets = targetsOf(scan, a.paths);
    return report(ctx, runJobs(ctx, *v.ui, {{&scan, targets, a.deletedOnly}}, a.destination));
}


}  // namespace

void RegisterRecover(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("recover", "Copy files and folders found by the standard scan to another disk");
    auto args = std::make_shared<RecoverArgs>();
    cmd->add_option("SOURCE", args->source, "Image file, block device, drive:N or volume:N")->required();
    AddVolumeSelector(cmd, args->selector);
    cmd->add_option("--to", args->destination, "Destination folder (not on the disk being read)")->required();
    auto* deleted = cmd->add_flag("--deleted-only", args->deletedOnly,
                                  "In folders, only deleted entries and the folders leading to them");
    auto* advanced = cmd->add_flag("--advanced", args->advanced,
                  "From the advanced scan's rebuilt tree (paths as 'adv-scan' prints them; all of it when none)")
        ->excludes(deleted);
    cmd->add_option("--results", args->results, "With --advanced: the scan 'adv-scan --results FILE' kept, instead of scanning")
        ->needs(advanced);
    cmd->add_option("PATH", args->paths, "Files or folders as 'scan' prints them; the whole volume when none");
    cmd->callback([&ctx, args] { RunCommand(ctx, [&] { return runRecover(ctx, *args); }); });
}

}  // namespace brenvale::cli
