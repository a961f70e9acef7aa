// brenvale-cli health: the drives' own health data. Without SOURCE every disk with its
// verdict; with a disk its attribute table and verdict; with a volume its TRIM line. The raw
// pages can be saved (--save-pages) and replayed (--from-pages) instead of asking drives.

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "cli/commands.h"
#include "cli/table.h"
#include "health/drive_health.h"
#include "health/health_cache.h"
#include "health/page_files.h"
#include "health/smart_reader.h"
#include "storage/device.h"
#include "storage/fs_detect.h"
#include "storage/fs_types.h"

namespace brenvale::cli {

namespace {

namespace fs = std::filesystem;
using health::DrivePages;
using health::HealthReport;
using health::ReadState;

struct HealthOptions {
    std::string source;
    std::string savePages;
    std::string fromPages;
};

struct DriveResult {
    std::string device;
    DrivePages pages;
    HealthReport report;
};

constexpr char kNotAvailablePrefix[] = "S.M.A.R.T. not available: ";

std::string verdictText(const DriveResult& d) {
    if (d.pages.State == ReadState::NotApplicable) return health::kNotApplicableImage;
    return health::HealthLevelText(d.report.Level, d.report.WorstName);
}

// Why there is no verdict, for people; empty when there is one.
std::string unavailableText(const DriveResult& d) {
    if (d.report.Level >= health::kLevelNormal || d.pages.State == ReadState::NotApplicable) return {};
    if (d.pages.State == ReadState::CannotOpen) {
        return std::string(health::kCannotOpenText) + " (" + d.pages.Detail + ")";
    }
    if (d.pages.State == ReadState::Read) return health::kNoAttributesText;
    return kNotAvailablePrefix + (d.pages.Detail.empty() ? std::string("no health data returned") : d.pages.Detail);
}

bool hasVerdict(const DriveResult& d) {
    return d.report.Level >= health::kLevelNormal || d.pages.State == ReadState::NotApplicable;
}

DriveResult evaluate(std::string device, DrivePages pages) {
    DriveResult d{std::move(device), std::move(pages), {}};
    d.report = health::Evaluate(d.pages);
    return d;
}

std::string trimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::string folderName(const std::string& device) {
    std::string name = fs::path(device).filename().string();
    return name.empty() ? std::string("drive") : name;
}

void save(Context& ctx, const HealthOptions& o, const DriveResult& d) {
    if (o.savePages.empty()) return;
    const fs::path dir = fs::path(o.savePages) / folderName(d.device);
    if (!health::SavePages(d.pages, dir, d.device)) throw CliError(kExitFailed, "cannot write the pages to " + dir.string());
    if (!ctx.json) ctx.err << "Pages of " << d.device << " saved to " << dir.string() << '\n';
}

// The saved drives of a folder: the folder itself, or each of its subfolders in name order.
std::vector<DriveResult> loadSaved(const std::string& dir) {
    std::vector<DriveResult> out;
    if (auto one = health::LoadPages(dir)) {
        out.push_back(evaluate(one->Device.empty() ? dir : one->Device, std::move(one->Pages)));
        return out;
    }
    std::error_code ec;
    std::vector<fs::path> subs;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        if (e.is_directory(ec)) subs.push_back(e.path());
    }
    std::sort(subs.begin(), subs.end());
    for (const fs::path& p : subs) {
        if (auto d = health::LoadPages(p)) out.push_back(evaluate(d->Device.empty() ? p.string() : d->Device, std::move(d->Pages)));
    }
    if (out.empty()) throw CliError(kExitUsage, dir + ": no saved drive pages (drive.txt) found");
    return out;
}

nlohmann::ordered_json driveJson(const DriveResult& d, bool attributes) {
    nlohmann::ordered_json j{{"device", d.device},
                             {"kind", d.pages.State == ReadState::CannotOpen ? "" : platform::DriveKindName(d.pages.Kind)},
                             {"model", d.report.Identity.Model},
                             {"serial", d.report.Identity.Serial},
                             {"firmware", d.report.Identity.Firmware},
                             {"level", d.report.Level},
                             {"health", verdictText(d)},
                             {"predict_failure", d.report.Predict}};
    if (const std::string why = unavailableText(d); !why.empty()) j["not_available"] = why;
    if (attributes) {
        nlohmann::ordered_json rows = nlohmann::ordered_json::array();
        for (const health::HealthRow& r : d.report.Rows) {
            rows.push_back({{"id", r.Id},
                            {"name", trimRight(r.Name)},
                            {"value", r.Value},
                            {"worst", r.Worst},
                            {"threshold", r.Threshold},
                            {"raw", r.Raw},
                            {"meaning", r.Meaning},
                            {"status", r.Status},
                            {"level", r.Level}});
        }
        j["attributes"] = std::move(rows);
        j["power_cycles"] = d.report.PowerCycles;
        j["power_on_hours"] = d.report.PowerOnHours;
        j["temperature"] = d.report.Temperature;
    }
    return j;
}

void printTable(Context& ctx, const DriveResult& d) {
    const HealthReport& r = d.report;
    ctx.out << "Drive:        " << d.device << '\n';
    if (!r.Identity.Model.empty()) ctx.out << "Model:        " << r.Identity.Model << '\n';
    if (!r.Identity.Serial.empty()) ctx.out << "Serial:       " << r.Identity.Serial << '\n';
    if (!r.Identity.Firmware.empty()) ctx.out << "Firmware:     " << r.Identity.Firmware << '\n';
    if (!r.Rows.empty()) {
        ctx.out << '\n';
        TextTable t({"ID", "Attribute Name", "Value", "Worst", "Threshold", "Raw Data", "Meaning", "Status"});
        for (const health::HealthRow& row : r.Rows) {
            t.add({row.Id, row.Name, row.Value, row.Worst, row.Threshold, row.Raw, row.Meaning, row.Status});
        }
        t.print(ctx.out, {2, 3, 4});
        ctx.out << '\n'
                << "Power cycles:   " << r.PowerCycles << '\n'
                << "Power-on hours: " << r.PowerOnHours << '\n'
                << "Temperature:    " << r.Temperature << '\n';
    }
    ctx.out << "Health:       " << verdictText(d) << '\n';
    if (const std::string why = unavailableText(d); !why.empty()) ctx.out << why << '\n';
    if (!r.Rows.empty()) ctx.out << health::StatusSentence(r).substr(1) << '\n';
}

int report(Context& ctx, const std::vector<DriveResult>& drives, bool detailed) {
    const bool any = std::any_of(drives.begin(), drives.end(), hasVerdict);
    if (ctx.json) {
        if (detailed && drives.size() == 1) {
            ctx.out << driveJson(drives.front(), true).dump(2) << '\n';
        } else {
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (const DriveResult& d : drives) list.push_back(driveJson(d, false));
            ctx.out << nlohmann::ordered_json{{"drives", std::move(list)}}.dump(2) << '\n';
        }
    } else if (detailed && drives.size() == 1) {
        printTable(ctx, drives.front());
    } else if (drives.empty()) {
        ctx.out << "No disks found.\n";
    } else {
        TextTable t({"Drive", "Model", "Health"});
        for (const DriveResult& d : drives) {
            const std::string why = unavailableText(d);
            t.add({d.device, d.report.Identity.Model.empty() ? "-" : d.report.Identity.Model,
                   why.empty() ? verdictText(d) : why});
        }
        t.print(ctx.out);
    }
    return any ? kExitOk : kExitFailed;
}

int volumeTrim(Context& ctx, const std::string& sourceArg, storage::TDevice& dev) {
    std::vector<std::byte> sector(dev.BytesPerSector());
    const bool readable = dev.Read(0, 1, sector.data()) >= 512;
    health::TrimSubject s;
    s.FileSystem = readable ? storage::DetectFileSystem(sector) : storage::kFsUnknown;
    s.HasDevice = true;
    s.Image = dev.DeviceType() == storage::kDeviceImage;
    s.DriveNumber = dev.DeviceNum();
    s.DevicePath = dev.Path();
    if (!ctx.drives) throw CliError(kExitFailed, "drive commands are not available in this program");
    health::HealthCache cache(ctx.os, *ctx.drives);
    const std::string text = cache.TrimText(s);
    if (ctx.json) {
        ctx.out << nlohmann::ordered_json{{"source", sourceArg},
                                          {"file_system", std::string(storage::FileSystemName(s.FileSystem))},
                                          {"trim", text}}
                       .dump(2)
                << '\n';
    } else {
        ctx.out << "Volume:       " << sourceArg << '\n'
                << "File system:  " << storage::FileSystemName(s.FileSystem) << '\n'
                << "TRIM:         " << text << '\n';
    }
    const bool known = text != health::kTrimNotReported && text != health::kTrimUnknown;
    return known ? kExitOk : kExitFailed;
}

// The device path of a SOURCE that names a listed whole disk ("drive:N" or its path).
std::string wholeDiskPath(Context& ctx, const std::string& source) {
    const auto disks = ctx.os.wholeDisks();
    constexpr std::string_view kDrivePrefix = "drive:";
    if (source.rfind(kDrivePrefix, 0) == 0) {
        const std::string digits = source.substr(kDrivePrefix.size());
        if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos) return {};
        const std::size_t n = std::stoul(digits);
        return n < disks.size() ? disks[n].path : std::string{};
    }
    for (const platform::BlockDeviceInfo& d : disks) {
        if (d.path == source) return d.path;
    }
    return {};
}

int runHealth(Context& ctx, const HealthOptions& o) {
    if (!o.fromPages.empty()) {
        if (!o.source.empty()) throw CliError(kExitUsage, "--from-pages replays saved pages; give no SOURCE with it");
        const auto drives = loadSaved(o.fromPages);
        return report(ctx, drives, true);
    }
    if (!ctx.drives) throw CliError(kExitFailed, "drive commands are not available in this program");
    health::SmartReader reader(*ctx.drives, ctx.os);
    std::vector<DriveResult> drives;
    if (o.source.empty()) {
        for (const platform::BlockDeviceInfo& disk : ctx.os.wholeDisks()) {
            drives.push_back(evaluate(disk.path, reader.Read(disk.path)));
            save(ctx, o, drives.back());
        }
        return report(ctx, drives, false);
    }
    // A whole disk is asked through its own descriptor: found without opening it for reading,
    // so a disk that refuses reads still gets its "not available" line.
    if (const std::string disk = wholeDiskPath(ctx, o.source); !disk.empty()) {
        drives.push_back(evaluate(disk, reader.Read(disk)));
        save(ctx, o, drives.back());
        return report(ctx, drives, true);
    }
    auto src = OpenSource(ctx, o.source);
    switch (src.kind) {
        case SourceKind::Volume: return volumeTrim(ctx, o.source, *src.device);
        case SourceKind::Dif:
        case SourceKind::Raw: {
            DrivePages pages;
            pages.Kind = platform::DriveKind::Image;
            pages.State = ReadState::NotApplicable;
            drives.push_back(evaluate(o.source, std::move(pages)));
            return report(ctx, drives, true);
        }
        case SourceKind::Physical: break;
    }
    const std::string path = src.device->Path();
    src.device.reset();  // the drive is asked through its own descriptor
    drives.push_back(evaluate(path, reader.Read(path)));
    save(ctx, o, drives.back());
    return report(ctx, drives, true);
}

}  // namespace

void RegisterHealth(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("health", "Drive health: S.M.A.R.T. attributes and verdicts, a volume's TRIM state");
    auto o = std::make_shared<HealthOptions>();
    cmd->add_option("SOURCE", o->source, "A disk (block device or drive:N), a volume (volume:N) or an image; none: every disk");
    cmd->add_option("--save-pages", o->savePages, "Also save each drive's raw pages under DIR");
    cmd->add_option("--from-pages", o->fromPages, "Read saved pages from DIR instead of asking drives")
        ->check(CLI::ExistingDirectory);
    cmd->callback([&ctx, o] { RunCommand(ctx, [&] { return runHealth(ctx, *o); }); });
}

}  // namespace brenvale::cli
