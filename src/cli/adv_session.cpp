#include "cli/adv_session.h"

#include <fmt/format.h>

#include <atomic>

#include "advscan/checkpoint_resume.h"
#include "cli/commands.h"
#include "partitions/partition.h"
#include "platform/paths.h"
#include "platform/terminal.h"

namespace brenvale::cli {

namespace {

std::atomic<bool> gStop{false};

void stop() { gStop = true; }

}  // namespace

AdvSession OpenAdvSession(Context& ctx, const std::string& source, const VolumeSelector& selector) {
    AdvSession s;
    s.volume = OpenVolume(ctx, source, selector);
    storage::TDevice& device = s.volume.scan->Device();
    const std::uint32_t bps = device.BytesPerSector() ? device.BytesPerSector() : 512;
    std::uint64_t start = static_cast<std::uint64_t>(partitions::PartitionStart(s.volume.record));
    std::uint64_t sectors = static_cast<std::uint64_t>(partitions::PartitionSize(s.volume.record));
    if (selector.wholeDisk) start = 0, sectors = device.Sectors();
    if (sectors == 0) throw CliError(kExitUsage, source + ": the volume has no sectors");
    s.raw = std::make_unique<raw::RawScan>(ctx.config.Sizes, bps, raw::DeviceSectors(device));
    s.adv = std::make_unique<advscan::AdvancedScan>(*s.volume.scan, *s.raw, start, sectors);
    s.adv->DiagLogPath = platform::DataDirectory() + "/ntfs_adv_diag.log";
    return s;
}

AdvSession RunAdvSession(Context& ctx, const std::string& source, const VolumeSelector& selector,
                         const std::string& results) {
    AdvSession s = OpenAdvSession(ctx, source, selector);
    if (!results.empty()) {
        std::string reason;
        if (!advscan::LoadScanResults(results, *s.adv, reason)) throw CliError(kExitUsage, "--results " + results + ": " + reason);
        return s;
    }
    std::string stage;
    advscan::AdvCallbacks cb;
    cb.Stage = [&](const std::string& text) { stage = text; };
    cb.Progress = [&](int percent) {
        ctx.progress.update(stage.empty() ? fmt::format("Advanced scan: {}%", percent) : fmt::format("{} {}%", stage, percent));
    };
    gStop = false;
    int result = advscan::kAdvCompleted;
    {
        platform::InterruptGuard guard(stop);
        result = s.adv->AdvScan(gStop, cb);
    }
    ctx.progress.finish();
    if (result == advscan::kAdvDeviceLost) throw CliError(kExitFailed, "the device went offline");
    if (result != advscan::kAdvCompleted) throw CliError(kExitFailed, "advanced scan stopped");
    s.raw->FinishPending();
    return s;
}

}  // namespace brenvale::cli
