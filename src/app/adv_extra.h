#pragma once
// The "!!! Advanced Extra !!!" subtree of a volume node: its folder nodes built from the
// volume's rebuilt tree, their kinds and folder keys, the rows of the file list for them, the
// node of an entry's folder and the display path of that folder.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/folder_view.h"
#include "app/list_row.h"
#include "app/tree_node.h"

namespace brenvale::app {

class TypeNames;

// What a node of the subtree stands for; recovery, statistics and the adjustment dispatch on it.
enum class AdvKind : std::uint8_t {
    FatFolder = 10,        // a FAT12/16 folder entry
    Fat32Folder = 11,      // a FAT32 folder entry
    NtfsFolder = 12,       // a harvested NTFS folder record
    Extra = 20,            // "!!! Advanced Extra !!!"
    FatRoot = 21,
    ExFatRoot = 22,
    FatOrphan = 23,        // "Folder%.8X": a directory no entry leads to
    ExFatSegment = 25,     // a folder of the exFAT tree (a run of directory sectors)
    NtfsRoot = 26,
    ExFatEntryFolder = 27, // an exFAT folder entry whose data starts no run
};

// The folder key of a node: an NTFS record number, or a sector range (relative to the
// volume); -1 where not set.
struct AdvKey {
    std::int64_t ntkey = -1;
    std::int64_t lo = -1;
    std::int64_t hi = -1;
};

// "N" and the record number; "F" lo ":" hi for a range; "F" lo for one sector.
std::string AdvKeyString(std::int64_t ntkey, std::int64_t lo, std::int64_t hi);
// Equal keys, or a single sector `want` ("F" n) inside a range `have` ("F" lo ":" hi).
bool AdvKeyMatches(const std::string& want, const std::string& have);

// The kind of a folder node of the volume's rebuilt tree; nullopt for a file.
std::optional<AdvKind> AdvKindOf(const AdvVolume& v, std::size_t node);
// The folder key of a folder node; nullopt when the geometry it needs is unknown.
std::optional<AdvKey> AdvDirNodeKey(const AdvVolume& v, std::size_t node);

// Whether a tree node belongs to the subtree, and the volume node and rebuilt tree it shows.
bool IsAdvNode(const TreeNode* node);
TreeNode* AdvVolumeNodeOf(TreeNode* node);
const TreeNode* AdvVolumeNodeOf(const TreeNode* node);
AdvVolume* AdvVolumeOf(const TreeNode* node);
// The kind of a node of the subtree; nullopt for other nodes.
std::optional<AdvKind> AdvKindOfNode(const TreeNode* node);

// Replaces the volume node's "!!! Advanced Extra !!!" subtree by one built from its rebuilt
// tree: the top node first among the volume's children, under it "exFAT Root", "FAT Root" and
// "NTFS Root", each with the folders below it. Returns the top node.
TreeNode* BuildAdvancedExtra(TreeNode& volume);
// The volume's "!!! Advanced Extra !!!" node; null when it has none.
TreeNode* AdvFindExtraNode(TreeNode& volume);
// The node below the top for a part: "NTFS Root", "FAT Root" or "exFAT Root".
TreeNode* AdvContainerNode(TreeNode& volume, AdvKind root);

// The rows of a node of the subtree: its folders and files.
std::vector<ListRow> ListAdvancedRows(const TreeNode& node, TypeNames& types, const ViewProgress& progress = {});
// The row a volume's list shows for its "!!! Advanced Extra !!!" node.
ListRow AdvExtraRow(const TreeNode& extra, TypeNames& types);

// The folder node that holds a rebuilt entry: the last node of the subtree whose key matches
// the entry's folder ("N" parent record, or "F" the sector the entry was read from), else the
// node of its parent in the rebuilt tree. Null when neither is found.
TreeNode* AdvFindDirNode(TreeNode& volume, const scan::TScanEntry* entry);
// "/!!! Advanced Extra !!!/FAT Root/Folder00001234/" : the display path of that folder, ending
// in "/"; "/!!! Advanced Extra !!!/.../" when none is known.
std::string AdvGetFullPath(TreeNode& volume, const scan::TScanEntry* entry);

}  // namespace brenvale::app
