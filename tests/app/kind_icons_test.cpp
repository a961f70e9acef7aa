// The one mapping from node and row kinds to the pictures of the tree and the list: every kind
// keeps the picture (by its image-list number) that the tree and the list have always shown,
// and the kind groups the code asks about keep the members they have always had.

#include <gtest/gtest.h>

#include "app/kind_icons.h"
#include "app/list_row.h"
#include "app/tree_node.h"

namespace brenvale::app {
namespace {

struct NodeCase {
    NodeKind kind;
    int closed;  // image-list number shown while the node is not selected
    int open;    // and while it is
};

// Every node kind.
constexpr NodeCase kNodeCases[] = {
    {NodeKind::Computer, 0, 0},       {NodeKind::Disk, 1, 1},           {NodeKind::LostPartitions, 2, 2},
    {NodeKind::Image, 3, 3},          {NodeKind::Floppy, 4, 4},         {NodeKind::Volume, 5, 5},
    {NodeKind::DiskSpace, 6, 6},      {NodeKind::Folder, 7, 10},        {NodeKind::DeletedFolder, 8, 11},
    {NodeKind::DamagedFolder, 9, 9},  {NodeKind::AdvancedExtra, 14, 15}, {NodeKind::SearchResults, 16, 16},
    {NodeKind::LostFiles, 17, 17},    {NodeKind::FileType, 18, 18},
};

TEST(KindIcons, EveryNodeKindShowsItsPictureClosedAndOpen) {
    for (const NodeCase& c : kNodeCases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        EXPECT_EQ(static_cast<int>(NodeIcon(c.kind, false)), c.closed);
        EXPECT_EQ(static_cast<int>(NodeIcon(c.kind, true)), c.open);
    }
}

TEST(KindIcons, EntryRowsShowTheirKindsPicture) {
    const struct {
        RowKind kind;
        int icon;
    } cases[] = {
        {RowKind::Folder, 7}, {RowKind::DeletedFolder, 8}, {RowKind::DamagedFolder, 9},
        {RowKind::File, 12},  {RowKind::DeletedFile, 13},
    };
    for (const auto& c : cases) {
        ListRow row;
        row.Kind = c.kind;
        EXPECT_EQ(static_cast<int>(RowIcon(row)), c.icon) << static_cast<int>(c.kind);
    }
}

TEST(KindIcons, DeviceRowsShowTheClosedPictureOfTheirNode) {
    for (const NodeCase& c : kNodeCases) {
        ListRow row;
        row.Kind = RowKind::Device;
        row.DeviceKind = c.kind;
        EXPECT_EQ(static_cast<int>(RowIcon(row)), c.closed) << static_cast<int>(c.kind);
    }
    // A row that stands for nothing shows what a blank row always showed.
    EXPECT_EQ(RowIcon(ListRow{}), Icon::Computer);
}

// The groups were ranges of image-list numbers; as kinds they keep the same members.
TEST(KindIcons, KindGroupsKeepTheirMembers) {
    for (const NodeCase& c : kNodeCases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        EXPECT_EQ(ListsDevices(c.kind), c.closed <= 3);
        EXPECT_EQ(IsVolumeKind(c.kind), c.closed >= 4 && c.closed <= 6);
        EXPECT_EQ(IsFolderKind(c.kind), c.closed >= 7 && c.closed <= 9);
        EXPECT_EQ(ListsFolderEntries(c.kind), c.closed >= 4 && c.closed <= 9);
        EXPECT_EQ(ListsResults(c.kind), c.closed >= 16);
    }
    const struct {
        RowKind kind;
        bool folder, file;
    } rows[] = {
        {RowKind::Device, false, false},       {RowKind::Folder, true, false}, {RowKind::DeletedFolder, true, false},
        {RowKind::DamagedFolder, true, false}, {RowKind::File, false, true},   {RowKind::DeletedFile, false, true},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(IsFolderRow(r.kind), r.folder) << static_cast<int>(r.kind);
        EXPECT_EQ(IsFileRow(r.kind), r.file) << static_cast<int>(r.kind);
    }
}

}  // namespace
}  // namespace brenvale::app
