#include "app/recover_command.h"

#include <fmt/format.h>

#include <filesystem>
#include <utility>

#include "partitions/partition.h"
#include "storage/device_events.h"

namespace brenvale::app {

void RecoverySummary::Count(const std::string& name, std::int32_t info) {
    if (info == scan::kRecoverFolderStarting) {
        folderReported = true;
        return;
    }
    if (info == scan::kRecoverStarting) {
        folderReported = false;
        ++numProcessed;
    } else if (info == scan::kRecoverSuccessful) {
        ++numRecovered;
    } else {
        if (!std::exchange(folderReported, false)) ++numFailed;
        DetailsList.push_back(fmt::format(kRecoverFailedFormat, name, scan::RecoverStatusText(info)));
    }
}

bool RecoverCommand::DeviceOnline(scan::TUndelete& scan) {
    storage::DeviceAborted = false;
    scan.Device().PrepareForNewOperation();
    std::vector<std::byte> probe(std::max<std::uint32_t>(scan.Device().BytesPerSector(), 512));
    scan.Device().Read(static_cast<std::uint64_t>(partitions::PartitionStart(&scan.Partition())), 1, probe);
    if (!storage::DeviceAborted) return true;
    storage::DeviceAborted = false;
    FUi.ShowMessage(MessageKind::Warning, kRecoverDeviceOffline, kAppTitle);
    return false;
}

RecoverySummary RecoverCommand::Run(scan::TUndelete& scan, const std::vector<RecoveryTarget>& targets,
                                    const std::string& destination, bool onlyDeleted) {
    RecoverySummary summary;
    if (FActionInProgress) {
        summary.outcome = RecoveryOutcome::Busy;
        return summary;
    }
    // Nothing is created before the destination has been checked: creating a folder on the
    // disk being read would already be a write to it.
    if (scan.DestInsideScannedObject(FOs, destination)) {
        FUi.ShowMessage(MessageKind::Warning, kDestinationOnSource, kDestinationOnSourceCaption);
        summary.outcome = RecoveryOutcome::DestinationRefused;
        return summary;
    }
    if (!DeviceOnline(scan)) {
        summary.outcome = RecoveryOutcome::DeviceOffline;
        return summary;
    }
    std::error_code ec;
    std::filesystem::create_directories(destination, ec);

    FActionInProgress = true;
    FCurrent = &scan;
    scan.FTerminated = false;
    // A folder is no file: its failure gets a line but no count (its files count instead).
    scan.FOnRecover = [&](const std::string& name, std::int32_t info) {
        summary.Count(name, info);
        if (info == scan::kRecoverStarting) {
            FUi.StatusText("Recovering: " + name);
            FUi.Progress(0);
        }
    };
    scan.FOnRecoverProgress = [&](std::int32_t percent) { FUi.Progress(percent); };
    FLog.AddEvent(kRecoverEvent, fmt::format("Starting recovery to \"{}\"", destination));

    for (const auto& t : targets) {
        if (storage::DeviceAborted || scan.FTerminated) break;
        if (!t.folder) {
            scan.RecoverFile(t.entry, t.name, destination);
        } else if (!t.entry) {
            scan.RecoverChildren(nullptr, destination, onlyDeleted);
        } else {
            scan.RecoverDir(t.entry, t.name, destination, onlyDeleted);
        }
    }

    if (storage::DeviceAborted) {
        storage::DeviceAborted = false;
        summary.outcome = RecoveryOutcome::WentOffline;
        FUi.ShowMessage(MessageKind::Warning, kRecoverWentOffline, kAppTitle);
    } else if (scan.FTerminated) {
        summary.outcome = RecoveryOutcome::Stopped;
    }
    FLog.AddEvent(kRecoverEvent, fmt::format("Recovery finished: {} {}, {} {}, {} {}", kProcessedLabel,
                                             summary.numProcessed, kRecoveredLabel, summary.numRecovered, kFailedLabel,
                                             summary.numFailed));
    scan.FOnRecover = nullptr;
    scan.FOnRecoverProgress = nullptr;
    scan.FTerminated = false;
    FCurrent = nullptr;
    FActionInProgress = false;
    return summary;
}

void RecoverCommand::Stop() {
    if (auto* s = FCurrent.load()) s->TerminateProcess();
}

}  // namespace brenvale::app
