#pragma once
// Opening a SOURCE's volume and running the standard scan on it: shared by the commands that
// work on a scanned volume.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/cli_ui.h"
#include "cli/drive_source.h"
#include "scan/undelete.h"

namespace brenvale::cli {

// Adds --partition N, --lost N and --whole-disk to `cmd`, and --free N for the commands that
// read sectors whatever holds them.
void AddVolumeSelector(CLI::App* cmd, VolumeSelector& sel, bool freeSpace = false);

struct ScannedVolume {
    OpenedDrive drive;
    partitions::TPartition* record = nullptr;
    std::unique_ptr<CliUi> ui;  // the scan object's UI: declared first, destroyed last
    std::unique_ptr<scan::TUndelete> scan;
    int result = scan::kScanNotScannable;
};

// Opens SOURCE and picks the volume (running the lost-partition search first for --lost), with
// its scan object, not scanned yet. Throws CliError(2) when there is no such volume.
ScannedVolume OpenVolume(Context& ctx, const std::string& sourceArg, const VolumeSelector& sel);

// The sectors --from and --count choose inside the object of `sectors` sectors from `start`
// (the whole object when neither is given); throws CliError(2) for a range outside it.
struct SectorSpan {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
};
SectorSpan ChosenSectors(const std::optional<std::int64_t>& from, const std::optional<std::int64_t>& count,
                         std::uint64_t start, std::uint64_t sectors);

// Opens SOURCE, picks the volume (running the lost-partition search first for --lost) and
// scans it with Ctrl-C as Stop. Throws CliError(2) when there is no such volume.
ScannedVolume ScanVolume(Context& ctx, const std::string& sourceArg, const VolumeSelector& sel);

}  // namespace brenvale::cli
