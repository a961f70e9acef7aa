#pragma once
// "Lost Files by Type": one child per extension the user listed in "Options", each listing the
// deleted files of that extension a scan found, from every folder of the volume.

#include <map>
#include <string>
#include <vector>

#include "app/tree_node.h"
#include "app/user_interface.h"
#include "scan/undelete.h"

namespace brenvale::app {

inline constexpr char kPreparingFileListFormat[] = " Preparing file list for \"{}\" files";

// The extension a child of "Lost Files by Type" stands for ("mp3" of "MP3 File(*.mp3)").
std::string LostFileExtensionOf(const TreeNode& child);

class LostFilesByType {
public:
    // Makes the node's children match `extensions`: children of extensions no longer listed
    // go (with their lists), children of new ones are appended.
    void Sync(TreeNode& node, const std::vector<std::string>& extensions);
    // Fills every child's list from the scan's entries: deleted files named "*.ext". Reports
    // the child being prepared and the share done, and pumps between children.
    void Fill(TreeNode& node, scan::TUndelete& scan, UserInterface& ui);
    // The entries a child lists (empty before a fill).
    const std::vector<scan::TScanEntry*>& Entries(const TreeNode* child) const;
    // The scan object the lists came from; null before a fill.
    scan::TUndelete* Scan() const { return FScan; }
    // The tree was rebuilt: the lists point at scan objects that are gone.
    void Forget();

private:
    scan::TUndelete* FScan = nullptr;
    std::map<const TreeNode*, std::vector<scan::TScanEntry*>> FLists;
};

}  // namespace brenvale::app
