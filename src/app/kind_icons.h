#pragma once
// The pictures of the drive tree and the file list, and the one mapping from what a node or
// row is to the picture it shows.

#include "app/node_kind.h"

namespace brenvale::app {

struct ListRow;

// Numbered as the window's image list holds them.
enum class Icon : int {
    Computer = 0,
    Disk = 1,
    LostPartitions = 2,
    Image = 3,
    Floppy = 4,
    Volume = 5,
    DiskSpace = 6,
    Folder = 7,
    DeletedFolder = 8,
    DamagedFolder = 9,
    FolderOpen = 10,
    DeletedFolderOpen = 11,
    File = 12,
    DeletedFile = 13,
    Advanced = 14,
    AdvancedOpen = 15,
    SearchResults = 16,
    LostFiles = 17,
    FileType = 18,
};
inline constexpr int kIconCount = 19;

// A node's icon, closed or open (while it is selected). Live and deleted folders and the
// advanced folders open; a damaged folder and every other node look the same either way.
Icon NodeIcon(NodeKind kind, bool open);

// A row's icon: that of its entry's kind, or for a device row the closed icon of its node's kind.
Icon RowIcon(const ListRow& row);

}  // namespace brenvale::app
