// The main window's construction: actions, menus, widgets, status bar and layout.

#include "gui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>

#include "app/folder_view.h"
#include "app/list_filter.h"
#include "gui/adv_commands.h"
#include "gui/file_list_model.h"
#include "gui/health_window.h"
#include "gui/icons.h"
#include "gui/pages.h"
#include "gui/path_bar_widget.h"

namespace brenvale::gui {

namespace {

constexpr int kPanelWidths[4] = {340, 250, 170, 170};
constexpr QColor kProgressColour{0, 151, 0};

}  // namespace

MainWindow::MainWindow(platform::Platform& os, app::Config& config, app::ConfigDocument* configDoc,
                       std::unique_ptr<GuiUi> ui, platform::DriveCommands* drives)
    : os_(os),
      drives_(drives),
      config_(config),
      configDoc_(configDoc),
      ui_(ui ? std::move(ui) : std::make_unique<GuiUi>(this)) {
    ui_->setWindow(this);
    shell_ = std::make_unique<app::Shell>(os_, *ui_, log_, config_, drives_);
    // A command on the worker changed a setting: the file is written on the window's thread,
    // once the command is over, so the settings are never read and written at the same time.
    shell_->OnConfigChanged = [this] {
        QMetaObject::invokeMethod(this, [this] { saveLayout(); }, Qt::QueuedConnection);
    };
    log_.AttachDeviceSink();

    setWindowTitle(QString::fromUtf8(app::kAppTitle));
    setWindowIcon(QIcon(AppLogo(64)));
    buildActions();
    buildMenus();
    buildWidgets();
    buildStatusBar();
    connectSignals();
    resize(1280, 800);
    applyLayout();
}

MainWindow::~MainWindow() {
    // The widgets outlive the shell by a moment (they go with the QWidget base); nothing they
    // or the application signal while closing may reach it.
    disconnect(qApp, nullptr, this, nullptr);
    tree_->blockSignals(true);
    list_->selectionModel()->blockSignals(true);
    filterTimer_.stop();
    logTimer_.stop();
    layoutTimer_.stop();
    app::EventLog::DetachDeviceSink();
}

void MainWindow::buildActions() {
    auto make = [this](const char* text, QStyle::StandardPixmap icon = QStyle::StandardPixmap(-1)) {
        auto* a = new QAction(QString::fromUtf8(text), this);
        if (icon != QStyle::StandardPixmap(-1)) a->setIcon(style()->standardIcon(icon));
        return a;
    };
    actScan = make("Scan", QStyle::SP_FileDialogContentsView);
    actScan->setToolTip("Choose how to scan the selected drive or volume");
    actScan->setShortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_S);
    actSimpleScan = make("Simple Scan");
    actPartiScan = make("Search for Lost Partitions");
    actStop = make("Stop", QStyle::SP_BrowserStop);
    actStop->setShortcut(Qt::Key_Escape);
    actRecover = make("Recover", QStyle::SP_DialogSaveButton);
    actRecover->setToolTip("Copy the selected files and folders to another disk");
    actRecover->setShortcut(Qt::CTRL | Qt::Key_R);
    actCreateImage = make("Create Drive Image...");
    actLoadImage = make("Load Drive Image...", QStyle::SP_DialogOpenButton);
    actSearch = make("Search...", QStyle::SP_FileDialogDetailedView);
    actSearch->setShortcut(QKeySequence::Find);
    actOpenDirectory = make("Open Directory");
    actRefresh = make("Update Drive List", QStyle::SP_BrowserReload);
    actRefresh->setShortcut(QKeySequence::Refresh);
    actOptions = make("Options...");
    actHealth = make(kHealthCommandText);
    actHealth->setEnabled(drives_ != nullptr);
    actUp = make("Up", QStyle::SP_FileDialogToParent);
    actUp->setShortcut(Qt::ALT | Qt::Key_Up);
    actShowProperties = make("Show \"Properties\"");
    actShowPreview = make("Show \"Preview\"");
    actShowEventLog = make("Show \"Event Log\"");
    AdvancedCommands::Hooks advHooks;
    advHooks.runLong = [this](std::function<void()> command) { runLong(std::move(command)); };
    advHooks.sync = [this] { syncAll(); };
    advHooks.selectedRow = [this] {
        const auto rows = list_->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.front().row() : -1;
    };
    advHooks.rowAt = [this](int row) -> const app::ListRow* {
        const auto& rows = model_->rows();
        return row >= 0 && static_cast<std::size_t>(row) < rows.size() ? &rows[static_cast<std::size_t>(row)] : nullptr;
    };
    adv_ = std::make_unique<AdvancedCommands>(this, *shell_, std::move(advHooks));
    actExit = make("Exit");
    actExit->setShortcut(QKeySequence::Quit);
    actAbout = make("About Brenvale");
}

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addActions({actLoadImage, actCreateImage});
    file->addSeparator();
    file->addAction(actRecover);
    file->addSeparator();
    file->addAction(actExit);
    QMenu* scan = menuBar()->addMenu("&Scan");
    scan->addActions({actScan, actSimpleScan, adv_->advScan, adv_->resumeAdvScan});
    scan->addSeparator();
    scan->addActions({actStop, adv_->stopSave});
    scan->addSeparator();
    scan->addActions({adv_->statistics, adv_->adjust});
    QMenu* tools = menuBar()->addMenu("&Tools");
    tools->addActions({actPartiScan, actSearch, actOpenDirectory, actRefresh});
    setUpRawRecovery(tools);
    tools->addSeparator();
    tools->addAction(actHealth);
    tools->addSeparator();
    tools->addAction(actOptions);
    QMenu* view = menuBar()->addMenu("&View");
    view->addActions({actShowProperties, actShowPreview, actShowEventLog});
    view->addSeparator();
    view->addAction(actUp);
    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction(actAbout);

    QToolBar* bar = addToolBar("Main");
    bar->setObjectName("mainToolBar");
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->addActions({actScan, actRecover, actStop, adv_->stopSave});
    bar->addSeparator();
    bar->addActions({actSearch, actUp});
    bar->addSeparator();
    bar->addActions({actLoadImage, actRefresh});
}

void MainWindow::buildWidgets() {
    tree_ = new QTreeWidget;
    tree_->setHeaderHidden(true);
    tree_->setUniformRowHeights(true);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    tree_->setExpandsOnDoubleClick(true);

    filterBar_ = new QWidget;
    auto* barLayout = new QHBoxLayout(filterBar_);
    barLayout->setContentsMargins(0, 0, 0, 0);
    barLayout->setSpacing(4);
    pathBar_ = new PathBarWidget;
    filter_ = new QLineEdit;
    filter_->setPlaceholderText(QString::fromUtf8(app::kFilterBoxHint));
    filter_->setFixedWidth(220);
    auto* clear = new QToolButton;
    clear->setText(QString::fromUtf8("\xC3\x97"));  // ×
    clear->setToolTip(QString::fromUtf8(app::kClearFilterHint));
    clear->setAutoRaise(true);
    connect(clear, &QToolButton::clicked, filter_, &QLineEdit::clear);
    barLayout->addWidget(pathBar_, 1);
    barLayout->addWidget(filter_);
    barLayout->addWidget(clear);
    filterBar_->setFixedHeight(30);
    filterBar_->hide();

    list_ = new QTreeView;
    model_ = new FileListModel(list_);
    list_->setModel(model_);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->header()->setSectionsClickable(true);
    list_->header()->setSortIndicatorShown(false);
    list_->header()->setStretchLastSection(false);
    // Rows are dragged into the "Adjustment" dialog.
    list_->setDragEnabled(true);
    list_->setDragDropMode(QAbstractItemView::DragOnly);

    auto* listPanel = new QWidget;
    auto* listLayout = new QVBoxLayout(listPanel);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(2);
    listLayout->addWidget(filterBar_);
    listLayout->addWidget(list_);

    pages_ = new QTabWidget;
    properties_ = new PropertiesPage;
    auto* preview = new QLabel("Select a file to see its properties. Previews are not available yet.");
    preview->setAlignment(Qt::AlignCenter);
    preview->setEnabled(false);
    eventLogPage_ = new EventLogPage(log_);
    pages_->addTab(properties_, "Properties");
    pages_->addTab(preview, "Preview");
    pages_->addTab(eventLogPage_, "Event Log");

    vsplit_ = new QSplitter(Qt::Vertical);
    vsplit_->addWidget(listPanel);
    vsplit_->addWidget(pages_);
    vsplit_->setStretchFactor(0, 1);
    vsplit_->setChildrenCollapsible(false);
    hsplit_ = new QSplitter(Qt::Horizontal);
    hsplit_->addWidget(tree_);
    hsplit_->addWidget(vsplit_);
    hsplit_->setStretchFactor(1, 1);
    hsplit_->setChildrenCollapsible(false);
    setCentralWidget(hsplit_);

    // While a command runs, clicks and keys that would change the selection are swallowed;
    // the views still scroll and repaint.
    for (QWidget* w : {static_cast<QWidget*>(tree_), tree_->viewport(), static_cast<QWidget*>(list_), list_->viewport()}) {
        w->installEventFilter(this);
    }
}

void MainWindow::buildStatusBar() {
    auto* panel0 = new QWidget;
    auto* layout = new QHBoxLayout(panel0);
    layout->setContentsMargins(2, 0, 2, 0);
    progress_ = new QProgressBar;
    progress_->setFixedSize(294, 17);
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    // A style sheet, because styles may draw the chunk without the palette's highlight.
    progress_->setStyleSheet(QStringLiteral("QProgressBar::chunk { background-color: %1; }").arg(kProgressColour.name()));
    progress_->hide();
    panels_[0] = new QLabel;
    layout->addWidget(progress_);
    layout->addWidget(panels_[0], 1);
    panel0->setFixedWidth(kPanelWidths[0]);
    statusBar()->addWidget(panel0);
    for (int i = 1; i < 4; ++i) {
        panels_[static_cast<std::size_t>(i)] = new QLabel;
        panels_[static_cast<std::size_t>(i)]->setMinimumWidth(i == 1 ? 120 : kPanelWidths[i]);
    }
    // Panel 1 takes whatever width the other three leave.
    statusBar()->addWidget(panels_[1], 1);
    statusBar()->addPermanentWidget(panels_[2]);
    statusBar()->addPermanentWidget(panels_[3]);
}

void MainWindow::applyLayout() {
    const int treeWidth = app::TreeWidthToApply(config_.Splitter1).value_or(289);
    const int panelHeight = app::PanelHeightToApply(config_.Splitter2).value_or(263);
    hsplit_->setSizes({treeWidth, std::max(400, width() - treeWidth)});
    vsplit_->setSizes({std::max(200, height() - panelHeight), panelHeight});
    clampSplitters();
}

void MainWindow::clampSplitters() {
    // The lower pages take at most half of the right side, the tree at most half the width.
    const QList<int> v = vsplit_->sizes();
    const int vTotal = v.value(0) + v.value(1);
    if (vTotal > 0 && v.value(1) > vTotal / 2) vsplit_->setSizes({vTotal - vTotal / 2, vTotal / 2});
    const QList<int> h = hsplit_->sizes();
    const int hTotal = h.value(0) + h.value(1);
    if (hTotal > 0 && h.value(0) > hTotal / 2) hsplit_->setSizes({hTotal / 2, hTotal - hTotal / 2});
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    clampSplitters();
}

void MainWindow::fitColumns(const std::vector<int>& defaults) {
    // The defaults are pixels at the usual font; a larger font or scale widens them alike.
    const double scale = std::max(1.0, list_->fontMetrics().height() / 16.0);
    QHeaderView* header = list_->header();
    for (std::size_t i = 0; i < defaults.size(); ++i) {
        const int column = static_cast<int>(i);
        list_->resizeColumnToContents(column);  // what the header and the rows need
        const int wanted = std::max({static_cast<int>(defaults[i] * scale), header->sectionSizeHint(column),
                                     header->sectionSize(column)});
        header->resizeSection(column, std::min(wanted, static_cast<int>(600 * scale)));
    }
}

bool MainWindow::handleKey(QObject* watched, int key) {
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (key == Qt::Key_Backspace) {
        if (watched == filter_) return false;
        actUp->trigger();
        return true;
    }
    if (!enter) return false;
    if (watched == tree_) {
        // As a double-click: an unscanned volume offers the scan choice; a folder opens.
        QTreeWidgetItem* item = tree_->currentItem();
        app::TreeNode* node = NodeOf(item);
        if (!node) return false;
        if (shell_->DoubleClickNode(node)) {
            chooseScanMode();
        } else if (item->childCount() > 0) {
            item->setExpanded(!item->isExpanded());
        }
        return true;
    }
    if (watched == list_) {
        const QModelIndex current = list_->currentIndex();
        if (!current.isValid()) return false;
        const bool scanDialog = shell_->DoubleClickRow(static_cast<std::size_t>(current.row()));
        syncAll();
        tree_->setFocus();
        if (scanDialog) chooseScanMode();
        return true;
    }
    return false;
}

void MainWindow::saveLayout() {
    saveAfterCommand_ = false;
    if (busy()) {
        // The running command may be changing a setting; save when it is over.
        saveAfterCommand_ = true;
        return;
    }
    config_.Splitter1 = hsplit_->sizes().value(0, config_.Splitter1);
    config_.Splitter2 = vsplit_->sizes().value(1, config_.Splitter2);
    if (listColumns_ == ListColumns::Folders) {
        std::vector<int> widths;
        for (int i = 0; i < model_->columnCount(); ++i) widths.push_back(list_->header()->sectionSize(i));
        config_.Columns = app::JoinColumnWidths(widths);
    }
    if (configDoc_ && configDoc_->HasFileName()) (void)configDoc_->Save(config_);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (busy()) {
        // A running command first has to stop; closing under it would pull the tree away.
        shell_->acStop();
        event->ignore();
        connect(this, &MainWindow::commandFinished, this, &QWidget::close, Qt::SingleShotConnection);
        return;
    }
    saveLayout();
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (!busy() && event->type() == QEvent::KeyPress && (watched == tree_ || watched == list_)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            if (handleKey(watched, key->key())) return true;
        }
    }
    if (busy()) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseButtonRelease:
            case QEvent::KeyPress:
            case QEvent::ContextMenu:
                return true;
            default:
                break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace brenvale::gui
