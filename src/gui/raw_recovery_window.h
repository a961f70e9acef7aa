#pragma once
// "Raw Recovery": the files an advanced scan found by their content, by group, vendor and
// type, with thumbnails of the pictures, a preview of the selected file, filters by size and
// type, and recovery of the chosen files. Everything that reads the device runs on the
// window's own device thread, so scrolling and selecting never wait for a read or a decoder.

#include <QDialog>
#include <QImage>
#include <QTimer>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/raw_recover_command.h"
#include "app/raw_recovery_model.h"
#include "app/raw_recovery_session.h"
#include "gui/device_jobs.h"

class QAbstractItemView;
class QAction;
class QComboBox;
class QLabel;
class QListView;
class QPlainTextEdit;
class QSpinBox;
class QSplitter;
class QStackedWidget;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace brenvale::gui {

class RawListModel;

// Delay between a selection and its preview.
inline constexpr int kPreviewDelayMs = 80;
// Accepted stored layout: the tree panel's width and the preview panel's height.
inline constexpr int kRwMinLeft = 80;
inline constexpr int kRwMaxLeft = 1499;
inline constexpr int kRwMaxPreview = 600;

class RawRecoveryWindow : public QDialog {
    Q_OBJECT
public:
    explicit RawRecoveryWindow(app::RawRecoverySession& session, QWidget* parent = nullptr);
    ~RawRecoveryWindow() override;

    QTreeWidget* tree() const { return FTree; }
    RawListModel* listModel() const { return FModel; }
    QListView* iconView() const { return FIconView; }
    QTreeView* reportView() const { return FReportView; }
    // The view that shows the list now: large icons for pictures, the report for the rest.
    QAbstractItemView* currentView() const;
    QLabel* previewCaption() const { return FPreviewCaption; }
    QLabel* pictureLabel() const { return FPicture; }
    QPlainTextEdit* hexView() const { return FHex; }
    bool showingPicture() const;
    const QImage& previewImage() const { return FPreviewImage; }
    QLabel* statusPanel(int i) const { return FPanels[static_cast<std::size_t>(i)]; }
    QSpinBox* minSizeBox() const { return FMinKB; }
    QSpinBox* maxSizeBox() const { return FMaxKB; }
    QComboBox* typeBox() const { return FType; }
    QSplitter* leftSplitter() const { return FHSplit; }
    QSplitter* previewSplitter() const { return FVSplit; }
    const app::RawRecoveryModel& model() const { return FData; }
    int thumbnailsDone() const { return FThumbDone; }
    int thumbnailsTotal() const { return FThumbTotal; }
    bool recovering() const { return FRecovering; }

    // The tree item of a node of the model.
    QTreeWidgetItem* itemOf(const app::RawTreeNode* node) const;
    // Selects list rows (in the current view); the preview follows.
    void selectRows(const std::vector<int>& rows);

    QAction* actRecover = nullptr;
    QAction* actStop = nullptr;
    QAction* actPreview = nullptr;
    QAction* actClose = nullptr;
    QAction* actSelectType = nullptr;
    QAction* actSize500K = nullptr;        // hidden until actEnableSize500K
    QAction* actEnableSize500K = nullptr;  // Ctrl+Alt+S

    // The folder picker and the summary; tests replace them.
    std::function<std::optional<std::string>(const std::string& initialDir)> chooseFolder;
    std::function<void(const app::RecoverySummary&)> showSummary;

signals:
    void thumbnailsFinished();
    void previewShown();
    void recoveryFinished();

protected:
    void done(int result) override;
    void resizeEvent(QResizeEvent* event) override;
    // The stored layout is applied once the window has its size.
    void showEvent(QShowEvent* event) override;

private:
    class WindowUi;

    void buildActions();
    void buildWidgets();
    void fillTree();
    void applyLayout();
    void saveLayout();
    void onNodeSelected(QTreeWidgetItem* item);
    // Shows the rows of the node with the filters applied; queues their thumbnails.
    void showRows();
    void refillTypeBox();
    void queueThumbnails();
    void onThumbnail(int epoch, int row, const QImage& picture);
    void onSelectionChanged();
    void requestPreview();
    void showPreviewPicture(int serial, const QImage& picture, const QString& caption);
    void showPreviewHex(int serial, const QString& text, const QString& caption);
    void scalePicture();
    std::vector<int> selectedRows() const;
    void recover();
    void onRecoveryDone(const app::RecoverySummary& summary);
    void selectSameType();
    void growSelected();
    void listContextMenu(const QPoint& pos);

    app::RawRecoverySession& FSession;
    app::RawRecoveryModel FData;
    std::unique_ptr<WindowUi> FUi;
    std::unique_ptr<app::RawRecoverCommand> FCommand;

    QTreeWidget* FTree = nullptr;
    RawListModel* FModel = nullptr;
    QStackedWidget* FViews = nullptr;
    QListView* FIconView = nullptr;
    QTreeView* FReportView = nullptr;
    QLabel* FPreviewCaption = nullptr;
    QStackedWidget* FPreviewStack = nullptr;
    QLabel* FPicture = nullptr;
    QPlainTextEdit* FHex = nullptr;
    QSplitter* FHSplit = nullptr;
    QSplitter* FVSplit = nullptr;
    QSpinBox* FMinKB = nullptr;
    QSpinBox* FMaxKB = nullptr;
    QComboBox* FType = nullptr;
    std::array<QLabel*, 4> FPanels{};

    const app::RawTreeNode* FNode = nullptr;  // the node whose rows are listed
    std::vector<app::RawRow> FNodeRows;        // before the filters
    bool FLargeIcons = false;
    bool FSyncing = false;

    // Thumbnails: the epoch is raised whenever the list is rebuilt, so pictures made for an
    // older list are dropped.
    std::shared_ptr<std::atomic<int>> FThumbEpoch = std::make_shared<std::atomic<int>>(0);
    int FThumbTotal = 0;
    int FThumbDone = 0;
    QTimer FPreviewTimer;
    int FPreviewSerial = 0;
    QImage FPreviewImage;
    QTimer FLayoutTimer;
    bool FRecovering = false;
    bool FLayoutApplied = false;

    // Declared last: destroyed first, so no job outlives what it reads.
    DeviceJobs FJobs;
};

// Opens the window modally (maximized) over the session's hits.
void ShowRawRecovery(QWidget* parent, app::RawRecoverySession& session);

}  // namespace brenvale::gui
