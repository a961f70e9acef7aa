#pragma once
// The drive tree without widgets: one node per source the user can scan (volumes, drives,
// images, their partitions, free space and lost partitions), the folders a scan found below
// them, and the two result nodes. A node's icon index tells its kind everywhere.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "partitions/physical_drv.h"
#include "scan/undelete.h"

namespace brenvale::app {

// Icon indexes, which are also the node and row kinds.
enum : int {
    kIconComputer = 0,
    kIconDisk = 1,
    kIconLostPartitions = 2,
    kIconImage = 3,
    kIconFloppy = 4,
    kIconVolume = 5,           // a volume, a partition or a lost partition
    kIconWholeDisk = 6,        // "Total Disk Space" and "Free Disk Space"
    kIconFolder = 7,
    kIconDeletedFolder = 8,
    kIconDamagedFolder = 9,
    kIconFolderOpen = 10,      // selected icon of a live folder
    kIconDeletedFolderOpen = 11,
    kIconFile = 12,
    kIconDeletedFile = 13,
    kIconAdvanced = 14,
    kIconAdvancedOpen = 15,
    kIconSearchResults = 16,
    kIconLostFiles = 17,
    kIconFileType = 18,
};

inline constexpr char kMyComputerText[] = "My Computer";
inline constexpr char kWholeDiskText[] = "Total Disk Space";
inline constexpr char kFreeSpaceText[] = "Free Disk Space";
inline constexpr char kLostPartitionsText[] = "Lost Partitions";
inline constexpr char kLostFilesText[] = "Lost Files by Type";
inline constexpr char kSearchResultsText[] = "Search Results";
inline constexpr char kNodeStateError[] = "Node StateIndex Error.";

// State bits of scan-capable nodes.
inline constexpr int kStateScanStarted = 4;  // a standard scan ran: double-click offers no scan
inline constexpr int kStateFoldersBuilt = 2;  // folder nodes of its children exist

struct TreeNode {
    int ImageIndex = kIconComputer;
    int SelectedIndex = kIconComputer;
    std::string Text;
    TreeNode* Parent = nullptr;
    bool Expanded = false;

    // What the node stands for; drives and images own their drive object, volumes their
    // device and partition record, scannable nodes their scan object. Folder nodes borrow the
    // entry from the scan object of the volume above them.
    std::unique_ptr<partitions::TPhysicalDrv> OwnedDrive;
    std::unique_ptr<storage::TDevice> OwnedDevice;
    std::unique_ptr<partitions::TPartition> OwnedPartition;
    std::unique_ptr<scan::TUndelete> OwnedScan;
    partitions::TPhysicalDrv* Drive = nullptr;  // drive and image nodes
    scan::TUndelete* Scan = nullptr;            // volume, partition, free-space, lost-partition nodes
    scan::TScanEntry* Entry = nullptr;          // folder nodes

    // Declared last so children, whose scan objects read through this node's drive, go first.
    std::vector<std::unique_ptr<TreeNode>> Children;

    TreeNode* AddChild(std::unique_ptr<TreeNode> child);
    TreeNode* AddChild(int icon, std::string text);
    // Inserts before the child at `index` (at the end when index is past the last child).
    TreeNode* InsertChild(std::size_t index, std::unique_ptr<TreeNode> child);
    void ClearChildren() { Children.clear(); }
    int Index() const;  // position among the parent's children; -1 for the root

    // Scan-capable nodes keep their state bits as a negative value; others have 0.
    void MakeScanCapable() { FStateIndex = -1; }
    bool ScanCapable() const { return FStateIndex < 0; }
    // Both throw std::logic_error(kNodeStateError) on a node that is not scan-capable.
    bool HasState(int bit) const;
    void SetState(int bit);

private:
    int FStateIndex = 0;
};

// The scan object of the volume a node belongs to (the node's own, or the nearest above).
scan::TUndelete* ScanOf(const TreeNode* node);
// The drive or image node above a node (or the node itself).
TreeNode* DriveNodeOf(TreeNode* node);
// True when the node lies below a "Lost Partitions" node.
bool UnderLostPartitions(const TreeNode* node);
// The node's text preceded by those of its ancestors below the root, joined with "\".
std::string NodePath(const TreeNode* node);
// The partition record of a scannable node, null for others.
partitions::TPartition* PartitionOf(const TreeNode* node);

}  // namespace brenvale::app
