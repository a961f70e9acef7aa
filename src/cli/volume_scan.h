#pragma once
// Opening a SOURCE's volume and running the standard scan on it: shared by the commands that
// work on a scanned volume.

#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/cli_ui.h"
#include "cli/drive_source.h"
#include "scan/undelete.h"

namespace brenvale::cli {

// Adds --partition N, --lost N and --whole-disk to `cmd`.
void AddVolumeSelector(CLI::App* cmd, VolumeSelector& sel);

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

// Opens SOURCE, picks the volume (running the lost-partition search first for --lost) and
// scans it with Ctrl-C as Stop. Throws CliError(2) when there is no such volume.
ScannedVolume ScanVolume(Context& ctx, const std::string& sourceArg, const VolumeSelector& sel);

}  // namespace brenvale::cli
