// The main window's behaviour: running commands, and showing what the shell holds.

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>

#include "app/folder_view.h"
#include "app/list_filter.h"
#include "gui/adv_commands.h"
#include "gui/file_list_model.h"
#include "gui/health_window.h"
#include "gui/icons.h"
#include "gui/main_window.h"
#include "gui/options_dialog.h"
#include "gui/pages.h"
#include "gui/path_bar_widget.h"
#include "scan/undelete.h"

namespace brenvale::gui {

namespace {

constexpr int kLogPollMs = 300;

// The column set a node's list uses; widths are reset when it changes.
ListColumns ColumnsOf(app::NodeKind kind) {
    if (app::ListsDevices(kind)) return ListColumns::Devices;
    if (app::ListsFolderEntries(kind) || kind == app::NodeKind::AdvancedExtra) return ListColumns::Folders;
    if (kind == app::NodeKind::SearchResults) return ListColumns::SearchHits;
    return ListColumns::FileTypes;
}

}  // namespace

void MainWindow::connectSignals() {
    connect(ui_.get(), &GuiUi::progressChanged, this, [this](int percent) {
        progress_->setValue(percent);
        panels_[0]->setText(QString(" %1%").arg(percent));
    });
    connect(ui_.get(), &GuiUi::statusTextChanged, this, [this](const QString& t) { panels_[1]->setText(t); });
    connect(ui_.get(), &GuiUi::statusBarChanged, this, [this](const QStringList& texts) {
        for (int i = 0; i < 4 && i < texts.size(); ++i) panels_[static_cast<std::size_t>(i)]->setText(texts[i]);
    });
    connect(ui_.get(), &GuiUi::dialogShown, this, [this](bool open) {
        openDialogs_ = std::max(0, openDialogs_ + (open ? 1 : -1));
        updateActions();
    });
    connect(ui_.get(), &GuiUi::progressVisibleChanged, this, [this](bool visible) {
        progress_->setVisible(visible);
        if (visible) progress_->setValue(0);
    });
    connect(&worker_, &Worker::finished, this, &MainWindow::onCommandFinished);
    connect(&healthWorker_, &Worker::finished, this, &MainWindow::updateProperties);
    connect(actHealth, &QAction::triggered, this, &MainWindow::showHealthWindow);

    connect(actScan, &QAction::triggered, this, &MainWindow::chooseScanMode);
    // Long commands run on the worker.
    const auto onWorker = [this](void (app::Shell::*command)()) {
        return [this, command] { runLong([this, command] { (shell_.get()->*command)(); }); };
    };
    connect(actSimpleScan, &QAction::triggered, this, onWorker(&app::Shell::acNormalScan));
    connect(actPartiScan, &QAction::triggered, this, onWorker(&app::Shell::acPartiScan));
    connect(actRecover, &QAction::triggered, this, onWorker(&app::Shell::acRecover));
    connect(actCreateImage, &QAction::triggered, this, onWorker(&app::Shell::acCreateImg));
    connect(actSearch, &QAction::triggered, this, onWorker(&app::Shell::acSearch));
    connect(actStop, &QAction::triggered, this, [this] { shell_->acStop(); });
    // Short commands run here and then show their result.
    const auto quick = [this](void (app::Shell::*command)()) {
        return [this, command] {
            if (busy()) return;
            (shell_.get()->*command)();
            syncAll();
        };
    };
    connect(actLoadImage, &QAction::triggered, this, quick(&app::Shell::acLoadImg));
    connect(actRefresh, &QAction::triggered, this, quick(&app::Shell::acRefresh));
    connect(actUp, &QAction::triggered, this, quick(&app::Shell::acUp));
    connect(actOpenDirectory, &QAction::triggered, this, quick(&app::Shell::acOpenDirectory));
    connect(actOpenDirectory, &QAction::triggered, list_, qOverload<>(&QWidget::setFocus));
    connect(actOptions, &QAction::triggered, this, &MainWindow::editOptions);
    connect(actShowProperties, &QAction::triggered, this, [this] { pages_->setCurrentIndex(kPageProperties); });
    connect(actShowPreview, &QAction::triggered, this, [this] { pages_->setCurrentIndex(kPagePreview); });
    connect(actShowEventLog, &QAction::triggered, this, [this] { pages_->setCurrentIndex(kPageEventLog); });
    connect(actExit, &QAction::triggered, this, &QWidget::close);
    connect(actAbout, &QAction::triggered, this, [this] {
        QMessageBox::about(this, QString::fromUtf8(app::kAppTitle),
                           "Brenvale 1.1.2\n\nFinds and recovers deleted files and lost partitions on FAT, exFAT "
                           "and NTFS volumes, disks and drive images. It never writes to the disk it reads.");
    });
    connect(pages_, &QTabWidget::currentChanged, this, [this](int page) {
        if (page == kPageProperties) updateProperties();
    });

    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { onTreeSelection(item); });
    connect(tree_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (syncing_ || busy()) return;
        app::TreeNode* node = NodeOf(item);
        if (!node) return;
        shell_->ExpandNode(node);
        syncing_ = true;
        SyncItem(*item, *node, index_);
        syncing_ = false;
    });
    connect(tree_, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (syncing_ || busy()) return;
        if (app::TreeNode* node = NodeOf(item)) node->Expanded = false;
    });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (busy()) return;
        if (shell_->DoubleClickNode(NodeOf(item))) chooseScanMode();
    });
    connect(tree_, &QWidget::customContextMenuRequested, this, &MainWindow::treeContextMenu);

    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { onListSelection(); });
    connect(list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (busy() || !index.isValid()) return;
        const bool scanDialog = shell_->DoubleClickRow(static_cast<std::size_t>(index.row()));
        syncAll();
        tree_->setFocus();
        if (scanDialog) chooseScanMode();
    });
    connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (busy()) return;
        shell_->ColumnClick(column);
        showList();
    });
    connect(list_, &QWidget::customContextMenuRequested, this, &MainWindow::listContextMenu);

    connect(pathBar_, &PathBarWidget::navigate, this, [this](app::TreeNode* node) {
        if (node != shell_->Selected()) selectNode(node);
    });
    filterTimer_.setSingleShot(true);
    filterTimer_.setInterval(app::kFilterDelayMs);
    connect(&filterTimer_, &QTimer::timeout, this, &MainWindow::applyFilterNow);
    connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (syncing_) return;
        if (app::ApplyAtOnce(text.toStdString())) {
            filterTimer_.stop();
            applyFilterNow();
        } else {
            filterTimer_.start();
        }
    });

    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (busy()) return;
        if (now == tree_) shell_->SetFocus(app::Focus::Tree);
        else if (now == list_) shell_->SetFocus(app::Focus::List);
        else return;
        updateActions();
        updateProperties();
    });
    connect(eventLogPage_, &EventLogPage::saveRequested, this, &MainWindow::saveEventLog);
    layoutTimer_.setSingleShot(true);
    layoutTimer_.setInterval(500);
    connect(&layoutTimer_, &QTimer::timeout, this, &MainWindow::saveLayout);
    connect(hsplit_, &QSplitter::splitterMoved, &layoutTimer_, qOverload<>(&QTimer::start));
    connect(vsplit_, &QSplitter::splitterMoved, &layoutTimer_, qOverload<>(&QTimer::start));
    connect(list_->header(), &QHeaderView::sectionResized, this, [this] {
        if (!syncing_) layoutTimer_.start();
    });
    logTimer_.setInterval(kLogPollMs);
    connect(&logTimer_, &QTimer::timeout, eventLogPage_, &EventLogPage::refresh);
    logTimer_.start();
}

// ---- Start and images

void MainWindow::start() {
    shell_->Start();
    syncAll();
}

void MainWindow::start(const std::vector<storage::VolumeInfo>& volumes, const std::vector<std::uint8_t>& drives) {
    shell_->Start(volumes, drives);
    syncAll();
}

bool MainWindow::openImage(const QString& path) {
    if (busy()) return false;
    const bool ok = shell_->LoadImageFile(path.toStdString());
    syncAll();
    return ok;
}

bool MainWindow::selectNode(app::TreeNode* node) {
    if (busy() || !node) return false;
    if (!shell_->SelectNode(node)) return false;
    syncAll();
    return true;
}

// ---- Long commands

void MainWindow::chooseScanMode() {
    if (busy()) return;
    // Asked here, before the worker starts, so the dialog never sits beside an enabled "Stop".
    const int choice = ui_->ChooseScanMode(shell_->ScanModes());
    if (choice == app::kScanModeAdvanced || choice == app::kScanModeResume) adv_->scanStarting();
    if (choice != 0) runLong([this, choice] { shell_->RunScanMode(choice); });
}

void MainWindow::runLong(std::function<void()> command) {
    if (busy()) return;
    if (!worker_.run(std::move(command))) return;
    tree_->setCursor(Qt::BusyCursor);
    list_->setCursor(Qt::BusyCursor);
    updateActions();
}

void MainWindow::onCommandFinished(const QString& error) {
    adv_->finished();
    tree_->unsetCursor();
    list_->unsetCursor();
    progress_->hide();
    if (!error.isEmpty()) {
        QMessageBox::critical(this, QString::fromUtf8(app::kAppTitle), error);
    }
    syncAll();
    // The command state follows the control with the focus; after a scan that is the tree.
    if (shell_->CurrentFocus() == app::Focus::Tree) tree_->setFocus();
    eventLogPage_->refresh();
    if (saveAfterCommand_) saveLayout();
    emit commandFinished();
}

// ---- Showing the shell's state

void MainWindow::syncAll() {
    syncTree();
    showList();
    const auto& panels = shell_->StatusPanels();
    for (std::size_t i = 0; i < 4; ++i) panels_[i]->setText(QString::fromStdString(panels[i]));
    updateActions();
    updateProperties();
}

void MainWindow::syncTree() {
    syncing_ = true;
    app::TreeNode* root = shell_->Tree().Root();
    if (tree_->topLevelItemCount() == 0 || NodeOf(tree_->topLevelItem(0)) != root) {
        tree_->clear();
        tree_->addTopLevelItem(new QTreeWidgetItem);
    }
    root->Expanded = true;
    index_.clear();
    SyncItem(*tree_->topLevelItem(0), *root, index_);
    if (QTreeWidgetItem* item = itemOf(shell_->Selected())) {
        tree_->setCurrentItem(item);
        tree_->scrollToItem(item);
    }
    syncing_ = false;
}

void MainWindow::showList() {
    syncing_ = true;
    const app::TreeNode* node = shell_->Selected();
    const app::NodeKind nodeKind = node ? node->Kind : app::NodeKind::Computer;
    const ListColumns columns = ColumnsOf(nodeKind);
    // Sizes are numbers: right-aligned in every list.
    model_->setRows(shell_->Rows(), shell_->ColumnCaptions(), app::kColSize);
    if (columns != listColumns_) {
        listColumns_ = columns;
        const auto widths = app::ListColumnWidths(nodeKind);
        const auto stored = columns == ListColumns::Folders ? app::ColumnWidthsToApply(config_.Columns, widths.size())
                                                            : std::vector<std::optional<int>>(widths.size());
        if (std::any_of(stored.begin(), stored.end(), [](const auto& w) { return w.has_value(); })) {
            for (std::size_t i = 0; i < widths.size(); ++i) {
                list_->header()->resizeSection(static_cast<int>(i), stored[i].value_or(widths[i]));
            }
        } else {
            fitColumns(widths);
        }
    }
    filterBar_->setVisible(shell_->FilterBarVisible());
    pathBar_->setNodes(shell_->PathNodes());
    if (filter_->text().toStdString() != shell_->FilterText()) filter_->setText(QString::fromStdString(shell_->FilterText()));
    showSelectedRows();
    syncing_ = false;
}

void MainWindow::showSelectedRows() {
    QItemSelection selection;
    for (std::size_t r : shell_->SelectedRows()) {
        const int row = static_cast<int>(r);
        selection.select(model_->index(row, 0), model_->index(row, model_->columnCount() - 1));
    }
    list_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!shell_->SelectedRows().empty()) {
        const QModelIndex first = model_->index(static_cast<int>(shell_->SelectedRows().front()), 0);
        list_->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
        list_->scrollTo(first);
    }
}

void MainWindow::updateActions() {
    const bool running = busy();
    const app::CommandState c = running ? app::CommandState{} : shell_->Commands();
    actScan->setEnabled(c.ScanButton);
    actSimpleScan->setEnabled(c.SimpleScan);
    actPartiScan->setEnabled(c.PartiScan);
    actCreateImage->setEnabled(c.CreateImage);
    actRecover->setEnabled(c.Recover);
    actSearch->setEnabled(c.Search);
    actRawRecovery->setEnabled(c.RawRecovery);
    // A dialog of the command waits for the user: nothing runs that Stop could stop.
    actStop->setEnabled(running && openDialogs_ == 0);
    const app::TreeNode* node = running ? nullptr : shell_->Selected();
    actUp->setEnabled(node && node->Parent);
    actOpenDirectory->setEnabled(node && node->Kind == app::NodeKind::SearchResults && !shell_->SelectedRows().empty());
    for (QAction* a : {actLoadImage, actRefresh, actOptions}) a->setEnabled(!running);
    adv_->update(running, openDialogs_ != 0);
}

void MainWindow::updateProperties() {
    if (busy() || pages_->currentIndex() != kPageProperties) return;
    properties_->showRows(shell_->Properties());
    startHealthWork();
}

void MainWindow::startHealthWork() {
    // One evaluation at a time; when it ends the page is shown again and asks for the next.
    if (healthWorker_.busy()) return;
    if (std::function<void()> job = shell_->HealthWork()) healthWorker_.run(std::move(job));
}

void MainWindow::showHealthWindow() {
    if (!drives_ || busy()) return;
    HealthWindow window(os_, *drives_, this);
    window.exec();
}

void MainWindow::onTreeSelection(QTreeWidgetItem* item) {
    if (syncing_) return;
    app::TreeNode* node = NodeOf(item);
    if (!busy()) shell_->SetFocus(app::Focus::Tree);
    if (busy() || !node || !shell_->SelectNode(node)) {
        // Keep showing the node the shell has selected.
        syncing_ = true;
        if (QTreeWidgetItem* selected = itemOf(shell_->Selected())) tree_->setCurrentItem(selected);
        syncing_ = false;
        return;
    }
    showList();
    const auto& panels = shell_->StatusPanels();
    for (std::size_t i = 0; i < 4; ++i) panels_[i]->setText(QString::fromStdString(panels[i]));
    updateActions();
    updateProperties();
}

void MainWindow::onListSelection() {
    if (syncing_ || busy()) return;
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) rows.push_back(static_cast<std::size_t>(index.row()));
    // Choosing rows is working in the list, whether or not the window has the keyboard focus.
    shell_->SetFocus(app::Focus::List);
    shell_->SelectRows(rows);
    updateActions();
    updateProperties();
}

void MainWindow::applyFilterNow() {
    if (busy()) return;
    shell_->SetFilterText(filter_->text().toStdString());
    showList();
    panels_[2]->setText(QString::fromStdString(shell_->StatusPanels()[2]));
}

// ---- Dialogs of the window itself

void MainWindow::saveEventLog() {
    const auto file = ui_->ChooseSaveFile("Save to file", kEventLogFilter, "log");
    if (!file) return;
    if (!log_.SaveEventLog(*file)) {
        ui_->ShowMessage(app::MessageKind::Error, "Cannot write \"" + *file + "\".", app::kAppTitle);
    }
}

void MainWindow::editOptions() {
    if (busy() || !EditOptions(this, config_)) return;
    scan::ShowOnlyDeleted = config_.ShowOnlyDeleted;
    shell_->LostFileTypesChanged();
    syncAll();
    if (configDoc_ && configDoc_->HasFileName()) (void)configDoc_->Save(config_);
}

void MainWindow::treeContextMenu(const QPoint& pos) {
    if (busy()) return;
    if (QTreeWidgetItem* item = tree_->itemAt(pos); item && item != tree_->currentItem()) tree_->setCurrentItem(item);
    QMenu menu(this);
    menu.addActions({actScan, actSimpleScan, actPartiScan, actCreateImage});
    menu.addSeparator();
    menu.addActions({adv_->advScan, adv_->resumeAdvScan});
    menu.addSeparator();
    menu.addActions({actRecover, actSearch, adv_->statistics, adv_->adjust});
    menu.exec(tree_->viewport()->mapToGlobal(pos));
}

void MainWindow::listContextMenu(const QPoint& pos) {
    if (busy()) return;
    const QModelIndex under = list_->indexAt(pos);
    if (list_->selectionModel()->selectedRows().isEmpty() && under.isValid()) {
        list_->selectionModel()->select(under, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    list_->setFocus();
    shell_->SetFocus(app::Focus::List);
    const bool single = list_->selectionModel()->selectedRows().size() == 1;
    const app::CommandState c = shell_->Commands();

    QMenu menu(this);
    QAction* standard = menu.addAction("Standard Scan");
    standard->setEnabled(single && c.SimpleScan);
    QAction* advanced = menu.addAction("Advanced Scan");
    advanced->setEnabled(single && c.AdvancedScan);
    QAction* resume = menu.addAction("Resume Adv Scan");
    resume->setEnabled(single && c.AdvancedScan);
    QAction* parti = menu.addAction("Scan for Partitions");
    parti->setEnabled(single && c.PartiScan);
    QMenu* select = menu.addMenu("Select");
    QAction* all = select->addAction("All");
    QAction* invert = select->addAction("Invert");
    menu.addSeparator();
    QAction* recover = menu.addAction("Recover");
    recover->setEnabled(c.Recover);
    QAction* statistics = menu.addAction("Statistics");
    statistics->setEnabled(c.Statistics);
    QAction* open = menu.addAction("Open Directory");
    open->setEnabled(actOpenDirectory->isEnabled());

    QAction* chosen = menu.exec(list_->viewport()->mapToGlobal(pos));
    if (chosen == standard) {
        runLong([this] { shell_->acNormalScan(); });
    } else if (chosen == parti) {
        runLong([this] { shell_->acPartiScan(); });
    } else if (chosen == advanced) {
        adv_->advScan->trigger();
    } else if (chosen == resume) {
        adv_->resumeAdvScan->trigger();
    } else if (chosen == statistics) {
        adv_->statistics->trigger();
    } else if (chosen == all) {
        list_->selectAll();
    } else if (chosen == invert) {
        QItemSelection everything(model_->index(0, 0), model_->index(model_->rowCount() - 1, model_->columnCount() - 1));
        list_->selectionModel()->select(everything, QItemSelectionModel::Toggle);
    } else if (chosen == recover) {
        actRecover->trigger();
    } else if (chosen == open) {
        actOpenDirectory->trigger();
    }
}

}  // namespace brenvale::gui
