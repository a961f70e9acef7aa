#pragma once
// "Recover" of the "Raw Recovery" window: writes the chosen hits to a folder on another disk
// under the names the list shows, with the counters and details of "Recovery Summary".

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "app/event_log.h"
#include "app/raw_recovery_model.h"
#include "app/recover_command.h"
#include "app/user_interface.h"
#include "platform/platform.h"
#include "raw/file_types.h"
#include "scan/undelete.h"

namespace brenvale::app {

inline constexpr char kRawRecoverEvent[] = "Raw Recovery";
// The folder picker's title, as for every recovery.
inline constexpr char kRawRecoverFolderTitle[] = "Select the folder to recover to";
inline constexpr char kRawRecoveringFormat[] = " Recovering: {} of {}";
inline constexpr char kRawRecoveredFormat[] = " Recovered: {} files";
inline constexpr char kRawRecoveryStartFormat[] = "Starting raw recovery of {} files to \"{}\"";

class RawRecoverCommand {
public:
    RawRecoverCommand(UserInterface& ui, EventLog& log, platform::Platform& os) : FUi(ui), FLog(log), FOs(os) {}

    // Asks for a folder (again after refusing one on the scanned object; nothing when
    // cancelled), then writes each row's hit under its caption until done or stopped, and
    // shows the summary. `folder` is where the picker opens and, after a run, where the files
    // went. False when nothing was recovered because there was nothing to do or no folder.
    bool Run(scan::TUndelete& scan, const raw::SizeTables& sizes, const std::vector<RawRow>& rows, std::string& folder);
    // The two halves of Run, for a window that asks on its own thread and copies on another:
    // the folder (nullopt: cancelled), then the copy of the hits into it.
    std::optional<std::string> ChooseDestination(scan::TUndelete& scan, const std::string& initialDir);
    void Recover(scan::TUndelete& scan, const raw::SizeTables& sizes, const std::vector<raw::TFoundFile>& hits,
                 const std::vector<std::string>& names, const std::string& destination);
    // Ends the run before its next file; safe from another thread.
    void Stop() { FTerminated = true; }
    const RecoverySummary& Summary() const { return FSummary; }

private:
    UserInterface& FUi;
    EventLog& FLog;
    platform::Platform& FOs;
    std::atomic<bool> FTerminated{false};
    RecoverySummary FSummary;
};

}  // namespace brenvale::app
