#pragma once
// The main window without widgets: the drive tree, the selected node and list, the busy flag,
// the status bar, and every command of the window. The desktop window draws this state and
// forwards clicks; tests drive it through a scripted UserInterface.

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/adv_extra.h"
#include "app/config.h"
#include "app/drive_tree.h"
#include "app/event_log.h"
#include "app/folder_view.h"
#include "app/list_filter.h"
#include "app/lost_files_by_type.h"
#include "app/path_bar.h"
#include "app/properties.h"
#include "app/raw_recovery_session.h"
#include "app/recover_command.h"
#include "app/type_names.h"
#include "app/user_interface.h"
#include "health/health_cache.h"
#include "platform/drive_commands.h"

namespace brenvale::app {

// One choice of the "Select Scan Mode" dialog.
struct ScanModeChoice {
    int Result = 0;
    const char* Title = "";
    const char* Description = "";
    bool Enabled = false;
};

inline constexpr char kScanModeCaption[] = "Select Scan Mode";
inline constexpr char kLoadImageTitle[] = "Load Drive Image";
inline constexpr char kCreateImageTitle[] = "Create Drive Image";
inline constexpr char kImageFilter[] = "Drive image file (*.dif)|*.dif";
// "Load Drive Image" offers every image it reads at once, then each kind, then any file.
inline constexpr char kLoadImageFilter[] =
    "Drive images (*.dif *.img *.dd *.raw *.bin)|*.dif;*.img;*.dd;*.raw;*.bin|Drive image file (*.dif)|*.dif|"
    "Raw disk image (*.img *.dd *.raw *.bin)|*.img;*.dd;*.raw;*.bin|All files (*)|*";
inline constexpr char kRecoverTitle[] = "Select the folder to recover to";
inline constexpr char kLoadImageEvent[] = "Load Image";
// A failed load names the file and gives the system's reason under the message.
inline constexpr char kImageFailedFormat[] = "{}\r\n\r\n\"{}\": {}";
inline constexpr char kImageLoadedFormat[] = "Loaded drive image \"{}\"";
inline constexpr char kImageHoldsNothing[] =
    "\"{}\" holds no partition table and no volume this program reads. \"Search for Lost Partitions\" can look "
    "for volumes in it.";
inline constexpr bool kAdvancedScanBuilt = true;
// The raw recovery window shows the hits of any advanced scan the scan object has completed.
inline constexpr bool kRawRecoveryBuilt = true;
// "Open Directory" follows at most this many folders (a damaged tree may loop).
inline constexpr std::size_t kMaxOpenDepth = 1000;

// Which commands can run for the selected item.
struct CommandState {
    bool SimpleScan = false;
    bool AdvancedScan = false;  // also "Resume Advanced Scan"
    bool PartiScan = false;
    bool CreateImage = false;
    bool Recover = false;
    bool RawRecovery = false;
    bool ScanButton = false;
    bool Preview = false;
    bool Adjust = false;
    bool Stop = false;
    bool StopSave = false;  // "Stop (Save Scan Progress)": an advanced scan runs
    bool Search = false;
    bool Statistics = false;
};

enum class Focus { Tree, List };

class Shell {
public:
    // `drives` (may be null: the health and TRIM rows then stay "-") answers drive commands.
    Shell(platform::Platform& os, UserInterface& ui, EventLog& log, Config& config,
          platform::DriveCommands* drives = nullptr);
    ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // Builds the tree from the system's volumes and drives (the window's creation) and
    // selects "My Computer".
    void Start();
    // The same from given lists (tests, and a program that only opens images).
    void Start(const std::vector<storage::VolumeInfo>& volumes, const std::vector<std::uint8_t>& drives);

    DriveTree& Tree() { return *FTree; }
    UserInterface& Ui() { return FUi; }
    TreeNode* Selected() const { return FSelected; }
    bool ActionInProgress() const { return FActionInProgress; }
    const std::vector<ListRow>& Rows() const { return FRows; }
    const std::vector<std::size_t>& SelectedRows() const { return FSelectedRows; }
    std::vector<std::string> ColumnCaptions() const;
    const std::array<std::string, 4>& StatusPanels() const { return FStatus.Panels; }
    bool FilterBarVisible() const { return FFilterBarVisible; }
    const std::vector<TreeNode*>& PathNodes() const { return FPath; }
    const std::string& FilterText() const { return FFilterText; }
    int SortColumn() const { return FFilter.SortColumn(); }
    bool SortAscending() const { return FFilter.SortAscending(); }
    const RecoverySummary& LastRecovery() const { return FLastRecovery; }
    TreeNode* SearchedNode() const { return FSearchedNode; }

    // Selection and focus. Both refuse (false) while an operation runs.
    bool SelectNode(TreeNode* node);
    bool SelectRows(const std::vector<std::size_t>& rows);
    void SetFocus(Focus f) { FFocus = f; }
    Focus CurrentFocus() const { return FFocus; }
    // The first expansion of a volume or folder node builds the level below its children.
    void ExpandNode(TreeNode* node);
    // Whether the deleted-only filter applies to what a node shows.
    bool DelFilterApplies(const TreeNode* node) const;

    CommandState Commands() const;
    std::vector<ScanModeChoice> ScanModes() const;
    std::vector<PropertyRow> Properties();
    // The health or TRIM evaluation the shown properties wait for, to run off the window's
    // thread; empty when there is none. Show the properties again after it ran.
    std::function<void()> HealthWork();
    health::HealthCache* Health() { return FHealth.get(); }

    // The commands.
    void btnScan();
    // Runs what the scan-method dialog returned (nothing for 0 or a disabled choice). btnScan
    // is the dialog followed by this; a window with a worker thread asks on its own thread
    // and runs only this on the worker.
    void RunScanMode(int choice);
    void acNormalScan();
    void acRecover();
    void acStop();
    void acPartiScan();
    void acCreateImg();
    void acLoadImg();
    // Opens an image file as "Load Drive Image" does; false (after an error box) when it cannot.
    bool LoadImageFile(const std::string& path);
    void acSearch();
    void acRefresh();
    void acUp();
    void acOpenDirectory();
    // Double-clicks: a row opens its folder. Both return true when the scan-method dialog is
    // due (an unscanned volume or drive): the caller then runs btnScan, on its worker thread
    // when it has one.
    bool DoubleClickNode(TreeNode* node);
    bool DoubleClickRow(std::size_t row);
    // A click on a column header: descending first, then toggling.
    void ColumnClick(int column);
    // The filter box's text; the caller applies it after the filter delay.
    void SetFilterText(const std::string& text);

    // The advanced scan and what works on its "!!! Advanced Extra !!!" tree (shell_advanced.cpp).
    void acAdvScan();
    void acResumeAdvScan();
    void acStop1();  // "Stop (Save Scan Progress)"
    void acStatistics();
    // "Adjustment": the volume node whose FAT guess the dialog corrects (null when the
    // selection is no FAT folder of the tree); the geometry from two files of it, and the
    // other FAT width. Both rebuild "FAT Root", select it and say so. DoAdjust is false when
    // the files were refused (the dialog then forgets them).
    TreeNode* AdjustVolume();
    bool DoAdjust(TreeNode* volume, const scan::TScanEntry* file1, const scan::TScanEntry* file2);
    void DoChangeFsType(TreeNode* volume);

    // Called after a command changed a setting of the configuration (the window saves it).
    std::function<void()> OnConfigChanged;

    // "Raw Recovery": refused (false, with a message) unless the selected node's scan object
    // completed an advanced scan whose hits RawScanOf finds; otherwise the window opens.
    bool acRawRecovery();
    RawScanLookup RawScanOf;
    // "Options" closed with OK: the children of "Lost Files by Type" follow the extensions.
    void LostFileTypesChanged();
    const LostFilesByType& LostFiles() const { return FLostFiles; }

private:
    // Brackets a long command: the busy flag and the progress bar, undone on every path.
    struct Busy {
        explicit Busy(Shell& s);
        ~Busy();
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;
        Shell& shell;
    };
    void listNode(TreeNode* node);
    void showRows(std::vector<ListRow> rows, bool searchList);
    void refreshStatusBar();
    // Shows the snapshot's rows that the filter text keeps, in the sorted column's order.
    void applyFilter();
    TreeNode* targetNode();  // the selected node, or the child its selected list row stands for
    TreeNode* describedNode();  // the node whose properties are shown, if they describe a node
    // The child of `node` that a row stands for: the row's node, or the folder node of its entry.
    TreeNode* childForData(TreeNode* node, const RowData& data) const;
    bool openFolderRow(const ListRow& row);
    // Builds the folder nodes one level below the node's children, once.
    void ensureLevels(TreeNode* node);
    // Drops references into a subtree about to be rebuilt.
    void forgetBelow(const TreeNode* node, bool includingNode);
    RowLess sortComparison(int column) const;
    bool qualifiesForScanDialog(const TreeNode* node) const;
    ViewProgress listProgress();
    void runAdvancedScan(bool resume);
    // Builds the volume's "!!! Advanced Extra !!!" nodes again from its tree and selects `select`.
    void rebuildAdvancedNodes(TreeNode* volume, AdvKind select);
    bool countable(const TreeNode* node) const;
    // "Lost Files by Type": its children from the configuration; filled for the scan object
    // of the node the user came from.
    void syncLostFiles();
    void openLostFiles(TreeNode* from, TreeNode* node);
    // A scan replaces the entries of `s`: lists of "Lost Files by Type" filled from it go.
    void forgetLostFilesOf(const scan::TUndelete& s);

    platform::Platform& FOs;
    UserInterface& FUi;
    EventLog& FLog;
    Config& FConfig;
    std::unique_ptr<DriveTree> FTree;
    std::unique_ptr<health::HealthCache> FHealth;
    TypeNames FTypes;
    ListFilter FFilter;

    TreeNode* FSelected = nullptr;
    Focus FFocus = Focus::Tree;
    std::vector<ListRow> FRows;                // the visible rows
    std::vector<std::size_t> FSelectedRows;    // indexes into FRows, in list order
    bool FSearchList = false;
    bool FFilterBarVisible = false;
    std::string FFilterText;
    std::vector<TreeNode*> FPath;
    StatusBarTexts FStatus;
    bool FOpening = false;

    bool FActionInProgress = false;
    std::atomic<scan::TUndelete*> FCurrentScan{nullptr};
    std::atomic<partitions::TPhysicalDrv*> FCurrentDrive{nullptr};
    std::atomic<storage::TDevice*> FCurrentDevice{nullptr};
    std::int32_t FStopSaveMode = 0;
    std::atomic<AdvVolume*> FCurrentAdv{nullptr};
    std::atomic<bool> FAdvSaveAtStop{false};
    RecoverySummary FLastRecovery;
    TreeNode* FSearchedNode = nullptr;
    bool FSearchUnderLost = false;
    LostFilesByType FLostFiles;
};

}  // namespace brenvale::app
