#include "app/standard_scan.h"

#include <fmt/format.h>

#include "storage/device_events.h"

namespace brenvale::app {

std::string ScanFoundText(const scan::TUndelete& scan) {
    std::size_t entries = 0, deleted = 0;
    for (const scan::TScanEntry* e : scan.ScannedFiles) {
        const std::string name = scan.EntryDisplayName(e);
        if (name == "." || name == "..") continue;
        ++entries;
        if (scan.DelIsDeletedEntry(e)) ++deleted;
    }
    if (entries == 0) return kScanFoundNothingText;
    return fmt::format(kScanFoundFormat, entries, deleted);
}

int StandardScanCommand::Run(scan::TUndelete& scan, const std::string& nodePath) {
    if (FActionInProgress) return kStandardScanBusy;
    FActionInProgress = true;
    FCurrent = &scan;
    struct Done {
        StandardScanCommand& c;
        scan::TUndelete& s;
        ~Done() {
            s.FOnEnumDir = nullptr;
            c.FCurrent = nullptr;
            c.FActionInProgress = false;
        }
    } done{*this, scan};

    FLog.AddEvent(kStandardScanEvent, fmt::format(kScanStartingFormat, nodePath));
    scan.FOnEnumDir = [this](std::uint8_t fs, const std::string& dir, std::uint32_t pos) {
        if (fs != 0) {
            FUi.Progress(static_cast<int>(pos));
        } else {
            FUi.StatusText(dir);
        }
    };
    const int result = scan.NormalScan(1);

    const char* outcome = storage::DeviceAborted ? kScanOfflineLogText
                          : result == scan::kScanCompleted ? kScanCompletedText
                          : result == scan::kScanStopped   ? kScanUserTerminatedText
                                                           : kScanAbnormalText;
    FLog.AddEvent(kStandardScanEvent, outcome);
    if (!storage::DeviceAborted && (result == scan::kScanCompleted || result == scan::kScanStopped)) {
        FLog.AddEvent(kStandardScanEvent, ScanFoundText(scan));
    }
    if (storage::DeviceAborted) {
        storage::DeviceAborted = false;
        FUi.ShowMessage(MessageKind::Warning, kScanOfflineMessage, kAppTitle);
    }
    return result;
}

void StandardScanCommand::Stop() {
    if (auto* s = FCurrent.load()) s->TerminateProcess();
}

}  // namespace brenvale::app
