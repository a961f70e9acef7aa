#pragma once
// "Recover": copies chosen entries of a scanned volume to a destination folder on another
// disk, with the counters and failure lines of the results dialog.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/event_log.h"
#include "app/user_interface.h"
#include "platform/platform.h"
#include "scan/undelete.h"

namespace brenvale::app {

inline constexpr char kRecoverEvent[] = "Recover";
inline constexpr char kRecoverFailedFormat[] = "Recover \"{}\" failed due to \"{}\"";
inline constexpr char kDestinationOnSourceCaption[] = "Warning";
inline constexpr char kDestinationOnSource[] =
    "The folder you selected is on the drive being recovered.\r\nRecovering to that drive can overwrite the files "
    "you are trying to\r\nrecover. Please choose a folder on a different drive.";
inline constexpr char kRecoverDeviceOffline[] =
    "The device is offline - recovery cannot proceed.\r\nReconnect the device, then click \"Update Drive List\" to "
    "refresh the device list.";
inline constexpr char kRecoverWentOffline[] =
    "The device went offline - recovery was aborted.\r\nFiles already recovered remain in the destination folder. "
    "Reconnect the device, then click \"Update Drive List\" to refresh the device list.";
inline constexpr char kSummaryTitle[] = "Recovery Summary";
inline constexpr char kProcessedLabel[] = "Processed Files:";
inline constexpr char kRecoveredLabel[] = "Recovered Files:";
inline constexpr char kFailedLabel[] = "Failed Files:";
inline constexpr char kDestinationUnwritable[] = "Cannot write to the destination folder \"{}\": {}";
// The running recovery in status panel 1: files done of files to do, the file, bytes done of bytes to do.
inline constexpr char kRecoveringFormat[] = "Recovering {} of {}: {} ({} of {})";
inline constexpr char kRecoveryFinishedFormat[] = "Recovery finished: {} {}, {} {}, {} {}";
inline constexpr char kRecoveryStoppedFormat[] =
    "Recovery stopped by the user after {} of {} files: {} recovered, {} failed, {} not processed";
// Said under the counters of a stopped recovery.
inline constexpr char kRecoveryStoppedNote[] = "The recovery was stopped: {} of {} files were recovered.";
inline constexpr char kRecoveredToFormat[] = "Recovered to: {}";
// Said under the counters when a file failed: what became of it.
inline constexpr char kFailedFilesRemoved[] =
    "Files that failed were removed from the destination; no partial copy is kept.";

// One thing to recover: a file or a folder entry (null with `folder` set: the whole volume),
// or a node of the job's backend.
struct RecoveryTarget {
    const scan::TScanEntry* entry = nullptr;
    std::string name;
    bool folder = false;
    std::int64_t node = -1;
};

// Writes a job's targets other than through its scan object's own recovery (the entries the
// advanced scan rebuilt), reporting through the same scan object's callbacks.
class RecoveryBackend {
public:
    virtual ~RecoveryBackend() = default;
    virtual scan::TUndelete::RecoveryTotals Count(const RecoveryTarget& target) = 0;
    virtual void Recover(const RecoveryTarget& target, const std::string& destination) = 0;
};

// The targets of one volume: recovered through that volume's scan object.
struct RecoveryJob {
    scan::TUndelete* scan = nullptr;
    std::vector<RecoveryTarget> targets;
    bool onlyDeleted = false;
    RecoveryBackend* backend = nullptr;  // null: the scan object's recovery
};

enum class RecoveryOutcome { Done, DestinationRefused, DestinationUnwritable, DeviceOffline, WentOffline, Stopped, Busy };

struct RecoverySummary {
    RecoveryOutcome outcome = RecoveryOutcome::Done;
    int numProcessed = 0;
    int numRecovered = 0;
    int numFailed = 0;
    std::vector<std::string> DetailsList;
    std::string Destination;     // where the files went
    std::uint64_t FilesToDo = 0;  // what the targets held when the recovery started
    std::uint64_t BytesToDo = 0;
    std::uint64_t BytesDone = 0;  // bytes of the files finished, recovered or not

    // Counts one report of the scan object's recovery callback: a file starting, succeeding or
    // failing (its failure line added), or a folder about to be created, whose failure is
    // listed but not counted (its files are).
    void Count(const std::string& name, std::int32_t info);
    bool folderReported = false;  // the last report was a folder's start
};

class RecoverCommand {
public:
    RecoverCommand(UserInterface& ui, EventLog& log, platform::Platform& os) : FUi(ui), FLog(log), FOs(os) {}

    // Refuses a destination on the scanned disk area and a device that is offline; otherwise
    // recovers every target into `destination` (created when missing). With `onlyDeleted`
    // folders keep only deleted entries and the folders that lead to them.
    RecoverySummary Run(scan::TUndelete& scan, const std::vector<RecoveryTarget>& targets,
                        const std::string& destination, bool onlyDeleted);
    // The same for targets of several volumes (search hits), each through its own scan object.
    RecoverySummary Run(const std::vector<RecoveryJob>& jobs, const std::string& destination);
    // Told which scan object a running recovery reads, so a Stop can reach it.
    std::function<void(scan::TUndelete*)> OnCurrentScan;
    // Reads the volume's first sector; false, after the offline warning, when the device
    // does not answer.
    bool DeviceOnline(scan::TUndelete& scan);
    // Asks the running recovery to stop; safe from a signal handler.
    void Stop();

private:
    UserInterface& FUi;
    EventLog& FLog;
    platform::Platform& FOs;
    std::atomic<scan::TUndelete*> FCurrent{nullptr};
    bool FActionInProgress = false;
};

}  // namespace brenvale::app
