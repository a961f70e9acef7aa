#pragma once
// The drive tree without widgets: one node per source the user can scan (volumes, drives,
// images, their partitions, free space and lost partitions), the folders a scan found below
// them, and the two result nodes. A node's kind says what it is; its icons follow from that.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/adv_volume.h"
#include "app/node_kind.h"
#include "partitions/physical_drv.h"
#include "scan/undelete.h"

namespace brenvale::app {

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
    NodeKind Kind = NodeKind::Computer;
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
    // Volume nodes an advanced scan ran on; destroyed before the scan object it reads.
    std::unique_ptr<AdvVolume> Adv;
    // Nodes of the "!!! Advanced Extra !!!" subtree: the node of the volume's rebuilt tree.
    std::int64_t AdvIndex = -1;

    // Declared last so children, whose scan objects read through this node's drive, go first.
    std::vector<std::unique_ptr<TreeNode>> Children;

    TreeNode* AddChild(std::unique_ptr<TreeNode> child);
    TreeNode* AddChild(NodeKind kind, std::string text);
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
// The node's text preceded by those of its ancestors below the root, joined with "/".
std::string NodePath(const TreeNode* node);
// The partition record of a scannable node, null for others.
partitions::TPartition* PartitionOf(const TreeNode* node);

}  // namespace brenvale::app
