#include "gui/adjust_dialog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/adjust_files.h"
#include "gui/file_list_model.h"
#include "gui/gui_ui.h"

namespace brenvale::gui {

namespace {

int firstDraggedRow(const QMimeData* data) {
    if (!data || !data->hasFormat(QString::fromLatin1(kListRowsMime))) return -1;
    const QList<QByteArray> lines = data->data(QString::fromLatin1(kListRowsMime)).split('\n');
    bool ok = false;
    const int row = lines.isEmpty() ? -1 : lines.front().toInt(&ok);
    return ok ? row : -1;
}

}  // namespace

AdjustDropBox::AdjustDropBox(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    setAcceptDrops(true);
}

void AdjustDropBox::dragEnterEvent(QDragEnterEvent* event) {
    if (firstDraggedRow(event->mimeData()) >= 0) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void AdjustDropBox::dragMoveEvent(QDragMoveEvent* event) {
    if (firstDraggedRow(event->mimeData()) >= 0) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void AdjustDropBox::dropEvent(QDropEvent* event) {
    const int row = firstDraggedRow(event->mimeData());
    if (row < 0) return;
    event->acceptProposedAction();
    emit rowDropped(row);
}

AdjustDialog::AdjustDialog(Hooks hooks, QWidget* parent) : QDialog(parent), hooks_(std::move(hooks)) {
    setWindowTitle("Adjustment");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_DeleteOnClose);
    pages_ = new QTabWidget;

    auto* adjustPage = new QWidget;
    auto* grid = new QGridLayout(adjustPage);
    auto* explanation = new QLabel(QString::fromUtf8(app::kAdjustExplanation));
    explanation->setWordWrap(true);
    grid->addWidget(explanation, 0, 0, 1, 3);
    box1_ = new AdjustDropBox;
    box2_ = new AdjustDropBox;
    use1_ = new QPushButton("Use selected file as File 1");
    use2_ = new QPushButton("Use selected file as File 2");
    grid->addWidget(new QLabel("File 1:"), 1, 0);
    grid->addWidget(box1_, 1, 1);
    grid->addWidget(use1_, 1, 2);
    grid->addWidget(new QLabel("File 2:"), 2, 0);
    grid->addWidget(box2_, 2, 1);
    grid->addWidget(use2_, 2, 2);
    adjust_ = new QPushButton("Adjust");
    reset_ = new QPushButton("Reset");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(adjust_);
    buttons->addWidget(reset_);
    grid->addLayout(buttons, 3, 0, 1, 3);
    pages_->addTab(adjustPage, " Adjustment ");

    auto* fsPage = new QWidget;
    auto* fsLayout = new QVBoxLayout(fsPage);
    fsText_ = new QLabel;
    fsText_->setWordWrap(true);
    changeFs_ = new QPushButton(QString::fromUtf8(app::kChangeFsButton));
    fsLayout->addWidget(fsText_);
    fsLayout->addWidget(changeFs_, 0, Qt::AlignLeft);
    fsLayout->addStretch();
    pages_->addTab(fsPage, " Change File System Type ");

    auto* close = new QPushButton("Close");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(close);
    layout->addLayout(bottom);
    resize(560, 260);

    connect(box1_, &AdjustDropBox::rowDropped, this, [this](int row) { takeRow(1, row); });
    connect(box2_, &AdjustDropBox::rowDropped, this, [this](int row) { takeRow(2, row); });
    connect(use1_, &QPushButton::clicked, this, [this] { takeRow(1, hooks_.selectedRow()); });
    connect(use2_, &QPushButton::clicked, this, [this] { takeRow(2, hooks_.selectedRow()); });
    connect(reset_, &QPushButton::clicked, this, &AdjustDialog::reset);
    connect(adjust_, &QPushButton::clicked, this, [this] {
        if (!file1_ || !file2_) return;
        if (!hooks_.adjust(file1_, file2_)) reset();
    });
    connect(changeFs_, &QPushButton::clicked, this, [this] {
        // The entries are read again: the chosen ones are gone.
        reset();
        hooks_.changeFsType();
        refreshFsText();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    reset();
}

void AdjustDialog::showEvent(QShowEvent* event) {
    refreshFsText();
    QDialog::showEvent(event);
}

void AdjustDialog::refreshFsText() { fsText_->setText(QString::fromStdString(app::ChangeFsTypeText(hooks_.fatType()))); }

void AdjustDialog::reset() {
    file1_ = file2_ = nullptr;
    box1_->setText(QString::fromUtf8(app::kAdjustDropHint1));
    box1_->setToolTip(box1_->text());
    box2_->setText(QString::fromUtf8(app::kAdjustDropHint2));
    box2_->setToolTip(box2_->text());
    adjust_->setEnabled(false);
}

bool AdjustDialog::takeRow(int boxNumber, int row) {
    const app::ListRow* r = row >= 0 ? hooks_.rowAt(row) : nullptr;
    if (!r || !app::AdjustAccepts(*r)) return false;
    const scan::TScanEntry* entry = r->Data.Entry();
    if (const char* refusal = app::AdjustDropRefusal(entry, boxNumber == 1 ? file2_ : file1_)) {
        hooks_.warn(refusal);
        return false;
    }
    (boxNumber == 1 ? file1_ : file2_) = entry;
    AdjustDropBox* b = box(boxNumber);
    b->setText(QString::fromStdString(hooks_.fullPath(entry) + r->Caption));
    b->setToolTip(b->text());
    adjust_->setEnabled(file1_ && file2_);
    return true;
}

}  // namespace brenvale::gui
