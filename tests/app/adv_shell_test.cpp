// The advanced scan through the main window without widgets: the scan from the scan-method
// dialog, the "!!! Advanced Extra !!!" nodes and rows, recovery and statistics of rebuilt
// entries, the stop that saves a checkpoint and the resume from it, and the adjustment of the
// FAT guess; checked against the manifests the fixture images were made with.

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>

#include <fmt/format.h>

#include "advscan/checkpoint_resume.h"
#include "advscan/fat_stages.h"
#include "app/adjust_files.h"
#include "app/adv_extra.h"
#include "app/advanced_scan_command.h"
#include "app/kind_icons.h"
#include "app/raw_recovery_model.h"
#include "app/scripted_ui.h"
#include "app/shell.h"
#include "app/standard_scan.h"
#include "app/statistics.h"
#include "app/tree_helpers.h"
#include "platform/linux/linux_platform.h"
#include "platform/paths.h"
#include "storage/device_events.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using app::TreeNode;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// An image's entries from its set's manifest.json, by path ("NTFS Root/Photos/Sunset.png").
struct Entry {
    std::string type;
    std::uint64_t size = 0;
    std::string sha256;
};
std::map<std::string, Entry> ManifestEntries(const std::string& set, const std::string& image) {
    std::map<std::string, Entry> out;
    const auto path = fixture(set + "/manifest.json");
    if (!path) return out;
    const auto manifest = nlohmann::json::parse(std::ifstream(*path));
    for (const auto& img : manifest["images"]) {
        if (img["image"] != image) continue;
        for (const auto& e : img["entries"]) {
            out[e["path"].get<std::string>()] = {e["type"].get<std::string>(), e["size"].get<std::uint64_t>(),
                                                 e.value("sha256", std::string())};
        }
    }
    return out;
}

class AdvShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        storage::DeviceAborted = false;
        shell.Start({}, {});
    }
    void TearDown() override { storage::DeviceAborted = false; }

    // The volume node of a fixture volume image; null when the image is not built.
    TreeNode* LoadVolume(const std::string& name) {
        const auto path = fixture(name);
        if (!path) return nullptr;
        EXPECT_TRUE(shell.LoadImageFile(path->string()));
        // The image's volume (a bare volume image also shows its whole extent as "Total Disk Space").
        TreeNode* image = shell.Tree().Root()->Children.empty() ? nullptr : shell.Tree().Root()->Children.front().get();
        if (!image) return nullptr;
        for (const auto& c : image->Children) {
            if (c->Kind == app::NodeKind::Volume && c->Scan) return c.get();
        }
        ADD_FAILURE() << "no volume in " << name;
        return nullptr;
    }
    void AdvScan(TreeNode* volume, int mode = app::kScanModeAdvanced) {
        ASSERT_TRUE(shell.SelectNode(volume));
        shell.SetFocus(app::Focus::Tree);
        ui.scanMode = mode;
        shell.btnScan();
        ui.scanMode = 0;
    }
    // The advanced scan's event-log lines, after the first `skip` of them.
    std::vector<std::string> Lines(std::size_t skip = 0) const {
        std::vector<std::string> out;
        for (const auto& e : log.Entries()) {
            if (e.Event == app::kAdvScanEvent) out.push_back(e.Description);
        }
        out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(std::min(skip, out.size())));
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
    std::vector<std::string> Captions() const {
        std::vector<std::string> out;
        for (const auto& r : shell.Rows()) out.push_back(r.Caption);
        return out;
    }
    // The node at a path below the volume ("!!! Advanced Extra !!!/NTFS Root/Photos").
    TreeNode* At(TreeNode* volume, const std::string& path) {
        TreeNode* n = volume;
        std::size_t from = 0;
        while (n && from <= path.size()) {
            const std::size_t to = path.find('/', from);
            n = Child(n, path.substr(from, to == std::string::npos ? std::string::npos : to - from));
            if (to == std::string::npos) break;
            from = to + 1;
        }
        return n;
    }
    std::string LastMessage() const { return ui.messages.empty() ? std::string() : ui.messages.back().second; }

    std::unique_ptr<platform::Platform> os = platform::makeLinuxPlatform();
    ScriptedUi ui;
    app::EventLog log;
    app::Config config;
    app::Shell shell{*os, ui, log, config};
    TempDir tmp;
};

#define REQUIRE_VOLUME(var, name)                                             \
    TreeNode* var = LoadVolume(name);                                         \
    if (!var) GTEST_SKIP() << "fixture " << (name) << " not built"

TEST(AdvKeys, KeyStringsAndMatching) {
    EXPECT_EQ(app::AdvKeyString(42, -1, -1), "N42");
    EXPECT_EQ(app::AdvKeyString(-1, 100, 131), "F100:131");
    EXPECT_EQ(app::AdvKeyString(-1, 100, 100), "F100");
    EXPECT_EQ(app::AdvKeyString(-1, 100, -1), "F100");
    struct Case {
        const char* want;
        const char* have;
        bool match;
    } const cases[] = {
        {"F117", "F100:131", true},  {"F100", "F100:131", true}, {"F131", "F100:131", true},
        {"F99", "F100:131", false},  {"F132", "F100:131", false}, {"N5", "N5", true},
        {"N5", "F5", false},         {"F5", "F5", true},          {"", "", false},
        {"F-1", "F-5:3", false},     {"Fx", "F1:9", false},       {"F117", "F100:1x", false},
        {"N117", "F100:131", false},
    };
    for (const auto& c : cases) EXPECT_EQ(app::AdvKeyMatches(c.want, c.have), c.match) << c.want << " in " << c.have;
}

TEST_F(AdvShellTest, ScanOfAQuickFormattedNtfsVolumeRebuildsItsFolders) {
    REQUIRE_VOLUME(volume, "adv/qformat.img");
    const auto manifest = ManifestEntries("adv", "qformat.img");
    ASSERT_FALSE(manifest.empty());
    const std::int64_t sectors = partitions::PartitionSize(app::PartitionOf(volume));
    AdvScan(volume);

    ASSERT_EQ(ui.proposedRanges.size(), 1u);
    EXPECT_EQ(ui.proposedRanges[0].First, 0);
    EXPECT_EQ(ui.proposedRanges[0].Count, sectors);
    const std::string path = app::NodePath(volume);
    EXPECT_THAT(Lines(), ElementsAre("Starting scan \"" + path + "\"", fmt::format("Scan range: 0..{}", sectors - 1),
                                     "Scan progress completed"));
    EXPECT_FALSE(shell.ActionInProgress());
    // Position, speed and time left while the pass reads.
    EXPECT_THAT(ui.statusTexts, Contains(::testing::MatchesRegex("Advanced scan: [0-9]+% \\(.* of .*/s\\), [0-9:]+ left")));

    // The top node comes first, its three parts in the order exFAT, FAT, NTFS.
    ASSERT_FALSE(volume->Children.empty());
    TreeNode* extra = volume->Children.front().get();
    EXPECT_EQ(extra->Text, "!!! Advanced Extra !!!");
    EXPECT_EQ(app::AdvKindOfNode(extra), app::AdvKind::Extra);
    EXPECT_THAT(Texts(extra), ElementsAre("exFAT Root", "FAT Root", "NTFS Root"));
    EXPECT_EQ(app::NodeIcon(extra->Kind, false), app::Icon::Advanced);
    EXPECT_EQ(app::NodeIcon(extra->Kind, true), app::Icon::AdvancedOpen);
    TreeNode* ntfsRoot = Child(extra, "NTFS Root");
    EXPECT_EQ(app::AdvKindOfNode(ntfsRoot), app::AdvKind::NtfsRoot);
    // Every folder of the original volume is a node.
    for (const auto& [p, e] : manifest) {
        if (e.type == "dir") {
            EXPECT_TRUE(At(extra, p)) << p;
        }
    }
    TreeNode* photos = At(extra, "NTFS Root/Photos");
    ASSERT_TRUE(photos);
    EXPECT_EQ(app::AdvKindOfNode(photos), app::AdvKind::NtfsFolder);
    EXPECT_EQ(app::AdvKeyString(app::AdvDirNodeKey(*volume->Adv, static_cast<std::size_t>(photos->AdvIndex))->ntkey, -1, -1),
              "N" + std::to_string(scan::AsNtfs(photos->Entry)->recordnumber));

    // The volume lists the top node first; the top node lists its three parts.
    EXPECT_EQ(shell.Selected(), volume);
    ASSERT_FALSE(shell.Rows().empty());
    EXPECT_EQ(shell.Rows()[0].Caption, "!!! Advanced Extra !!!");
    EXPECT_EQ(app::RowIcon(shell.Rows()[0]), app::Icon::Advanced);
    ASSERT_TRUE(shell.SelectNode(extra));
    EXPECT_THAT(Captions(), ElementsAre("exFAT Root", "FAT Root", "NTFS Root"));

    // Rebuilt entries: deleted, marked as advanced NTFS rows, with their sizes.
    ASSERT_TRUE(shell.SelectNode(photos));
    EXPECT_THAT(Captions(), ElementsAre("Holiday Photo 001.jpg", "Sunset.png", "Ünïcödé Deleted Photo.jpg"));
    for (const auto& row : shell.Rows()) {
        EXPECT_EQ(row.Origin, app::RowOrigin::AdvancedNtfs);
        EXPECT_EQ(app::RowIcon(row), app::Icon::DeletedFile);
        EXPECT_EQ(row.SubItems[app::kColStatus - 1], "Deleted");
        EXPECT_EQ(row.Size, manifest.at("NTFS Root/Photos/" + row.Caption).size);
    }
    // An entry's folder is found again by its key, and named by its path.
    const scan::TScanEntry* sunset = shell.Rows()[RowOf("Sunset.png")].Data.Entry();
    EXPECT_EQ(app::AdvFindDirNode(*volume, sunset), photos);
    EXPECT_EQ(app::AdvGetFullPath(*volume, sunset), "/!!! Advanced Extra !!!/NTFS Root/Photos/");

    // Properties of a rebuilt file: its times and size.
    shell.SetFocus(app::Focus::List);
    ASSERT_TRUE(shell.SelectRows({RowOf("Sunset.png")}));
    const auto props = shell.Properties();
    EXPECT_THAT(props, Contains(app::PropertyRow{"Name", "Sunset.png"}));
    EXPECT_THAT(props, Contains(app::PropertyRow{"Size", std::to_string(manifest.at("NTFS Root/Photos/Sunset.png").size)}));

    // Double-clicking a folder row opens its node.
    ASSERT_TRUE(shell.SelectNode(At(extra, "NTFS Root")));
    shell.DoubleClickRow(RowOf("Documents"));
    EXPECT_EQ(shell.Selected(), At(extra, "NTFS Root/Documents"));
}

TEST_F(AdvShellTest, RecoveringRebuiltEntriesGivesTheOriginalBytes) {
    REQUIRE_VOLUME(volume, "adv/qformat.img");
    const auto manifest = ManifestEntries("adv", "qformat.img");
    AdvScan(volume);
    TreeNode* trash = At(volume, "!!! Advanced Extra !!!/NTFS Root/Trash Folder");
    ASSERT_TRUE(trash);

    // A file from the list.
    ASSERT_TRUE(shell.SelectNode(At(volume, "!!! Advanced Extra !!!/NTFS Root/Photos")));
    shell.SetFocus(app::Focus::List);
    ASSERT_TRUE(shell.SelectRows({RowOf("Ünïcödé Deleted Photo.jpg")}));
    const auto dest = tmp.path() / "out";
    std::filesystem::create_directories(dest);
    ui.folders = {dest.string()};
    shell.acRecover();
    ASSERT_EQ(ui.summaries.size(), 1u);
    EXPECT_EQ(ui.summaries[0].numRecovered, 1);
    EXPECT_EQ(ui.summaries[0].numFailed, 0);
    EXPECT_EQ(FileSha(dest / "Ünïcödé Deleted Photo.jpg"), manifest.at("NTFS Root/Photos/Ünïcödé Deleted Photo.jpg").sha256);

    // A deleted folder from the tree, with what it holds.
    ASSERT_TRUE(shell.SelectNode(trash));
    shell.SetFocus(app::Focus::Tree);
    const auto dest2 = tmp.path() / "out2";
    std::filesystem::create_directories(dest2);
    ui.folders = {dest2.string()};
    shell.acRecover();
    ASSERT_EQ(ui.summaries.size(), 2u);
    int files = 0;
    for (const auto& [p, e] : manifest) {
        if (p.rfind("NTFS Root/Trash Folder/", 0) != 0 || e.type != "file") continue;
        ++files;
        EXPECT_EQ(FileSha(dest2 / p.substr(std::string("NTFS Root/").size())), e.sha256) << p;
    }
    EXPECT_EQ(ui.summaries[1].numRecovered, files);
}

TEST_F(AdvShellTest, StatisticsCountWhatTheManifestHolds) {
    REQUIRE_VOLUME(volume, "adv/qformat.img");
    const auto manifest = ManifestEntries("adv", "qformat.img");
    AdvScan(volume);
    // Folders and files below "Documents", from the manifest.
    app::StatTotals want;
    want.Dirs = 1;
    for (const auto& [p, e] : manifest) {
        if (p.rfind("NTFS Root/Documents/", 0) != 0) continue;
        if (e.type == "dir") {
            ++want.Dirs;
        } else {
            ++want.Files;
            want.Size += e.size;
        }
    }
    TreeNode* documents = At(volume, "!!! Advanced Extra !!!/NTFS Root/Documents");
    ASSERT_TRUE(shell.SelectNode(documents));
    shell.SetFocus(app::Focus::Tree);
    EXPECT_TRUE(shell.Commands().Statistics);
    shell.acStatistics();
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back().first, app::MessageKind::Information);
    EXPECT_EQ(LastMessage(), app::StatisticsMessage(app::NodePath(documents), want, 0));

    // The same folder as a selected row, with a file of the same list: each counted once.
    ASSERT_TRUE(shell.SelectNode(At(volume, "!!! Advanced Extra !!!/NTFS Root")));
    shell.SetFocus(app::Focus::List);
    ASSERT_TRUE(shell.SelectRows({RowOf("Documents"), RowOf("README.TXT")}));
    shell.acStatistics();
    app::StatTotals both = want;
    ++both.Files;
    both.Size += manifest.at("NTFS Root/README.TXT").size;
    EXPECT_EQ(LastMessage(), app::StatisticsMessage(
                                 "2 selected item(s) in \"" + app::NodePath(shell.Selected()) + "\"", both, 0));
}

TEST_F(AdvShellTest, CancelledRangeScansNothing) {
    REQUIRE_VOLUME(volume, "adv/qformat.img");
    ui.cancelRange = true;
    AdvScan(volume);
    EXPECT_THAT(Lines(), ElementsAre(::testing::StartsWith("Starting scan"), "Cancelled at scan range selection"));
    EXPECT_EQ(app::AdvFindExtraNode(*volume), nullptr);
    EXPECT_FALSE(volume->Adv);
    EXPECT_FALSE(shell.ActionInProgress());
}

TEST_F(AdvShellTest, StopWithSaveWritesACheckpointAndResumeCompletesTheScan) {
    REQUIRE_VOLUME(volume, "adv/qformat.img");
    const auto manifest = ManifestEntries("adv", "qformat.img");
    const auto checkpoint = tmp.path() / "stopped.qvc";
    // The pass is stopped half-way with "Stop (Save Scan Progress)".
    bool stopped = false;
    ui.onProgress = [&](int percent) {
        if (!stopped && percent >= 30 && shell.Commands().StopSave) {
            stopped = true;
            shell.acStop1();
        }
    };
    ui.saveFiles = {checkpoint.string()};
    AdvScan(volume);
    ui.onProgress = nullptr;
    ASSERT_TRUE(stopped);
    EXPECT_THAT(Lines(), ElementsAre(::testing::StartsWith("Starting scan"), ::testing::StartsWith("Scan range: "),
                                     "Checkpoint saved", "Scan progress finished with return code \"User Terminated\""));
    EXPECT_TRUE(std::filesystem::exists(checkpoint));
    EXPECT_EQ(config.CheckpointPath, checkpoint.string());
    // The dialog proposed the data folder and a name that tells the volume.
    ASSERT_EQ(ui.saveSuggestions.size(), 1u);
    const std::filesystem::path proposed(ui.saveSuggestions[0]);
    EXPECT_EQ(proposed.parent_path(), std::filesystem::path(platform::DataDirectory()));
    EXPECT_EQ(proposed.filename(), advscan::CheckpointFileName(volume->Scan));
    // What was harvested before the stop is shown already.
    EXPECT_TRUE(app::AdvFindExtraNode(*volume));
    EXPECT_FALSE(shell.Commands().StopSave);
    // Raw Recovery waits for a scan that went through the whole volume.
    ASSERT_TRUE(shell.SelectNode(volume));
    EXPECT_FALSE(shell.acRawRecovery());
    EXPECT_EQ(LastMessage(), app::kRawNeedsAdvancedScan);
    EXPECT_TRUE(ui.rawWindows.empty());

    // Resume from it: the scan completes and its checkpoint is gone.
    const std::size_t before = Lines().size();
    ui.openFiles = {checkpoint.string()};
    AdvScan(volume, app::kScanModeResume);
    EXPECT_THAT(ui.openFilters, Contains(app::kCheckpointFilter));
    EXPECT_THAT(Lines(before), ElementsAre(::testing::StartsWith("Starting scan"), "Resume from checkpoint", "Scan progress completed"));
    EXPECT_FALSE(std::filesystem::exists(checkpoint));
    // Now it opens over the hits of the same pass.
    ASSERT_TRUE(shell.SelectNode(volume));
    EXPECT_TRUE(shell.acRawRecovery());
    ASSERT_EQ(ui.rawWindows.size(), 1u);
    ASSERT_TRUE(volume->Adv && volume->Adv->Raw);
    EXPECT_EQ(ui.rawWindows[0], volume->Adv->Raw->RawFiles.size());
    TreeNode* extra = app::AdvFindExtraNode(*volume);
    ASSERT_TRUE(extra);
    for (const auto& [p, e] : manifest) {
        if (e.type == "dir") {
            EXPECT_TRUE(At(extra, p)) << p;
        }
    }
}

TEST_F(AdvShellTest, PlainStopSavesNothingAndAWrongCheckpointIsRefused) {
    REQUIRE_VOLUME(volume, "adv/qformat.img");
    bool stopped = false;
    ui.onProgress = [&](int percent) {
        if (!stopped && percent >= 30 && shell.Commands().StopSave) {
            stopped = true;
            shell.acStop();
        }
    };
    ui.saveFiles = {(tmp.path() / "never.qvc").string()};
    AdvScan(volume);
    ui.onProgress = nullptr;
    ASSERT_TRUE(stopped);
    EXPECT_THAT(Lines(), Not(Contains("Checkpoint saved")));
    EXPECT_THAT(Lines(), Contains("Scan progress finished with return code \"User Terminated\""));
    EXPECT_EQ(ui.saveFiles.size(), 1u);  // never asked where
    EXPECT_FALSE(std::filesystem::exists(tmp.path() / "never.qvc"));

    // A file that is no checkpoint, and one that does not exist.
    const auto junk = tmp.path() / "junk.qvc";
    std::ofstream(junk) << "not a checkpoint";
    const std::size_t before = Lines().size();
    ui.openFiles = {junk.string(), (tmp.path() / "missing.qvc").string()};
    AdvScan(volume, app::kScanModeResume);
    EXPECT_EQ(LastMessage(), advscan::kCheckpointInvalidText);
    AdvScan(volume, app::kScanModeResume);
    EXPECT_EQ(LastMessage(), advscan::kCheckpointMissingText);
    EXPECT_TRUE(Lines(before).empty());
}

TEST_F(AdvShellTest, AdjustmentChecksTheFilesAndTogglesTheWidth) {
    REQUIRE_VOLUME(volume, "adv-fat/fat16-qformat.img");
    AdvScan(volume);
    TreeNode* fatRoot = app::AdvContainerNode(*volume, app::AdvKind::FatRoot);
    ASSERT_TRUE(fatRoot);
    ASSERT_TRUE(shell.SelectNode(fatRoot));
    shell.SetFocus(app::Focus::Tree);
    EXPECT_TRUE(shell.Commands().Adjust);
    ASSERT_EQ(shell.AdjustVolume(), volume);
    // Not on the NTFS part.
    ASSERT_TRUE(shell.SelectNode(app::AdvContainerNode(*volume, app::AdvKind::NtfsRoot)));
    EXPECT_FALSE(shell.Commands().Adjust);
    EXPECT_EQ(shell.AdjustVolume(), nullptr);

    advscan::FatRebuild& fat = volume->Adv->Adv->Fat;
    const auto spc = fat.SectorsPerClus;
    const auto data = fat.RootSectNum;
    // A folder further on with a lower cluster: refused before anything is solved.
    scan::TMidEntry a, b;
    a.DirSectNum = 1000, a.DirClusNum = 10;
    b.DirSectNum = 2000, b.DirClusNum = 5;
    EXPECT_FALSE(shell.DoAdjust(volume, &a, &b));
    EXPECT_EQ(LastMessage(), advscan::kAdjustNotSameFileSystem);
    EXPECT_EQ(fat.SectorsPerClus, spc);
    // The boxes refuse a file of the other's folder and one whose folder's cluster is unknown.
    b.DirClusNum = 10;
    EXPECT_STREQ(app::AdjustDropRefusal(&b, &a), advscan::kAdjustSameDirectory);
    EXPECT_STREQ(app::AdjustDropRefusal(&b, nullptr), nullptr);
    b.DirClusNum = 0;
    EXPECT_STREQ(app::AdjustDropRefusal(&b, nullptr), advscan::kAdjustNoCluster);
    EXPECT_EQ(app::ChangeFsTypeText(advscan::kFat32),
              "By analyzing the data in \"FAT Extra\" folder, Brenvale guess the original file system type of current "
              "drive is FAT32. Please press the button below if the detected file system type is wrong.");
    EXPECT_THAT(app::ChangeFsTypeText(advscan::kFat16), HasSubstr(" is FAT12/16. "));
    EXPECT_EQ(fat.RootSectNum, data);

    // The other width and back again: two re-enumerations, "FAT Root" shown each time.
    const std::uint8_t width = fat.FatType;
    shell.DoChangeFsType(volume);
    EXPECT_NE(fat.FatType, width);
    EXPECT_EQ(LastMessage(), advscan::kChangeFsCompleted);
    EXPECT_EQ(shell.Selected(), app::AdvContainerNode(*volume, app::AdvKind::FatRoot));
    shell.DoChangeFsType(volume);
    EXPECT_EQ(fat.FatType, width);
    EXPECT_EQ(shell.Selected()->Text, "FAT Root");
    EXPECT_FALSE(shell.ActionInProgress());
}

}  // namespace
}  // namespace brenvale::test
