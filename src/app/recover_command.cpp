#include "app/recover_command.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "partitions/partition.h"
#include "storage/device_events.h"
#include "storage/format_size.h"

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
    return Run(std::vector<RecoveryJob>{{&scan, targets, onlyDeleted}}, destination);
}

namespace {

// Creates the destination and writes a probe file in it: a folder that cannot take a file is
// reported before the first file fails. Empty when it can; otherwise the system's reason.
std::string DestinationProblem(const std::string& destination) {
    std::error_code ec;
    std::filesystem::create_directories(destination, ec);
    if (ec) return ec.message();
    if (!std::filesystem::is_directory(destination, ec)) return std::make_error_code(std::errc::not_a_directory).message();
    const std::filesystem::path probe = std::filesystem::path(destination) / ".brenvale-write-test";
    errno = 0;
    std::FILE* f = std::fopen(probe.c_str(), "wb");
    if (!f) return std::generic_category().message(errno ? errno : EACCES);
    std::fclose(f);
    std::filesystem::remove(probe, ec);
    return {};
}

int Percent(std::uint64_t done, std::uint64_t total) {
    if (total == 0) return 0;
    return static_cast<int>(std::min<std::uint64_t>(100, done * 100 / total));
}

}  // namespace

RecoverySummary RecoverCommand::Run(const std::vector<RecoveryJob>& jobs, const std::string& destination) {
    RecoverySummary summary;
    summary.Destination = destination;
    if (FActionInProgress) {
        summary.outcome = RecoveryOutcome::Busy;
        return summary;
    }
    // Nothing is created before the destination has been checked: creating a folder on the
    // disk being read would already be a write to it.
    for (const auto& job : jobs) {
        if (job.scan && job.scan->DestInsideScannedObject(FOs, destination)) {
            FUi.ShowMessage(MessageKind::Warning, kDestinationOnSource, kDestinationOnSourceCaption);
            summary.outcome = RecoveryOutcome::DestinationRefused;
            return summary;
        }
    }
    for (const auto& job : jobs) {
        if (job.scan && !DeviceOnline(*job.scan)) {
            summary.outcome = RecoveryOutcome::DeviceOffline;
            return summary;
        }
    }
    if (const std::string problem = DestinationProblem(destination); !problem.empty()) {
        const std::string text = fmt::format(kDestinationUnwritable, destination, problem);
        FLog.AddEvent(kRecoverEvent, text);
        FUi.ShowMessage(MessageKind::Error, text, kAppTitle);
        summary.outcome = RecoveryOutcome::DestinationUnwritable;
        return summary;
    }

    // The whole, counted before the first file, so the progress is that of the recovery and
    // not of each file.
    for (const auto& job : jobs) {
        if (!job.scan) continue;
        job.scan->FTerminated = false;
        for (const auto& t : job.targets) {
            if (job.backend) {
                const auto totals = job.backend->Count(t);
                summary.FilesToDo += totals.Files;
                summary.BytesToDo += totals.Bytes;
            } else if (!t.folder) {
                ++summary.FilesToDo;
                summary.BytesToDo += job.scan->EntryDataSize(t.entry);
            } else {
                const auto totals = job.scan->CountRecovery(t.entry, job.onlyDeleted);
                summary.FilesToDo += totals.Files;
                summary.BytesToDo += totals.Bytes;
            }
        }
    }

    FActionInProgress = true;
    FLog.AddEvent(kRecoverEvent, fmt::format("Starting recovery to \"{}\"", destination));
    std::uint64_t current = 0;  // bytes of the file being recovered
    const auto overall = [&](std::uint64_t partOfCurrent) {
        if (summary.BytesToDo > 0) return Percent(summary.BytesDone + partOfCurrent, summary.BytesToDo);
        return Percent(static_cast<std::uint64_t>(summary.numRecovered + summary.numFailed), summary.FilesToDo);
    };
    bool stopped = false;
    for (const auto& job : jobs) {
        if (!job.scan) continue;
        scan::TUndelete& scan = *job.scan;
        FCurrent = &scan;
        if (OnCurrentScan) OnCurrentScan(&scan);
        // A folder is no file: its failure gets a line but no count (its files count instead).
        scan.FOnRecover = [&](const std::string& name, std::int32_t info) {
            const int finishedBefore = summary.numRecovered + summary.numFailed;
            summary.Count(name, info);
            if (info == scan::kRecoverStarting) {
                current = scan.FRecoveringSize;
                FUi.StatusText(fmt::format(kRecoveringFormat, summary.numProcessed,
                                           std::max<std::uint64_t>(summary.FilesToDo, summary.numProcessed), name,
                                           storage::FormatSize(static_cast<std::int64_t>(summary.BytesDone)),
                                           storage::FormatSize(static_cast<std::int64_t>(summary.BytesToDo))));
                FUi.Progress(overall(0));
            } else if (summary.numRecovered + summary.numFailed > finishedBefore) {
                summary.BytesDone += current;
                current = 0;
                FUi.Progress(overall(0));
            }
        };
        scan.FOnRecoverProgress = [&](std::int32_t percent) {
            const auto part = current * static_cast<std::uint64_t>(std::clamp(percent, 0, 100)) / 100;
            FUi.Progress(overall(part));
        };
        for (const auto& t : job.targets) {
            if (storage::DeviceAborted || scan.FTerminated) break;
            if (job.backend) {
                job.backend->Recover(t, destination);
            } else if (!t.folder) {
                scan.RecoverFile(t.entry, t.name, destination);
            } else if (!t.entry) {
                scan.RecoverChildren(nullptr, destination, job.onlyDeleted);
            } else {
                scan.RecoverDir(t.entry, t.name, destination, job.onlyDeleted);
            }
        }
        stopped = stopped || scan.FTerminated;
        scan.FOnRecover = nullptr;
        scan.FOnRecoverProgress = nullptr;
        scan.FTerminated = false;
        if (stopped || storage::DeviceAborted) break;
    }
    FCurrent = nullptr;
    if (OnCurrentScan) OnCurrentScan(nullptr);

    if (storage::DeviceAborted) {
        storage::DeviceAborted = false;
        summary.outcome = RecoveryOutcome::WentOffline;
        FUi.ShowMessage(MessageKind::Warning, kRecoverWentOffline, kAppTitle);
    } else if (stopped) {
        summary.outcome = RecoveryOutcome::Stopped;
    }
    if (summary.outcome == RecoveryOutcome::Stopped) {
        const auto finished = static_cast<std::uint64_t>(summary.numRecovered + summary.numFailed);
        FLog.AddEvent(kRecoverEvent,
                      fmt::format(kRecoveryStoppedFormat, summary.numProcessed, summary.FilesToDo, summary.numRecovered,
                                  summary.numFailed, summary.FilesToDo > finished ? summary.FilesToDo - finished : 0));
    } else {
        FLog.AddEvent(kRecoverEvent, fmt::format(kRecoveryFinishedFormat, kProcessedLabel, summary.numProcessed,
                                                 kRecoveredLabel, summary.numRecovered, kFailedLabel, summary.numFailed));
    }
    FActionInProgress = false;
    return summary;
}

void RecoverCommand::Stop() {
    if (auto* s = FCurrent.load()) s->TerminateProcess();
}

}  // namespace brenvale::app
