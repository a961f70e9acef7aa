#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>

#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "cli/table.h"
#include "cli/scan_rows.h"
#include "cli/volume_scan.h"
#include "scan/dos_time.h"
#include "scan/entry_facts.h"
#include "storage/format_size.h"
#include "storage/fs_types.h"

namespace brenvale::cli {

namespace {

using namespace std::string_view_literals;

struct ScanArgs {
    std::string source;
    VolumeSelector selector;
    bool deletedOnly = false;
    bool tree = false;
};

const char* statusName(std::uint8_t status) {
    switch (status) {
        case scan::kStatusLive: return "live";
        case scan::kStatusDeleted: return "deleted";
        default: return "damaged";
    }
}

// The --json listing is written as it goes, in the very text dump(2) gives for the same
// document: built as one json tree first, 100,000 entries took most of the run and a quarter
// of a GiB.

// Printable ASCII is copied as is; anything else goes through the library's own escaping, so
// control characters, non-ASCII text and bad UTF-8 come out exactly as dump() writes them.
void appendJsonString(std::string& out, std::string_view s) {
    const bool plain = std::all_of(s.begin(), s.end(), [](char c) {
        return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
    });
    if (!plain) {
        out += nlohmann::json(std::string(s)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        return;
    }
    // One growth and one copy instead of three appends: every entry has four or more strings.
    const std::size_t at = out.size();
    out.resize(at + s.size() + 2);
    char* p = out.data() + at;
    *p = '"';
    std::memcpy(p + 1, s.data(), s.size());
    p[s.size() + 1] = '"';
}

template <class T>
void appendJsonNumber(std::string& out, T value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

void appendJsonTime(std::string& out, const std::optional<std::string>& t) {
    if (t) {
        appendJsonString(out, *t);
    } else {
        out += "null"sv;
    }
}

// Members of one object of "entries", at the depth dump(2) puts them.
class JsonEntryWriter {
public:
    explicit JsonEntryWriter(std::string& out) : out_(out) {}
    std::string& key(std::string_view name) {
        out_ += first_ ? "    {\n      \""sv : ",\n      \""sv;
        first_ = false;
        out_ += name;
        out_ += "\": "sv;
        return out_;
    }
    ~JsonEntryWriter() { out_ += "\n    }"sv; }

private:
    std::string& out_;
    bool first_ = true;
};

void appendJsonEntry(std::string& out, const ScanRow& r) {
    const auto& f = r.facts;
    JsonEntryWriter w(out);
    appendJsonString(w.key("path"), r.path);
    appendJsonString(w.key("name"), f.name);
    w.key("type") += f.folder ? "\"dir\""sv : "\"file\""sv;
    appendJsonString(w.key("status"), statusName(f.status));
    appendJsonNumber(w.key("size"), f.size);
    appendJsonTime(w.key("modified"), f.modified);
    appendJsonTime(w.key("created"), f.created);
    appendJsonTime(w.key("accessed"), f.accessed);
    appendJsonNumber(w.key("first_cluster"), f.firstCluster);
    if (f.record) appendJsonNumber(w.key("record"), *f.record);
}

// The document around the entries, written as they are handed in.
class JsonListing {
public:
    JsonListing(std::ostream& os, const std::string& fsName, int result, const std::string& label) : os_(os) {
        out_.reserve(kFlushBytes + 4096);
        out_ += "{\n  \"file_system\": ";
        appendJsonString(out_, fsName);
        out_ += ",\n  \"result\": ";
        appendJsonNumber(out_, result);
        out_ += ",\n  \"label\": ";
        appendJsonString(out_, label);
        out_ += ",\n  \"entries\": ";
    }
    void add(const ScanRow& r) {
        out_ += any_ ? ",\n"sv : "[\n"sv;
        any_ = true;
        appendJsonEntry(out_, r);
        if (out_.size() >= kFlushBytes) flush();
    }
    void finish() {
        out_ += any_ ? "\n  ]" : "[]";
        out_ += "\n}\n";
        flush();
    }

private:
    static constexpr std::size_t kFlushBytes = 64 * 1024;
    void flush() {
        os_.write(out_.data(), static_cast<std::streamsize>(out_.size()));
        out_.clear();
    }
    std::ostream& os_;
    std::string out_;
    bool any_ = false;
};

void writeJsonListing(std::ostream& os, const std::string& fsName, int result, const std::string& label,
                      const std::vector<ScanRow>& rows) {
    JsonListing listing(os, fsName, result, label);
    for (const ScanRow& r : rows) listing.add(r);
    listing.finish();
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
    if (ctx.json) {
        // Written entry by entry: the rows of a large volume held at once took more memory
        // than the scan itself.
        JsonListing listing(ctx.out, std::string(storage::FileSystemName(scan.FileSystem())), v.result,
                            scan.VolumeLabel());
        if (v.result != scan::kScanNotScannable) ForEachRow(scan, a.deletedOnly, [&](ScanRow& r) { listing.add(r); });
        listing.finish();
    } else {
        const auto rows = v.result == scan::kScanNotScannable ? std::vector<ScanRow>{} : ListRows(scan, a.deletedOnly);
        PrintRows(ctx, scan, v.result, rows, a.tree, a.deletedOnly ? " (deleted-only filter)" : "");
    }
    if (v.result == scan::kScanStopped) ctx.err << "brenvale-cli: the scan was stopped; the list holds what was found\n";
    return v.result == scan::kScanCompleted ? kExitOk : kExitFailed;
}

}  // namespace

void PrintRows(Context& ctx, const scan::TUndelete& scan, int result, const std::vector<ScanRow>& rows, bool tree,
               const std::string& note) {
    const std::string fsName(storage::FileSystemName(scan.FileSystem()));
    if (ctx.json) {
        writeJsonListing(ctx.out, fsName, result, scan.VolumeLabel(), rows);
        return;
    }
    std::size_t deleted = 0;
    for (const ScanRow& r : rows) deleted += r.facts.status != scan::kStatusLive;
    ctx.out << fmt::format("{} volume \"{}\": {} entries, {} deleted or damaged{}\n", fsName, Printable(scan.VolumeLabel()),
                           rows.size(), deleted, note);
    TextTable t({"STATUS", "SIZE", "MODIFIED", tree ? "NAME" : "PATH"});
    for (const ScanRow& r : rows) {
        const auto& f = r.facts;
        // Names come from the disk: a newline in one must not start a row of its own.
        std::string shown = tree ? std::string(2 * static_cast<std::size_t>(r.depth), ' ') + Printable(f.name) : Printable(r.path);
        if (f.folder) shown += "/";
        t.add({statusName(f.status), f.folder ? "" : storage::FormatSize(f.size), textTime(f.modified), shown});
    }
    t.print(ctx.out, {1});
}

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
