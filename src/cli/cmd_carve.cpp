// `carve`: the signature scan over a disk, a volume or a stretch of either, listing the files it
// finds by their content and writing the chosen ones out; `types`: the catalogue it knows.

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iterator>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "advscan/advanced_scan.h"
#include "advscan/checkpoint_resume.h"
#include "app/recover_command.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "cli/table.h"
#include "cli/volume_scan.h"
#include "partitions/partition.h"
#include "platform/files.h"
#include "platform/terminal.h"
#include "raw/raw_recover.h"
#include "raw/scan_range.h"
#include "raw/signature_scan.h"
#include "scan/dest_names.h"
#include "storage/checkpoint_io.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/format_size.h"

namespace brenvale::cli {

namespace {

struct CarveArgs {
    std::string source;
    VolumeSelector selector;
    std::optional<std::int64_t> from;
    std::optional<std::int64_t> count;
    std::string types;
    std::vector<std::int64_t> sizeKb;
    std::string destination;
    std::string pick;
    std::string thumbnails;
    std::string results;  // a completed advanced scan's file: its hits, without scanning again
};

std::atomic<bool> gStopCarve{false};
std::atomic<scan::TUndelete*> gWriting{nullptr};

void stopCarve() {
    gStopCarve = true;
    if (auto* s = gWriting.load()) s->TerminateProcess();
}

// Every extension a hit can be given, with its catalogue row.
std::map<std::string, const raw::FileTypeInfo*> knownExtensions() {
    std::map<std::string, const raw::FileTypeInfo*> out;
    for (const auto& t : raw::FileTypeCatalogue()) {
        std::istringstream words(std::string(t.Ext) + " " + t.OtherExts);
        std::string w;
        while (words >> w) out.emplace(w, &t);
    }
    return out;
}

std::set<std::string> parseTypes(const std::string& list) {
    std::set<std::string> out;
    if (list.empty()) return out;
    const auto known = knownExtensions();
    std::istringstream in(list);
    std::string t;
    while (std::getline(in, t, ',')) {
        if (t.empty()) continue;
        if (!known.contains(t)) {
            std::string names;
            for (const auto& [ext, row] : known) names += (names.empty() ? "" : ", ") + ext;
            throw CliError(kExitUsage, fmt::format("--types: unknown type \"{}\" (known: {})", t, names));
        }
        out.insert(t);
    }
    return out;
}

// "1,5-9" as a set of numbers from 1 to `count`.
std::set<std::size_t> parsePick(const std::string& pick, std::size_t count) {
    std::set<std::size_t> out;
    std::istringstream in(pick);
    std::string part;
    while (std::getline(in, part, ',')) {
        std::size_t lo = 0, hi = 0;
        const auto dash = part.find('-');
        try {
            lo = std::stoul(part.substr(0, dash));
            hi = dash == std::string::npos ? lo : std::stoul(part.substr(dash + 1));
        } catch (const std::exception&) {
            throw CliError(kExitUsage, fmt::format("--pick: \"{}\" is not a number or a range like 5-9", part));
        }
        if (lo < 1 || hi < lo || hi > count) {
            throw CliError(kExitUsage, fmt::format("--pick: \"{}\" is outside the hits listed (1 to {})", part, count));
        }
        for (std::size_t n = lo; n <= hi; ++n) out.insert(n);
    }
    return out;
}

std::string clockText(double seconds) {
    const auto s = static_cast<long long>(seconds + 0.5);
    return s >= 3600 ? fmt::format("{}:{:02}:{:02}", s / 3600, s / 60 % 60, s % 60) : fmt::format("{}:{:02}", s / 60, s % 60);
}

// One hit as the listing shows it.
struct Listed {
    const raw::TFoundFile* hit;
    std::int64_t writes;
    int number;  // among the hits of its type: the name it is written under, "ZIP_3.zip"
};

const char* outcomeText(raw::RangeOutcome o) {
    switch (o) {
        case raw::RangeOutcome::Completed: return "completed";
        case raw::RangeOutcome::Stopped: return "stopped";
        case raw::RangeOutcome::DeviceLost: return "device lost";
    }
    return "";
}

// The previews of the listed pictures (a camera file's embedded JPEG, a JPEG itself), as
// NAME.thumb.jpg; uncompressed previews are left out, no viewer opens them as they stand.
void writeThumbnails(Context& ctx, scan::TUndelete& scan, const raw::RawScan& raw, const std::vector<Listed>& listed,
                     const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::vector<std::byte> bytes;
    int written = 0;
    for (const auto& l : listed) {
        const raw::TRawImageInfo* info = raw.Side().Image(l.hit->Info);
        if (info && info->PreviewKind != raw::kPreviewJpeg) continue;
        if (!raw::RecoverThumbnail(scan, raw, *l.hit, bytes)) continue;
        std::string name = raw::RawFileName(*l.hit, l.number);
        name = name.substr(0, name.rfind('.')) + ".thumb.jpg";
        const std::string path = scan::UniqueDestName(name, folder);
        if (platform::writeFileDurably(path, bytes)) {
            ++written;
        } else {
            ctx.err << "brenvale-cli: cannot write " << path << '\n';
        }
    }
    ctx.err << written << " thumbnails written to " << folder << '\n';
}

int runCarve(Context& ctx, CarveArgs a) {
    const auto types = parseTypes(a.types);
    if (!a.sizeKb.empty() && (a.sizeKb.size() != 2 || a.sizeKb[0] < 0 || a.sizeKb[1] < a.sizeKb[0])) {
        throw CliError(kExitUsage, "--size-kb takes MIN MAX, 0 <= MIN <= MAX");
    }
    if (!a.pick.empty() && a.destination.empty()) throw CliError(kExitUsage, "--pick needs --to");
    // Without a selector the whole disk is carved: files are found wherever they lie.
    if (!a.selector.any()) a.selector.wholeDisk = true;
    ScannedVolume v = OpenVolume(ctx, a.source, a.selector);
    scan::TUndelete& scan = *v.scan;
    storage::TDevice& device = scan.Device();
    const std::uint32_t bps = device.BytesPerSector() ? device.BytesPerSector() : 512;
    raw::ScanObject object{static_cast<std::uint64_t>(partitions::PartitionStart(v.record)),
                           static_cast<std::uint64_t>(partitions::PartitionSize(v.record))};
    if (a.selector.wholeDisk) object = {0, device.Sectors()};
    if (object.sectors == 0) throw CliError(kExitUsage, a.source + ": the volume has no sectors");

    const SectorSpan chosen = ChosenSectors(a.from, a.count, object.start, object.sectors);
    const std::uint64_t first = chosen.first, count = chosen.count;
    for (const std::string* folder : {&a.destination, &a.thumbnails}) {
        if (!folder->empty() && scan.DestInsideScannedObject(ctx.os, *folder)) {
            v.ui->ShowMessage(app::MessageKind::Warning, app::kDestinationOnSource, app::kDestinationOnSourceCaption);
            return kExitUsage;
        }
    }

    raw::RawScan raw(ctx.config.Sizes, bps, raw::DeviceSectors(device));
    const auto started = std::chrono::steady_clock::now();
    auto pump = [&](std::uint64_t done, std::uint64_t total) {
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double rate = secs > 0 ? double(done) * bps / secs : 0;
        const double left = rate > 0 ? double(total - done) * bps / rate : 0;
        ctx.progress.update(fmt::format("Carving: {} of {} ({}%), {}/s, {} left, {} found",
                                        storage::FormatSize(static_cast<std::int64_t>(done * bps)),
                                        storage::FormatSize(static_cast<std::int64_t>(total * bps)),
                                        total ? done * 100 / total : 100, storage::FormatSize(static_cast<std::int64_t>(rate)),
                                        clockText(left), raw.RawFiles.size()));
    };
    gStopCarve = false;
    raw::RangeResult result;
    if (!a.results.empty()) {
        // The hits a completed advanced scan of this object kept.
        advscan::AdvancedScan adv(scan, raw, object.start, object.sectors);
        advscan::TCheckpointData data;
        std::string reason;
        if (!advscan::ValidateCheckpoint(a.results, &adv, data, reason)) throw CliError(kExitUsage, reason);
        if (data.AdvPhase != 2) throw CliError(kExitUsage, advscan::kResultsUnfinished);
        storage::CheckpointReader r(data.AdvRawState);
        if (!raw.LoadState(r)) throw CliError(kExitUsage, advscan::kCheckpointInvalidText);
    } else {
        platform::InterruptGuard guard(stopCarve);
        result = raw::ScanRange(raw, device, object, first, count, pump, gStopCarve);
    }
    ctx.progress.finish();
    if (result.outcome == raw::RangeOutcome::Completed) raw.FinishPending();

    // Names count the hits of each type in the order they were found; the listing goes by place.
    std::vector<Listed> listed;
    std::map<int, int> perType;
    const std::uint64_t deviceBytes = device.Sectors() * bps;
    for (const auto& hit : raw.RawFiles) {
        const int number = ++perType[raw::SizeIndex(hit.MajorType % raw::kMajorTypes, hit.MinorType % raw::kMinorTypes)];
        const std::int64_t writes = raw::RawRecoverySize(hit, ctx.config.Sizes, deviceBytes, bps);
        if (!types.empty() && !types.contains(std::string(hit.Ext()))) continue;
        if (!a.sizeKb.empty() && (writes < a.sizeKb[0] * 1024 || writes > a.sizeKb[1] * 1024)) continue;
        listed.push_back({&hit, writes, number});
    }
    std::stable_sort(listed.begin(), listed.end(), [](const Listed& x, const Listed& y) { return x.hit->LBA < y.hit->LBA; });

    std::map<std::pair<int, int>, std::size_t> counts;
    for (const auto& l : listed) ++counts[{l.hit->MajorType, l.hit->MinorType}];
    auto captionOf = [](const raw::TFoundFile& h) -> std::string_view {
        const auto* t = raw::FindFileType(h.MajorType, h.MinorType);
        return t ? t->Caption : "";
    };

    if (ctx.json) {
        // Written a hit at a time: a disk can hold millions.
        ctx.out << "{\"source\":" << nlohmann::json(a.source).dump() << ",\"first_sector\":" << first
                << ",\"sectors\":" << count << ",\"outcome\":\"" << outcomeText(result.outcome) << "\",\"hits\":[";
        // By hand: a json object per hit costs more than the scan on a disk full of hits. Every
        // text here (captions, extensions, names made of them) is plain ASCII without quotes.
        fmt::memory_buffer buf;
        for (std::size_t i = 0; i < listed.size(); ++i) {
            const auto& h = *listed[i].hit;
            fmt::format_to(std::back_inserter(buf),
                           "{}{{\"number\":{},\"name\":\"{}\",\"type\":\"{}\",\"ext\":\"{}\",\"first_sector\":{},"
                           "\"offset\":{},\"size\":{},\"writes\":{}",
                           i ? "," : "", i + 1, raw::RawFileName(h, listed[i].number), captionOf(h), h.Ext(), h.LBA,
                           static_cast<std::uint64_t>(h.LBA) * bps, h.Size >= 0 ? std::to_string(h.Size) : "null",
                           listed[i].writes);
            if (h.Width && h.Height) fmt::format_to(std::back_inserter(buf), ",\"width\":{},\"height\":{}", h.Width, h.Height);
            if (const raw::TCBFFFileInfo* p = raw.CompoundInfo(h)) {
                // Texts from the file itself: escaped.
                for (const auto& [key, value] : {std::pair{"title", &p->Title}, std::pair{"subject", &p->Subject},
                                                 std::pair{"author", &p->Author}, std::pair{"organization", &p->Orgnization}}) {
                    if (!value->empty()) fmt::format_to(std::back_inserter(buf), ",\"{}\":{}", key, nlohmann::json(*value).dump());
                }
            }
            buf.push_back('}');
            if (buf.size() > 65536) {
                ctx.out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
                buf.clear();
            }
        }
        ctx.out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
        nlohmann::ordered_json c = nlohmann::ordered_json::array();
        for (const auto& [type, n] : counts) {
            const auto* t = raw::FindFileType(type.first, type.second);
            c.push_back({{"type", t ? t->Caption : ""}, {"count", n}});
        }
        ctx.out << "],\"counts\":" << c.dump() << "}\n";
    } else {
        ctx.out << fmt::format("{:>7}  {:<7}  {:>12}  {:>14}  {:>12}  {:>12}  {}\n", "#", "Ext", "First sector",
                               "Byte offset", "Size", "Writes", "Type");
        for (std::size_t i = 0; i < listed.size(); ++i) {
            const auto& h = *listed[i].hit;
            ctx.out << fmt::format("{:>7}  {:<7}  {:>12}  {:>14}  {:>12}  {:>12}  {}\n", i + 1, h.Ext(), h.LBA,
                                   static_cast<std::uint64_t>(h.LBA) * bps,
                                   h.Size >= 0 ? std::to_string(h.Size) : std::string("unknown"), listed[i].writes,
                                   captionOf(h));
        }
        ctx.out << '\n';
        for (const auto& [type, n] : counts) {
            const auto* t = raw::FindFileType(type.first, type.second);
            ctx.out << fmt::format("{:>7}  {}\n", n, t ? t->Caption : "");
        }
        ctx.out << fmt::format("{:>7}  files found in {} sectors from sector {}\n", listed.size(), count, first);
    }
    if (result.outcome == raw::RangeOutcome::Stopped) {
        ctx.err << fmt::format("brenvale-cli: carving stopped at sector {}\n", result.nextLba);
    } else if (result.outcome == raw::RangeOutcome::DeviceLost) {
        ctx.err << fmt::format("brenvale-cli: the device went offline at sector {}\n", result.nextLba);
    }
    if (result.outcome != raw::RangeOutcome::Completed) return kExitFailed;
    if (!a.thumbnails.empty()) writeThumbnails(ctx, scan, raw, listed, a.thumbnails);
    if (a.destination.empty()) return kExitOk;

    // Writing the chosen hits.
    const auto picked = a.pick.empty() ? std::set<std::size_t>{} : parsePick(a.pick, listed.size());
    std::error_code ec;
    std::filesystem::create_directories(a.destination, ec);
    app::RecoverySummary s;
    scan.FTerminated = false;
    scan.FOnRecover = [&](const std::string& name, std::int32_t info) {
        s.Count(name, info);
        if (info == scan::kRecoverStarting) ctx.progress.update("Recovering: " + name);
    };
    gWriting = &scan;
    {
        platform::InterruptGuard guard(stopCarve);
        for (std::size_t i = 0; i < listed.size() && !scan.FTerminated && !storage::DeviceAborted; ++i) {
            if (!picked.empty() && !picked.contains(i + 1)) continue;
            const auto& l = listed[i];
            raw::RawRecoverFile(scan, ctx.config.Sizes, *l.hit, raw::RawFileName(*l.hit, l.number), a.destination);
        }
    }
    gWriting = nullptr;
    ctx.progress.finish();
    for (const auto& line : s.DetailsList) ctx.err << Printable(line) << '\n';
    std::ostream& summary = ctx.json ? ctx.err : ctx.out;
    summary << app::kSummaryTitle << '\n'
            << app::kProcessedLabel << ' ' << s.numProcessed << '\n'
            << app::kRecoveredLabel << ' ' << s.numRecovered << '\n'
            << app::kFailedLabel << ' ' << s.numFailed << '\n';
    if (s.numFailed > 0) summary << app::kFailedFilesRemoved << '\n';
    if (scan.FTerminated) ctx.err << "brenvale-cli: recovery stopped\n";
    return s.numFailed == 0 && !scan.FTerminated && !storage::DeviceAborted ? kExitOk : kExitFailed;
}

int runTypes(Context& ctx) {
    const auto& sizes = ctx.config.Sizes;
    auto extsOf = [](const raw::FileTypeInfo& t) {
        std::string e = t.Ext;
        if (*t.OtherExts) e += std::string(" ") + t.OtherExts;
        return e;
    };
    if (ctx.json) {
        nlohmann::ordered_json rows = nlohmann::ordered_json::array();
        for (const auto& t : raw::FileTypeCatalogue()) {
            const int i = raw::SizeIndex(t.MajorType, t.MinorType);
            rows.push_back({{"group", raw::GroupCaption(t.MajorType)},
                            {"major", t.MajorType},
                            {"minor", t.MinorType},
                            {"caption", t.Caption},
                            {"vendor", t.Vendor},
                            {"extensions", extsOf(t)},
                            {"default_size", sizes.DefaultSize[i]},
                            {"max_size", sizes.MaxSize[i]}});
        }
        ctx.out << nlohmann::ordered_json{{"types", rows}, {"largest_max_size", sizes.LargestMaxSize}}.dump(2) << '\n';
        return kExitOk;
    }
    TextTable table({"Group", "Type", "Caption", "Extensions", "Default MB", "Max MB"});
    for (const auto& t : raw::FileTypeCatalogue()) {
        const int i = raw::SizeIndex(t.MajorType, t.MinorType);
        table.add({raw::GroupCaption(t.MajorType), fmt::format("{},{}", t.MajorType, t.MinorType), t.Caption,
                   *t.Ext ? extsOf(t) : "(none found by content)", std::to_string(sizes.DefaultSize[i] / raw::kMiB),
                   std::to_string(sizes.MaxSize[i] / raw::kMiB)});
    }
    table.print(ctx.out, {4, 5});
    return kExitOk;
}

}  // namespace

void RegisterCarve(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("carve", "Find files by their content, where no file system lists them any more");
    auto args = std::make_shared<CarveArgs>();
    cmd->add_option("SOURCE", args->source, "Image file, block device, drive:N or volume:N")->required();
    AddVolumeSelector(cmd, args->selector, true);
    cmd->add_option("--from", args->from, "First sector to scan (default: the volume's first)");
    cmd->add_option("--count", args->count, "Number of sectors to scan");
    cmd->add_option("--types", args->types, "Only list these extensions, comma-separated (see 'types')");
    cmd->add_option("--size-kb", args->sizeKb, "Only list files whose written size lies in MIN..MAX KiB")->expected(2);
    cmd->add_option("--to", args->destination, "Write the listed files to this folder (not on the disk being read)");
    cmd->add_option("--pick", args->pick, "With --to: only these numbers of the listing, as 1,5-9");
    cmd->add_option("--thumbnails", args->thumbnails, "Write the previews of the listed pictures to this folder");
    cmd->add_option("--results", args->results,
                    "List (and with --to write) the hits kept by 'adv-scan --results FILE' instead of scanning");
    cmd->callback([&ctx, args] { RunCommand(ctx, [&] { return runCarve(ctx, *args); }); });

    auto* types = app.add_subcommand("types", "List the file types carving knows, with the sizes in force");
    types->callback([&ctx] { RunCommand(ctx, [&] { return runTypes(ctx); }); });
}

}  // namespace brenvale::cli
