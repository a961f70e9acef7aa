#include "gui/health_window.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include <fmt/format.h>

#include "health/attribute_names.h"

namespace brenvale::gui {

namespace {

constexpr const char* kColumns[] = {"Attribute Name", "ID", "Worst", "Value", "Threshold", "Raw Data", "Meaning", "Status"};
constexpr const char* kLegend[] = {"Value Normal", "Warning! Backup Important Data", "Dangerous! Replace This HDD"};
constexpr char kReadingText[] = "Reading S.M.A.R.T. data...";

QIcon levelIcon(const QStyle* style, int level) {
    switch (level) {
        case health::kLevelDangerous: return style->standardIcon(QStyle::SP_MessageBoxCritical);
        case health::kLevelWarning: return style->standardIcon(QStyle::SP_MessageBoxWarning);
        default: return style->standardIcon(QStyle::SP_DialogApplyButton);
    }
}

QString text(const std::string& s) { return QString::fromStdString(s); }

std::string trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

}  // namespace

HealthWindow::HealthWindow(platform::Platform& os, platform::DriveCommands& drives, QWidget* parent)
    : QDialog(parent), os_(os), reader_(drives, os) {
    setWindowTitle(kHealthWindowTitle);
    setModal(true);

    drives_ = new QComboBox(this);
    drives_->setMinimumWidth(360);
    refresh_ = new QPushButton("Refresh Drive List", this);
    serial_ = new QLabel("-", this);
    powerCycles_ = new QLabel("-", this);
    powerOnHours_ = new QLabel("-", this);
    temperature_ = new QLabel("-", this);

    auto* top = new QHBoxLayout;
    top->addWidget(drives_, 1);
    top->addWidget(refresh_);
    auto* facts = new QFormLayout;
    facts->addRow("Serial Number:", serial_);
    facts->addRow("Power Cycle Count:", powerCycles_);
    facts->addRow("Power On Hours:", powerOnHours_);
    facts->addRow("Temperature:", temperature_);

    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setAlternatingRowColors(true);
    list_->setColumnCount(static_cast<int>(std::size(kColumns)));
    QStringList header;
    for (const char* c : kColumns) header << c;
    list_->setHeaderLabels(header);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    description_ = new QLabel(this);
    description_->setWordWrap(true);
    description_->setMinimumHeight(48);
    description_->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    auto* legend = new QHBoxLayout;
    for (int level = 0; level < 3; ++level) {
        auto* icon = new QLabel(this);
        icon->setPixmap(levelIcon(style(), level).pixmap(16, 16));
        legend->addWidget(icon);
        legend->addWidget(new QLabel(kLegend[level], this));
        legend->addSpacing(16);
    }
    legend->addStretch(1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    legend->addWidget(buttons);

    status_ = new QLabel(this);
    status_->setFrameShape(QFrame::StyledPanel);
    status_->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(facts);
    layout->addWidget(list_, 1);
    layout->addWidget(description_);
    layout->addLayout(legend);
    layout->addWidget(status_);
    resize(900, 600);

    connect(refresh_, &QPushButton::clicked, this, &HealthWindow::refresh);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(drives_, &QComboBox::currentIndexChanged, this, &HealthWindow::showDrive);
    connect(list_, &QTreeWidget::currentItemChanged, this, &HealthWindow::showAttribute);
    connect(&worker_, &Worker::finished, this, &HealthWindow::showDrives);
}

void HealthWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        refresh();
    }
}

void HealthWindow::refresh() {
    if (worker_.busy()) return;
    refresh_->setEnabled(false);
    status_->setText(kReadingText);
    auto out = std::make_shared<std::vector<Drive>>();
    read_ = out;
    std::vector<std::string> paths;
    for (const platform::BlockDeviceInfo& d : os_.wholeDisks()) paths.push_back(d.path);
    reader_.ClearMemory();
    worker_.run([this, out, paths = std::move(paths)] {
        for (const std::string& p : paths) {
            Drive d{p, reader_.Read(p), {}};
            d.report = health::Evaluate(d.pages);
            out->push_back(std::move(d));
        }
    });
}

void HealthWindow::showDrives() {
    refresh_->setEnabled(true);
    shown_.clear();
    noneOpened_ = read_ && !read_->empty() && std::all_of(read_->begin(), read_->end(), [](const Drive& d) {
        return d.pages.State == health::ReadState::CannotOpen;
    });
    if (read_) {
        // Only drives that answer are offered.
        for (Drive& d : *read_) {
            if (!d.report.Identity.Model.empty() || !d.report.Rows.empty()) shown_.push_back(std::move(d));
        }
    }
    const QSignalBlocker block(drives_);
    drives_->clear();
    for (const Drive& d : shown_) {
        const health::DriveIdentity& id = d.report.Identity;
        drives_->addItem(text(fmt::format("{} [{}]", id.Model.empty() ? d.path : id.Model, id.Serial)));
    }
    drives_->setCurrentIndex(shown_.empty() ? -1 : 0);
    showDrive(drives_->currentIndex());
    emit driveListRead();
}

void HealthWindow::showDrive(int index) {
    list_->clear();
    description_->clear();
    if (index < 0 || static_cast<std::size_t>(index) >= shown_.size()) {
        serial_->setText("-");
        for (QLabel* l : {powerCycles_, powerOnHours_, temperature_}) l->setText("-");
        status_->setText(noneOpened_ ? health::kCannotOpenText : health::kNoAttributesText);
        return;
    }
    const Drive& d = shown_[static_cast<std::size_t>(index)];
    const health::HealthReport& r = d.report;
    serial_->setText(r.Identity.Serial.empty() ? "-" : text(r.Identity.Serial));
    powerCycles_->setText(text(r.PowerCycles));
    powerOnHours_->setText(text(r.PowerOnHours));
    temperature_->setText(text(r.Temperature));
    for (const health::HealthRow& row : r.Rows) {
        auto* item = new QTreeWidgetItem(list_, QStringList{text(row.Name), text(row.Id), text(row.Worst), text(row.Value),
                                                            text(row.Threshold), text(row.Raw), text(row.Meaning),
                                                            text(row.Status)});
        item->setIcon(0, levelIcon(style(), row.Level));
    }
    status_->setText(r.Rows.empty() ? text(health::EmptyStatusSentence(d.pages)) : text(health::StatusSentence(r)));
}

void HealthWindow::showAttribute() {
    const int drive = drives_->currentIndex();
    const QTreeWidgetItem* item = list_->currentItem();
    if (!item || drive < 0 || static_cast<std::size_t>(drive) >= shown_.size()) {
        description_->clear();
        return;
    }
    const auto& rows = shown_[static_cast<std::size_t>(drive)].report.Rows;
    const int at = list_->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item));
    if (at < 0 || static_cast<std::size_t>(at) >= rows.size()) return;
    const health::HealthRow& row = rows[static_cast<std::size_t>(at)];
    description_->setText(text(fmt::format("{} ({})\n{}", trimmed(row.Name), row.Id, row.Description)));
}

}  // namespace brenvale::gui
