#include "gui/raw_recovery_window.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <fmt/format.h>

#include <algorithm>
#include <utility>

#include "app/kind_icons.h"
#include "app/raw_preview.h"
#include "gui/gui_ui.h"
#include "gui/icons.h"
#include "gui/picture_decode.h"
#include "gui/raw_list_model.h"
#include "gui/recovery_summary_dialog.h"

namespace brenvale::gui {

namespace {

constexpr int kNodeRole = Qt::UserRole + 1;
constexpr char kAllTypes[] = "All types";
constexpr int kGridSide = app::kThumbSide + 30;

const app::RawTreeNode* nodeOf(const QTreeWidgetItem* item) {
    return item ? reinterpret_cast<const app::RawTreeNode*>(item->data(0, kNodeRole).value<quintptr>()) : nullptr;
}

}  // namespace

// What the recovery asks of its front end: the folder picker and warnings on this window's
// thread, the progress texts and the summary posted to it from the device thread.
class RawRecoveryWindow::WindowUi : public app::UserInterface {
public:
    explicit WindowUi(RawRecoveryWindow& w) : FWindow(w) {}

    void ShowMessage(app::MessageKind kind, const std::string& text, const std::string& caption) override {
        const QString t = DisplayText(text);
        const QString c = QString::fromStdString(caption.empty() ? std::string(app::kAppTitle) : caption);
        QMetaObject::invokeMethod(
            &FWindow,
            [w = &FWindow, kind, t, c] {
                if (kind == app::MessageKind::Warning) {
                    QMessageBox::warning(w, c, t);
                } else {
                    QMessageBox::information(w, c, t);
                }
            },
            QThread::currentThread() == FWindow.thread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection);
    }
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<app::SectorRange> ChooseRange(const app::SectorRange&, std::uint32_t, std::uint64_t) override {
        return std::nullopt;
    }
    std::optional<std::string> ChooseFolder(const std::string&, const std::string& initialDir) override {
        return FWindow.chooseFolder ? FWindow.chooseFolder(initialDir) : std::nullopt;
    }
    void StatusText(const std::string& text) override {
        const QString t = QString::fromStdString(text);
        QMetaObject::invokeMethod(&FWindow, [w = &FWindow, t] { w->FPanels[0]->setText(t); }, Qt::QueuedConnection);
    }
    void ShowRecoverySummary(const app::RecoverySummary& summary) override {
        QMetaObject::invokeMethod(&FWindow, [w = &FWindow, summary] { w->onRecoveryDone(summary); }, Qt::QueuedConnection);
    }

private:
    RawRecoveryWindow& FWindow;
};

RawRecoveryWindow::RawRecoveryWindow(app::RawRecoverySession& session, QWidget* parent)
    : QDialog(parent), FSession(session), FData(session.Raw) {
    setWindowTitle(QStringLiteral("Raw Recovery"));
    setModal(true);
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint);
    LimitImageAllocations();
    FUi = std::make_unique<WindowUi>(*this);
    FCommand = std::make_unique<app::RawRecoverCommand>(*FUi, session.Log, session.Os);
    chooseFolder = [this](const std::string& initialDir) -> std::optional<std::string> {
        const QString dir = QFileDialog::getExistingDirectory(this, QString::fromUtf8(app::kRawRecoverFolderTitle),
                                                              QString::fromStdString(initialDir));
        if (dir.isEmpty()) return std::nullopt;
        return dir.toStdString();
    };
    showSummary = [this](const app::RecoverySummary& s) { ShowRecoverySummary(this, s); };

    buildActions();
    buildWidgets();
    fillTree();

    FPreviewTimer.setSingleShot(true);
    FPreviewTimer.setInterval(kPreviewDelayMs);
    connect(&FPreviewTimer, &QTimer::timeout, this, &RawRecoveryWindow::requestPreview);
    FLayoutTimer.setSingleShot(true);
    FLayoutTimer.setInterval(300);
    connect(&FLayoutTimer, &QTimer::timeout, this, &RawRecoveryWindow::saveLayout);
    resize(1100, 720);
}

RawRecoveryWindow::~RawRecoveryWindow() {
    FCommand->Stop();
    FJobs.clear();
}

void RawRecoveryWindow::buildActions() {
    auto make = [this](const char* text, QStyle::StandardPixmap icon) {
        auto* a = new QAction(style()->standardIcon(icon), QString::fromUtf8(text), this);
        addAction(a);
        return a;
    };
    actRecover = make("Recover", QStyle::SP_DialogSaveButton);
    actStop = make("Stop", QStyle::SP_BrowserStop);
    actPreview = make("Preview", QStyle::SP_FileDialogContentsView);
    actClose = make("Close", QStyle::SP_DialogCloseButton);
    actSelectType = new QAction(QStringLiteral("Select All of This Type"), this);
    actSize500K = new QAction(QStringLiteral("Size + 500K"), this);
    actSize500K->setVisible(false);
    actEnableSize500K = new QAction(this);
    actEnableSize500K->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S));
    addAction(actEnableSize500K);
    actStop->setEnabled(false);
    connect(actRecover, &QAction::triggered, this, &RawRecoveryWindow::recover);
    connect(actStop, &QAction::triggered, this, [this] { FCommand->Stop(); });
    connect(actPreview, &QAction::triggered, this, &RawRecoveryWindow::requestPreview);
    connect(actClose, &QAction::triggered, this, &QDialog::reject);
    connect(actSelectType, &QAction::triggered, this, &RawRecoveryWindow::selectSameType);
    connect(actSize500K, &QAction::triggered, this, &RawRecoveryWindow::growSelected);
    connect(actEnableSize500K, &QAction::triggered, this, [this] { actSize500K->setVisible(!actSize500K->isVisible()); });
}

void RawRecoveryWindow::buildWidgets() {
    auto* menuBar = new QMenuBar(this);
    QMenu* file = menuBar->addMenu(QStringLiteral("&File"));
    file->addActions({actRecover, actStop, actPreview});
    file->addSeparator();
    file->addAction(actClose);
    auto* tools = new QToolBar(this);
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tools->addActions({actRecover, actStop, actPreview, actClose});

    FTree = new QTreeWidget(this);
    FTree->setHeaderHidden(true);
    connect(FTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { onNodeSelected(item); });

    // The filters: size range in KB (0: no bound) and type.
    auto* filterBar = new QWidget(this);
    auto* filters = new QHBoxLayout(filterBar);
    filters->setContentsMargins(0, 0, 0, 0);
    FMinKB = new QSpinBox(filterBar);
    FMaxKB = new QSpinBox(filterBar);
    for (QSpinBox* box : {FMinKB, FMaxKB}) {
        box->setRange(0, 2'000'000'000);
        box->setSuffix(QStringLiteral(" KB"));
        box->setSpecialValueText(QStringLiteral("any"));
        box->setAccelerated(true);
        connect(box, &QSpinBox::valueChanged, this, [this] {
            if (!FSyncing) showRows();
        });
    }
    FType = new QComboBox(filterBar);
    FType->addItem(QString::fromUtf8(kAllTypes));
    connect(FType, &QComboBox::currentIndexChanged, this, [this] {
        if (!FSyncing) showRows();
    });
    filters->addWidget(new QLabel(QStringLiteral("Size from:"), filterBar));
    filters->addWidget(FMinKB);
    filters->addWidget(new QLabel(QStringLiteral("to:"), filterBar));
    filters->addWidget(FMaxKB);
    filters->addSpacing(12);
    filters->addWidget(new QLabel(QStringLiteral("Type:"), filterBar));
    filters->addWidget(FType);
    filters->addStretch();

    FModel = new RawListModel(this);
    FIconView = new QListView(this);
    FIconView->setViewMode(QListView::IconMode);
    FIconView->setIconSize(QSize(app::kThumbSide, app::kThumbSide));
    FIconView->setGridSize(QSize(kGridSide, kGridSide + 10));
    FIconView->setUniformItemSizes(true);
    FIconView->setResizeMode(QListView::Adjust);
    FIconView->setMovement(QListView::Static);
    FIconView->setWordWrap(true);
    FReportView = new QTreeView(this);
    FReportView->setRootIsDecorated(false);
    FReportView->setUniformRowHeights(true);
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(FIconView), static_cast<QAbstractItemView*>(FReportView)}) {
        v->setModel(FModel);
        v->setSelectionMode(QAbstractItemView::ExtendedSelection);
        v->setContextMenuPolicy(Qt::CustomContextMenu);
        v->setEditTriggers(QAbstractItemView::NoEditTriggers);
        connect(v->selectionModel(), &QItemSelectionModel::selectionChanged, this, &RawRecoveryWindow::onSelectionChanged);
        connect(v, &QWidget::customContextMenuRequested, this, &RawRecoveryWindow::listContextMenu);
    }
    FReportView->setColumnWidth(RawListModel::Name, 210);
    FReportView->setColumnWidth(RawListModel::Size, 90);
    connect(FReportView->header(), &QHeaderView::sectionResized, this, [this] {
        if (!FSyncing) FLayoutTimer.start();
    });
    FViews = new QStackedWidget(this);
    FViews->addWidget(FReportView);
    FViews->addWidget(FIconView);
    auto* listPanel = new QWidget(this);
    auto* listLayout = new QVBoxLayout(listPanel);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->addWidget(filterBar);
    listLayout->addWidget(FViews);

    // The preview: a caption strip over a picture or a hex view.
    auto* previewPanel = new QWidget(this);
    auto* previewLayout = new QVBoxLayout(previewPanel);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    FPreviewCaption = new QLabel(QString::fromUtf8(app::kPreviewNothingSelected), previewPanel);
    FPicture = new QLabel(previewPanel);
    FPicture->setAlignment(Qt::AlignCenter);
    FPicture->setMinimumSize(1, 1);
    FPicture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    FHex = new QPlainTextEdit(previewPanel);
    FHex->setReadOnly(true);
    FHex->setLineWrapMode(QPlainTextEdit::NoWrap);
    FHex->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    FPreviewStack = new QStackedWidget(previewPanel);
    FPreviewStack->addWidget(FPicture);
    FPreviewStack->addWidget(FHex);
    previewLayout->addWidget(FPreviewCaption);
    previewLayout->addWidget(FPreviewStack, 1);

    FVSplit = new QSplitter(Qt::Vertical, this);
    FVSplit->addWidget(listPanel);
    FVSplit->addWidget(previewPanel);
    FVSplit->setStretchFactor(0, 1);
    FHSplit = new QSplitter(Qt::Horizontal, this);
    FHSplit->addWidget(FTree);
    FHSplit->addWidget(FVSplit);
    FHSplit->setStretchFactor(1, 1);
    for (QSplitter* s : {FHSplit, FVSplit}) {
        connect(s, &QSplitter::splitterMoved, this, [this] {
            if (!FSyncing) FLayoutTimer.start();
        });
    }

    auto* status = new QStatusBar(this);
    status->setSizeGripEnabled(false);
    for (std::size_t i = 0; i < FPanels.size(); ++i) {
        FPanels[i] = new QLabel(status);
        FPanels[i]->setMinimumWidth(i == 0 ? 220 : 160);
        status->addWidget(FPanels[i], i == 0 ? 1 : 0);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setMenuBar(menuBar);
    layout->addWidget(tools);
    layout->addWidget(FHSplit, 1);
    layout->addWidget(status);
}

void RawRecoveryWindow::fillTree() {
    const QIcon groupIcon = IconImage(app::Icon::LostFiles);
    const QIcon typeIcon = IconImage(app::Icon::FileType);
    std::function<void(QTreeWidgetItem*, const app::RawTreeNode&)> add = [&](QTreeWidgetItem* parentItem,
                                                                            const app::RawTreeNode& n) {
        auto* item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(FTree);
        item->setText(0, QString::fromStdString(n.Text));
        item->setIcon(0, parentItem ? typeIcon : groupIcon);
        item->setData(0, kNodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(&n)));
        for (const auto& c : n.Children) add(item, c);
    };
    for (const auto& g : FData.Tree()) add(nullptr, g);
    for (int i = 0; i < FTree->topLevelItemCount(); ++i) FTree->topLevelItem(i)->setExpanded(true);
    FPanels[3]->setText(QString::fromStdString(FData.TotalText()));
}

QTreeWidgetItem* RawRecoveryWindow::itemOf(const app::RawTreeNode* node) const {
    for (QTreeWidgetItemIterator it(FTree); *it; ++it) {
        if (nodeOf(*it) == node) return *it;
    }
    return nullptr;
}

QAbstractItemView* RawRecoveryWindow::currentView() const {
    return FLargeIcons ? static_cast<QAbstractItemView*>(FIconView) : static_cast<QAbstractItemView*>(FReportView);
}

bool RawRecoveryWindow::showingPicture() const { return FPreviewStack->currentWidget() == FPicture; }

void RawRecoveryWindow::onNodeSelected(QTreeWidgetItem* item) {
    const app::RawTreeNode* node = nodeOf(item);
    if (!node) return;
    const app::RawListing listing = FData.ListNode(*node);
    if (!listing.Changed) return;
    FNode = node;
    FNodeRows = listing.Rows;
    FLargeIcons = listing.LargeIcons;
    FViews->setCurrentWidget(currentView());
    refillTypeBox();
    showRows();
}

void RawRecoveryWindow::refillTypeBox() {
    FSyncing = true;
    const QString kept = FType->currentText();
    FType->clear();
    FType->addItem(QString::fromUtf8(kAllTypes));
    for (const auto& ext : app::RawRecoveryModel::RowExtensions(FNodeRows)) FType->addItem(QString::fromStdString(ext));
    const int again = FType->findText(kept);
    FType->setCurrentIndex(again < 0 ? 0 : again);
    FSyncing = false;
}

void RawRecoveryWindow::showRows() {
    app::RawRowFilter filter;
    if (FMinKB->value() > 0) filter.MinBytes = std::int64_t{FMinKB->value()} * 1024;
    if (FMaxKB->value() > 0) filter.MaxBytes = std::int64_t{FMaxKB->value()} * 1024;
    if (FType->currentIndex() > 0) filter.Ext = FType->currentText().toStdString();
    // Pictures still queued for the old rows are dropped by their epoch when their turn comes.
    ++*FThumbEpoch;
    FModel->setRows(app::RawRecoveryModel::FilterRows(FNodeRows, filter), FLargeIcons,
                    IconImage(app::Icon::File));
    FPanels[2]->setText(QString::fromStdString(fmt::format(app::kRawCurrentFormat, FModel->rowCount())));
    if (FModel->rowCount() > 0) currentView()->scrollTo(FModel->index(0, 0));
    queueThumbnails();
}

void RawRecoveryWindow::queueThumbnails() {
    FThumbDone = 0;
    FThumbTotal = FLargeIcons ? FModel->rowCount() : 0;
    FPanels[1]->clear();
    if (FThumbTotal == 0) {
        emit thumbnailsFinished();
        return;
    }
    const int epoch = *FThumbEpoch;
    for (int row = 0; row < FThumbTotal; ++row) {
        // A copy of the hit: "Size + 500K" may change the original meanwhile.
        const raw::TFoundFile hit = *FModel->rows()[static_cast<std::size_t>(row)].Hit;
        FJobs.post([this, epoch, row, hit, current = FThumbEpoch] {
            if (*current != epoch) return;
            QImage picture;
            try {
                const QImage decoded = DecodePicture(app::ThumbnailBytes(FSession.Scan, FSession.Raw, hit));
                if (!decoded.isNull()) picture = SquareThumbnail(decoded);
            } catch (const std::exception&) {
                // No picture: the placeholder stays.
            }
            QMetaObject::invokeMethod(this, [this, epoch, row, picture] { onThumbnail(epoch, row, picture); },
                                      Qt::QueuedConnection);
        });
    }
}

void RawRecoveryWindow::onThumbnail(int epoch, int row, const QImage& picture) {
    if (epoch != *FThumbEpoch) return;  // made for a list that is gone
    if (!picture.isNull()) FModel->setThumbnail(row, QPixmap::fromImage(picture));
    ++FThumbDone;
    if (FThumbDone >= FThumbTotal) {
        FPanels[1]->clear();
        emit thumbnailsFinished();
    } else {
        FPanels[1]->setText(QStringLiteral("Thumbnails: %1/%2").arg(FThumbDone).arg(FThumbTotal));
    }
}

std::vector<int> RawRecoveryWindow::selectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& i : currentView()->selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void RawRecoveryWindow::selectRows(const std::vector<int>& rows) {
    QItemSelection selection;
    for (int r : rows) {
        if (r >= 0 && r < FModel->rowCount()) selection.select(FModel->index(r, 0), FModel->index(r, RawListModel::ColumnCount - 1));
    }
    currentView()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.empty()) currentView()->selectionModel()->setCurrentIndex(FModel->index(rows.front(), 0), QItemSelectionModel::NoUpdate);
}

void RawRecoveryWindow::onSelectionChanged() {
    if (selectedRows().size() == 1) FPreviewTimer.start();
}

void RawRecoveryWindow::requestPreview() {
    const auto rows = selectedRows();
    if (rows.size() != 1 || FRecovering) return;
    const raw::TFoundFile hit = *FModel->rows()[static_cast<std::size_t>(rows.front())].Hit;
    const int serial = ++FPreviewSerial;
    FJobs.post(
        [this, serial, hit] {
            try {
                const QImage picture = DecodePicture(app::PreviewPictureBytes(FSession.Scan, FSession.Raw, hit));
                if (!picture.isNull()) {
                    const QString caption = QString::fromStdString(
                        fmt::format(app::kPreviewCaptionFormat, hit.Ext(), picture.width(), picture.height()));
                    QMetaObject::invokeMethod(this, [=, this] { showPreviewPicture(serial, picture, caption); },
                                              Qt::QueuedConnection);
                    return;
                }
                const auto bytes = app::HexPreviewBytes(FSession.Scan, hit);
                const QString text = QString::fromStdString(app::HexDumpText(bytes));
                const QString caption = QString::fromStdString(app::HexPreviewCaption(hit, !bytes.empty()));
                QMetaObject::invokeMethod(this, [=, this] { showPreviewHex(serial, text, caption); }, Qt::QueuedConnection);
            } catch (const std::exception&) {
                QMetaObject::invokeMethod(
                    this, [=, this] { showPreviewHex(serial, {}, QString::fromUtf8(app::kPreviewFailed)); },
                    Qt::QueuedConnection);
            }
        },
        true);
}

void RawRecoveryWindow::showPreviewPicture(int serial, const QImage& picture, const QString& caption) {
    if (serial != FPreviewSerial) return;
    FPreviewImage = picture;
    FPreviewCaption->setText(caption);
    FPreviewStack->setCurrentWidget(FPicture);
    scalePicture();
    emit previewShown();
}

void RawRecoveryWindow::showPreviewHex(int serial, const QString& text, const QString& caption) {
    if (serial != FPreviewSerial) return;
    FPreviewImage = QImage();
    FPicture->clear();
    FHex->setPlainText(text);
    FPreviewCaption->setText(caption);
    FPreviewStack->setCurrentWidget(FHex);
    emit previewShown();
}

void RawRecoveryWindow::scalePicture() {
    if (FPreviewImage.isNull()) return;
    const QSize room = FPicture->size().boundedTo(FPreviewImage.size());
    FPicture->setPixmap(QPixmap::fromImage(
        FPreviewImage.scaled(room.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void RawRecoveryWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (std::exchange(FLayoutApplied, true)) return;
    applyLayout();
}

void RawRecoveryWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    scalePicture();
}

void RawRecoveryWindow::recover() {
    if (FRecovering) return;
    const auto rows = selectedRows();
    if (rows.empty()) return;
    std::vector<raw::TFoundFile> hits;
    std::vector<std::string> names;
    for (int r : rows) {
        const app::RawRow& row = FModel->rows()[static_cast<std::size_t>(r)];
        hits.push_back(*row.Hit);
        names.push_back(row.Caption);
    }
    const auto destination = FCommand->ChooseDestination(FSession.Scan, FSession.Settings.RecoverFolder);
    if (!destination) return;
    FSession.Settings.RecoverFolder = *destination;
    FRecovering = true;
    actRecover->setEnabled(false);
    actPreview->setEnabled(false);
    actStop->setEnabled(true);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    // Thumbnails still queued wait until the files are written.
    FJobs.post(
        [this, hits, names, dest = *destination] {
            FCommand->Recover(FSession.Scan, FSession.Settings.Sizes, hits, names, dest);
        },
        true);
}

void RawRecoveryWindow::onRecoveryDone(const app::RecoverySummary& summary) {
    FRecovering = false;
    QApplication::restoreOverrideCursor();
    actRecover->setEnabled(true);
    actPreview->setEnabled(true);
    actStop->setEnabled(false);
    emit recoveryFinished();
    if (showSummary) showSummary(summary);
}

void RawRecoveryWindow::selectSameType() {
    const QModelIndex current = currentView()->currentIndex();
    if (!current.isValid()) return;
    std::vector<int> rows;
    for (std::size_t i : app::RawRecoveryModel::SameTypeRows(FModel->rows(), static_cast<std::size_t>(current.row()))) {
        rows.push_back(static_cast<int>(i));
    }
    selectRows(rows);
}

void RawRecoveryWindow::growSelected() {
    const auto rows = selectedRows();
    if (rows.size() != 1 || FRecovering) return;
    FData.GrowHit(FModel->row(rows.front()));
    FModel->rowChanged(rows.front());
    // The node's unfiltered copy shows the same size when the filter changes.
    for (auto& r : FNodeRows) {
        if (r.Index == FModel->row(rows.front()).Index) r = FModel->row(rows.front());
    }
}

void RawRecoveryWindow::listContextMenu(const QPoint& pos) {
    QMenu menu(this);
    menu.addActions({actRecover, actPreview});
    menu.addSeparator();
    menu.addAction(actSelectType);
    menu.addAction(actSize500K);
    menu.exec(currentView()->viewport()->mapToGlobal(pos));
}

void RawRecoveryWindow::applyLayout() {
    FSyncing = true;
    const app::Config& c = FSession.Settings;
    // Sizes that add up to what the splitter has, so Qt does not share out a difference.
    const auto total = [](const QSplitter* s) {
        int sum = 0;
        for (int v : s->sizes()) sum += v;
        return sum;
    };
    const int width = total(FHSplit);
    const int height = total(FVSplit);
    if (c.RwSplitter1 >= kRwMinLeft && c.RwSplitter1 <= kRwMaxLeft && c.RwSplitter1 < width) {
        FHSplit->setSizes({c.RwSplitter1, width - c.RwSplitter1});
    }
    if (c.RwSplitter2 > 0 && c.RwSplitter2 <= kRwMaxPreview && c.RwSplitter2 < height) {
        FVSplit->setSizes({height - c.RwSplitter2, c.RwSplitter2});
    }
    const auto widths = app::ColumnWidthsToApply(c.RwColumns, RawListModel::ColumnCount);
    for (std::size_t i = 0; i < widths.size(); ++i) {
        if (widths[i]) FReportView->setColumnWidth(static_cast<int>(i), *widths[i]);
    }
    FSyncing = false;
}

void RawRecoveryWindow::saveLayout() {
    if (!FLayoutApplied) return;  // never shown: nothing of the stored layout changed
    app::Config& c = FSession.Settings;
    const QList<int> h = FHSplit->sizes();
    const QList<int> v = FVSplit->sizes();
    if (!h.isEmpty() && h[0] >= kRwMinLeft && h[0] <= kRwMaxLeft) c.RwSplitter1 = h[0];
    if (v.size() > 1 && v[1] > 0 && v[1] <= kRwMaxPreview) c.RwSplitter2 = v[1];
    std::vector<int> widths;
    for (int i = 0; i < RawListModel::ColumnCount; ++i) widths.push_back(FReportView->columnWidth(i));
    c.RwColumns = app::JoinColumnWidths(widths);
    if (FSession.SaveConfig) FSession.SaveConfig();
}

void RawRecoveryWindow::done(int result) {
    saveLayout();
    ++*FThumbEpoch;
    FJobs.clear();
    if (FRecovering) {
        // The file being written is finished; the rest are not started.
        FCommand->Stop();
        FJobs.drain();
        FRecovering = false;
        QApplication::restoreOverrideCursor();
    }
    FPreviewTimer.stop();
    FLayoutTimer.stop();
    QDialog::done(result);
}

void ShowRawRecovery(QWidget* parent, app::RawRecoverySession& session) {
    RawRecoveryWindow window(session, parent);
    window.setWindowState(window.windowState() | Qt::WindowMaximized);
    window.exec();
}

}  // namespace brenvale::gui
