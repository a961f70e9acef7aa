#pragma once
// What the folder view shows after a scan: folder nodes under a volume node, the rows of the
// file list for a node, the device list of disk nodes, the column orders and the status-bar
// texts. No widgets: the desktop window draws what these return.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/list_row.h"
#include "app/tree_node.h"

namespace brenvale::app {

class TypeNames;

inline constexpr char kStatusDeletedText[] = "Deleted";
inline constexpr char kStatusDamagedText[] = "Corruptted";
inline constexpr char kOpeningDirectoryText[] = " Opening directory...";

// Captions and pixel widths of the list columns for the rows of a node of this kind.
std::vector<std::string> ListColumnCaptions(NodeKind nodeKind);
std::vector<int> ListColumnWidths(NodeKind nodeKind);

// The folder key of a volume or folder node (what GetDirBounds takes); nullopt for other nodes.
std::optional<std::uint64_t> FolderKeyOf(const TreeNode& node);

// Called while long fills run: a percentage of rows done (or -1 when the fill ends) at most
// every 50 ms, after which the caller may process its events.
using ViewProgress = std::function<void(int percent)>;

// Replaces the node's children by one node per subfolder found by the scan. With
// `deletedOnly` folders whose subtree holds no deleted entry are left out.
void FillFolderNodes(TreeNode& node, bool deletedOnly, const ViewProgress& progress = {});
// FillFolderNodes for the node and for each of its folder children.
void FillFolderLevels(TreeNode& node, bool deletedOnly, const ViewProgress& progress = {});

// The rows of the entries the scan found in a volume or folder node, sorted by name;
// `deletedOnly` as above, plus files that are not deleted.
std::vector<ListRow> ListFolderEntries(const TreeNode& node, TypeNames& types, bool deletedOnly,
                                       const ViewProgress& progress = {});
// Search hits: rows of `hits` (found in `scan`), with their folder path as the last column.
std::vector<ListRow> ListSearchHits(scan::TUndelete& scan, const std::vector<scan::TScanEntry*>& hits,
                                    TypeNames& types, const ViewProgress& progress = {});
// The children of "My Computer", of a disk or image, or of "Lost Partitions", one row each.
std::vector<ListRow> DeviceList(const TreeNode& node);

// The order of two rows by a column: negative, 0 or positive. `searchList` selects the order
// of the search-results list.
int CompareRows(int column, bool searchList, const ListRow& a, const ListRow& b);
// Sorts rows by a column in either direction (stable, so equal rows keep their order).
void SortRows(std::vector<ListRow>& rows, int column, bool ascending, bool searchList);

// The "/"-joined display names of an entry's folders from the top: "/Docs/2024".
std::string EntryFolderPath(const scan::TUndelete& scan, const scan::TScanEntry* entry);

// The four status-bar panels for a selected node and the number of rows it lists.
struct StatusBarTexts {
    std::array<std::string, 4> Panels;
};
StatusBarTexts UpdateStatusBar(const TreeNode& node, std::size_t rowCount, const TreeNode* searchedNode);

}  // namespace brenvale::app
