#include "gui/file_type_tabs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/gui_ui.h"

namespace brenvale::gui {

void ShowRefusal(QWidget* parent, const app::OptionsRefusal& refusal) {
    if (refusal.Caption.empty()) {
        QMessageBox::information(parent, QString::fromUtf8(app::kAppTitle), DisplayText(refusal.Text));
    } else {
        QMessageBox::critical(parent, QString::fromStdString(refusal.Caption), DisplayText(refusal.Text));
    }
}

FileTypesTab::FileTypesTab(app::FileTypeOptions& options, QWidget* parent) : QWidget(parent), FOptions(options) {
    FList = new QListWidget(this);
    FList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FEdit = new QLineEdit(this);
    FAdd = new QPushButton(QStringLiteral("Add"), this);
    FRemove = new QPushButton(QStringLiteral("Remove"), this);
    FExpand = new QCheckBox(QString::fromUtf8(app::kExpandLostFilesText), this);
    FExpand->setChecked(options.ExpandNode);
    auto* note = new QLabel(QString::fromUtf8(app::kLostFilesNote), this);
    note->setWordWrap(true);
    connect(FAdd, &QPushButton::clicked, this, &FileTypesTab::add);
    connect(FRemove, &QPushButton::clicked, this, &FileTypesTab::remove);
    connect(FEdit, &QLineEdit::returnPressed, this, [this] {
        if (!FEdit->text().trimmed().isEmpty()) add();
    });
    connect(FExpand, &QCheckBox::toggled, this, [this](bool on) { FOptions.ExpandNode = on; });

    auto* side = new QVBoxLayout;
    side->addWidget(new QLabel(QStringLiteral("New Extension Name (eg. mp3):"), this));
    side->addWidget(FEdit);
    side->addWidget(FAdd);
    side->addWidget(FRemove);
    side->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(FList, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(FExpand);
    layout->addWidget(note);
    refresh();
}

void FileTypesTab::refresh() {
    FList->clear();
    for (const auto& ext : FOptions.Extensions()) FList->addItem(QString::fromStdString(app::ExtensionEntryText(ext)));
    FEdit->setEnabled(FOptions.CanAdd());
    FAdd->setEnabled(FOptions.CanAdd());
}

void FileTypesTab::add() {
    const std::size_t before = FOptions.Extensions().size();
    const auto refusal = FOptions.AddExtension(FEdit->text().toStdString());
    if (refusal) {
        if (refuse) refuse(this, *refusal);
        return;
    }
    if (FOptions.Extensions().size() > before) FEdit->clear();
    refresh();
}

void FileTypesTab::remove() {
    std::vector<std::size_t> rows;
    for (const QModelIndex& i : FList->selectionModel()->selectedRows()) rows.push_back(static_cast<std::size_t>(i.row()));
    FOptions.RemoveExtensions(rows);
    refresh();
}

RawSizesTab::RawSizesTab(app::FileTypeOptions& options, QWidget* parent) : QWidget(parent), FOptions(options) {
    FList = new QTreeWidget(this);
    FList->setRootIsDecorated(false);
    FList->setColumnCount(3);
    FList->setHeaderLabels({QStringLiteral("File Type"), QStringLiteral("Default Size"), QStringLiteral("Max Size")});
    FList->setColumnWidth(0, 210);
    FList->setColumnWidth(1, 90);
    FList->setColumnWidth(2, 85);
    // The column hints: what each size means, where the user looks for it.
    FList->headerItem()->setToolTip(1, DisplayText(app::kDefaultSizeHint));
    FList->headerItem()->setToolTip(2, DisplayText(app::kMaxSizeHint));
    FList->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    FList->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    for (const auto& r : options.Rows()) {
        auto* item = new QTreeWidgetItem(FList);
        item->setText(0, QString::fromStdString(r.Caption));
        for (int c : {1, 2}) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
    for (int i = 0; i < FList->topLevelItemCount(); ++i) showRow(i);
    FCaption = new QLineEdit(this);
    FCaption->setEnabled(false);
    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    FDefault = new QLineEdit(this);
    FMax = new QLineEdit(this);
    FDefault->setValidator(digits);
    FMax->setValidator(digits);
    FApply = new QPushButton(QStringLiteral("Apply"), this);
    connect(FApply, &QPushButton::clicked, this, &RawSizesTab::apply);
    connect(FList, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        const int row = item ? FList->indexOfTopLevelItem(item) : -1;
        if (row < 0) return;
        const auto& r = FOptions.Rows()[static_cast<std::size_t>(row)];
        FCaption->setText(QString::fromStdString(r.Caption));
        FDefault->setText(QString::number(r.DefaultMB));
        FMax->setText(QString::number(r.MaxMB));
    });

    auto* fields = new QHBoxLayout;
    fields->addWidget(FCaption, 1);
    fields->addWidget(FDefault);
    fields->addWidget(FMax);
    fields->addWidget(FApply);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Default/Max File Size (MB):"), this));
    layout->addWidget(FList, 1);
    layout->addLayout(fields);
}

void RawSizesTab::showRow(int row) {
    QTreeWidgetItem* item = FList->topLevelItem(row);
    if (!item) return;
    const auto& r = FOptions.Rows()[static_cast<std::size_t>(row)];
    item->setText(1, QString::number(r.DefaultMB));
    item->setText(2, QString::number(r.MaxMB));
}

void RawSizesTab::apply() {
    const int row = FList->currentItem() ? FList->indexOfTopLevelItem(FList->currentItem()) : -1;
    if (row < 0) return;
    const auto refusal = FOptions.ApplySizes(static_cast<std::size_t>(row), FDefault->text().toStdString(),
                                             FMax->text().toStdString());
    if (refusal) {
        if (refuse) refuse(this, *refusal);
        return;
    }
    showRow(row);
}

}  // namespace brenvale::gui
