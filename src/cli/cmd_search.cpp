#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <unordered_map>

#include "advscan/adv_search.h"
#include "advscan/adv_tree.h"
#include "app/search_command.h"
#include "cli/adv_session.h"
#include "cli/commands.h"
#include "cli/scan_rows.h"
#include "cli/volume_scan.h"

namespace brenvale::cli {

namespace {

struct SearchArgs {
    std::string source;
    VolumeSelector selector;
    std::string names;
    bool all = false;
    bool deleted = false;
    std::vector<std::string> date;  // KIND FROM TO
    std::vector<std::int64_t> sizeKb;
    bool noSubdirs = false;
    std::string in;
    bool advanced = false;
    std::string results;  // a completed advanced scan kept by 'adv-scan --results'
};

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM[:SS]" as the search's day number (local time).
double parseDate(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%*[T ]%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s);
    if (n != 3 && n < 5) throw CliError(kExitUsage, "--date: " + text + " is not YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS]");
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) {
        throw CliError(kExitUsage, "--date: " + text + " is not a real date");
    }
    return scan::SearchDayNumber(y, mo, d) + (h * 3600 + mi * 60 + s) / 86400.0;
}

// Over the advanced scan's rebuilt tree, live and deleted entries alike (what is deleted is not
// known of every rebuilt entry).
int runAdvancedSearch(Context& ctx, const SearchArgs& a, const app::SearchQuery& query) {
    AdvSession session = RunAdvSession(ctx, a.source, a.selector, a.results);
    const advscan::AdvTree tree(*session.adv);
    std::size_t from = 0;
    if (!a.in.empty()) {
        std::string want = a.in;
        if (want.size() > 1 && want.back() == '/') want.pop_back();
        const auto node = tree.Find(want);
        if (!node || !tree.Nodes()[*node].folder) throw CliError(kExitUsage, "--in " + a.in + ": no such folder in the advanced scan");
        from = *node;
    }
    advscan::AdvSearchQuery q;
    q.Name = query.Name;
    q.DateType = query.DateType;
    q.DateFrom = query.DateFrom;
    q.DateTo = query.DateTo;
    q.SizeMin = query.SizeMin;
    q.SizeMax = query.SizeMax;
    q.SubFolders = query.SubFolders;
    const auto found = advscan::AdvFindFiles(tree, from, q);
    if (found.TooMany) ctx.err << "brenvale-cli: " << Printable(scan::kTooManySearchHits) << '\n';
    if (ctx.json) {
        ctx.out << "{\"entries\":[";
        for (std::size_t k = 0; k < found.Nodes.size(); ++k) {
            const advscan::AdvNode& n = tree.Nodes()[found.Nodes[k]];
            ctx.out << (k ? "," : "")
                    << fmt::format("{{\"path\":{},\"type\":\"{}\",\"size\":{}}}", nlohmann::json(tree.PathOf(found.Nodes[k])).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                                   n.folder ? "dir" : "file", advscan::AdvEntrySize(n.entry));
        }
        ctx.out << fmt::format("],\"found\":{}}}\n", found.Nodes.size());
        return kExitOk;
    }
    for (const std::size_t i : found.Nodes) {
        const advscan::AdvNode& n = tree.Nodes()[i];
        const std::string size = n.folder ? "<dir>" : std::to_string(advscan::AdvEntrySize(n.entry));
        ctx.out << fmt::format("{:>14}  {}\n", size, Printable(tree.PathOf(i)));
    }
    ctx.out << fmt::format("{} found\n", found.Nodes.size());
    return kExitOk;
}

int runSearch(Context& ctx, const SearchArgs& a) {
    // The search dialog's values, as the flags give them.
    app::SearchCriteria criteria;
    criteria.Name = a.names;
    if (!a.date.empty()) {
        static const std::unordered_map<std::string, int> kKinds{{"created", 0}, {"modified", 1}, {"accessed", 2}};
        const auto kind = kKinds.find(a.date[0]);
        if (kind == kKinds.end()) throw CliError(kExitUsage, "--date: the kind is created, modified or accessed");
        criteria.DateEnabled = true;
        criteria.DateKind = kind->second;
        criteria.DateFrom = parseDate(a.date[1]);
        criteria.DateTo = parseDate(a.date[2]);
    }
    if (!a.sizeKb.empty()) {
        if (a.sizeKb[0] < 0 || a.sizeKb[1] < 0) throw CliError(kExitUsage, "--size-kb: sizes are not negative");
        criteria.SizeEnabled = true;
        criteria.SizeMin = std::to_string(a.sizeKb[0]);
        criteria.SizeMax = std::to_string(a.sizeKb[1]);
    }
    criteria.DeletedOnly = !a.all;
    criteria.SubFolders = !a.noSubdirs;
    app::SearchQuery query;
    try {
        query = app::ToSearchQuery(criteria);
    } catch (const std::invalid_argument& e) {
        throw CliError(kExitUsage, std::string("--size-kb: ") + e.what());
    }

    if (a.advanced) return runAdvancedSearch(ctx, a, query);
    auto v = ScanVolume(ctx, a.source, a.selector);
    auto& scan = *v.scan;
    if (v.result == scan::kScanNotScannable) throw CliError(kExitFailed, "the volume could not be scanned");
    const auto all = ListRows(scan, false);
    const scan::TScanEntry* inDir = nullptr;
    if (!a.in.empty() && a.in != "/") {
        std::string want = a.in;
        if (want.back() == '/') want.pop_back();
        if (want.front() != '/') want.insert(0, "/");
        for (const auto& r : all) {
            if (r.path == want && r.facts.folder) inDir = r.entry;
        }
        if (!inDir) throw CliError(kExitUsage, "--in " + a.in + ": no such folder in the scan");
    }
    app::RunSearch(scan, inDir, query, scan.FDelFilterOn);
    std::unordered_map<const scan::TScanEntry*, const ScanRow*> rowOf;
    for (const auto& r : all) rowOf.emplace(r.entry, &r);
    std::vector<ScanRow> hits;
    for (const scan::TScanEntry* e : scan.FoundFiles) {
        if (const auto it = rowOf.find(e); it != rowOf.end()) {
            hits.push_back(*it->second);
            hits.back().depth = 0;
        }
    }
    PrintRows(ctx, scan, v.result, hits, false, fmt::format(" ({} found)", hits.size()));
    return kExitOk;
}

}  // namespace

void RegisterSearch(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("search", "Search the entries of a volume by name, date and size");
    auto args = std::make_shared<SearchArgs>();
    cmd->add_option("SOURCE", args->source, "Image file, block device, drive:N or volume:N")->required();
    AddVolumeSelector(cmd, args->selector);
    cmd->add_option("--name", args->names, "Name patterns with * and ?, separated by \",\"");
    auto* all = cmd->add_flag("--all", args->all, "All files, live and deleted");
    auto* deleted = cmd->add_flag("--deleted", args->deleted, "Deleted files only (the default)");
    all->excludes(deleted);
    cmd->add_option("--date", args->date, "KIND FROM TO: created, modified or accessed between two dates (YYYY-MM-DD)")
        ->expected(3);
    cmd->add_option("--size-kb", args->sizeKb, "MIN MAX in KB (1000 bytes)")->expected(2);
    cmd->add_flag("--no-subdirs", args->noSubdirs, "With --in, only that folder's own entries");
    cmd->add_option("--in", args->in, "Folder to search, as 'scan' prints it (default: the whole volume)");
    auto* advanced = cmd->add_flag("--advanced", args->advanced,
                  "In the advanced scan's rebuilt tree, live and deleted alike (--in as 'adv-scan' prints it)")
        ->excludes(deleted);
    cmd->add_option("--results", args->results, "With --advanced: the scan 'adv-scan --results FILE' kept, instead of scanning")
        ->needs(advanced);
    cmd->callback([&ctx, args] { RunCommand(ctx, [&] { return runSearch(ctx, *args); }); });
}

}  // namespace brenvale::cli
