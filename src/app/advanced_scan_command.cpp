#include "app/advanced_scan_command.h"

#include <fmt/format.h>

#include <chrono>
#include <filesystem>

#include "advscan/checkpoint_resume.h"
#include "app/standard_scan.h"
#include "platform/paths.h"
#include "scan/undelete.h"
#include "storage/device_events.h"
#include "storage/format_size.h"

namespace brenvale::app {

namespace {

std::string timeLeft(double seconds) {
    const auto s = static_cast<std::int64_t>(seconds + 0.5);
    if (s >= 3600) return fmt::format("{}:{:02}:{:02}", s / 3600, s / 60 % 60, s % 60);
    return fmt::format("{}:{:02}", s / 60, s % 60);
}

}  // namespace

void AdvancedScanCommand::setPath(std::string path) {
    if (path == FCheckpointPath) return;
    FCheckpointPath = std::move(path);
    if (FOnPathChanged) FOnPathChanged();
}

AdvScanOutcome AdvancedScanCommand::Run(AdvVolume& v, const std::string& nodePath, const std::atomic<bool>& saveAtStop) {
    advscan::AdvancedScan& adv = *v.Adv;
    storage::TDevice& device = adv.Scan().Device();
    FLog.AddEvent(kAdvScanEvent, fmt::format(kScanStartingFormat, nodePath));
    const auto start = static_cast<std::int64_t>(adv.ObjectStart());
    std::int64_t count = static_cast<std::int64_t>(adv.ObjectSectors());
    const auto total = static_cast<std::int64_t>(device.Sectors());
    std::optional<SectorRange> range;
    if (total > 0 && count > 0) {
        count = std::min(count, total - std::min(start, total));
        range = FUi.ChooseRange({start, count}, device.BytesPerSector() ? device.BytesPerSector() : 512,
                                device.Sectors());
    }
    if (!range || range->Count <= 0 || range->First < start || range->First >= start + count) {
        FLog.AddEvent(kAdvScanEvent, kAdvRangeCancelledText);
        return AdvScanOutcome::Cancelled;
    }
    adv.AdvRangeStart = range->First;
    adv.AdvRangeEnd = std::min(range->First + range->Count, start + count) - 1;
    FLog.AddEvent(kAdvScanEvent, fmt::format(kAdvRangeFormat, adv.AdvRangeStart, adv.AdvRangeEnd));
    return scan(v, saveAtStop);
}

AdvScanOutcome AdvancedScanCommand::Resume(AdvVolume& v, const std::string& nodePath, const std::atomic<bool>& saveAtStop) {
    const auto path = FUi.ChooseOpenFile(kResumeCheckpointTitle, kCheckpointFilter);
    if (!path) return AdvScanOutcome::Cancelled;
    advscan::TCheckpointData data;
    std::string reason;
    if (!advscan::ValidateCheckpoint(*path, v.Adv.get(), data, reason)) {
        FUi.ShowMessage(MessageKind::Warning, reason, kAppTitle);
        return AdvScanOutcome::Cancelled;
    }
    setPath(*path);
    FLog.AddEvent(kAdvScanEvent, fmt::format(kScanStartingFormat, nodePath));
    advscan::ApplyCheckpoint(data, *v.Adv);
    FLog.AddEvent(kAdvScanEvent, kAdvResumeLogText);
    return scan(v, saveAtStop);
}

AdvScanOutcome AdvancedScanCommand::scan(AdvVolume& v, const std::atomic<bool>& saveAtStop) {
    advscan::AdvancedScan& adv = *v.Adv;
    scan::TUndelete& s = adv.Scan();
    const std::uint32_t bps = s.Device().BytesPerSector() ? s.Device().BytesPerSector() : 512;
    const std::int64_t first = adv.AdvRangeStart;
    const std::int64_t last = adv.AdvRangeEnd >= 0 ? adv.AdvRangeEnd
                                                   : static_cast<std::int64_t>(adv.ObjectStart() + adv.ObjectSectors()) - 1;
    const double totalBytes = static_cast<double>(std::max<std::int64_t>(last - first + 1, 0)) * bps;
    const auto began = std::chrono::steady_clock::now();
    std::string stage;
    int lastPercent = -1;
    advscan::AdvCallbacks cb;
    cb.Stage = [&](const std::string& text) {
        stage = text;
        lastPercent = -1;
        FUi.StatusText(text);
    };
    cb.Progress = [&](int percent) {
        FUi.Pump();
        if (percent == lastPercent) return;
        lastPercent = percent;
        FUi.Progress(percent);
        if (!stage.empty()) return;
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        const double done = totalBytes * percent / 100;
        const double left = percent > 0 ? secs * (100 - percent) / percent : 0;
        FUi.StatusText(fmt::format(kAdvPassFormat, percent, storage::FormatSize(static_cast<std::int64_t>(done)),
                                   storage::FormatSize(static_cast<std::int64_t>(totalBytes)),
                                   storage::FormatSize(static_cast<std::int64_t>(secs > 0 ? done / secs : 0)),
                                   timeLeft(left)));
    };
    s.FTerminated = false;
    v.Stop = false;
    if (BeforePass) BeforePass();
    FUi.Progress(0);
    const int result = adv.AdvScan(v.Stop, cb);
    const bool stopped = result == advscan::kAdvStopped;
    s.FTerminated = false;

    if (stopped && saveAtStop) {
        // A stop that saves always asks where.
        setPath({});
        bool saved = false;
        if (advscan::CheckpointPossible(adv) && chooseCheckpointFile(v)) {
            saved = advscan::SaveAdvancedScanCheckpoint(FCheckpointPath, adv);
        }
        FLog.AddEvent(kAdvScanEvent, saved ? kCheckpointSavedText : kCheckpointNotSavedText);
    } else if (result == advscan::kAdvCompleted && !stopped) {
        if (!FCheckpointPath.empty()) {
            advscan::RemoveOwnCheckpoint(FCheckpointPath, adv);
        } else {
            std::error_code ec;
            std::filesystem::remove(std::filesystem::path(platform::DataDirectory()) / kDefaultCheckpointName, ec);
        }
    }
    if (storage::DeviceAborted || result == advscan::kAdvDeviceLost) {
        storage::DeviceAborted = false;
        FUi.ShowMessage(MessageKind::Warning, kAdvOfflineMessage, kAppTitle);
        return AdvScanOutcome::DeviceLost;
    }
    if (result == advscan::kAdvCompleted && !stopped) v.Raw->FinishPending();
    v.RebuildTree();
    FLog.AddEvent(kAdvScanEvent, !stopped && result == advscan::kAdvCompleted ? kScanCompletedText
                                 : stopped                                   ? kScanUserTerminatedText
                                                                             : kScanAbnormalText);
    return stopped ? AdvScanOutcome::Stopped : AdvScanOutcome::Completed;
}

bool AdvancedScanCommand::chooseCheckpointFile(const AdvVolume& v) {
    for (;;) {
        // Proposed: the program's data folder and a name that says which volume was scanned.
        const std::string suggested =
            (std::filesystem::path(platform::DataDirectory()) / advscan::CheckpointFileName(&v.Adv->Scan())).string();
        const auto chosen = FUi.ChooseSaveFile(kSaveCheckpointTitle, kCheckpointFilter, kCheckpointExt, suggested);
        if (!chosen) return false;
        std::string reason;
        if (!advscan::CheckpointLocationRefused(FOs, v.Adv->Scan(), *chosen, reason)) {
            setPath(*chosen);
            return true;
        }
        FUi.ShowMessage(MessageKind::Warning, reason, kAppTitle);
    }
}

}  // namespace brenvale::app
