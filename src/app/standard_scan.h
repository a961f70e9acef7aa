#pragma once
// "Simple Scan": the standard scan of one volume, with its event-log lines and the warning
// for a device that went offline during it.

#include <string>

#include "app/event_log.h"
#include "app/user_interface.h"
#include "scan/undelete.h"

namespace brenvale::app {

inline constexpr char kStandardScanEvent[] = "Standard Scan";
inline constexpr char kScanStartingFormat[] = "Starting scan \"{}\"";
inline constexpr char kScanCompletedText[] = "Scan progress completed";
inline constexpr char kScanUserTerminatedText[] = "Scan progress finished with return code \"User Terminated\"";
inline constexpr char kScanAbnormalText[] = "Scan progress abnormal finished";
inline constexpr char kScanOfflineLogText[] = "Scan aborted - the device went offline";
inline constexpr char kScanOfflineMessage[] =
    "The device went offline - the scan was aborted.\r\nReconnect the device, click \"Update Drive List\" to "
    "refresh the device list, then scan again.";

// What a scan found, for the event log and the status bar.
inline constexpr char kScanFoundFormat[] = "{} files and folders, {} deleted";
inline constexpr char kScanFoundNothingText[] = "No files or folders found";

// "13 files and folders, 6 deleted": the entries of the scan, without the "." and ".." of
// each folder, and how many of them are deleted in themselves.
std::string ScanFoundText(const scan::TUndelete& scan);

// Run's answer while another operation is running.
inline constexpr int kStandardScanBusy = -3;

class StandardScanCommand {
public:
    StandardScanCommand(UserInterface& ui, EventLog& log) : FUi(ui), FLog(log) {}

    // Scans `scan` (NormalScan(1)); `nodePath` names the volume in the event log. Returns the
    // scan's result (0, 1, -1) or kStandardScanBusy.
    int Run(scan::TUndelete& scan, const std::string& nodePath);
    // Asks the running scan to stop; safe from a signal handler.
    void Stop();
    bool ActionInProgress() const { return FActionInProgress; }

private:
    UserInterface& FUi;
    EventLog& FLog;
    std::atomic<scan::TUndelete*> FCurrent{nullptr};
    bool FActionInProgress = false;
};

}  // namespace brenvale::app
