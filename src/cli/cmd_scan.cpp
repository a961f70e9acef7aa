#include <fmt/format.h>

#include <nlohmann/json.hpp>
#include <unordered_map>

#include "cli/commands.h"
#include "cli/table.h"
#include "cli/volume_scan.h"
#include "scan/dos_time.h"
#include "scan/entry_facts.h"
#include "storage/format_size.h"
#include "storage/fs_types.h"

namespace brenvale::cli {

namespace {

struct ScanArgs {
    std::string source;
    VolumeSelector selector;
    bool deletedOnly = false;
    bool tree = false;
};

struct Row {
    scan::EntryFacts facts;
    std::string path;
    int depth = 0;
};

// The entries in folder order (each folder followed by its contents, folders by the scan's
// sort), with their paths; with `deletedOnly` the deleted-only filter decides what shows.
std::vector<Row> listRows(scan::TUndelete& scan, bool deletedOnly) {
    const auto& files = scan.ScannedFiles;
    std::vector<scan::EntryFacts> facts;
    facts.reserve(files.size());
    std::unordered_map<const scan::TScanEntry*, std::vector<std::size_t>> children;
    for (std::size_t i = 0; i < files.size(); ++i) {
        facts.push_back(scan::DescribeEntry(scan, files[i]));
        // An NTFS entry no folder chain reaches from the root (a cycle in damaged metadata)
        // keeps no parent; it is not a top-level entry.
        if (!facts[i].parent && scan.DelParentKeyOfEntry(files[i]) != scan.DelRootKey()) continue;
        children[facts[i].parent].push_back(i);
    }

    std::vector<Row> rows;
    rows.reserve(files.size());
    // Parents are always created before their children are linked, so this cannot loop.
    struct Frame {
        const std::vector<std::size_t>* list;
        std::size_t next;
        std::string path;
        int depth;
    };
    std::vector<Frame> stack;
    if (const auto it = children.find(nullptr); it != children.end()) stack.push_back({&it->second, 0, "", 0});
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next >= f.list->size()) {
            stack.pop_back();
            continue;
        }
        const std::size_t i = (*f.list)[f.next++];
        const scan::TScanEntry* e = files[i];
        const bool shown = !deletedOnly || (facts[i].folder ? scan.DelSubtreeHasDeleted(scan.DelKeyOfEntry(e))
                                                            : scan.DelEntryIsDeleted(e));
        if (!shown) continue;
        Row row{std::move(facts[i]), f.path, f.depth};
        row.path += "/" + row.facts.name;
        const std::string path = row.path;
        const int depth = row.depth + 1;
        rows.push_back(std::move(row));
        if (const auto it = children.find(e); it != children.end()) stack.push_back({&it->second, 0, path, depth});
    }
    return rows;
}

const char* statusName(std::uint8_t status) {
    switch (status) {
        case scan::kStatusLive: return "live";
        case scan::kStatusDeleted: return "deleted";
        default: return "damaged";
    }
}

nlohmann::ordered_json jsonTime(const std::optional<std::string>& t) {
    return t ? nlohmann::ordered_json(*t) : nlohmann::ordered_json(nullptr);
}

std::string textTime(const std::optional<std::string>& t) {
    if (!t) return "-";
    std::string s = *t;
    s[10] = ' ';
    return s;
}

int runScan(Context& ctx, const ScanArgs& a) {
    auto v = ScanVolume(ctx, a.source, a.selector);
    auto& scan = *v.scan;
    const std::string fsName(storage::FileSystemName(scan.FileSystem()));
    const auto rows = v.result == scan::kScanNotScannable ? std::vector<Row>{} : listRows(scan, a.deletedOnly);

    if (ctx.json) {
        auto entries = nlohmann::ordered_json::array();
        for (const Row& r : rows) {
            const auto& f = r.facts;
            nlohmann::ordered_json e{{"path", r.path},
                                     {"name", f.name},
                                     {"type", f.folder ? "dir" : "file"},
                                     {"status", statusName(f.status)},
                                     {"size", f.size},
                                     {"modified", jsonTime(f.modified)},
                                     {"created", jsonTime(f.created)},
                                     {"accessed", jsonTime(f.accessed)},
                                     {"first_cluster", f.firstCluster}};
            if (f.record) e["record"] = *f.record;
            entries.push_back(std::move(e));
        }
        ctx.out << nlohmann::ordered_json{{"file_system", fsName},
                                          {"result", v.result},
                                          {"label", scan.VolumeLabel()},
                                          {"entries", std::move(entries)}}
                       .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                << '\n';
    } else {
        std::size_t deleted = 0;
        for (const Row& r : rows) deleted += r.facts.status != scan::kStatusLive;
        ctx.out << fmt::format("{} volume \"{}\": {} entries, {} deleted or damaged{}\n", fsName, scan.VolumeLabel(),
                               rows.size(), deleted, a.deletedOnly ? " (deleted-only filter)" : "");
        TextTable t({"STATUS", "SIZE", "MODIFIED", a.tree ? "NAME" : "PATH"});
        for (const Row& r : rows) {
            const auto& f = r.facts;
            std::string shown = a.tree ? std::string(2 * static_cast<std::size_t>(r.depth), ' ') + f.name : r.path;
            if (f.folder) shown += "/";
            t.add({statusName(f.status), f.folder ? "" : storage::FormatSize(f.size), textTime(f.modified),
                   shown});
        }
        t.print(ctx.out, {1});
    }
    if (v.result == scan::kScanStopped) ctx.err << "brenvale-cli: the scan was stopped; the list holds what was found\n";
    return v.result == scan::kScanCompleted ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterScan(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("scan", "Standard scan of a volume: lists live and deleted files and folders");
    auto args = std::make_shared<ScanArgs>();
    cmd->add_option("SOURCE", args->source, "Image file, block device, drive:N or volume:N")->required();
    AddVolumeSelector(cmd, args->selector);
    cmd->add_flag("--deleted-only", args->deletedOnly, "Only deleted entries and the folders that lead to them");
    cmd->add_flag("--tree", args->tree, "Indent names by folder depth instead of printing paths");
    cmd->callback([&ctx, args] { RunCommand(ctx, [&] { return runScan(ctx, *args); }); });
}

}  // namespace brenvale::cli
