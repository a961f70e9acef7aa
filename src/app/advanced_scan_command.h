#pragma once
// "Advanced Scan", "Resume Adv Scan" and "Stop (Save Scan Progress)": the range choice, the
// run with its event-log lines and progress, the checkpoint saved at a stop and removed when
// the scan completes, and the warning for a device that went offline.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "app/adv_volume.h"
#include "app/event_log.h"
#include "app/user_interface.h"
#include "platform/platform.h"

namespace brenvale::app {

inline constexpr char kAdvScanEvent[] = "Advanced Scan";
inline constexpr char kAdvResumeLogText[] = "Resume from checkpoint";
inline constexpr char kAdvRangeCancelledText[] = "Cancelled at scan range selection";
inline constexpr char kAdvRangeFormat[] = "Scan range: {}..{}";
inline constexpr char kCheckpointSavedText[] = "Checkpoint saved";
inline constexpr char kCheckpointNotSavedText[] = "Checkpoint not saved";
inline constexpr char kAdvOfflineMessage[] =
    "The device went offline - the advanced scan was aborted. Bad-sector/offline details were written to the Event "
    "Log.\r\nReconnect the device, click \"Update Drive List\" to refresh the device list, then scan again.";
inline constexpr char kCheckpointFilter[] = "Scan checkpoint file (*.qvc)|*.qvc|All files (*.*)|*.*";
inline constexpr char kCheckpointExt[] = "qvc";
inline constexpr char kSaveCheckpointTitle[] = "Save Scan Progress";
inline constexpr char kResumeCheckpointTitle[] = "Resume Adv Scan";
// The file a completed scan removes when no checkpoint was chosen, in the program's data folder.
inline constexpr char kDefaultCheckpointName[] = "adv_scan.qvc";
// Status panel 1 while the pass runs: done of total, speed, time left.
inline constexpr char kAdvPassFormat[] = "Advanced scan: {}% ({} of {}, {}/s), {} left";

// What a run ended with.
enum class AdvScanOutcome {
    Cancelled,   // the range window or the checkpoint was refused: nothing scanned
    Completed,
    Stopped,
    DeviceLost,  // warned; the tree is not rebuilt
};

class AdvancedScanCommand {
public:
    // `checkpointPath` is the current checkpoint file (the configuration keeps it); `onPathChanged`
    // runs when the command changed it.
    AdvancedScanCommand(UserInterface& ui, EventLog& log, platform::Platform& os, std::string& checkpointPath,
                        std::function<void()> onPathChanged = {})
        : FUi(ui), FLog(log), FOs(os), FCheckpointPath(checkpointPath), FOnPathChanged(std::move(onPathChanged)) {}

    // A new scan of the volume: the range window, then the pass. `nodePath` names the volume
    // in the event log. `saveAtStop` is read when the scan stopped: true when the stop was
    // "Stop (Save Scan Progress)".
    AdvScanOutcome Run(AdvVolume& v, const std::string& nodePath, const std::atomic<bool>& saveAtStop);
    // Asks for a checkpoint file, checks that it belongs to the volume (else says why) and
    // goes on from it.
    AdvScanOutcome Resume(AdvVolume& v, const std::string& nodePath, const std::atomic<bool>& saveAtStop);

    // Runs once the range or checkpoint is settled, just before the pass (the window drops
    // what the scan is about to replace).
    std::function<void()> BeforePass;

private:
    AdvScanOutcome scan(AdvVolume& v, const std::atomic<bool>& saveAtStop);
    // The save dialog until a location the scan does not cover is chosen; false when cancelled.
    bool chooseCheckpointFile(const AdvVolume& v);
    void setPath(std::string path);

    UserInterface& FUi;
    EventLog& FLog;
    platform::Platform& FOs;
    std::string& FCheckpointPath;
    std::function<void()> FOnPathChanged;
};

}  // namespace brenvale::app
