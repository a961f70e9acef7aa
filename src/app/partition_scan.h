#pragma once
// "Search for Lost Partitions": the full search over a chosen range of a drive, with the
// checkpoint that a stopped search leaves and the next search of the same drive offers.

#include <string>

#include "app/event_log.h"
#include "app/user_interface.h"
#include "partitions/parti_checkpoint.h"
#include "partitions/physical_drv.h"

namespace brenvale::app {

inline constexpr char kPartitionScanEvent[] = "Partition Scan";
inline constexpr char kLostFoundFormat[] = "{} lost partition(s) found";
inline constexpr char kLostFoundNothingText[] = "No lost partitions found";
inline constexpr char kLostFoundSoFarFormat[] = "{} lost partition(s) found before the stop";
// What a completed (kSearchDone) or stopped search found, as the event log and status bar say it.
std::string LostFoundText(int result, std::size_t found);
inline constexpr char kCheckpointSaveFailed[] = "Failed to save the checkpoint - this aborted scan cannot be resumed.";
inline constexpr char kStoppedBeforeFirstBatch[] =
    "The scan was stopped right after it started - no batch completed, so there is no progress to save.\r\n"
    "Let the scan run for a while before stopping, so a checkpoint can be saved for resuming.";
inline constexpr char kPartitionScanOffline[] =
    "The device went offline - the partition scan was aborted. Bad-sector/offline details were written to the "
    "Event Log.\r\nReconnect the device, click \"Update Drive List\" to refresh the device list, then scan again.";

// The node a scan was started on: its text and the range it proposes.
struct PartitionScanTarget {
    std::string Text;
    SectorRange Proposed;
};

// Outcome of PartitionScanCommand::Run besides the search results.
inline constexpr int kPartitionScanCancelled = -2;  // the range window was cancelled
inline constexpr int kPartitionScanBusy = -3;       // another operation is running

class PartitionScanCommand {
public:
    // `checkpointPath` is the configured path (particheckpointpath); it is updated the way the
    // configuration keeps it. `dataDir` holds the default checkpoint.
    PartitionScanCommand(UserInterface& ui, EventLog& log, std::string& checkpointPath, std::string dataDir);

    // Runs the search on `drv`; returns the search result (0, 1, 2, -1) or one of the two
    // values above.
    int Run(partitions::TPhysicalDrv& drv, const PartitionScanTarget& target);

    bool ActionInProgress() const { return FActionInProgress; }
    // The file a resume offer looks at.
    std::string CheckpointFile() const;

    // The question asked when a checkpoint of this drive is found.
    static std::string ResumeQuestion(const partitions::TPartiCheckpointData& data);

private:
    // Loads and checks the checkpoint; true when the user accepted it and drv was primed.
    bool offerResume(partitions::TPhysicalDrv& drv, SectorRange& range);
    void saveAfterStop(partitions::TPhysicalDrv& drv, const SectorRange& range);

    UserInterface& FUi;
    EventLog& FLog;
    std::string& FCheckpointPath;
    std::string FDataDir;
    bool FActionInProgress = false;
    bool FPartiChkEnabled = false;
    bool FPartiChkResuming = false;
    std::uint8_t FPartiChkFrame = 0;
    std::int64_t FPartiChkRefStart = 0;
};

}  // namespace brenvale::app
