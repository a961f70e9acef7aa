#include "app/kind_icons.h"

#include "app/list_row.h"

namespace brenvale::app {

Icon NodeIcon(NodeKind kind, bool open) {
    switch (kind) {
        case NodeKind::Computer: return Icon::Computer;
        case NodeKind::Disk: return Icon::Disk;
        case NodeKind::LostPartitions: return Icon::LostPartitions;
        case NodeKind::Image: return Icon::Image;
        case NodeKind::Floppy: return Icon::Floppy;
        case NodeKind::Volume: return Icon::Volume;
        case NodeKind::DiskSpace: return Icon::DiskSpace;
        case NodeKind::Folder: return open ? Icon::FolderOpen : Icon::Folder;
        case NodeKind::DeletedFolder: return open ? Icon::DeletedFolderOpen : Icon::DeletedFolder;
        case NodeKind::DamagedFolder: return Icon::DamagedFolder;
        case NodeKind::AdvancedExtra: return open ? Icon::AdvancedOpen : Icon::Advanced;
        case NodeKind::SearchResults: return Icon::SearchResults;
        case NodeKind::LostFiles: return Icon::LostFiles;
        case NodeKind::FileType: return Icon::FileType;
    }
    return Icon::Computer;
}

Icon RowIcon(const ListRow& row) {
    switch (row.Kind) {
        case RowKind::Device: return NodeIcon(row.DeviceKind, false);
        case RowKind::Folder: return Icon::Folder;
        case RowKind::DeletedFolder: return Icon::DeletedFolder;
        case RowKind::DamagedFolder: return Icon::DamagedFolder;
        case RowKind::File: return Icon::File;
        case RowKind::DeletedFile: return Icon::DeletedFile;
        case RowKind::AdvancedFolder: return Icon::Advanced;
    }
    return Icon::Computer;
}

}  // namespace brenvale::app
