#pragma once
// One row of the file list, as the folder view fills it and the filter keeps copies of it.

#include <cstdint>
#include <string>
#include <vector>

namespace brenvale::app {

// Where a row's entry came from (the row's state index).
enum : int {
    kOriginStandardFat = 10,
    kOriginStandardNtfs = 11,
    kOriginAdvancedFat = 100,
    kOriginAdvancedNtfs = 101,
};

// Columns of the file list.
enum : int { kColName = 0, kColType = 1, kColStatus = 2, kColSize = 3, kColModified = 4, kColLast = 5 };

struct ListRow {
    std::string Caption;
    int ImageIndex = 0;
    int StateIndex = -1;            // origin marker; -1 for device rows
    const void* Data = nullptr;     // the entry (TScanEntry*) or, in the device list, the TreeNode*
    std::vector<std::string> SubItems;  // Type, Status, Size, Modified, LBA / Directory / File System

    // Sort keys that the texts cannot give back exactly.
    bool Folder = false;
    std::uint8_t Status = 0;        // 0 live, 1 deleted, 2 damaged, 3 deleted by its folder
    bool InUse = true;              // NTFS: the record is in use
    std::uint64_t Size = 0;         // the entry's whole size, which the "Size" order compares
    double Modified = -1;           // day number since 1899-12-30 (local time); -1 when empty
};

}  // namespace brenvale::app
