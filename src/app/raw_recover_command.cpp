#include "app/raw_recover_command.h"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>

#include "raw/raw_recover.h"

namespace brenvale::app {

bool RawRecoverCommand::Run(scan::TUndelete& scan, const raw::SizeTables& sizes, const std::vector<RawRow>& rows,
                            std::string& folder) {
    if (rows.empty()) return false;
    const auto destination = ChooseDestination(scan, folder);
    if (!destination) return false;
    std::vector<raw::TFoundFile> hits;
    std::vector<std::string> names;
    for (const auto& r : rows) {
        hits.push_back(*r.Hit);
        names.push_back(r.Caption);
    }
    Recover(scan, sizes, hits, names, *destination);
    folder = *destination;
    return true;
}

std::optional<std::string> RawRecoverCommand::ChooseDestination(scan::TUndelete& scan, const std::string& initialDir) {
    for (std::string dir = initialDir;;) {
        const auto chosen = FUi.ChooseFolder(kRawRecoverFolderTitle, dir);
        if (!chosen) return std::nullopt;
        if (!scan.DestInsideScannedObject(FOs, *chosen)) return chosen;
        dir = *chosen;
        FUi.ShowMessage(MessageKind::Warning, kDestinationOnSource, kDestinationOnSourceCaption);
    }
}

void RawRecoverCommand::Recover(scan::TUndelete& scan, const raw::SizeTables& sizes,
                                const std::vector<raw::TFoundFile>& hits, const std::vector<std::string>& names,
                                const std::string& destination) {
    std::error_code ec;
    std::filesystem::create_directories(destination, ec);
    FSummary = RecoverySummary{};
    FSummary.Destination = destination;
    FSummary.FilesToDo = hits.size();
    FTerminated = false;
    scan.FTerminated = false;
    const auto previous = scan.FOnRecover;
    scan.FOnRecover = [this](const std::string& name, std::int32_t info) { FSummary.Count(name, info); };
    FLog.AddEvent(kRawRecoverEvent, fmt::format(kRawRecoveryStartFormat, hits.size(), destination));
    const std::size_t n = std::min(hits.size(), names.size());
    std::size_t attempted = 0;
    for (std::size_t i = 0; i < n; ++i) {
        FUi.Pump();
        if (FTerminated) break;
        FUi.StatusText(fmt::format(kRawRecoveringFormat, i + 1, n));
        FUi.Progress(static_cast<int>(i * 100 / n));
        ++attempted;
        try {
            raw::RawRecoverFile(scan, sizes, hits[i], names[i], destination);
        } catch (const std::exception& e) {
            // The file could not be written: counted as failed with the reason.
            FSummary.DetailsList.push_back(fmt::format(kRecoverFailedFormat, names[i], e.what()));
            ++FSummary.numFailed;
        }
    }
    scan.FOnRecover = previous;
    if (FTerminated) FSummary.outcome = RecoveryOutcome::Stopped;
    FUi.StatusText(fmt::format(kRawRecoveredFormat, attempted));
    FLog.AddEvent(kRawRecoverEvent, fmt::format(kRecoveryFinishedFormat, kProcessedLabel, FSummary.numProcessed,
                                                kRecoveredLabel, FSummary.numRecovered, kFailedLabel, FSummary.numFailed));
    FUi.ShowRecoverySummary(FSummary);
}

}  // namespace brenvale::app
