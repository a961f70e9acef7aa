// The main window without widgets, driven like a user would: images loaded, nodes selected,
// scans, recovery, search, filter and sort, checked against the images the real tools made.

#include <gmock/gmock.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include <fmt/format.h>

#include "app/create_image.h"
#include "app/kind_icons.h"
#include "app/partition_scan.h"
#include "app/path_bar.h"
#include "app/scripted_ui.h"
#include "app/shell.h"
#include "app/standard_scan.h"
#include "app/tree_helpers.h"
#include "partitions/disk_builder.h"
#include "platform/fake/fake_platform.h"
#include "platform/linux/linux_platform.h"
#include "platform/paths.h"
#include "storage/device_events.h"
#include "storage/device_test_util.h"
#include "storage/format_size.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using app::TreeNode;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        storage::DeviceAborted = false;
        shell.Start({}, {});
    }
    void TearDown() override {
        storage::DeviceAborted = false;
        scan::ShowOnlyDeleted = false;
    }

    // Loads a fixture image and returns its node; null (after a skip message) when not built.
    TreeNode* Load(const char* name) {
        const auto path = fixture(name);
        if (!path) return nullptr;
        EXPECT_TRUE(shell.LoadImageFile(path->string()));
        return Child(shell.Tree().Root(), name);
    }
    // Selects a node and runs "Standard Scan" through the scan-method dialog.
    void Scan(TreeNode* node) {
        ASSERT_TRUE(node);
        ASSERT_TRUE(shell.SelectNode(node));
        shell.SetFocus(app::Focus::Tree);
        ui.scanMode = app::kScanModeNormal;
        shell.btnScan();
        ui.scanMode = 0;
    }
    std::vector<std::string> Captions() const {
        std::vector<std::string> out;
        for (const auto& r : shell.Rows()) out.push_back(r.Caption);
        return out;
    }
    std::size_t RowOf(const std::string& caption) const {
        const auto& rows = shell.Rows();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].Caption == caption) return i;
        }
        ADD_FAILURE() << "no row \"" << caption << "\"";
        return rows.size();
    }
    // The row with that caption; a blank row (after a failure) when there is none.
    const app::ListRow& Row(const std::string& caption) const {
        static const app::ListRow missing{{}, app::RowKind::Device, app::RowOrigin::None, {}, app::NodeKind::Computer,
                                          std::vector<std::string>(5)};
        const std::size_t i = RowOf(caption);
        return i < shell.Rows().size() ? shell.Rows()[i] : missing;
    }
    void SelectRow(const std::string& caption) {
        shell.SetFocus(app::Focus::List);
        ASSERT_TRUE(shell.SelectRows({RowOf(caption)}));
    }
    std::vector<std::string> Lines(const std::string& kind) const {
        std::vector<std::string> out;
        for (const auto& e : log.Entries()) {
            if (e.Event == kind) out.push_back(e.Description);
        }
        return out;
    }
    std::map<std::string, std::string> ManifestShas(const char* manifest, const std::string& folder) {
        std::map<std::string, std::string> out;
        const auto path = fixture(manifest);
        if (!path) return out;
        for (const auto& row : loadManifest(*path)) {
            if (row.type == "file" && row.path.rfind(folder + "/", 0) == 0) out[row.path.substr(folder.size() + 1)] = row.sha256;
        }
        return out;
    }

    std::unique_ptr<platform::Platform> os = platform::makeLinuxPlatform();
    ScriptedUi ui;
    app::EventLog log;
    app::Config config;
    app::Shell shell{*os, ui, log, config};
    TempDir tmp;
};

#define REQUIRE_IMAGE(var, name)                                              \
    TreeNode* var = Load(name);                                               \
    if (!var) GTEST_SKIP() << "fixture " << (name) << " not built"

TEST_F(ShellTest, StandardScanBuildsFoldersRowsStatusBarAndLogLines) {
    REQUIRE_IMAGE(disk, "demo.img");
    TreeNode* photos = Child(disk, "PHOTOS (partition 1)");
    Scan(photos);

    ASSERT_EQ(ui.scanModeDialogs.size(), 1u);
    const auto& choices = ui.scanModeDialogs[0];
    ASSERT_EQ(choices.size(), 4u);
    EXPECT_STREQ(choices[0].Title, "Standard Scan:");
    EXPECT_TRUE(choices[0].Enabled);
    EXPECT_TRUE(choices[2].Enabled);  // a partition of a disk image
    // What the scan found, counted in the manifest the image was made from.
    int entries = 0, deleted = 0;
    for (const auto& row : loadManifest(*fixture("demo.p1.manifest.tsv"))) {
        ++entries;
        if (row.status == "deleted") ++deleted;
    }
    const std::string found = fmt::format("{} files and folders, {} deleted", entries, deleted);
    EXPECT_THAT(Lines(app::kStandardScanEvent),
                ElementsAre("Starting scan \"demo.img/PHOTOS (partition 1)\"", "Scan progress completed", found));

    // Live folders first, then the deleted one; two levels are built at once.
    EXPECT_THAT(Texts(photos), ElementsAre("DCIM", "Documents", "Old Backups"));
    EXPECT_EQ(app::NodeIcon(photos->Children[2]->Kind, false), app::Icon::DeletedFolder);
    EXPECT_EQ(app::NodeIcon(photos->Children[2]->Kind, true), app::Icon::DeletedFolderOpen);
    EXPECT_THAT(Texts(photos->Children[0].get()), ElementsAre("100MEDIA"));
    EXPECT_TRUE(photos->HasState(app::kStateScanStarted));
    EXPECT_TRUE(photos->HasState(app::kStateFoldersBuilt));
    EXPECT_TRUE(photos->Expanded);

    EXPECT_EQ(shell.Selected(), photos);
    EXPECT_FALSE(shell.ActionInProgress());
    EXPECT_TRUE(shell.FilterBarVisible());
    EXPECT_THAT(Captions(), ElementsAre("DCIM", "Documents", "Old Backups"));
    const auto& panels = shell.StatusPanels();
    EXPECT_EQ(panels[1], found);
    EXPECT_EQ(panels[2], "Current 3 entries");
    EXPECT_EQ(panels[3], fmt::format("Total {} records", photos->Scan->ScannedFiles.size()));
    EXPECT_EQ(ui.statusBar, panels);
    EXPECT_TRUE(shell.Commands().Search);

    // A scanned node no longer offers the dialog on a double-click.
    EXPECT_FALSE(shell.DoubleClickNode(photos));
}

TEST_F(ShellTest, OpeningAFolderFromTheListAndGoingUp) {
    REQUIRE_IMAGE(disk, "demo.img");
    TreeNode* photos = Child(disk, "PHOTOS (partition 1)");
    Scan(photos);
    shell.DoubleClickRow(RowOf("DCIM"));
    ASSERT_EQ(shell.Selected(), Child(photos, "DCIM"));
    EXPECT_EQ(shell.StatusPanels()[1], "DCIM");
    shell.DoubleClickRow(RowOf("100MEDIA"));
    ASSERT_EQ(shell.Selected()->Text, "100MEDIA");
    EXPECT_THAT(Captions(), ElementsAre("IMG_0001.JPG", "IMG_0002.JPG", "IMG_0004.JPG", "_MG_0003.JPG", "_MG_0005.JPG"));
    const auto& deleted = Row("_MG_0003.JPG");
    EXPECT_EQ(app::RowIcon(deleted), app::Icon::DeletedFile);
    EXPECT_EQ(deleted.SubItems[app::kColStatus - 1], "Deleted");
    EXPECT_EQ(app::RowIcon(Row("IMG_0001.JPG")), app::Icon::File);
    std::vector<std::string> path;
    for (const TreeNode* n : shell.PathNodes()) path.push_back(n->Text);
    EXPECT_THAT(path, ElementsAre("My Computer", "demo.img", "PHOTOS (partition 1)", "DCIM", "100MEDIA"));

    shell.acUp();
    EXPECT_EQ(shell.Selected(), Child(photos, "DCIM"));
    shell.acUp();
    EXPECT_EQ(shell.Selected(), photos);
    shell.DoubleClickRow(RowOf("Old Backups"));
    EXPECT_EQ(shell.Selected(), Child(photos, "Old Backups"));
    // A lower-case short name keeps no long name, so the deleted one lost its first letter.
    EXPECT_THAT(Captions(), ElementsAre("_ontacts.csv", "Profile Picture.jpg"));
}

TEST_F(ShellTest, StoppedScanLogsUserTerminatedAndStillBuildsTheTree) {
    REQUIRE_IMAGE(disk, "fat32.img");
    TreeNode* volume = nullptr;
    for (auto& c : disk->Children) {
        if (c->Kind == app::NodeKind::Volume) volume = c.get();
    }
    ASSERT_TRUE(volume);
    // Stopped while the third folder is read: the root and the first folders were found.
    int folders = 0;
    bool busyRefused = false;
    ui.onStatus = [&](const std::string&) {
        if (++folders != 3) return;
        // While the scan runs every other command is refused.
        busyRefused = !shell.SelectNode(shell.Tree().Root()) && shell.ActionInProgress() && shell.Commands().Stop &&
                      !shell.Commands().SimpleScan;
        shell.acStop();
    };
    Scan(volume);
    ui.onStatus = nullptr;
    EXPECT_TRUE(busyRefused);
    EXPECT_THAT(Lines(app::kStandardScanEvent),
                Contains("Scan progress finished with return code \"User Terminated\""));
    EXPECT_FALSE(shell.ActionInProgress());
    EXPECT_FALSE(shell.Commands().Stop);
    EXPECT_EQ(shell.Selected(), volume);
    EXPECT_FALSE(shell.Rows().empty());
    EXPECT_FALSE(volume->Children.empty());
    EXPECT_FALSE(volume->Scan->FTerminated);
}

TEST_F(ShellTest, PartialAndMissingPartitionsAndAnUnsupportedFileSystem) {
    REQUIRE_IMAGE(truncated, "truncated.img");
    EXPECT_THAT(Texts(truncated), Contains("--- (partition 2) [partial]"));
    // A partition the image does not hold at all can do nothing.
    ASSERT_TRUE(shell.SelectNode(Child(truncated, "--- (partition 3) [not in image]")));
    const auto off = shell.Commands();
    EXPECT_FALSE(off.SimpleScan || off.CreateImage || off.PartiScan || off.ScanButton || off.Recover);

    REQUIRE_IMAGE(gpt, "gpt.img");
    TreeNode* linux = nullptr;
    for (auto& c : gpt->Children) {
        if (c->Text == "Linux (partition 2)") linux = c.get();
    }
    ASSERT_TRUE(linux);
    ASSERT_TRUE(shell.SelectNode(linux));
    shell.acNormalScan();
    EXPECT_THAT(Lines(app::kStandardScanEvent), ElementsAre("Starting scan \"gpt.img/Linux (partition 2)\"",
                                                            "Scan progress abnormal finished"));
    EXPECT_TRUE(shell.Rows().empty());
}

TEST_F(ShellTest, RecoveringADeletedFolderGivesTheOriginalBytes) {
    REQUIRE_IMAGE(disk, "demo.img");
    Scan(Child(disk, "PHOTOS (partition 1)"));
    SelectRow("Old Backups");
    ASSERT_TRUE(shell.Commands().Recover);
    const auto dest = tmp.file("out");
    ui.folders = {dest};
    shell.acRecover();

    ASSERT_EQ(ui.summaries.size(), 1u);
    const auto& s = ui.summaries[0];
    EXPECT_EQ(s.numProcessed, 2);
    EXPECT_EQ(s.numRecovered, 2);
    EXPECT_EQ(s.numFailed, 0);
    std::map<std::string, std::string> expected = ManifestShas("demo.p1.manifest.tsv", "/Old Backups");
    ASSERT_EQ(expected.size(), 2u);
    expected["_ontacts.csv"] = expected["contacts.csv"];
    expected.erase("contacts.csv");
    for (const auto& [name, sha] : expected) {
        EXPECT_EQ(FileSha(std::filesystem::path(dest) / "Old Backups" / name), sha) << name;
    }
    EXPECT_FALSE(shell.ActionInProgress());
}

TEST_F(ShellTest, RecoveryWhereEveryFileFailsShowsZeroRecoveredAndOneLinePerFile) {
    REQUIRE_IMAGE(disk, "demo.img");
    Scan(Child(disk, "PHOTOS (partition 1)"));
    shell.DoubleClickRow(RowOf("DCIM"));
    shell.DoubleClickRow(RowOf("100MEDIA"));
    shell.SetFocus(app::Focus::List);
    ASSERT_TRUE(shell.SelectRows({0, 1, 2}));
    // The destination goes away once the recovery has begun (a stick pulled out): every file
    // fails where it would be written.
    const auto dest = tmp.file("gone");
    ui.folders = {dest};
    ui.onStatus = [&](const std::string&) { std::filesystem::remove_all(dest); };
    shell.acRecover();
    ui.onStatus = nullptr;
    ASSERT_EQ(ui.summaries.size(), 1u);
    const auto& s = ui.summaries[0];
    EXPECT_EQ(s.numProcessed, 3);
    EXPECT_EQ(s.numRecovered, 0);
    EXPECT_EQ(s.numFailed, 3);
    ASSERT_EQ(s.DetailsList.size(), 3u);
    EXPECT_THAT(s.DetailsList[0], StartsWith("Recover \"IMG_0001.JPG\" failed due to \""));
}

TEST_F(ShellTest, RecoverNeedsASelectionWhenTheListHasTheFocus) {
    REQUIRE_IMAGE(disk, "demo.img");
    Scan(Child(disk, "PHOTOS (partition 1)"));
    shell.SetFocus(app::Focus::List);
    EXPECT_FALSE(shell.Commands().Recover);
    shell.acRecover();
    EXPECT_TRUE(ui.folderInitialDirs.empty());
    // The selected folder node itself can be recovered from the tree.
    shell.DoubleClickRow(RowOf("Documents"));
    shell.SetFocus(app::Focus::Tree);
    EXPECT_TRUE(shell.Commands().Recover);
    // Cancelling the folder picker ends the command without a summary.
    shell.acRecover();
    EXPECT_EQ(ui.folderInitialDirs.size(), 1u);
    EXPECT_TRUE(ui.summaries.empty());
}

TEST_F(ShellTest, NtfsFolderNotInUseShowsItsDescendantsAsDeleted) {
    REQUIRE_IMAGE(disk, "ntfs.img");
    TreeNode* volume = nullptr;
    for (auto& c : disk->Children) {
        if (c->Kind == app::NodeKind::Volume) volume = c.get();
    }
    Scan(volume);
    TreeNode* trash = Child(volume, "Trash Folder");
    ASSERT_TRUE(trash);
    EXPECT_EQ(app::NodeIcon(trash->Kind, false), app::Icon::DeletedFolder);
    shell.DoubleClickRow(RowOf("Trash Folder"));
    ASSERT_EQ(shell.Selected(), trash);
    ASSERT_FALSE(shell.Rows().empty());
    for (const auto& row : shell.Rows()) {
        EXPECT_EQ(row.SubItems[app::kColStatus - 1], "Deleted") << row.Caption;
        EXPECT_THAT(app::RowIcon(row), ::testing::AnyOf(app::Icon::DeletedFolder, app::Icon::DeletedFile)) << row.Caption;
    }
}

TEST_F(ShellTest, CommandStateFollowsTheKindOfTheSelectedItem) {
    REQUIRE_IMAGE(disk, "demo.img");
    struct Case {
        TreeNode* node;
        bool simple, parti, image, scanButton, recover, advanced;
    };
    TreeNode* root = shell.Tree().Root();
    const Case cases[] = {
        {root, false, false, false, false, false, false},
        {disk, false, true, true, true, false, false},
        {Child(disk, "Total Disk Space"), false, true, true, true, false, true},
        {Child(disk, "PHOTOS (partition 1)"), true, true, true, true, false, true},
        {Child(disk, "Lost Partitions"), false, false, false, false, false, false},
        {shell.Tree().SearchResultsNode(), false, false, false, false, false, false},
        {shell.Tree().FileTypesNode(), false, false, false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node->Text);
        ASSERT_TRUE(shell.SelectNode(c.node));
        shell.SetFocus(app::Focus::Tree);
        const auto s = shell.Commands();
        EXPECT_EQ(s.SimpleScan, c.simple);
        EXPECT_EQ(s.PartiScan, c.parti);
        EXPECT_EQ(s.CreateImage, c.image);
        EXPECT_EQ(s.ScanButton, c.scanButton);
        EXPECT_EQ(s.Recover, c.recover);
        EXPECT_EQ(s.AdvancedScan, c.advanced);
        // On a volume; it says what is missing until an advanced scan has run there.
        EXPECT_EQ(s.RawRecovery, c.advanced);
        EXPECT_FALSE(s.Stop);
        EXPECT_FALSE(s.StopSave);
    }
}

TEST_F(ShellTest, DeviceListsAndTheScanDialogOfARow) {
    REQUIRE_IMAGE(disk, "demo.img");
    ASSERT_TRUE(shell.SelectNode(shell.Tree().Root()));
    EXPECT_FALSE(shell.FilterBarVisible());
    ASSERT_THAT(Captions(), Contains("demo.img"));
    EXPECT_EQ(Row("demo.img").SubItems[0], "Drive Image");

    ASSERT_TRUE(shell.SelectNode(disk));
    const auto captions = shell.ColumnCaptions();
    ASSERT_EQ(captions.size(), 6u);
    EXPECT_EQ(captions[4], "Serial");
    EXPECT_EQ(captions[5], "File System");
    const auto& photos = Row("PHOTOS (partition 1)");
    // Raw images are read like removable media, but their partitions say they are in an image.
    EXPECT_EQ(photos.SubItems[0], "Partition in Drive Image");
    EXPECT_EQ(photos.SubItems[1], "Ready");
    EXPECT_EQ(photos.SubItems[4], "FAT32");
    EXPECT_EQ(Row("Total Disk Space").SubItems[0], "Whole Disk");

    // A double-click on an unscanned partition opens it and offers the scan methods; a
    // cancelled dialog scans nothing.
    EXPECT_TRUE(shell.DoubleClickRow(RowOf("CAMERA (partition 2)")));
    EXPECT_EQ(shell.Selected(), Child(disk, "CAMERA (partition 2)"));
    shell.btnScan();
    EXPECT_EQ(ui.scanModeDialogs.size(), 1u);
    EXPECT_TRUE(Lines(app::kStandardScanEvent).empty());
}

TEST_F(ShellTest, SearchListsHitsWithTheirFolderAndOpenDirectoryGoesThere) {
    REQUIRE_IMAGE(disk, "demo.img");
    TreeNode* photos = Child(disk, "PHOTOS (partition 1)");
    Scan(photos);

    app::SearchCriteria bad;
    bad.SizeEnabled = true;
    bad.SizeMin = "lots";
    ui.search = bad;
    shell.acSearch();
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back().first, app::MessageKind::Error);
    EXPECT_EQ(shell.Selected(), photos);

    app::SearchCriteria c;
    c.Name = "*.jpg";
    ui.search = c;
    shell.acSearch();
    ASSERT_EQ(shell.Selected(), shell.Tree().SearchResultsNode());
    EXPECT_EQ(shell.SearchedNode(), photos);
    EXPECT_THAT(Captions(), ::testing::UnorderedElementsAre("_MG_0003.JPG", "_MG_0005.JPG", "Profile Picture.jpg"));
    EXPECT_EQ(shell.ColumnCaptions()[5], "Directory");
    EXPECT_EQ(Row("_MG_0005.JPG").SubItems[4], "/DCIM/100MEDIA");
    EXPECT_EQ(shell.StatusPanels()[1], "Search results in \"demo.img/PHOTOS (partition 1)\"");

    SelectRow("_MG_0005.JPG");
    shell.acOpenDirectory();
    ASSERT_EQ(shell.Selected()->Text, "100MEDIA");
    EXPECT_EQ(shell.Selected()->Parent->Text, "DCIM");
    ASSERT_EQ(shell.SelectedRows().size(), 1u);
    EXPECT_EQ(shell.Rows()[shell.SelectedRows()[0]].Caption, "_MG_0005.JPG");
}

TEST_F(ShellTest, FilterKeepsTheSelectionAndColumnClicksSort) {
    REQUIRE_IMAGE(disk, "demo.img");
    Scan(Child(disk, "PHOTOS (partition 1)"));
    shell.DoubleClickRow(RowOf("DCIM"));
    shell.DoubleClickRow(RowOf("100MEDIA"));
    SelectRow("_MG_0005.JPG");

    shell.SetFilterText("*3.jpg,*5.JPG");
    EXPECT_THAT(Captions(), ElementsAre("_MG_0003.JPG", "_MG_0005.JPG"));
    ASSERT_EQ(shell.SelectedRows().size(), 1u);
    EXPECT_EQ(shell.Rows()[shell.SelectedRows()[0]].Caption, "_MG_0005.JPG");
    EXPECT_EQ(shell.StatusPanels()[2], "Current 2 entries");
    shell.SetFilterText("");
    EXPECT_EQ(shell.Rows().size(), 5u);

    // Sizes 184347, 245787, 215067, 163867, 307227: the first click sorts descending.
    shell.ColumnClick(app::kColSize);
    EXPECT_THAT(Captions(), ElementsAre("_MG_0005.JPG", "IMG_0002.JPG", "_MG_0003.JPG", "IMG_0001.JPG", "IMG_0004.JPG"));
    EXPECT_FALSE(shell.SortAscending());
    EXPECT_EQ(shell.ColumnCaptions()[app::kColSize], std::string("Size") + app::kSortDownMark);
    shell.ColumnClick(app::kColSize);
    EXPECT_EQ(Captions().front(), "IMG_0004.JPG");
    EXPECT_EQ(shell.ColumnCaptions()[app::kColSize], std::string("Size") + app::kSortUpMark);
    // The filter keeps the sorted order.
    shell.SetFilterText("IMG_000");
    EXPECT_EQ(Captions().front(), "IMG_0004.JPG");
}

TEST_F(ShellTest, ImageOfAPartitionCanBeCreatedLoadedAndScanned) {
    REQUIRE_IMAGE(disk, "demo.img");
    ASSERT_TRUE(shell.SelectNode(Child(disk, "PHOTOS (partition 1)")));
    shell.SetFocus(app::Focus::Tree);
    const auto file = tmp.file("photos.dif");
    ui.saveFiles = {file};
    shell.acCreateImg();
    ASSERT_EQ(ui.proposedRanges.size(), 1u);
    EXPECT_EQ(ui.proposedRanges[0].First, 2048);
    EXPECT_EQ(ui.proposedRanges[0].Count, 163840);
    EXPECT_THAT(Lines(app::kCreateImageEvent), Contains(HasSubstr("Image creation completed")));
    EXPECT_FALSE(shell.ActionInProgress());

    ASSERT_TRUE(shell.LoadImageFile(file));
    TreeNode* image = Child(shell.Tree().Root(), "photos.dif");
    ASSERT_TRUE(image);
    TreeNode* volume = nullptr;
    for (auto& c : image->Children) {
        if (c->Kind == app::NodeKind::Volume) volume = c.get();
    }
    Scan(volume);
    EXPECT_THAT(Texts(volume), ElementsAre("DCIM", "Documents", "Old Backups"));
}

TEST_F(ShellTest, PartitionScanFillsTheLostPartitionsNode) {
    REQUIRE_IMAGE(disk, "lost.img");
    ASSERT_TRUE(shell.SelectNode(disk));
    shell.SetFocus(app::Focus::Tree);
    config.PartiCheckpointPath = tmp.file("parti_scan.prc");
    shell.acPartiScan();
    EXPECT_THAT(Lines(app::kPartitionScanEvent), Contains("Scan progress completed"));
    TreeNode* lost = Child(disk, "Lost Partitions");
    ASSERT_TRUE(lost);
    EXPECT_GE(lost->Children.size(), 3u);  // the three partitions the table no longer lists
    EXPECT_TRUE(lost->Expanded);
    EXPECT_FALSE(shell.ActionInProgress());
}

TEST_F(ShellTest, ImageThatCannotBeOpenedShowsTheErrorAndChangesNothing) {
    const auto before = shell.Tree().Root()->Children.size();
    EXPECT_FALSE(shell.LoadImageFile(tmp.file("missing.img")));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].first, app::MessageKind::Error);
    // The message names the file and says what the system answered.
    EXPECT_THAT(ui.messages[0].second, HasSubstr(tmp.file("missing.img")));
    EXPECT_THAT(ui.messages[0].second, HasSubstr(std::strerror(ENOENT)));
    EXPECT_THAT(Lines(app::kLoadImageEvent), ElementsAre(HasSubstr(tmp.file("missing.img"))));
    EXPECT_EQ(shell.Tree().Root()->Children.size(), before);
    ui.openFiles = {tmp.file("missing.dif")};
    shell.acLoadImg();
    EXPECT_EQ(ui.messages.size(), 2u);
}

// Search hits are recovered from the volume each was found on, with the bytes the image was
// made with, and each hit's properties come from that volume.
TEST_F(ShellTest, SearchHitsAreRecoveredAndDescribedThroughTheirOwnVolume) {
    REQUIRE_IMAGE(disk, "demo.img");
    Scan(Child(disk, "PHOTOS (partition 1)"));
    app::SearchCriteria c;
    c.Name = "*.jpg";
    ui.search = c;
    shell.acSearch();
    ASSERT_EQ(shell.Selected(), shell.Tree().SearchResultsNode());
    ASSERT_EQ(shell.Rows().size(), 3u);

    SelectRow("_MG_0005.JPG");
    const auto props = shell.Properties();
    ASSERT_FALSE(props.empty());
    EXPECT_EQ(props[0], (app::PropertyRow{"Name", "_MG_0005.JPG"}));

    // Every hit, as Ctrl+A selects them.
    shell.SetFocus(app::Focus::List);
    ASSERT_TRUE(shell.SelectRows({0, 1, 2}));
    ASSERT_TRUE(shell.Commands().Recover);
    const auto dest = tmp.file("hits");
    ui.folders = {dest};
    shell.acRecover();
    ASSERT_EQ(ui.summaries.size(), 1u);
    EXPECT_EQ(ui.summaries[0].numRecovered, 3);
    std::map<std::string, std::string> shas;
    for (const auto& row : loadManifest(*fixture("demo.p1.manifest.tsv"))) shas[row.path] = row.sha256;
    EXPECT_EQ(FileSha(std::filesystem::path(dest) / "_MG_0003.JPG"), shas["/DCIM/100MEDIA/IMG_0003.JPG"]);
    EXPECT_EQ(FileSha(std::filesystem::path(dest) / "_MG_0005.JPG"), shas["/DCIM/100MEDIA/IMG_0005.JPG"]);
    EXPECT_EQ(FileSha(std::filesystem::path(dest) / "Profile Picture.jpg"), shas["/Old Backups/Profile Picture.jpg"]);
}

// A recovery shows the whole: files done of files to do with the file's name, bytes done of
// bytes to do, and a bar that only moves forward. A stop says so in the log and the summary.
TEST_F(ShellTest, RecoveryProgressIsThatOfTheWholeAndAStopSaysSo) {
    REQUIRE_IMAGE(disk, "demo.img");
    Scan(Child(disk, "PHOTOS (partition 1)"));
    std::int64_t mediaBytes = 0;
    int mediaFiles = 0;
    for (const auto& row : loadManifest(*fixture("demo.p1.manifest.tsv"))) {
        if (row.type == "file" && row.path.starts_with("/DCIM/")) {
            mediaBytes += static_cast<std::int64_t>(row.size);
            ++mediaFiles;
        }
    }
    ASSERT_EQ(mediaFiles, 5);
    SelectRow("DCIM");
    ui.folders = {tmp.file("whole")};
    ui.progress.clear();
    shell.acRecover();
    ASSERT_EQ(ui.summaries.size(), 1u);
    EXPECT_EQ(ui.summaries[0].outcome, app::RecoveryOutcome::Done);
    EXPECT_EQ(ui.summaries[0].Destination, tmp.file("whole"));
    std::vector<std::string> recovering;
    for (const auto& t : ui.statusTexts) {
        if (t.starts_with("Recovering ")) recovering.push_back(t);
    }
    ASSERT_EQ(recovering.size(), 5u);
    const std::string total = storage::FormatSize(mediaBytes);
    EXPECT_THAT(recovering.front(), StartsWith("Recovering 1 of 5: "));
    EXPECT_THAT(recovering.front(), ::testing::EndsWith("(0  B of " + total + ")"));
    EXPECT_THAT(recovering.back(), StartsWith("Recovering 5 of 5: "));
    ASSERT_FALSE(ui.progress.empty());
    EXPECT_TRUE(std::is_sorted(ui.progress.begin(), ui.progress.end())) << "the bar went back";
    EXPECT_EQ(ui.progress.back(), 100);
    EXPECT_THAT(Lines(app::kRecoverEvent), Contains("Recovery finished: Processed Files: 5, Recovered Files: 5, Failed Files: 0"));

    // Stopped while the second file starts: that one is cut short, three are never begun.
    const auto stopped = tmp.file("stopped");
    ui.folders = {stopped};
    int started = 0;
    ui.onStatus = [&](const std::string& text) {
        if (text.starts_with("Recovering ") && ++started == 2) shell.acStop();
    };
    shell.acRecover();
    ui.onStatus = nullptr;
    ASSERT_EQ(ui.summaries.size(), 2u);
    const auto& s = ui.summaries[1];
    EXPECT_EQ(s.outcome, app::RecoveryOutcome::Stopped);
    int written = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(stopped)) written += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(written, 1) << "only the file finished before the stop is kept";
    EXPECT_EQ(Lines(app::kRecoverEvent).back(),
              "Recovery stopped by the user after 2 of 5 files: 1 recovered, 1 failed, 3 not processed");
    EXPECT_FALSE(shell.ActionInProgress());
    EXPECT_FALSE(shell.Commands().Stop);
}

// The folder picker opens in the home folder the first time and where the last recovery
// went after that, which the configuration keeps; a folder that cannot be written is named,
// with the system's reason, before anything is recovered.
TEST_F(ShellTest, RecoveryDestinationIsRememberedAndCheckedForWriting) {
    REQUIRE_IMAGE(disk, "demo.img");
    Scan(Child(disk, "PHOTOS (partition 1)"));
    int saves = 0;
    shell.OnConfigChanged = [&] { ++saves; };
    SelectRow("Documents");
    const auto first = tmp.file("first");
    ui.folders = {first};
    shell.acRecover();
    ASSERT_EQ(ui.folderInitialDirs.size(), 1u);
    EXPECT_EQ(ui.folderInitialDirs[0], platform::HomeDirectory());
    EXPECT_NE(ui.folderInitialDirs[0], std::filesystem::current_path().string());
    EXPECT_EQ(config.RecoverFolder, first);
    EXPECT_EQ(saves, 1);

    // Under /proc nothing can be created.
    const std::string unwritable = "/proc/brenvale-no-such-folder";
    ui.folders = {unwritable};
    shell.acRecover();
    ASSERT_EQ(ui.folderInitialDirs.size(), 2u);
    EXPECT_EQ(ui.folderInitialDirs[1], first);
    EXPECT_EQ(ui.summaries.size(), 1u) << "no summary for a recovery that could not begin";
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back().first, app::MessageKind::Error);
    EXPECT_THAT(ui.messages.back().second, HasSubstr(unwritable));
    EXPECT_THAT(ui.messages.back().second, HasSubstr(std::strerror(ENOENT)));
    EXPECT_THAT(Lines(app::kRecoverEvent).back(), HasSubstr(unwritable));
    EXPECT_EQ(config.RecoverFolder, first) << "a folder that took no file is not remembered";
    EXPECT_EQ(saves, 1);
}

// A lost-partition search says what it found, and says so when it found nothing.
TEST_F(ShellTest, PartitionSearchSaysWhatItFound) {
    REQUIRE_IMAGE(disk, "demo.img");
    ASSERT_TRUE(shell.SelectNode(disk));
    shell.SetFocus(app::Focus::Tree);
    config.PartiCheckpointPath = tmp.file("parti_scan.prc");
    shell.acPartiScan();
    // Every volume of the demo disk is listed in its table.
    EXPECT_EQ(Lines(app::kPartitionScanEvent).back(), "No lost partitions found");
    EXPECT_EQ(shell.StatusPanels()[1], "No lost partitions found");
    EXPECT_TRUE(Child(disk, "Lost Partitions")->Children.empty());
}

// "Load Drive Image" offers every kind of image at once and any file; a file with neither a
// partition table nor a volume is loaded with a note that says so.
TEST_F(ShellTest, LoadDriveImageFiltersAndTheNoteForAnEmptyImage) {
    const auto zeros = tmp.file("zeros.img");
    { std::ofstream create(zeros); }
    std::filesystem::resize_file(zeros, 1 << 20);
    ui.openFiles = {zeros};
    shell.acLoadImg();
    ASSERT_EQ(ui.openFilters.size(), 1u);
    EXPECT_THAT(ui.openFilters[0], StartsWith("Drive images (*.dif *.img *.dd *.raw *.bin)|"));
    EXPECT_THAT(ui.openFilters[0], ::testing::EndsWith("|All files (*)|*"));
    TreeNode* image = Child(shell.Tree().Root(), "zeros.img");
    ASSERT_TRUE(image);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_THAT(Lines(app::kLoadImageEvent), Contains(HasSubstr("\"zeros.img\" holds no partition table and no volume")));
}

// The paths the window shows use "/": the event log, the "Directory" column and the path bar.
TEST_F(ShellTest, PathsUseSlashes) {
    REQUIRE_IMAGE(disk, "demo.img");
    TreeNode* photos = Child(disk, "PHOTOS (partition 1)");
    Scan(photos);
    shell.DoubleClickRow(RowOf("DCIM"));
    shell.DoubleClickRow(RowOf("100MEDIA"));
    EXPECT_EQ(app::NodePath(shell.Selected()), "demo.img/PHOTOS (partition 1)/DCIM/100MEDIA");
    app::PathBarModel bar;
    bar.SetNodes(shell.PathNodes());
    EXPECT_EQ(bar.PathText(), "My Computer/demo.img/PHOTOS (partition 1)/DCIM/100MEDIA");
    // The filter still finds hits by their folder.
    shell.SelectNode(photos);
    app::SearchCriteria c;
    c.Name = "*";
    ui.search = c;
    shell.acSearch();
    shell.SetFilterText("100media");
    EXPECT_THAT(Captions(), ::testing::UnorderedElementsAre("_MG_0003.JPG", "_MG_0005.JPG"));
}

// A recovery destination on the disk being read is refused, and the picker opens again
// where the refused folder was, until a folder elsewhere is chosen.
TEST(ShellDestination, DestinationOnTheSourceIsRefusedUntilAnotherIsPicked) {
    const auto image = fixture("fat16.img");
    if (!image) GTEST_SKIP() << "fixture fat16.img not built";
    TempDir tmp;
    platform::fake::FakePlatform os;
    // The volume as the first partition of a disk; the folder "mounted" lies on that partition.
    const auto volume_bytes = ReadWholeFile(*image);
    const std::uint64_t sectors = volume_bytes.size() / 512;
    DiskBuilder builder(2048 + sectors);
    builder.entry(0, 0, 0x06, 2048, static_cast<std::uint32_t>(sectors));
    std::copy(volume_bytes.begin(), volume_bytes.end(), builder.bytes().begin() + 2048 * 512);
    os.addDisk("/dev/sda", std::move(builder.bytes()));
    os.whole = {BlockDevice("sda")};
    os.extents[tmp.file("mounted")] = {{0, 2048 * 512, static_cast<std::int64_t>(sectors * 512)}};
    ScriptedUi ui;
    app::EventLog log;
    app::Config config;
    app::Shell shell(os, ui, log, config);
    shell.Start({}, {0x80});
    TreeNode* disk = nullptr;
    for (auto& c : shell.Tree().Root()->Children) {
        if (c->Kind == app::NodeKind::Disk) disk = c.get();
    }
    ASSERT_TRUE(disk);
    TreeNode* volume = nullptr;
    for (auto& c : disk->Children) {
        if (c->Kind == app::NodeKind::Volume) volume = c.get();
    }
    ASSERT_TRUE(volume);
    ASSERT_TRUE(shell.SelectNode(volume));
    shell.acNormalScan();
    ASSERT_FALSE(shell.Rows().empty());

    shell.SetFocus(app::Focus::List);
    std::size_t deleted = shell.Rows().size();
    for (std::size_t i = 0; i < shell.Rows().size(); ++i) {
        if (shell.Rows()[i].Kind == app::RowKind::DeletedFile) deleted = i;
    }
    ASSERT_LT(deleted, shell.Rows().size());
    ASSERT_TRUE(shell.SelectRows({deleted}));
    const auto onSource = tmp.file("mounted/out");
    const auto elsewhere = tmp.file("elsewhere");
    ui.folders = {onSource, onSource, elsewhere};
    shell.acRecover();

    EXPECT_THAT(ui.folderInitialDirs, ElementsAre(platform::HomeDirectory(), onSource, onSource));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_THAT(ui.messages[0].second, StartsWith("The folder you selected is on the drive being recovered."));
    EXPECT_FALSE(std::filesystem::exists(tmp.file("mounted")));
    ASSERT_EQ(ui.summaries.size(), 1u);
    EXPECT_EQ(ui.summaries[0].numRecovered, 1);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(elsewhere) / shell.Rows()[deleted].Caption));
}

}  // namespace
}  // namespace brenvale::test
