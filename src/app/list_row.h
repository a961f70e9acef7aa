#pragma once
// One row of the file list, as the folder view fills it and the filter keeps copies of it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "app/node_kind.h"

namespace brenvale::scan {
struct TScanEntry;
class TUndelete;
}

namespace brenvale::app {

struct TreeNode;

// What a row shows: a child node of the device list, or an entry of a scan.
enum class RowKind : std::uint8_t {
    Device,  // the child node's kind tells which
    Folder,
    DeletedFolder,
    DamagedFolder,
    File,
    DeletedFile,
    AdvancedFolder,  // a folder of the "!!! Advanced Extra !!!" tree
};

constexpr bool IsFolderRow(RowKind k) {
    return k == RowKind::Folder || k == RowKind::DeletedFolder || k == RowKind::DamagedFolder ||
           k == RowKind::AdvancedFolder;
}
constexpr bool IsFileRow(RowKind k) { return k == RowKind::File || k == RowKind::DeletedFile; }

// Where a row's entry came from; the recovery and statistics commands read it.
enum class RowOrigin : std::int16_t {
    None = -1,  // device rows
    StandardFat = 10,
    StandardNtfs = 11,
    AdvancedFat = 100,
    AdvancedNtfs = 101,
};

// What a row stands for: an entry of a scan, or (in the device list) the child node. It is
// also the row's identity: selections are kept as sets of it across filtering and sorting.
class RowData {
public:
    RowData() = default;
    explicit RowData(const scan::TScanEntry* entry) {
        if (entry) FTarget = entry;
    }
    explicit RowData(const TreeNode* node) {
        if (node) FTarget = node;
    }

    // The entry of an entry row; null for device rows and empty rows.
    const scan::TScanEntry* Entry() const {
        const auto* e = std::get_if<const scan::TScanEntry*>(&FTarget);
        return e ? *e : nullptr;
    }
    // The child node of a device row; null for entry rows and empty rows.
    const TreeNode* Node() const {
        const auto* n = std::get_if<const TreeNode*>(&FTarget);
        return n ? *n : nullptr;
    }
    bool Empty() const { return std::holds_alternative<std::monostate>(FTarget); }

    friend bool operator==(const RowData&, const RowData&) = default;

    struct Hash {
        std::size_t operator()(const RowData& d) const { return std::hash<Target>{}(d.FTarget); }
    };

private:
    using Target = std::variant<std::monostate, const scan::TScanEntry*, const TreeNode*>;
    Target FTarget;
};

// Columns of the file list.
enum : int { kColName = 0, kColType = 1, kColStatus = 2, kColSize = 3, kColModified = 4, kColLast = 5 };

struct ListRow {
    std::string Caption;
    RowKind Kind = RowKind::Device;
    RowOrigin Origin = RowOrigin::None;
    RowData Data;                       // the entry or, in the device list, the child node
    // Device rows: the child node's kind, kept by value because the window paints its copy of
    // the rows after the tree they came from may have been rebuilt.
    NodeKind DeviceKind = NodeKind::Computer;
    std::vector<std::string> SubItems;  // Type, Status, Size, Modified, LBA / Directory / File System

    // Sort keys that the texts cannot give back exactly.
    bool Folder = false;
    std::uint8_t Status = 0;        // 0 live, 1 deleted, 2 damaged, 3 deleted by its folder
    bool InUse = true;              // NTFS: the record is in use
    std::uint64_t Size = 0;         // the entry's whole size, which the "Size" order compares
    double Modified = -1;           // day number since 1899-12-30 (local time); -1 when empty

    // The scan that found the entry (its volume): what reads, describes and recovers it.
    scan::TUndelete* Scan = nullptr;
    // Rows of the "!!! Advanced Extra !!!" tree: the node of the volume's rebuilt tree.
    std::int64_t AdvNode = -1;
};

}  // namespace brenvale::app
