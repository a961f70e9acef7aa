#include "app/standard_scan.h"

#include <fmt/format.h>

#include "storage/device_events.h"

namespace brenvale::app {

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
