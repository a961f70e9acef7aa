// What the rows of the file list stand for: a device-list row its child node, an entry row its
// entry of the scan, each with the kind that says what it shows; and the row data as the
// identity selections are kept by.

#include <gmock/gmock.h>

#include <algorithm>

#include "app/folder_view.h"
#include "app/kind_icons.h"
#include "app/list_filter.h"
#include "app/type_names.h"
#include "scan/mid_entry.h"
#include "scan/scan_harness.h"
#include "scan/volume_builder.h"

namespace brenvale::app {
namespace {

using test::Deleted;
using test::FileEntry;
using test::FolderEntry;
using test::Fs;
using test::ScanHarness;
using test::VolumeBuilder;

TEST(RowData, HoldsAnEntryANodeOrNothing) {
    scan::TMidEntry entry;
    TreeNode node;
    const RowData none, ofEntry(&entry), ofNode(&node);
    EXPECT_TRUE(none.Empty());
    EXPECT_EQ(none.Entry(), nullptr);
    EXPECT_EQ(none.Node(), nullptr);
    EXPECT_FALSE(ofEntry.Empty());
    EXPECT_EQ(ofEntry.Entry(), &entry);
    EXPECT_EQ(ofEntry.Node(), nullptr);
    EXPECT_FALSE(ofNode.Empty());
    EXPECT_EQ(ofNode.Node(), &node);
    EXPECT_EQ(ofNode.Entry(), nullptr);
    // A null pointer of either kind is no data at all.
    EXPECT_TRUE(RowData(static_cast<const scan::TScanEntry*>(nullptr)).Empty());
    EXPECT_TRUE(RowData(static_cast<const TreeNode*>(nullptr)).Empty());
    EXPECT_EQ(RowData(static_cast<const TreeNode*>(nullptr)), none);
}

TEST(RowData, IsTheIdentityOfTheThingItStandsFor) {
    scan::TMidEntry a, b;
    TreeNode n;
    EXPECT_EQ(RowData(&a), RowData(&a));
    EXPECT_NE(RowData(&a), RowData(&b));
    EXPECT_NE(RowData(&a), RowData(&n));
    EXPECT_NE(RowData(&a), RowData());
    const RowSet set{RowData(&a), RowData(&n)};
    EXPECT_EQ(set.count(RowData(&a)), 1u);
    EXPECT_EQ(set.count(RowData(&n)), 1u);
    EXPECT_EQ(set.count(RowData(&b)), 0u);
    EXPECT_EQ(set.count(RowData()), 0u);
}

TEST(ListRows, DeviceRowsStandForTheirChildNodes) {
    VolumeBuilder v(Fs::Fat16);
    ScanHarness h(std::move(v.bytes()));
    TreeNode root;
    root.Text = kMyComputerText;
    TreeNode* volume = root.AddChild(NodeKind::Volume, "DATA (/mnt/data)");
    volume->Scan = &h.scan();
    volume->MakeScanCapable();
    root.AddChild(NodeKind::Floppy, "--- (/media/floppy)");
    root.AddChild(NodeKind::Disk, "Disk (80h)");
    root.AddChild(NodeKind::Image, "disk.img");
    root.AddChild(NodeKind::LostPartitions, kLostPartitionsText);
    root.AddChild(NodeKind::DiskSpace, kFreeSpaceText);
    root.AddChild(NodeKind::LostFiles, kLostFilesText);
    root.AddChild(NodeKind::SearchResults, kSearchResultsText);

    const std::vector<ListRow> rows = DeviceList(root);
    ASSERT_EQ(rows.size(), root.Children.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TreeNode& child = *root.Children[i];
        SCOPED_TRACE(child.Text);
        EXPECT_EQ(rows[i].Caption, child.Text);
        EXPECT_EQ(rows[i].Kind, RowKind::Device);
        EXPECT_EQ(rows[i].Origin, RowOrigin::None);
        EXPECT_EQ(rows[i].Data.Node(), &child);
        EXPECT_EQ(rows[i].Data.Entry(), nullptr);
        EXPECT_EQ(RowIcon(rows[i]), NodeIcon(child.Kind, false));
    }
    // The volume's row reads its scan object through the node it stands for.
    EXPECT_EQ(rows[0].SubItems[kColStatus - 1], "Ready");
    EXPECT_EQ(rows[0].SubItems[kColLast - 1], "FAT16");
}

// A FAT16 root with one entry of each row kind and the folders they need.
struct FolderCase {
    const char* caption;
    RowKind kind;
    int icon;  // image-list number
};
constexpr FolderCase kRootCases[] = {
    {"LIVE.TXT", RowKind::File, 12},        {"_ONE.TXT", RowKind::DeletedFile, 13},
    {"SUB", RowKind::Folder, 7},            {"_LD", RowKind::DeletedFolder, 8},
    {"BAD", RowKind::DamagedFolder, 9},
};

std::vector<std::byte> RootWithEveryKind() {
    VolumeBuilder v(Fs::Fat16);
    v.put(v.root(), 0,
          {FileEntry("LIVE.TXT", 20, 5), Deleted(FileEntry("GONE.TXT", 21, 7)), FolderEntry("SUB", 10),
           Deleted(FolderEntry("OLD", 11)), FolderEntry("BAD", 12)});
    v.makeFolder(10, v.root());
    v.makeFolder(11, v.root());
    v.setFat(12, v.endOfChain());  // a folder cluster without "." and "..": damaged
    return std::move(v.bytes());
}

TEST(ListRows, EntryRowsStandForTheirEntries) {
    ScanHarness h(RootWithEveryKind());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    TreeNode volume;
    volume.Kind = NodeKind::Volume;
    volume.Scan = &h.scan();
    volume.MakeScanCapable();
    TypeNames types;

    const std::vector<ListRow> rows = ListFolderEntries(volume, types, false);
    ASSERT_EQ(rows.size(), std::size(kRootCases));
    for (const FolderCase& c : kRootCases) {
        SCOPED_TRACE(c.caption);
        const auto it = std::find_if(rows.begin(), rows.end(), [&](const ListRow& r) { return r.Caption == c.caption; });
        ASSERT_NE(it, rows.end());
        EXPECT_EQ(it->Kind, c.kind);
        EXPECT_EQ(static_cast<int>(RowIcon(*it)), c.icon);
        EXPECT_EQ(it->Origin, RowOrigin::StandardFat);
        EXPECT_EQ(it->Data.Entry(), h.one(c.caption));
        EXPECT_EQ(it->Data.Node(), nullptr);
    }
}

TEST(ListRows, FolderNodesCarryTheirEntryAndKind) {
    ScanHarness h(RootWithEveryKind());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    TreeNode volume;
    volume.Kind = NodeKind::Volume;
    volume.Scan = &h.scan();
    volume.MakeScanCapable();

    FillFolderNodes(volume, false);
    // Intact folders first, then by name.
    std::vector<std::string> texts;
    for (const auto& child : volume.Children) texts.push_back(child->Text);
    ASSERT_THAT(texts, ::testing::ElementsAre("SUB", "_LD", "BAD"));
    const NodeKind kinds[] = {NodeKind::Folder, NodeKind::DeletedFolder, NodeKind::DamagedFolder};
    for (std::size_t i = 0; i < volume.Children.size(); ++i) {
        const TreeNode& child = *volume.Children[i];
        EXPECT_EQ(child.Kind, kinds[i]) << child.Text;
        EXPECT_EQ(child.Entry, h.one(child.Text)) << child.Text;
    }
}

}  // namespace
}  // namespace brenvale::app
