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

#include "advscan/adv_tree.h"
#include "advscan/advanced_scan.h"
#include "advscan/checkpoint_resume.h"
#include "advscan/exfat_tree.h"
#include "advscan/fat_entry_access.h"
#include "advscan/fat_tree.h"
#include "cli/adv_session.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "cli/context.h"
#include "cli/table.h"
#include "cli/volume_scan.h"
#include "platform/terminal.h"
#include "raw/file_types.h"
#include "raw/signature_scan.h"
#include "scan/dos_time.h"
#include "scan/entry_cast.h"
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
    std::optional<std::string> fatType;  // "fat16" or "fat32": the width to read FAT entries with
    std::vector<std::string> fatFiles;   // two files of the FAT tree whose places give the geometry
    std::optional<std::string> checkpoint;  // saved at a stop (Ctrl-C); a resume starts from it
    bool resume = false;
    bool restart = false;
    std::optional<std::string> results;     // the completed scan, kept in the checkpoint format
};

// The system's messages use "\r" for a new line.
std::string lines(std::string_view text) {
    std::string out(text);
    std::replace(out.begin(), out.end(), '\r', '\n');
    return out;
}

// The FAT entry listed at `path` ("/!!! Advanced Extra !!!/FAT Root/..." or "FAT Root/..."), or null.
const scan::TScanEntry* fatEntryAt(const advscan::FatRebuild& fat, std::string path) {
    const std::string extra = std::string("/") + advscan::kAdvancedExtra + "/";
    if (path.rfind(extra, 0) == 0) path.erase(0, extra.size());
    if (!path.empty() && path.front() == '/') path.erase(0, 1);
    const scan::TScanEntry* found = nullptr;
    advscan::WalkFatTree(fat, [&](const scan::TScanEntry* e, const std::string& p, int) {
        if (e && !found && p == path) found = e;
    });
    return found;
}

// Applies --fat-type and --fat-files to the finished scan; throws CliError(2) when refused.
void adjustFat(Context& ctx, advscan::AdvancedScan& adv, const AdvScanArgs& a) {
    advscan::FatRebuild& fat = adv.Fat;
    if (a.fatType && (*a.fatType == "fat32") != (fat.FatType == advscan::kFat32)) {
        fat.DoChangeFS(adv.StageFDTs, adv.Lists.ExFatDirs);
        ctx.err << lines(advscan::kChangeFsCompleted) << '\n';
    }
    if (a.fatFiles.empty()) return;
    const scan::TScanEntry* files[2] = {};
    for (std::size_t i = 0; i < 2; ++i) {
        files[i] = fatEntryAt(fat, a.fatFiles[i]);
        if (!files[i]) throw CliError(kExitUsage, "--fat-files: " + a.fatFiles[i] + " is not in the rebuilt FAT tree");
        if (!advscan::fatentry::regularDir(files[i])) {
            throw CliError(kExitUsage, "--fat-files: " + a.fatFiles[i] + " lies in no folder that begins with \".\" and \"..\"");
        }
    }
    switch (fat.DoAdjust(files[0], files[1], adv.StageFDTs, adv.Lists.ExFatDirs)) {
        case advscan::AdjustResult::Done: ctx.err << lines(advscan::kAdjustCompleted) << '\n'; return;
        case advscan::AdjustResult::NoCluster: throw CliError(kExitUsage, lines(advscan::kAdjustNoCluster));
        case advscan::AdjustResult::SameDirectory: throw CliError(kExitUsage, lines(advscan::kAdjustSameDirectory));
        case advscan::AdjustResult::NotSameFileSystem: throw CliError(kExitUsage, lines(advscan::kAdjustNotSameFileSystem));
    }
}

std::atomic<bool> gStopAdv{false};
std::atomic<scan::TUndelete*> gStopScan{nullptr};

void stopAdv() {
    gStopAdv = true;
    // The standard-scan stage listens to its own flag.
    if (scan::TUndelete* s = gStopScan.load()) s->FTerminated = true;
}

// Refuses a checkpoint or results file on the area being scanned.
void checkLocation(Context& ctx, const scan::TUndelete& scan, const std::string& path) {
    std::string reason;
    if (advscan::CheckpointLocationRefused(ctx.os, scan, path, reason)) throw CliError(kExitUsage, lines(reason));
}

int runAdvScan(Context& ctx, AdvScanArgs a) {
    AdvSession session = OpenAdvSession(ctx, a.source, a.selector);
    scan::TUndelete& scan = *session.volume.scan;
    raw::RawScan& raw = *session.raw;
    advscan::AdvancedScan& adv = *session.adv;
    const std::uint32_t bps = scan.Device().BytesPerSector() ? scan.Device().BytesPerSector() : 512;
    const std::uint64_t start = adv.ObjectStart();
    const std::uint64_t sectors = adv.ObjectSectors();
    std::uint64_t rangeSectors = sectors;
    if (a.from || a.count) {
        const SectorSpan chosen = ChosenSectors(a.from, a.count, start, sectors);
        adv.AdvRangeStart = static_cast<std::int64_t>(chosen.first);
        adv.AdvRangeEnd = static_cast<std::int64_t>(chosen.first + chosen.count) - 1;
        rangeSectors = chosen.count;
    }

    if (a.checkpoint) checkLocation(ctx, scan, *a.checkpoint);
    if (a.results) checkLocation(ctx, scan, *a.results);
    if (a.checkpoint && a.resume) {
        advscan::TCheckpointData data;
        std::string reason;
        if (!advscan::ValidateCheckpoint(*a.checkpoint, &adv, data, reason)) throw CliError(kExitUsage, reason);
        advscan::ApplyCheckpoint(data, adv);
        ctx.err << "Resuming the advanced scan from " << *a.checkpoint << '\n';
    }

    const auto started = std::chrono::steady_clock::now();
    std::string stage;
    advscan::AdvCallbacks cb;
    // When the pass ended and the stages began, for the timings the JSON listing reports.
    std::optional<std::chrono::steady_clock::time_point> stagesBegan;
    cb.Stage = [&](const std::string& s) {
        stage = s;
        if (!stagesBegan) stagesBegan = std::chrono::steady_clock::now();
    };
    cb.Progress = [&](int percent) {
        if (!stage.empty()) {
            ctx.progress.update(fmt::format("{} {}%", stage, percent));
            return;
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double left = percent > 0 ? secs * (100 - percent) / percent : 0;
        const auto total = static_cast<double>(rangeSectors) * bps;
        const double done = total * percent / 100;
        ctx.progress.update(fmt::format("Advanced scan: {}% ({} of {}, {}/s), {} records, {} files by content, {:.0f} s left",
                                        percent, storage::FormatSize(static_cast<std::int64_t>(done)),
                                        storage::FormatSize(static_cast<std::int64_t>(total)),
                                        storage::FormatSize(static_cast<std::int64_t>(secs > 0 ? done / secs : 0)),
                                        adv.Lists.NTFSFileList.size(), raw.RawFiles.size(), left));
    };
    gStopAdv = false;
    gStopScan = &scan;
    int result = advscan::kAdvCompleted;
    {
        platform::InterruptGuard guard(stopAdv);
        result = adv.AdvScan(gStopAdv, cb);
    }
    gStopScan = nullptr;
    ctx.progress.finish();
    if (a.checkpoint && result == advscan::kAdvStopped) {
        // "Stop (Save Scan Progress)": what was gathered and where the scan stood.
        if (advscan::SaveAdvancedScanCheckpoint(*a.checkpoint, adv)) {
            ctx.err << "Checkpoint saved to " << *a.checkpoint << '\n';
        } else {
            ctx.err << "Checkpoint not saved\n";
        }
        if (adv.Phase == 0) {
            ctx.err << "brenvale-cli: advanced scan stopped in its standard-scan stage\n";
            return kExitFailed;
        }
    }
    if (a.checkpoint && result == advscan::kAdvCompleted) advscan::RemoveOwnCheckpoint(*a.checkpoint, adv);

    const auto ended = std::chrono::steady_clock::now();
    auto seconds = [](auto from, auto to) { return std::chrono::duration<double>(to - from).count(); };
    const double passSeconds = seconds(started, stagesBegan.value_or(ended));
    const double stageSeconds = stagesBegan ? seconds(*stagesBegan, ended) : 0.0;
    if (result == advscan::kAdvCompleted) raw.FinishPending();
    if (result != advscan::kAdvDeviceLost) adjustFat(ctx, adv, a);
    // Kept after the pending hits are settled, so the file holds the final list.
    if (a.results && result == advscan::kAdvCompleted) {
        if (!advscan::SaveAdvancedScanCheckpoint(*a.results, adv, true)) {
            throw CliError(kExitFailed, "could not write the results to " + *a.results);
        }
    }

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
    const std::string top = std::string("/") + advscan::kAdvancedExtra + "/";
    // Sectors of the object as absolute ones.
    auto jsonSector = [&](const std::optional<std::int64_t>& rel) {
        return rel ? std::to_string(static_cast<std::int64_t>(start) + *rel) : std::string("null");
    };
    auto sectorText = [&](const std::optional<std::int64_t>& rel) {
        return rel ? fmt::format("sector {}", static_cast<std::int64_t>(start) + *rel) : std::string("unknown");
    };
    auto fatTypeName = [](std::uint8_t t) { return t == advscan::kFat12 ? "FAT12" : t == advscan::kFat32 ? "FAT32" : "FAT16"; };
    std::size_t listed = 0;
    // Written as they come: a disk can hold millions of records.
    std::string buf;
    auto flush = [&] {
        ctx.out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
        buf.clear();
    };
    // One listed entry, whichever file system it came from.
    struct Row {
        std::string name;
        bool folder = false;
        const char* status = "deleted";
        std::uint64_t size = 0;
        std::string modified = "null", created = "null", accessed = "null";  // JSON values
        std::string where;  // JSON fields saying where it was found
    };
    auto emitRow = [&](const Row& r, const std::string& path, int depth) {
        if (a.deletedOnly && std::string_view(r.status) == "live" && !r.folder) return;
        ++listed;
        if (ctx.json) {
            auto text = [](const std::string& t) { return nlohmann::json(t).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); };
            fmt::format_to(std::back_inserter(buf),
                           "{}{{\"path\":{},\"name\":{},\"type\":\"{}\",\"status\":\"{}\",\"size\":{},\"modified\":{},"
                           "\"created\":{},\"accessed\":{},{}}}",
                           listed > 1 ? "," : "", text(path), text(r.name), r.folder ? "dir" : "file", r.status,
                           r.folder ? 0 : r.size, r.modified, r.created, r.accessed, r.where);
        } else {
            const std::string size = r.folder ? "<dir>" : std::to_string(r.size);
            const std::string state = std::string_view(r.status) == "live" ? "" : fmt::format("  ({})", r.status);
            if (a.tree) {
                fmt::format_to(std::back_inserter(buf), "{:>14}  {}{}{}\n", size, std::string(static_cast<std::size_t>(2 * depth), ' '),
                               Printable(r.name), state);
            } else {
                fmt::format_to(std::back_inserter(buf), "{:>14}  {}{}\n", size, Printable(path), state);
            }
        }
        if (buf.size() > 65536) flush();
    };
    auto quoted = [](const std::optional<std::string>& iso) { return iso ? "\"" + *iso + "\"" : std::string("null"); };
    auto emit = [&](const scan::tntfsfilerecord& r, const std::string& path, int depth) {
        Row row;
        row.name = r.filename;
        row.folder = (r.flag & storage::kFileRecordDirectory) != 0;
        row.status = (r.flag & storage::kFileRecordInUse) != 0 ? "live" : "deleted";
        row.size = r.realsize;
        row.modified = quoted(scan::FileTimeIso(r.head.FileAlteredTime));
        row.created = quoted(scan::FileTimeIso(r.head.FileCreateTime));
        row.accessed = quoted(scan::FileTimeIso(r.head.FileReadTime));
        row.where = fmt::format("\"record\":{},\"found_at_sector\":{}", r.recordnumber, static_cast<std::int64_t>(start) + r.sectornumber);
        emitRow(row, path, depth);
    };
    auto dosTime = [&](std::uint16_t date, std::uint16_t time) {
        const auto t = scan::DecodeDosDateTime(date, time);
        return quoted(t ? std::optional<std::string>(scan::IsoDateTime(*t)) : std::nullopt);
    };
    auto emitFat = [&](const scan::TScanEntry* e, const std::string& path, int depth) {
        Row row;
        row.name = advscan::FatDisplayName(e);
        advscan::fatentry::visit(e, [&](const auto& m) {
            const auto& d = advscan::fatentry::slotOf(m);
            row.folder = (d.attribute & 0x10) != 0;
            // A deleted entry's lost first byte reads "_".
            row.status = m.Status == scan::kStatusDamaged ? "damaged" : d.filename[0] == '_' ? "deleted" : "live";
            row.size = d.filesize;
            row.modified = dosTime(d.updatedate, d.updatetime);
            row.created = dosTime(d.createdate, d.createtime);
            row.accessed = dosTime(d.accessdate, 0);
            row.where = fmt::format("\"first_cluster\":{},\"found_at_sector\":{}", adv.Fat.WidthClusOf(e),
                                    static_cast<std::int64_t>(start) + m.DirSectNum);
        });
        emitRow(row, path, depth);
    };
    auto emitExFat = [&](const scan::TMidEntry& e, const std::string& path, int depth) {
        Row row;
        row.name = e.LongFileName;
        row.folder = (e.FDTEntry.attribute & 0x10) != 0;
        row.status = e.Status == scan::kStatusDamaged ? "damaged" : e.Status == scan::kStatusDeleted ? "deleted" : "live";
        row.size = scan::EntrySize(e);
        row.modified = dosTime(e.FDTEntry.updatedate, e.FDTEntry.updatetime);
        row.created = dosTime(e.FDTEntry.createdate, e.FDTEntry.createtime);
        row.accessed = dosTime(e.FDTEntry.accessdate, 0);
        row.where = fmt::format("\"first_cluster\":{},\"found_at_sector\":{}", e.DirClusNum,
                                static_cast<std::int64_t>(start) + e.DirSectNum);
        emitRow(row, path, depth);
    };
    auto emitFolder = [&](const std::string& path, int depth, std::int64_t sector) {
        Row row;
        row.name = path.substr(path.rfind('/') + 1);
        row.folder = true;
        row.where = fmt::format("\"found_at_sector\":{}", static_cast<std::int64_t>(start) + sector);
        emitRow(row, path, depth);
    };
    if (ctx.json) {
        buf += fmt::format("{{\"source\":{},\"first_sector\":{},\"sectors\":{},\"outcome\":\"{}\",\"next_sector\":{},",
                           nlohmann::json(a.source).dump(), start, sectors, outcome, adv.StopLba);
        buf += fmt::format("\"geometry\":{{\"record_length\":{},\"record_length_from\":\"{}\",\"sectors_per_cluster\":{},"
                           "\"volume_start\":{},\"volume_start_solved\":{}}},",
                           recordLength, adv.BootRecordLength ? "boot sector" : recordLength ? "records" : "unknown",
                           adv.SectorsPerClusNtfs, volStart >= 0 ? std::to_string(volStart) : "null", volStart >= 0);
        buf += fmt::format("\"fat_geometry\":{{\"fat_type\":\"{}\",\"sectors_per_cluster\":{},\"data_start\":{},"
                           "\"root_dir_sector\":{},\"table_found\":{},\"table_sector\":{}}},",
                           fatTypeName(adv.Fat.FatType), adv.Fat.SectorsPerClus, jsonSector(adv.Fat.RootSectNum),
                           jsonSector(adv.Fat.RootDirSectNum), adv.Fat.FatOK,
                           adv.Fat.FatOK ? std::to_string(static_cast<std::int64_t>(start) + adv.Fat.FatStart) : "null");
        const advscan::ExFatInference& inferred = adv.ExFatInferred;
        auto acceptedBy = [](advscan::ExFatAcceptedBy by) {
            switch (by) {
                case advscan::ExFatAcceptedBy::Votes: return "votes";
                case advscan::ExFatAcceptedBy::FilesAfterWeakVote: return "files after a weak vote";
                case advscan::ExFatAcceptedBy::BootSector: return "boot sector";
                case advscan::ExFatAcceptedBy::None: break;
            }
            return "none";
        };
        buf += fmt::format("\"exfat_geometry\":{{\"sectors_per_cluster\":{},\"heap\":{},\"inferred\":{},\"accepted_by\":\"{}\","
                           "\"votes\":{},\"runner_up_votes\":{},\"files_confirming\":{},\"files_checked\":{},\"sampled\":{}}},"
                           "\"entries\":[",
                           adv.ExFatSPC(), adv.ExFatSPC() > 0 ? std::to_string(static_cast<std::int64_t>(start) + adv.ExFatHeap()) : "null",
                           inferred.Geometry.Usable(), acceptedBy(inferred.AcceptedBy), inferred.Votes, inferred.RunnerUp,
                           inferred.Confirmed, inferred.Checked, inferred.Sampled);
    }
    // The rebuilt tree, each folder before what it holds (the list is sorted by parent, then
    // name); records that no chain from the root reaches (parents in a loop) follow at the end.
    advscan::WalkNtfsTree(adv, [&](const scan::tntfsfilerecord& r, const std::string& path, int depth) {
        emit(r, top + path, depth);
    });
    const std::size_t ntfsListed = listed;
    std::size_t orphan = 0;  // the orphan folders come in their list's order
    advscan::WalkFatTree(adv.Fat, [&](const scan::TScanEntry* e, const std::string& path, int depth) {
        if (e) {
            emitFat(e, top + path, depth + 1);
        } else {
            emitFolder(top + path, depth + 1, adv.Fat.UnChainedFDTs[orphan++]);
        }
    });
    const std::size_t fatListed = listed - ntfsListed;
    advscan::WalkExFatTree(adv.Lists.FatFileList, adv.ExFatTree, adv.ExFatSPC(), adv.ExFatHeap(),
                           [&](const scan::TMidEntry* e, std::int32_t segment, const std::string& path, int depth) {
                               if (e) {
                                   emitExFat(*e, top + path, depth + 1);
                               } else {
                                   emitFolder(top + path, depth + 1, adv.ExFatTree.SegStart[static_cast<std::size_t>(segment)]);
                               }
                           });
    const std::size_t exFatListed = listed - ntfsListed - fatListed;
    if (ctx.json) {
        buf += fmt::format("],\"seconds\":{{\"pass\":{:.3f},\"stages\":{:.3f}}},\"raw_hits\":{{", passSeconds, stageSeconds);
        bool firstHit = true;
        for (const auto& [caption, n] : hitCounts) {
            buf += fmt::format("{}{}:{}", firstHit ? "" : ",", nlohmann::json(caption).dump(), n);
            firstHit = false;
        }
        buf += "}}\n";
        flush();
    } else {
        flush();
        ctx.out << '\n'
                << fmt::format("NTFS records: {} ({} placeholder folders)\n", ntfsListed, adv.Folders.TopDirs.size())
                << fmt::format("Record length: {}\n", recordLength ? fmt::format("{} bytes (from the {})", recordLength,
                                                                                 adv.BootRecordLength ? "boot sector" : "records")
                                                                   : std::string("unknown"))
                << fmt::format("Sectors per cluster: {}\n", adv.SectorsPerClusNtfs)
                << fmt::format("Volume start: {}\n", volStart >= 0 ? fmt::format("sector {} ({})", volStart,
                                                                                 scan.FileSystem() == 3 ? "boot sector" : "solved")
                                                                   : std::string("unknown"))
                << fmt::format("FAT entries: {} ({}, {} sectors per cluster, cluster 2 at {}, {})\n", fatListed,
                               fatTypeName(adv.Fat.FatType), adv.Fat.SectorsPerClus, sectorText(adv.Fat.RootSectNum),
                               adv.Fat.FatOK ? fmt::format("table at sector {}", static_cast<std::int64_t>(start) + adv.Fat.FatStart)
                                             : std::string("no table found"))
                << fmt::format("exFAT entries: {} ({})\n", exFatListed,
                               adv.ExFatSPC() > 0 ? fmt::format("{} sectors per cluster, heap at {}", adv.ExFatSPC(),
                                                                static_cast<std::int64_t>(start) + adv.ExFatHeap())
                                                  : std::string("geometry unknown"));
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
    AddVolumeSelector(cmd, args->selector, true);
    cmd->add_option("--from", args->from, "First sector to read (default: the volume's first)");
    cmd->add_option("--count", args->count, "Number of sectors to read");
    cmd->add_flag("--tree", args->tree, "Names indented by depth instead of paths");
    cmd->add_flag("--deleted-only", args->deletedOnly, "Only deleted files (and the folders)");
    cmd->add_option("--fat-type", args->fatType, "Read the FAT entries as this width when the guess was wrong")
        ->check(CLI::IsMember({"fat16", "fat32"}));
    cmd->add_option("--fat-files", args->fatFiles,
                    "Two files of the FAT tree, from two folders, whose places give the cluster size and data start")
        ->expected(2);
    cmd->add_option("--checkpoint", args->checkpoint,
                    "Checkpoint file (.qvc): Ctrl-C stops the scan and saves its progress here");
    auto* resume = cmd->add_flag("--resume", args->resume, "Go on from the checkpoint of this source");
    auto* restart = cmd->add_flag("--restart", args->restart, "Ignore the checkpoint and scan from the start");
    resume->excludes(restart);
    resume->needs("--checkpoint");
    restart->needs("--checkpoint");
    cmd->add_option("--results", args->results, "Keep the completed scan in this file (checkpoint format)");
    cmd->callback([&ctx, args] { RunCommand(ctx, [&] { return runAdvScan(ctx, *args); }); });
}

}  // namespace brenvale::cli
