#pragma once
// The main window: the drive tree on the left, the file list with its filter and path bar on
// the right, the Properties / Preview / Event Log pages below it, and the status bar. All it
// shows comes from app::Shell; long commands run on the worker thread while the window stays
// responsive and refuses every other command.

#include <QMainWindow>
#include <QTimer>

#include <memory>

#include "app/config.h"
#include "app/event_log.h"
#include "app/shell.h"
#include "gui/gui_ui.h"
#include "gui/tree_sync.h"
#include "gui/worker.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QSplitter;
class QTabWidget;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace brenvale::gui {

class AdvancedCommands;
class EventLogPage;
class FileListModel;
class PathBarWidget;
class PropertiesPage;

// The column sets of the file list. Widths are set again when the set changes; those of the
// folder lists are the ones the configuration keeps.
enum class ListColumns { None, Devices, Folders, SearchHits, FileTypes };

inline constexpr int kPageProperties = 0;
inline constexpr int kPagePreview = 1;
inline constexpr int kPageEventLog = 2;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `configDoc` (may be null) is where layout and option changes are saved. `ui` answers the
    // commands' questions; null: the window's own dialogs.
    // `drives` (may be null: no health data) answers drive commands.
    MainWindow(platform::Platform& os, app::Config& config, app::ConfigDocument* configDoc,
               std::unique_ptr<GuiUi> ui = nullptr, platform::DriveCommands* drives = nullptr);
    ~MainWindow() override;

    // Fills the tree from the system's volumes and drives, or from given lists (tests).
    void start();
    void start(const std::vector<storage::VolumeInfo>& volumes, const std::vector<std::uint8_t>& drives);
    // Opens an image file as "Load Drive Image" does.
    bool openImage(const QString& path);

    // Selects a node in the tree (and so lists it); false while a command runs.
    bool selectNode(app::TreeNode* node);
    bool busy() const { return worker_.busy(); }

    app::Shell& shell() { return *shell_; }
    app::EventLog& eventLog() { return log_; }
    QTreeWidget* tree() const { return tree_; }
    QTreeView* list() const { return list_; }
    FileListModel* listModel() const { return model_; }
    QLineEdit* filterBox() const { return filter_; }
    PathBarWidget* pathBar() const { return pathBar_; }
    QLabel* statusPanel(int i) const { return panels_[static_cast<std::size_t>(i)]; }
    QProgressBar* progressBar() const { return progress_; }
    QTabWidget* pages() const { return pages_; }
    PropertiesPage* propertiesPage() const { return properties_; }
    EventLogPage* eventLogPage() const { return eventLogPage_; }
    QTreeWidgetItem* itemOf(const app::TreeNode* node) const { return index_.value(node, nullptr); }
    // The advanced scan's commands (adv_commands.h).
    AdvancedCommands* advanced() const { return adv_.get(); }

    // The commands, as the menus, tool bar and context menus trigger them.
    QAction* actScan = nullptr;
    QAction* actSimpleScan = nullptr;
    QAction* actPartiScan = nullptr;
    QAction* actStop = nullptr;
    QAction* actRecover = nullptr;
    QAction* actCreateImage = nullptr;
    QAction* actLoadImage = nullptr;
    QAction* actSearch = nullptr;
    QAction* actOpenDirectory = nullptr;
    QAction* actRefresh = nullptr;
    QAction* actOptions = nullptr;
    QAction* actHealth = nullptr;
    QAction* actUp = nullptr;
    QAction* actShowProperties = nullptr;
    QAction* actShowPreview = nullptr;
    QAction* actShowEventLog = nullptr;
    QAction* actExit = nullptr;
    QAction* actAbout = nullptr;
    QAction* actRawRecovery = nullptr;

signals:
    // A long command has finished and the window shows its result.
    void commandFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildActions();
    void buildMenus();
    void buildWidgets();
    void buildStatusBar();
    void connectSignals();
    void applyLayout();
    void saveLayout();
    // A layout saved at another scale or window size never leaves the file list a few rows
    // tall or the tree wider than the rest: the splitters are held within the window.
    void clampSplitters();
    // Column widths of a column set shown for the first time: the defaults, widened to what
    // the header and the rows need in the window's font.
    void fitColumns(const std::vector<int>& defaults);
    // Enter and Backspace in the tree and the list; true when the key was used.
    bool handleKey(QObject* watched, int key);

    // "Scan": the scan-method dialog, then the chosen scan on the worker.
    void chooseScanMode();
    // Runs a shell command on the worker thread; nothing when one is running.
    void runLong(std::function<void()> command);
    void onCommandFinished(const QString& error);
    // Shows everything the shell holds: tree, list, status bar, pages, command state.
    void syncAll();
    void syncTree();
    void showList();
    void showSelectedRows();
    void updateActions();
    void updateProperties();
    // Runs the health or TRIM evaluation the shown properties wait for, off this thread.
    void startHealthWork();
    void showHealthWindow();
    void onTreeSelection(QTreeWidgetItem* item);
    void onListSelection();
    void applyFilterNow();
    void saveEventLog();
    void editOptions();
    void listContextMenu(const QPoint& pos);
    void treeContextMenu(const QPoint& pos);
    // "Raw Recovery": its action, menu entry and command.
    void setUpRawRecovery(QMenu* menu);

    platform::Platform& os_;
    platform::DriveCommands* drives_;
    app::Config& config_;
    app::ConfigDocument* configDoc_;
    app::EventLog log_;
    std::unique_ptr<GuiUi> ui_;
    std::unique_ptr<app::Shell> shell_;
    std::unique_ptr<AdvancedCommands> adv_;
    Worker worker_;
    // Health and TRIM evaluations of the properties page: their own thread, so a slow drive
    // never holds up a command.
    Worker healthWorker_;

    QSplitter* hsplit_ = nullptr;
    QSplitter* vsplit_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QTreeView* list_ = nullptr;
    FileListModel* model_ = nullptr;
    QWidget* filterBar_ = nullptr;
    PathBarWidget* pathBar_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QTabWidget* pages_ = nullptr;
    PropertiesPage* properties_ = nullptr;
    EventLogPage* eventLogPage_ = nullptr;
    std::array<QLabel*, 4> panels_{};
    QProgressBar* progress_ = nullptr;
    QTimer filterTimer_;
    QTimer logTimer_;
    QTimer layoutTimer_;  // saves the layout shortly after a splitter or column was dragged

    NodeIndex index_;
    bool syncing_ = false;        // the window is changing its widgets: their signals are ignored
    ListColumns listColumns_ = ListColumns::None;  // which column set the list shows
    bool saveAfterCommand_ = false;  // a layout or setting change waits for the command to end
    int openDialogs_ = 0;            // dialogs of the program now open (the command waits)
};

}  // namespace brenvale::gui
