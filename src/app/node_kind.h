#pragma once
// What a node of the drive tree stands for. Code that needs to know what a node is asks its
// kind; the icon it shows follows from the kind (app/kind_icons.h) and says nothing by itself.

#include <cstdint>

namespace brenvale::app {

enum class NodeKind : std::uint8_t {
    Computer,        // the root, "My Computer"
    Disk,            // a physical drive
    LostPartitions,  // "Lost Partitions" below a drive or image
    Image,           // a drive image
    Floppy,          // a volume on a floppy drive (the kernel's fd0, fd1, ...)
    Volume,          // any other volume, a partition or a lost partition
    DiskSpace,       // "Total Disk Space" and "Free Disk Space"
    Folder,          // a folder found by a standard scan
    DeletedFolder,
    DamagedFolder,
    AdvancedExtra,   // a node of the "!!! Advanced Extra !!!" subtree
    SearchResults,   // "Search Results"
    LostFiles,       // "Lost Files by Type"
    FileType,        // one file type below "Lost Files by Type"
};

// Nodes whose list shows their children, one row each: the root, drives, images, "Lost Partitions".
constexpr bool ListsDevices(NodeKind k) {
    return k == NodeKind::Computer || k == NodeKind::Disk || k == NodeKind::LostPartitions || k == NodeKind::Image;
}

// Nodes that carry a scan object of their own: volumes, partitions, lost partitions, the whole
// disk and free space.
constexpr bool IsVolumeKind(NodeKind k) {
    return k == NodeKind::Floppy || k == NodeKind::Volume || k == NodeKind::DiskSpace;
}

// Folder nodes built from the entries of a standard scan.
constexpr bool IsFolderKind(NodeKind k) {
    return k == NodeKind::Folder || k == NodeKind::DeletedFolder || k == NodeKind::DamagedFolder;
}

// Nodes whose list shows the entries of a standard scan: a volume or one of its folders.
constexpr bool ListsFolderEntries(NodeKind k) { return IsVolumeKind(k) || IsFolderKind(k); }

// Nodes whose list gathers entries from many folders, each with its folder path.
constexpr bool ListsResults(NodeKind k) {
    return k == NodeKind::SearchResults || k == NodeKind::LostFiles || k == NodeKind::FileType;
}

}  // namespace brenvale::app
