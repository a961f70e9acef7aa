#pragma once
// An advanced scan run for a command that works on its results (recover, search, stats):
// the object chosen as adv-scan chooses it, scanned with progress, Ctrl-C stopping it.

#include <memory>
#include <string>

#include "advscan/advanced_scan.h"
#include "cli/context.h"
#include "cli/volume_scan.h"
#include "raw/signature_scan.h"

namespace brenvale::cli {

struct AdvSession {
    ScannedVolume volume;
    std::unique_ptr<raw::RawScan> raw;
    std::unique_ptr<advscan::AdvancedScan> adv;
};

// The object chosen (a volume, or the whole disk with --whole-disk) with its scan objects, not
// scanned yet. Throws CliError(2) when there is no such volume or it has no sectors.
AdvSession OpenAdvSession(Context& ctx, const std::string& source, const VolumeSelector& selector);

// Throws CliError when the volume cannot be opened or the scan did not complete. With
// `results` (a file 'adv-scan --results' wrote for this object) the scan is read from it instead.
AdvSession RunAdvSession(Context& ctx, const std::string& source, const VolumeSelector& selector,
                         const std::string& results = {});

}  // namespace brenvale::cli
