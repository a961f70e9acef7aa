#include "gui/search_dialog.h"

#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace brenvale::gui {

namespace {

constexpr qint64 kMsPerDay = 24LL * 60 * 60 * 1000;
constexpr char kDateFormat[] = "yyyy/MM/dd";
// Sizes are typed in KB of 1000 bytes; 15 digits stay far below what a 64-bit byte count holds.
constexpr int kMaxSizeDigits = 15;

QDate DayZero() { return QDate(1899, 12, 30); }

QString SizeOrZero(const QString& text) { return text.trimmed().isEmpty() ? QStringLiteral("0") : text.trimmed(); }

QDateEdit* NewDateEdit(QWidget* parent) {
    auto* edit = new QDateEdit(QDate::currentDate(), parent);
    edit->setDisplayFormat(QString::fromLatin1(kDateFormat));
    edit->setCalendarPopup(true);
    return edit;
}

QLineEdit* NewSizeEdit(QWidget* parent) {
    auto* edit = new QLineEdit(QStringLiteral("0"), parent);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setMaxLength(kMaxSizeDigits);
    return edit;
}

}  // namespace

double DayNumberOf(const QDateTime& moment) {
    if (!moment.isValid()) return 0;
    const QDateTime local = moment.toLocalTime();
    const auto days = static_cast<double>(DayZero().daysTo(local.date()));
    return days + static_cast<double>(local.time().msecsSinceStartOfDay()) / static_cast<double>(kMsPerDay);
}

QDateTime DateTimeOfDayNumber(double dayNumber) {
    if (!std::isfinite(dayNumber)) return {};
    auto days = static_cast<qint64>(std::floor(dayNumber));
    // Milliseconds, rounded so that 0.5 comes back as 12:00:00.000 and not a tick before.
    qint64 ms = std::llround((dayNumber - std::floor(dayNumber)) * static_cast<double>(kMsPerDay));
    if (ms >= kMsPerDay) {
        ++days;
        ms -= kMsPerDay;
    }
    return QDateTime(DayZero().addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

SearchDialog::SearchDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Search"));
    setModal(true);

    auto* lookIn = new QGroupBox(QStringLiteral("Look in"), this);
    FAllFiles = new QRadioButton(QStringLiteral("All Files"), lookIn);
    FDeletedFiles = new QRadioButton(QStringLiteral("Deleted Files"), lookIn);
    FDeletedFiles->setChecked(true);
    auto* lookInLayout = new QHBoxLayout(lookIn);
    lookInLayout->addWidget(FAllFiles);
    lookInLayout->addWidget(FDeletedFiles);
    lookInLayout->addStretch();

    auto* nameGroup = new QGroupBox(QStringLiteral("File Name"), this);
    FNameEnable = new QCheckBox(QStringLiteral("Enable"), nameGroup);
    FName = new QLineEdit(QStringLiteral("*"), nameGroup);
    FNameNote = new QLabel(QStringLiteral("Divide multiple file names by \",\""), nameGroup);
    auto* nameLayout = new QGridLayout(nameGroup);
    nameLayout->addWidget(FNameEnable, 0, 0);
    nameLayout->addWidget(FName, 0, 1);
    nameLayout->addWidget(FNameNote, 1, 1);
    nameLayout->setColumnStretch(1, 1);

    auto* dateGroup = new QGroupBox(QStringLiteral("File Date"), this);
    FDateEnable = new QCheckBox(QStringLiteral("Enable"), dateGroup);
    FDateKind = new QComboBox(dateGroup);
    FDateKind->addItems({QStringLiteral("Created"), QStringLiteral("Modified"), QStringLiteral("Accessed(Deleted)")});
    FDateKind->setCurrentIndex(0);
    FDateFrom = NewDateEdit(dateGroup);
    FDateTo = NewDateEdit(dateGroup);
    auto* dateFromLabel = new QLabel(QStringLiteral("From:"), dateGroup);
    auto* dateToLabel = new QLabel(QStringLiteral("To:"), dateGroup);
    dateFromLabel->setBuddy(FDateFrom);
    dateToLabel->setBuddy(FDateTo);
    FDateFromLabel = dateFromLabel;
    FDateToLabel = dateToLabel;
    auto* dateLayout = new QGridLayout(dateGroup);
    dateLayout->addWidget(FDateEnable, 0, 0);
    dateLayout->addWidget(FDateKind, 0, 1, 1, 4);
    dateLayout->addWidget(dateFromLabel, 1, 1);
    dateLayout->addWidget(FDateFrom, 1, 2);
    dateLayout->addWidget(dateToLabel, 1, 3);
    dateLayout->addWidget(FDateTo, 1, 4);
    dateLayout->setColumnStretch(2, 1);
    dateLayout->setColumnStretch(4, 1);

    auto* sizeGroup = new QGroupBox(QStringLiteral("File Size (KB)"), this);
    FSizeEnable = new QCheckBox(QStringLiteral("Enable"), sizeGroup);
    FSizeFrom = NewSizeEdit(sizeGroup);
    FSizeTo = NewSizeEdit(sizeGroup);
    auto* sizeFromLabel = new QLabel(QStringLiteral("From:"), sizeGroup);
    auto* sizeToLabel = new QLabel(QStringLiteral("To:"), sizeGroup);
    sizeFromLabel->setBuddy(FSizeFrom);
    sizeToLabel->setBuddy(FSizeTo);
    FSizeFromLabel = sizeFromLabel;
    FSizeToLabel = sizeToLabel;
    auto* sizeLayout = new QGridLayout(sizeGroup);
    sizeLayout->addWidget(FSizeEnable, 0, 0);
    sizeLayout->addWidget(sizeFromLabel, 0, 1);
    sizeLayout->addWidget(FSizeFrom, 0, 2);
    sizeLayout->addWidget(sizeToLabel, 0, 3);
    sizeLayout->addWidget(FSizeTo, 0, 4);
    sizeLayout->setColumnStretch(2, 1);
    sizeLayout->setColumnStretch(4, 1);

    FSubFolders = new QCheckBox(QStringLiteral("Search Sub-Directories"), this);
    FSubFolders->setChecked(true);

    // "Search" is the default button, so Enter in an edit or a date picker confirms.
    auto* buttons = new QDialogButtonBox(this);
    FSearch = buttons->addButton(QStringLiteral("Search"), QDialogButtonBox::AcceptRole);
    FCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    FSearch->setDefault(true);
    FCancel->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lookIn);
    layout->addWidget(nameGroup);
    layout->addWidget(dateGroup);
    layout->addWidget(sizeGroup);
    layout->addWidget(FSubFolders);
    layout->addStretch();
    layout->addWidget(buttons);

    for (QCheckBox* box : {FNameEnable, FDateEnable, FSizeEnable}) {
        connect(box, &QCheckBox::toggled, this, &SearchDialog::updateEnabled);
    }
    updateEnabled();
    setMinimumWidth(420);
}

void SearchDialog::updateEnabled() {
    const bool name = FNameEnable->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(FName), FNameNote}) w->setEnabled(name);
    const bool date = FDateEnable->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(FDateKind), static_cast<QWidget*>(FDateFrom),
                       static_cast<QWidget*>(FDateTo), FDateFromLabel, FDateToLabel}) {
        w->setEnabled(date);
    }
    const bool size = FSizeEnable->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(FSizeFrom), static_cast<QWidget*>(FSizeTo), FSizeFromLabel,
                       FSizeToLabel}) {
        w->setEnabled(size);
    }
}

app::SearchCriteria SearchDialog::criteria() const {
    app::SearchCriteria c;
    c.DeletedOnly = FDeletedFiles->isChecked();
    c.NameEnabled = FNameEnable->isChecked();
    c.Name = FName->text().toStdString();
    c.DateEnabled = FDateEnable->isChecked();
    c.DateKind = FDateKind->currentIndex();
    // The pickers hold whole days; the search runs from the start of one to the end of the other.
    c.DateFrom = static_cast<double>(DayZero().daysTo(FDateFrom->date()));
    c.DateTo = static_cast<double>(DayZero().daysTo(FDateTo->date()));
    c.SizeEnabled = FSizeEnable->isChecked();
    c.SizeMin = SizeOrZero(FSizeFrom->text()).toStdString();
    c.SizeMax = SizeOrZero(FSizeTo->text()).toStdString();
    c.SubFolders = FSubFolders->isChecked();
    return c;
}

void SearchDialog::setCriteria(const app::SearchCriteria& c) {
    (c.DeletedOnly ? FDeletedFiles : FAllFiles)->setChecked(true);
    FNameEnable->setChecked(c.NameEnabled);
    FName->setText(QString::fromStdString(c.Name));
    FDateEnable->setChecked(c.DateEnabled);
    FDateKind->setCurrentIndex(c.DateKind >= 0 && c.DateKind < FDateKind->count() ? c.DateKind : 0);
    for (auto [edit, day] : {std::pair{FDateFrom, c.DateFrom}, std::pair{FDateTo, c.DateTo}}) {
        if (std::isfinite(day)) edit->setDate(DayZero().addDays(static_cast<qint64>(std::floor(day))));
    }
    FSizeEnable->setChecked(c.SizeEnabled);
    FSizeFrom->setText(SizeOrZero(QString::fromStdString(c.SizeMin)));
    FSizeTo->setText(SizeOrZero(QString::fromStdString(c.SizeMax)));
    FSubFolders->setChecked(c.SubFolders);
    updateEnabled();
}

std::optional<app::SearchCriteria> AskSearch(QWidget* parent) {
    // The dialog keeps what the user left in it for the rest of the run, as a window that is
    // only hidden would.
    static std::optional<app::SearchCriteria> remembered;
    SearchDialog dialog(parent);
    if (remembered) dialog.setCriteria(*remembered);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    remembered = dialog.criteria();
    if (!accepted) return std::nullopt;
    return remembered;
}

}  // namespace brenvale::gui
