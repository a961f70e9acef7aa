#pragma once
// The "Properties" page: (field, value) rows describing the selected tree node or list row.
// A row with an empty field and value separates groups.

#include <string>
#include <vector>

#include "app/list_row.h"
#include "app/tree_node.h"
#include "app/type_names.h"

namespace brenvale::health {
class HealthCache;
}

namespace brenvale::app {

struct PropertyRow {
    std::string Field, Value;
    bool operator==(const PropertyRow&) const = default;
};

// Rows of a tree node: the computer, a drive, an image, a volume or stretch, a folder.
// Nodes with nothing to describe ("Lost Partitions", the result nodes) give none. The health
// and TRIM rows show what `health` has cached ("-" without it).
std::vector<PropertyRow> NodeProperties(const TreeNode& node, TypeNames& types,
                                        const health::HealthCache* health = nullptr);
// Rows of a file-list row of `listedNode`'s list: an entry of its volume, or, in the device
// list of the computer, a drive, an image or "Lost Partitions", the child node the row shows.
std::vector<PropertyRow> RowProperties(const TreeNode& listedNode, const ListRow& row, TypeNames& types,
                                        const health::HealthCache* health = nullptr);
// Rows of a row of the standard scan's entries of `scan` (search hits name their scan here).
std::vector<PropertyRow> EntryProperties(const scan::TUndelete& scan, const ListRow& row);

}  // namespace brenvale::app
