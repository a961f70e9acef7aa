// `adv-scan`: the advanced scan of a volume or a whole disk. One pass harvests the file-system
// records it meets and carves by signature; the NTFS records are rebuilt into folders under
// "!!! Advanced Extra !!!/NTFS Root", with the volume geometry they imply.

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>

#include "advscan/advanced_scan.h"
#include "cli/commands.h"
#include "cli/context.h"
#include "cli/table.h"
#include "cli/volume_scan.h"
#include "partitions/partition.h"
#include "platform/terminal.h"
#include "platform/paths.h"
#include "raw/file_types.h"
#include "raw/signature_scan.h"
#include "scan/dos_time.h"
#include "storage/format_size.h"

namespace brenvale::cli {

namespace {

struct AdvScanArgs {
    std::string source;
    VolumeSelector selector;
    std::optional<std::int64_t> from;
    std::optional<std::int64_t> count;
    bool tree = false;
    bool deletedOnly = false;
};

std::atomic<bool> gStopAdv{false};

void stopAdv() {
    gStopAdv = true;
}

struct Row {
    std::string path;
    const scan::tntfsfilerecord* record;
    int depth;
};

nlohmann::ordered_json timeOf(std::uint64_t t) {
    const auto iso = scan::FileTimeIso(t);
    return iso ? nlohmann::ordered_json(*iso) : nlohmann::ordered_json(nullptr);
}

int runAdvScan(Context& ctx, AdvScanArgs a) {
    ScannedVolume v = OpenVolume(ctx, a.source, a.selector);
    scan::TUndelete& scan = *v.scan;
    storage::TDevice& device = scan.Device();
    const std::uint32_t bps = device.BytesPerSector() ? device.BytesPerSector() : 512;
    std::uint64_t start = static_cast<std::uint64_t>(partitions::PartitionStart(v.record));
    std::uint64_t sectors = static_cast<std::uint64_t>(partitions::PartitionSize(v.record));
    if (a.selector.wholeDisk) start = 0, sectors = device.Sectors();
    if (sectors == 0) throw CliError(kExitUsage, a.source + ": the volume has no sectors");

    raw::RawScan raw(ctx.config.Sizes, bps, raw::DeviceSectors(device));
    advscan::AdvancedScan adv(scan, raw, start, sectors);
    adv.DiagLogPath = platform::DataDirectory() + "/ntfs_adv_diag.log";
    if (a.from || a.count) {
        const auto end = static_cast<std::int64_t>(start + sectors);
        const std::int64_t from = a.from.value_or(static_cast<std::int64_t>(start));
        if (from < static_cast<std::int64_t>(start) || from >= end) {
            throw CliError(kExitUsage, fmt::format("--from {} is outside the volume (sectors {} to {})", from, start, end - 1));
        }
        const std::int64_t n = a.count.value_or(end - from);
        if (n <= 0 || n > end - from) {
            throw CliError(kExitUsage, fmt::format("--count {} does not fit: {} sectors from sector {}", n, end - from, from));
        }
        adv.AdvRangeStart = from;
        adv.AdvRangeEnd = from + n - 1;
    }

    const auto started = std::chrono::steady_clock::now();
    std::string stage;
    advscan::AdvCallbacks cb;
    cb.Stage = [&](const std::string& s) { stage = s; };
    cb.Progress = [&](int percent) {
        if (!stage.empty()) {
            ctx.progress.update(fmt::format("{} {}%", stage, percent));
            return;
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double left = percent > 0 ? secs * (100 - percent) / percent : 0;
        ctx.progress.update(fmt::format("Advanced scan: {}% of {}, {} records, {} files by content, {:.0f} s left", percent,
                                        storage::FormatSize(static_cast<std::int64_t>(sectors * bps)),
                                        adv.Lists.NTFSFileList.size(), raw.RawFiles.size(), left));
    };
    gStopAdv = false;
    int result = advscan::kAdvCompleted;
    {
        platform::InterruptGuard guard(stopAdv);
        result = adv.AdvScan(gStopAdv, cb);
    }
    ctx.progress.finish();
    if (result == advscan::kAdvCompleted) raw.FinishPending();

    // The rebuilt tree: each folder before what it holds, by path.
    std::vector<Row> rows;
    for (const auto* r : adv.Lists.NTFSFileList) {
        if (a.deletedOnly && (r->flag & storage::kFileRecordInUse) != 0 && (r->flag & storage::kFileRecordDirectory) == 0)
            continue;
        std::string path = std::string("/") + advscan::kAdvancedExtra + "/" + adv.NtfsPath(*r);
        const int depth = static_cast<int>(std::count(path.begin(), path.end(), '/')) - 1;
        rows.push_back({std::move(path), r, depth});
    }
    std::sort(rows.begin(), rows.end(), [](const Row& x, const Row& y) { return x.path < y.path; });

    const std::int64_t volStart = adv.AdvNtfsVolStart();
    const std::uint32_t recordLength = adv.BootRecordLength ? adv.BootRecordLength : adv.Lists.RecordLength;
    std::map<std::string, std::uint32_t> hitCounts;
    for (const auto& t : raw::FileTypeCatalogue()) {
        const std::uint32_t n = raw.NumberOfRawFiles[static_cast<std::size_t>(raw::SizeIndex(t.MajorType, t.MinorType))];
        if (n) hitCounts[t.Caption] += n;
    }
    const char* outcome = result == advscan::kAdvCompleted ? "completed"
                          : result == advscan::kAdvStopped ? "stopped"
                                                           : "device lost";
    if (ctx.json) {
        nlohmann::ordered_json entries = nlohmann::ordered_json::array();
        for (const Row& row : rows) {
            const auto& r = *row.record;
            const bool folder = (r.flag & storage::kFileRecordDirectory) != 0;
            entries.push_back({{"path", row.path},
                               {"name", r.filename},
                               {"type", folder ? "dir" : "file"},
                               {"status", (r.flag & storage::kFileRecordInUse) ? "live" : "deleted"},
                               {"size", folder ? 0 : r.realsize},
                               {"modified", timeOf(r.head.FileAlteredTime)},
                               {"created", timeOf(r.head.FileCreateTime)},
                               {"accessed", timeOf(r.head.FileReadTime)},
                               {"record", r.recordnumber},
                               {"found_at_sector", static_cast<std::int64_t>(start) + r.sectornumber}});
        }
        nlohmann::ordered_json hits = nlohmann::ordered_json::object();
        for (const auto& [caption, n] : hitCounts) hits[caption] = n;
        const nlohmann::ordered_json doc{
            {"source", a.source},
            {"first_sector", start},
            {"sectors", sectors},
            {"outcome", outcome},
            {"next_sector", adv.StopLba},
            {"geometry",
             {{"record_length", recordLength},
              {"record_length_from", adv.BootRecordLength ? "boot sector" : recordLength ? "records" : "unknown"},
              {"sectors_per_cluster", adv.SectorsPerClusNtfs},
              {"volume_start", volStart >= 0 ? nlohmann::ordered_json(volStart) : nlohmann::ordered_json(nullptr)},
              {"volume_start_solved", volStart >= 0}}},
            {"entries", entries},
            {"raw_hits", hits}};
        ctx.out << doc.dump(2) << '\n';
    } else {
        for (const Row& row : rows) {
            const auto& r = *row.record;
            const bool folder = (r.flag & storage::kFileRecordDirectory) != 0;
            const std::string size = folder ? "<dir>" : std::to_string(r.realsize);
            const std::string state = (r.flag & storage::kFileRecordInUse) ? "" : "  (deleted)";
            if (a.tree) {
                ctx.out << fmt::format("{:>14}  {}{}{}\n", size, std::string(static_cast<std::size_t>(2 * row.depth), ' '),
                                       r.filename, state);
            } else {
                ctx.out << fmt::format("{:>14}  {}{}\n", size, row.path, state);
            }
        }
        ctx.out << '\n'
                << fmt::format("NTFS records: {} ({} placeholder folders)\n", rows.size(), adv.Folders.TopDirs.size())
                << fmt::format("Record length: {}\n", recordLength ? fmt::format("{} bytes (from the {})", recordLength,
                                                                                 adv.BootRecordLength ? "boot sector" : "records")
                                                                   : std::string("unknown"))
                << fmt::format("Sectors per cluster: {}\n", adv.SectorsPerClusNtfs)
                << fmt::format("Volume start: {}\n", volStart >= 0 ? fmt::format("sector {} ({})", volStart,
                                                                                 scan.FileSystem() == 3 ? "boot sector" : "solved")
                                                                   : std::string("unknown"));
        for (const auto& [caption, n] : hitCounts) ctx.out << fmt::format("{:>7}  {}\n", n, caption);
    }
    if (result == advscan::kAdvStopped) {
        ctx.err << fmt::format("brenvale-cli: advanced scan stopped at sector {}\n", adv.StopLba);
        return kExitFailed;
    }
    if (result == advscan::kAdvDeviceLost) {
        ctx.err << "brenvale-cli: the device went offline\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

void RegisterAdvScan(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("adv-scan", "Rebuild lost folders from the records found anywhere on the disk, and carve");
    auto args = std::make_shared<AdvScanArgs>();
    cmd->add_option("SOURCE", args->source, "Image file, block device, drive:N or volume:N")->required();
    AddVolumeSelector(cmd, args->selector);
    cmd->add_option("--from", args->from, "First sector to read (default: the volume's first)");
    cmd->add_option("--count", args->count, "Number of sectors to read");
    cmd->add_flag("--tree", args->tree, "Names indented by depth instead of paths");
    cmd->add_flag("--deleted-only", args->deletedOnly, "Only deleted files (and the folders)");
    cmd->callback([&ctx, args] { RunCommand(ctx, [&] { return runAdvScan(ctx, *args); }); });
}

}  // namespace brenvale::cli
