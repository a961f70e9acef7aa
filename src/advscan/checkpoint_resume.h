#pragma once
// Between a scan and its checkpoint: the record filled from a stopped (or completed) advanced
// scan, the checks that a file belongs to the object about to be scanned, and the hand-over of
// a loaded record to that scan for a resume or to read its results.

#include <cstdint>
#include <string>

#include "advscan/scan_checkpoint.h"

namespace brenvale::platform {
class Platform;
}
namespace brenvale::scan {
class TUndelete;
}
namespace brenvale::storage {
class TDevice;
}

namespace brenvale::advscan {

class AdvancedScan;

inline constexpr char kCheckpointNoObject[] = "Select the partition / data source to resume first.";
inline constexpr char kCheckpointMissingText[] = "The selected checkpoint file does not exist.";
inline constexpr char kCheckpointInvalidText[] =
    "The selected file is not a valid scan checkpoint (it may be corrupted or from a different version).";
inline constexpr char kCheckpointMismatch[] =
    "This checkpoint file does not match the selected partition / data source - cannot resume.";
inline constexpr char kCheckpointWholeDiskRefused[] =
    "The scan covers the whole of physical drive %d, so the checkpoint file cannot be saved on any volume of that "
    "drive.\r\n\r\nPlease choose a location on another disk.";
inline constexpr char kCheckpointAreaRefused[] =
    "The scan covers the disk area of this location, so the checkpoint file cannot be saved there.\r\n\r\nPlease "
    "choose a location on another disk.";

inline constexpr char kResultsUnfinished[] =
    "The file holds a scan that did not complete; resume it with --resume to complete it.";
inline constexpr char kResultsUnreadable[] = "The source could not be read.";

// The volume serial of the object's boot-sector copy, by file system; -1 when it has none.
std::int64_t CheckpointVolumeSerial(const scan::TUndelete& scan);
// An image's absolute path (so a scan started from another folder still matches); empty for
// drives.
std::string CheckpointSourceId(const storage::TDevice& device);
TCheckpointSource CheckpointSourceOf(const storage::TDevice& device, std::uint64_t objectSectors);
// "img_nopl_NTFS_1A2B3C4D.qvc" and the like; "scan.qvc" without a scan.
std::string CheckpointFileName(const scan::TUndelete* scan);
// True, with the reason, when `path` lies on the disk area the scan reads.
bool CheckpointLocationRefused(platform::Platform& os, const scan::TUndelete& scan, const std::string& path,
                               std::string& reason);

// The record of the scan as it stands, its lists borrowed from the scan. At a stop in the
// standard-scan stage only that stage's progress and finished entries go in.
TCheckpointData CheckpointFromScan(const AdvancedScan& adv);
// Whether a checkpoint can be taken: not during an exFAT volume's standard-scan stage.
bool CheckpointPossible(const AdvancedScan& adv);
// Writes the scan's checkpoint (filtered to finished folders at a standard-stage stop).
bool SaveAdvancedScanCheckpoint(const std::string& path, const AdvancedScan& adv, bool complete = false);

// Whether the loaded record was made from this object: the file system, the source (type, image
// path, drive number and model, sizes) and the start sector or the volume serial.
bool CheckpointMatches(const TCheckpointData& data, const AdvancedScan& adv);
// Loads `path` and matches it against the object: true with `data` loaded, else false with the
// reason and nothing kept.
bool ValidateCheckpoint(const std::string& path, const AdvancedScan* adv, TCheckpointData& data, std::string& reason);
// Hands a matched record over to the scan: the next AdvScan goes on where the saved one
// stopped (in the standard-scan stage, the pass, or only the stages when the pass was done).
// The record's entries are copied; it may be freed afterwards.
void ApplyCheckpoint(TCheckpointData& data, AdvancedScan& adv);
// A completed scan's checkpoint is of no more use: removed when it is this object's own.
void RemoveOwnCheckpoint(const std::string& path, const AdvancedScan& adv);

// Reads a saved completed scan into `adv` (the object it was made from): its entries, harvest
// and raw hits come back and the stages rebuild the trees; no sector is harvested again.
// False with the reason when the file is missing, damaged, of another source or unfinished.
bool LoadScanResults(const std::string& path, AdvancedScan& adv, std::string& reason);

}  // namespace brenvale::advscan
