// `stats`: how many folders and files lie below the entries named, and their total size, as
// the window's "Statistics" counts them; from the standard scan, or with --advanced from the
// advanced scan's rebuilt tree.

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <unordered_map>

#include "advscan/adv_tree.h"
#include "app/statistics.h"
#include "cli/adv_session.h"
#include "cli/commands.h"
#include "cli/scan_rows.h"
#include "cli/volume_scan.h"

namespace brenvale::cli {

namespace {

struct StatsArgs {
    std::string source;
    VolumeSelector selector;
    bool advanced = false;
    bool deletedOnly = false;
    std::vector<std::string> paths;
    std::string results;  // a completed advanced scan kept by 'adv-scan --results'
};

std::string normalised(std::string p) {
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p.empty() || p.front() != '/') p.insert(0, "/");
    return p;
}

int print(Context& ctx, const StatsArgs& a, const app::StatTotals& t) {
    if (ctx.json) {
        ctx.out << fmt::format("{{\"directories\":{},\"files\":{},\"size\":{}}}\n", t.Dirs, t.Files, t.Size);
        return kExitOk;
    }
    const std::string title = a.paths.size() == 1 ? normalised(a.paths.front())
                              : a.paths.empty()   ? a.source
                                                  : fmt::format("{} selected item(s) in \"{}\"", a.paths.size(), a.source);
    std::string text = app::StatisticsMessage(title, t, 0);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    ctx.out << text << '\n';
    return kExitOk;
}

int runStats(Context& ctx, const StatsArgs& a) {
    app::StatCounter counter;
    if (a.advanced) {
        AdvSession session = RunAdvSession(ctx, a.source, a.selector, a.results);
        const advscan::AdvTree tree(*session.adv);
        if (a.paths.empty()) counter.CountAdvanced(tree, 0);
        for (const auto& p : a.paths) {
            const auto node = tree.Find(normalised(p));
            if (!node) throw CliError(kExitUsage, p + ": no such entry in the advanced scan (see 'brenvale-cli adv-scan')");
            counter.CountAdvanced(tree, *node);
        }
        return print(ctx, a, counter.Totals());
    }
    auto v = ScanVolume(ctx, a.source, a.selector);
    if (v.result == scan::kScanNotScannable) throw CliError(kExitFailed, "the volume could not be scanned");
    scan::TUndelete& scan = *v.scan;
    if (a.deletedOnly) scan.BuildDelFilter();
    if (a.paths.empty()) {
        counter.CountStandard(scan, nullptr, a.deletedOnly);
        return print(ctx, a, counter.Totals());
    }
    std::unordered_map<std::string, const scan::TScanEntry*> byPath;
    for (const auto& r : ListRows(scan, false)) byPath.emplace(r.path, r.entry);
    for (const auto& p : a.paths) {
        const std::string path = normalised(p);
        if (path == "/") {
            counter.CountStandard(scan, nullptr, a.deletedOnly);
            continue;
        }
        const auto it = byPath.find(path);
        if (it == byPath.end()) throw CliError(kExitUsage, p + ": no such entry in the scan (see 'brenvale-cli scan')");
        counter.CountStandard(scan, it->second, a.deletedOnly);
    }
    return print(ctx, a, counter.Totals());
}

}  // namespace

void RegisterStats(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("stats", "Count the folders and files below entries, and their total size");
    auto args = std::make_shared<StatsArgs>();
    cmd->add_option("SOURCE", args->source, "Image file, block device, drive:N or volume:N")->required();
    AddVolumeSelector(cmd, args->selector, true);
    auto* deleted = cmd->add_flag("--deleted-only", args->deletedOnly, "Only deleted files, and folders that lead to them");
    auto* advanced = cmd->add_flag("--advanced", args->advanced, "In the advanced scan's rebuilt tree (paths as 'adv-scan' prints them)")
        ->excludes(deleted);
    cmd->add_option("--results", args->results, "With --advanced: the scan 'adv-scan --results FILE' kept, instead of scanning")
        ->needs(advanced);
    cmd->add_option("PATH", args->paths, "Files or folders as 'scan' prints them; the whole volume when none");
    cmd->callback([&ctx, args] { RunCommand(ctx, [&] { return runStats(ctx, *args); }); });
}

}  // namespace brenvale::cli
