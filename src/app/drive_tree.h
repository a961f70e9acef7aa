#pragma once
// The drive tree: "My Computer" with the volumes, the physical drives and the loaded images,
// each drive with its partitions, free space and lost partitions, then the two result nodes.
// Built at start-up, rebuilt by "Update Drive List"; images are added one by one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/event_log.h"
#include "app/tree_node.h"
#include "app/user_interface.h"
#include "partitions/physical_drv.h"
#include "platform/platform.h"
#include "scan/undelete.h"
#include "storage/drive_enum.h"

namespace brenvale::app {

inline constexpr char kVolumeNotReadyEvent[] =
    "Drive %s: not ready - could not be loaded after %d attempt(s), skipped in the tree (%s)";
inline constexpr char kVolumeNotReadyMessage[] =
    "Drive %s is not ready. To recover files from drive %s, you should click\r\"Update Drive List\" menu after the "
    "drive is ready.";
inline constexpr char kDriveLoadFailedEvent[] = "Failed to load physical drive %d (%.2XH): %s";
inline constexpr char kDriveNotReadyMessage[] =
    "Physical drive %.2XH is not ready. To recover files from this drive, you\rshould click \"Update Drive List\" "
    "menu after the drive is ready.";
inline constexpr char kRefreshQuestion[] = "Current scan and search results will be abandoned.\r\rAre you sure?";
inline constexpr char kNoLabelText[] = "---";
inline constexpr char kNotInImageSuffix[] = " [not in image]";
inline constexpr char kPartialSuffix[] = " [partial]";

// A volume that cannot be opened is tried this many times, this far apart.
inline constexpr int kVolumeAttempts = 3;
inline constexpr unsigned kVolumeRetryMs = 500;
// Longest volume label that can be real, in characters.
inline constexpr std::size_t kMaxLabelChars = 32;

class DriveTree {
public:
    DriveTree(platform::Platform& os, UserInterface& ui, EventLog& log);
    DriveTree(const DriveTree&) = delete;
    DriveTree& operator=(const DriveTree&) = delete;

    // Empties the tree and fills it: the volumes (each tried up to kVolumeAttempts times), the
    // physical drives, then "Lost Files by Type" and "Search Results". A source that cannot
    // be loaded is left out with an event-log line and a message.
    void Build(const std::vector<storage::VolumeInfo>& volumes, const std::vector<std::uint8_t>& physicalDrives);

    // One "Drive I/O" line for each disk of the system that could not be opened, with its path
    // and the system's reason, so a tree without drives is explained.
    void ReportUnopenedDisks();

    // The node of one volume, appended to the root; the device's exception passes through.
    TreeNode* AddVolume(const storage::VolumeInfo& volume);
    // The node of a drive or image with its partition nodes, inserted before "Lost Files by
    // Type" (appended while that does not exist yet). `imageName` is shown without its folder.
    TreeNode* AddDrive(std::unique_ptr<partitions::TPhysicalDrv> drv, bool image, const std::string& imageName);
    // Opens an image file (or a block device by path) and adds it. Opening errors pass to the
    // caller and leave the tree as it was.
    TreeNode* LoadImage(const std::string& path, std::uint32_t rawSectorSize = 0);
    // Refills the "Lost Partitions" node of the drive `node` belongs to from its drive's
    // LostPartitionList.
    void RebuildLostPartitions(TreeNode* node);

    // "Update Drive List": nothing while an operation runs; otherwise asks, and on Yes
    // rebuilds the tree from a fresh enumeration and loads the images that were loaded again.
    // True when the tree was rebuilt.
    bool Refresh(bool actionInProgress);

    TreeNode* Root() { return &FRoot; }
    TreeNode* FileTypesNode() { return FFileTypes; }
    TreeNode* SearchResultsNode() { return FSearchResults; }

    // Where the volume is: its mount point, or its device path when it is not mounted. It
    // stands wherever a drive letter would.
    static std::string VolumeDisplayName(const storage::VolumeInfo& volume);
    // Whether a label read from a boot area can be a real one.
    static bool PlausibleLabel(const std::string& utf8);
    // " [not in image]", " [partial]" or empty.
    static std::string PartitionSuffix(const partitions::TPartition& p);

    // Waits between volume attempts; tests replace it.
    std::function<void(unsigned ms)> Sleep;
    // Installed on every scan object the tree creates, when set.
    scan::TOnRecover OnRecover;
    scan::TOnRecoverProgress OnRecoverProgress;

private:
    std::unique_ptr<TreeNode> newNode(NodeKind kind, std::string text) const;
    // Makes `node` scannable through a new scan object on `device` and `record`.
    scan::TUndelete& attachScan(TreeNode& node, storage::TDevice& device, partitions::TPartition& record);
    void addVolumeWithRetries(const storage::VolumeInfo& volume);
    void addPhysicalDrive(std::uint8_t number);
    bool deviceListed(const storage::VolumeInfo& volume) const;
    std::string partitionText(const partitions::TPhysicalDrv& drv, partitions::TPartition& record,
                              const scan::TUndelete& scan) const;
    void fillLostPartitions(TreeNode& lostNode, partitions::TPhysicalDrv& drv);

    platform::Platform& FOs;
    UserInterface& FUi;
    EventLog& FLog;
    TreeNode FRoot;
    TreeNode* FFileTypes = nullptr;
    TreeNode* FSearchResults = nullptr;
};

}  // namespace brenvale::app
