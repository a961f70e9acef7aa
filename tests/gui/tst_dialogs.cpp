// The desktop program's dialogs: what they show, what they return, and the range window's
// arithmetic.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include "app/config.h"
#include "app/recover_command.h"
#include "app/search_command.h"
#include "app/shell.h"
#include "app/user_interface.h"
#include "gui/options_dialog.h"
#include "gui/range_selector_dialog.h"
#include "gui/recovery_summary_dialog.h"
#include "gui/scan_mode_dialog.h"
#include "gui/search_dialog.h"
#include "gui/when_modal.h"

using namespace brenvale;
using gui::ScanRange;
using test::whenModal;

namespace {

std::vector<app::ScanModeChoice> FourChoices(bool a, bool b, bool c, bool d) {
    return {{app::kScanModeNormal, "Standard Scan:", "Reads the file system.", a},
            {app::kScanModeAdvanced, "Advanced Scan:", "Searches for files in the raw records.", b},
            {app::kScanModePartitions, "Search for Lost Partitions:", "Searches for volumes.", c},
            {app::kScanModeResume, "Resume Advanced Scan:", "Continues from a checkpoint.", d}};
}

QLabel* LabelWithText(const QWidget& parent, const QString& text) {
    for (QLabel* l : parent.findChildren<QLabel*>()) {
        if (l->text() == text) return l;
    }
    return nullptr;
}

// A ScanRange model moved by a script of "s<tick>" (start bar) and "e<tick>" (end bar) steps.
void Play(ScanRange& r, const QString& script) {
    for (const QString& step : script.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int tick = step.mid(1).toInt();
        if (step.startsWith(QLatin1Char('s'))) {
            r.moveStart(tick);
        } else {
            r.moveEnd(tick);
        }
    }
}

// The model most range cases use: a 20 MiB partition at sector 2048 of a 100000-sector disk
// with 512-byte sectors (2048 sectors a tick, ticks 0..19).
ScanRange SmallPartition() { return ScanRange(100000, 512, 2048, 40960, 2048, 2048 + 40960 - 1); }

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    // --- Select Scan Mode ---
    void scanModeShowsChoicesEnabledLikeTheirCommands();
    void scanModeClickReturnsResult_data();
    void scanModeClickReturnsResult();
    void scanModeDisabledChoiceDoesNothing();
    void chooseScanModeReturnsResultOrZero();

    // --- Recovery Summary ---
    void summaryShowsCountersAndFailureLines();
    void summaryTogglesBetweenShortAndTallForm();

    // --- Search ---
    void searchDefaults();
    void searchEnableBoxesSwitchTheirGroups();
    void searchCriteriaRoundTrip_data();
    void searchCriteriaRoundTrip();
    void searchEmptySizesReadAsZero();
    void dayNumbers_data();
    void dayNumbers();
    void searchDatesAreDayNumbers();
    void enterConfirmsSearch_data();
    void enterConfirmsSearch();
    void askSearchRemembersValues();

    // --- Range Selector ---
    void rangeSizeText_data();
    void rangeSizeText();
    void scanRangeClampsAndTicks_data();
    void scanRangeClampsAndTicks();
    void scanRangeMoves_data();
    void scanRangeMoves();
    void scanRangeEndNeverBelowStart();
    void scanRangeTexts_data();
    void scanRangeTexts();
    void rangeDialogFollowsSliders();
    void chooseRangeReturnsFirstAndCount();
    void chooseRangeRefusesWithoutDialog_data();
    void chooseRangeRefusesWithoutDialog();

    // --- Options ---
    void optionsShowsMiscTab();
    void editOptionsOkStoresCancelKeeps();
};

// --- Select Scan Mode ---

void DialogsTest::scanModeShowsChoicesEnabledLikeTheirCommands() {
    const auto choices = FourChoices(true, false, true, false);
    gui::ScanModeDialog dlg(choices);
    QCOMPARE(dlg.windowTitle(), QString::fromUtf8(app::kScanModeCaption));
    QCOMPARE(dlg.choiceCount(), choices.size());
    for (std::size_t i = 0; i < choices.size(); ++i) {
        QCOMPARE(dlg.titleLabel(i)->text(), QString::fromUtf8(choices[i].Title));
        QVERIFY(dlg.titleLabel(i)->font().bold());
        QCOMPARE(dlg.descriptionLabel(i)->text(), QString::fromUtf8(choices[i].Description));
        QVERIFY(dlg.descriptionLabel(i)->wordWrap());
        QCOMPARE(dlg.choiceButton(i)->isEnabled(), choices[i].Enabled);
        QCOMPARE(dlg.titleLabel(i)->isEnabled(), choices[i].Enabled);
        QCOMPARE(dlg.descriptionLabel(i)->isEnabled(), choices[i].Enabled);
    }
    QCOMPARE(dlg.cancelButton()->text(), QStringLiteral("Cancel"));
    QCOMPARE(dlg.choice(), 0);
}

void DialogsTest::scanModeClickReturnsResult_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("expected");
    QTest::newRow("standard scan button") << 0 << "button" << app::kScanModeNormal;
    QTest::newRow("advanced scan button") << 1 << "button" << app::kScanModeAdvanced;
    QTest::newRow("lost partitions title") << 2 << "title" << app::kScanModePartitions;
    QTest::newRow("resume description") << 3 << "description" << app::kScanModeResume;
}

void DialogsTest::scanModeClickReturnsResult() {
    QFETCH(int, index);
    QFETCH(QString, where);
    QFETCH(int, expected);
    gui::ScanModeDialog dlg(FourChoices(true, true, true, true));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const auto i = static_cast<std::size_t>(index);
    QWidget* target = where == "button" ? static_cast<QWidget*>(dlg.choiceButton(i))
                      : where == "title" ? static_cast<QWidget*>(dlg.titleLabel(i))
                                        : static_cast<QWidget*>(dlg.descriptionLabel(i));
    QTest::mouseClick(target, Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.choice(), expected);
}

void DialogsTest::scanModeDisabledChoiceDoesNothing() {
    gui::ScanModeDialog dlg(FourChoices(true, false, true, false));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.choiceButton(1), Qt::LeftButton);
    QTest::mouseClick(dlg.titleLabel(3), Qt::LeftButton);
    QTest::mouseClick(dlg.descriptionLabel(1), Qt::LeftButton);
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.choice(), 0);
    QTest::mouseClick(dlg.cancelButton(), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(dlg.choice(), 0);
}

void DialogsTest::chooseScanModeReturnsResultOrZero() {
    const auto choices = FourChoices(true, true, true, false);
    whenModal<gui::ScanModeDialog>([](gui::ScanModeDialog& d) { d.choiceButton(2)->click(); });
    QCOMPARE(gui::ChooseScanMode(nullptr, choices), app::kScanModePartitions);

    whenModal<gui::ScanModeDialog>([](gui::ScanModeDialog& d) { d.cancelButton()->click(); });
    QCOMPARE(gui::ChooseScanMode(nullptr, choices), 0);
}

// --- Recovery Summary ---

void DialogsTest::summaryShowsCountersAndFailureLines() {
    app::RecoverySummary s;
    s.numProcessed = 7;
    s.numRecovered = 4;
    s.numFailed = 3;
    s.DetailsList = {"Recover \"a.txt\" failed due to \"Read error\"", "Recover \"b.jpg\" failed due to \"No space\"",
                     "Recover \"c\" failed due to \"Cannot create file\""};
    gui::RecoverySummaryDialog dlg(s);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Recovery Summary"));
    QCOMPARE(dlg.processedValue()->text(), QStringLiteral("7"));
    QCOMPARE(dlg.recoveredValue()->text(), QStringLiteral("4"));
    QCOMPARE(dlg.failedValue()->text(), QStringLiteral("3"));
    for (const char* caption : {"Processed Files:", "Recovered Files:", "Failed Files:", "Details of failed files:"}) {
        QVERIFY2(LabelWithText(dlg, QString::fromUtf8(caption)), caption);
    }
    QVERIFY(dlg.detailsBox()->isReadOnly());
    const QStringList lines = dlg.detailsBox()->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3);
    for (int i = 0; i < lines.size(); ++i) {
        QCOMPARE(lines[i], QString::fromStdString(s.DetailsList[static_cast<std::size_t>(i)]));
    }
    QCOMPARE(dlg.closeButton()->text(), QStringLiteral("Close"));
    QVERIFY(LabelWithText(dlg, QString::fromUtf8(app::kFailedFilesRemoved)));

    // Nothing failed: an empty box, and zero counters still shown.
    gui::RecoverySummaryDialog empty(app::RecoverySummary{});
    QCOMPARE(empty.failedValue()->text(), QStringLiteral("0"));
    QVERIFY(empty.detailsBox()->toPlainText().isEmpty());
    QVERIFY(!LabelWithText(empty, QString::fromUtf8(app::kFailedFilesRemoved)));
}

void DialogsTest::summaryTogglesBetweenShortAndTallForm() {
    app::RecoverySummary s;
    s.numProcessed = 1;
    s.numFailed = 1;
    s.DetailsList = {"Recover \"x\" failed due to \"y\""};
    gui::RecoverySummaryDialog dlg(s);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    auto checkForm = [&](bool tall) {
        QCOMPARE(dlg.detailsShown(), tall);
        QCOMPARE(dlg.height(), tall ? 390 : 170);
        QCOMPARE(dlg.detailsBox()->isVisible(), tall);
        QCOMPARE(dlg.detailsButton()->text(), tall ? QStringLiteral("Hide Details") : QStringLiteral("Show Details"));
    };
    checkForm(false);
    QTest::mouseClick(dlg.detailsButton(), Qt::LeftButton);
    checkForm(true);
    QTest::mouseClick(dlg.detailsButton(), Qt::LeftButton);
    checkForm(false);
    QTest::mouseClick(dlg.closeButton(), Qt::LeftButton);
    QVERIFY(!dlg.isVisible());
}

// --- Search ---

void DialogsTest::searchDefaults() {
    gui::SearchDialog dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Search"));
    QCOMPARE(dlg.searchButton()->text(), QStringLiteral("Search"));
    QVERIFY(dlg.searchButton()->isDefault());
    QCOMPARE(dlg.cancelButton()->text(), QStringLiteral("Cancel"));
    QCOMPARE(dlg.allFilesButton()->text(), QStringLiteral("All Files"));
    QCOMPARE(dlg.deletedFilesButton()->text(), QStringLiteral("Deleted Files"));
    QStringList kinds;
    for (int i = 0; i < dlg.dateKind()->count(); ++i) kinds << dlg.dateKind()->itemText(i);
    QCOMPARE(kinds, (QStringList{"Created", "Modified", "Accessed(Deleted)"}));
    QVERIFY(LabelWithText(dlg, QStringLiteral("Divide multiple file names by \",\"")));
    QCOMPARE(dlg.subFolders()->text(), QStringLiteral("Search Sub-Directories"));

    const app::SearchCriteria c = dlg.criteria();
    QVERIFY(c.DeletedOnly);
    QVERIFY(!c.NameEnabled);
    QCOMPARE(c.Name, std::string("*"));
    QVERIFY(!c.DateEnabled);
    QCOMPARE(c.DateKind, 0);
    QVERIFY(!c.SizeEnabled);
    QCOMPARE(c.SizeMin, std::string("0"));
    QCOMPARE(c.SizeMax, std::string("0"));
    QVERIFY(c.SubFolders);
}

void DialogsTest::searchEnableBoxesSwitchTheirGroups() {
    gui::SearchDialog dlg;
    const std::vector<std::pair<QCheckBox*, std::vector<QWidget*>>> groups{
        {dlg.nameEnable(), {dlg.nameEdit()}},
        {dlg.dateEnable(), {dlg.dateKind(), dlg.dateFrom(), dlg.dateTo()}},
        {dlg.sizeEnable(), {dlg.sizeFrom(), dlg.sizeTo()}},
    };
    for (const auto& [box, controls] : groups) {
        QCOMPARE(box->text(), QStringLiteral("Enable"));
        for (QWidget* w : controls) QVERIFY(!w->isEnabled());
        box->setChecked(true);
        for (QWidget* w : controls) QVERIFY(w->isEnabled());
        box->setChecked(false);
        for (QWidget* w : controls) QVERIFY(!w->isEnabled());
    }
    // Sizes take digits only.
    dlg.sizeEnable()->setChecked(true);
    dlg.sizeFrom()->clear();
    QTest::keyClicks(dlg.sizeFrom(), "12a-3.4");
    QCOMPARE(dlg.sizeFrom()->text(), QStringLiteral("1234"));
}

void DialogsTest::searchCriteriaRoundTrip_data() {
    QTest::addColumn<bool>("deletedOnly");
    QTest::addColumn<bool>("nameEnabled");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("dateEnabled");
    QTest::addColumn<int>("dateKind");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<bool>("sizeEnabled");
    QTest::addColumn<QString>("sizeMin");
    QTest::addColumn<QString>("sizeMax");
    QTest::addColumn<bool>("subFolders");
    QTest::newRow("everything on") << true << true << "*.jpg,*.png" << true << 2 << 45292.0 << 45351.0 << true
                                   << "10" << "2048" << true;
    QTest::newRow("everything off") << false << false << "report?.doc" << false << 1 << 36526.0 << 36526.0
                                    << false << "0" << "0" << false;
    QTest::newRow("dates in either order") << true << false << "*" << true << 0 << 45400.0 << 40000.0 << true
                                           << "5" << "1" << true;
}

void DialogsTest::searchCriteriaRoundTrip() {
    QFETCH(bool, deletedOnly);
    QFETCH(bool, nameEnabled);
    QFETCH(QString, name);
    QFETCH(bool, dateEnabled);
    QFETCH(int, dateKind);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(bool, sizeEnabled);
    QFETCH(QString, sizeMin);
    QFETCH(QString, sizeMax);
    QFETCH(bool, subFolders);
    app::SearchCriteria in;
    in.DeletedOnly = deletedOnly;
    in.NameEnabled = nameEnabled;
    in.Name = name.toStdString();
    in.DateEnabled = dateEnabled;
    in.DateKind = dateKind;
    in.DateFrom = from;
    in.DateTo = to;
    in.SizeEnabled = sizeEnabled;
    in.SizeMin = sizeMin.toStdString();
    in.SizeMax = sizeMax.toStdString();
    in.SubFolders = subFolders;

    gui::SearchDialog dlg;
    dlg.setCriteria(in);
    QCOMPARE(dlg.deletedFilesButton()->isChecked(), deletedOnly);
    QCOMPARE(dlg.allFilesButton()->isChecked(), !deletedOnly);
    QCOMPARE(dlg.nameEdit()->isEnabled(), nameEnabled);
    const app::SearchCriteria out = dlg.criteria();
    QCOMPARE(out.DeletedOnly, in.DeletedOnly);
    QCOMPARE(out.NameEnabled, in.NameEnabled);
    QCOMPARE(out.Name, in.Name);
    QCOMPARE(out.DateEnabled, in.DateEnabled);
    QCOMPARE(out.DateKind, in.DateKind);
    QCOMPARE(out.DateFrom, in.DateFrom);
    QCOMPARE(out.DateTo, in.DateTo);
    QCOMPARE(out.SizeEnabled, in.SizeEnabled);
    QCOMPARE(out.SizeMin, in.SizeMin);
    QCOMPARE(out.SizeMax, in.SizeMax);
    QCOMPARE(out.SubFolders, in.SubFolders);
}

void DialogsTest::searchEmptySizesReadAsZero() {
    gui::SearchDialog dlg;
    dlg.sizeEnable()->setChecked(true);
    dlg.sizeFrom()->clear();
    dlg.sizeTo()->setText(QStringLiteral("  "));
    app::SearchCriteria c = dlg.criteria();
    QCOMPARE(c.SizeMin, std::string("0"));
    QCOMPARE(c.SizeMax, std::string("0"));
    // What the dialog hands over is what the search accepts.
    const app::SearchQuery q = app::ToSearchQuery(c);
    QCOMPARE(q.SizeMin, std::int64_t{0});
    QCOMPARE(q.SizeMax, std::int64_t{0});

    c.SizeMin.clear();
    c.SizeMax = "";
    dlg.setCriteria(c);
    QCOMPARE(dlg.sizeFrom()->text(), QStringLiteral("0"));
    QCOMPARE(dlg.sizeTo()->text(), QStringLiteral("0"));
}

void DialogsTest::dayNumbers_data() {
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<double>("day");
    QTest::newRow("day zero") << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << 0.0;
    QTest::newRow("1900-01-01") << QDateTime(QDate(1900, 1, 1), QTime(0, 0)) << 2.0;
    QTest::newRow("leap day noon") << QDateTime(QDate(2024, 2, 29), QTime(12, 0)) << 45351.5;
    QTest::newRow("quarter past six") << QDateTime(QDate(2000, 1, 1), QTime(6, 0)) << 36526.25;
    QTest::newRow("before day zero") << QDateTime(QDate(1899, 12, 29), QTime(18, 0)) << -0.25;
}

void DialogsTest::dayNumbers() {
    QFETCH(QDateTime, moment);
    QFETCH(double, day);
    QCOMPARE(gui::DayNumberOf(moment), day);
    QCOMPARE(gui::DateTimeOfDayNumber(day), moment);
    // A moment given in UTC counts by its local date and time.
    QCOMPARE(gui::DayNumberOf(moment.toUTC()), day);
}

void DialogsTest::searchDatesAreDayNumbers() {
    // A fraction just below the next midnight rounds to that midnight, not to 23:59:59.999.
    QCOMPARE(gui::DateTimeOfDayNumber(45351.0 - 1e-10), QDateTime(QDate(2024, 2, 29), QTime(0, 0)));
    QVERIFY(!gui::DateTimeOfDayNumber(std::numeric_limits<double>::quiet_NaN()).isValid());
    QCOMPARE(gui::DayNumberOf(QDateTime()), 0.0);

    gui::SearchDialog dlg;
    dlg.dateEnable()->setChecked(true);
    dlg.dateFrom()->setDate(QDate(2024, 1, 1));
    dlg.dateTo()->setDate(QDate(2024, 2, 29));
    const app::SearchCriteria c = dlg.criteria();
    QCOMPARE(c.DateFrom, 45292.0);
    QCOMPARE(c.DateTo, 45351.0);
    QCOMPARE(c.DateFrom, scan::SearchDayNumber(2024, 1, 1));

    // A day number with a time of day shows as its date.
    app::SearchCriteria withTime = c;
    withTime.DateFrom = 45292.75;
    dlg.setCriteria(withTime);
    QCOMPARE(dlg.dateFrom()->date(), QDate(2024, 1, 1));
}

void DialogsTest::enterConfirmsSearch_data() {
    QTest::addColumn<QString>("control");
    QTest::newRow("name edit") << "name";
    QTest::newRow("date picker") << "date";
    QTest::newRow("size edit") << "size";
}

void DialogsTest::enterConfirmsSearch() {
    QFETCH(QString, control);
    gui::SearchDialog dlg;
    for (QCheckBox* box : {dlg.nameEnable(), dlg.dateEnable(), dlg.sizeEnable()}) box->setChecked(true);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QWidget* target = control == "name"   ? static_cast<QWidget*>(dlg.nameEdit())
                      : control == "date" ? static_cast<QWidget*>(dlg.dateFrom())
                                          : static_cast<QWidget*>(dlg.sizeTo());
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Return);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!dlg.isVisible());
}

void DialogsTest::askSearchRemembersValues() {
    whenModal<gui::SearchDialog>([](gui::SearchDialog& d) {
        d.nameEnable()->setChecked(true);
        d.nameEdit()->setText(QStringLiteral("*.jpg"));
        d.allFilesButton()->setChecked(true);
        d.searchButton()->click();
    });
    const auto first = gui::AskSearch(nullptr);
    QVERIFY(first.has_value());
    QVERIFY(first->NameEnabled);
    QCOMPARE(first->Name, std::string("*.jpg"));
    QVERIFY(!first->DeletedOnly);

    // The next call opens with those values; what is typed before "Cancel" is kept too.
    QString shownName;
    bool shownAll = false;
    whenModal<gui::SearchDialog>([&](gui::SearchDialog& d) {
        shownName = d.nameEdit()->text();
        shownAll = d.allFilesButton()->isChecked();
        d.nameEdit()->setText(QStringLiteral("*.doc"));
        d.cancelButton()->click();
    });
    QVERIFY(!gui::AskSearch(nullptr).has_value());
    QCOMPARE(shownName, QStringLiteral("*.jpg"));
    QVERIFY(shownAll);

    whenModal<gui::SearchDialog>([&](gui::SearchDialog& d) {
        shownName = d.nameEdit()->text();
        d.searchButton()->click();
    });
    const auto third = gui::AskSearch(nullptr);
    QCOMPARE(shownName, QStringLiteral("*.doc"));
    QVERIFY(third.has_value());
    QCOMPARE(third->Name, std::string("*.doc"));
}

// --- Range Selector ---

void DialogsTest::rangeSizeText_data() {
    QTest::addColumn<double>("bytes");
    QTest::addColumn<QString>("text");
    const double kb = 1024, mb = kb * kb, gb = mb * kb, tb = gb * kb;
    QTest::newRow("zero") << 0.0 << "0.00 B";
    QTest::newRow("below a KB") << 1023.0 << "1023.00 B";
    QTest::newRow("one KB") << kb << "1.00 KB";
    QTest::newRow("one and a half KB") << 1536.0 << "1.50 KB";
    QTest::newRow("20 MB") << 20 * mb << "20.00 MB";
    QTest::newRow("one sector short of a GB") << gb - 512 << "1024.00 MB";
    QTest::newRow("2.5 GB") << 2.5 * gb << "2.50 GB";
    QTest::newRow("one TB") << tb << "1.00 TB";
    QTest::newRow("TB is the last unit") << 1024 * tb << "1024.00 TB";
    QTest::newRow("8 EB in TB") << 8.0 * 1024 * 1024 * tb << "8388608.00 TB";
}

void DialogsTest::rangeSizeText() {
    QFETCH(double, bytes);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(gui::RangeSizeText(bytes)), text);
}

void DialogsTest::scanRangeClampsAndTicks_data() {
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("bytesPerSector");
    QTest::addColumn<qint64>("partiStart");
    QTest::addColumn<qint64>("partiCount");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<qint64>("perTick");
    QTest::addColumn<qint64>("last");
    QTest::addColumn<qint64>("startSector");
    QTest::addColumn<qint64>("endSector");
    QTest::addColumn<int>("maxTick");
    QTest::addColumn<int>("startTick");
    QTest::addColumn<int>("endTick");
    QTest::newRow("partition inside the disk")
        << 100000LL << 512LL << 2048LL << 40960LL << 2048LL << 43007LL << 2048LL << 43007LL << 2048LL << 43007LL
        << 19 << 0 << 19;
    QTest::newRow("partition running past the disk's end")
        << 10000LL << 512LL << 4096LL << 100000LL << 4096LL << 200000LL << 2048LL << 9999LL << 4096LL << 9999LL << 2
        << 0 << 2;
    QTest::newRow("start before the partition, end before the start")
        << 100000LL << 512LL << 4096LL << 8192LL << 100LL << 50LL << 2048LL << 12287LL << 4096LL << 4096LL << 3 << 0
        << 0;
    QTest::newRow("proposal inside the partition")
        << 100000LL << 512LL << 0LL << 100000LL << 5000LL << 9000LL << 2048LL << 99999LL << 5000LL << 9000LL << 48
        << 2 << 4;
    QTest::newRow("4K sectors") << 1000000LL << 4096LL << 0LL << 1000000LL << 0LL << 999999LL << 256LL << 999999LL
                                << 0LL << 999999LL << 3906 << 0 << 3906;
    QTest::newRow("sector size unknown") << 50LL << 0LL << 10LL << 20LL << 10LL << 29LL << 1LL << 29LL << 10LL
                                         << 29LL << 19 << 0 << 19;
    QTest::newRow("sectors larger than a tick") << 50LL << 2097152LL << 0LL << 50LL << 0LL << 49LL << 1LL << 49LL
                                                << 0LL << 49LL << 49 << 0 << 49;
    QTest::newRow("16 TiB disk") << (1LL << 35) << 512LL << 0LL << (1LL << 35) << 0LL << (1LL << 35) - 1 << 2048LL
                                 << (1LL << 35) - 1 << 0LL << (1LL << 35) - 1 << 16777215 << 0 << 16777215;
    QTest::newRow("ticks capped on a huge disk")
        << (1LL << 40) << 1048576LL << 0LL << (1LL << 40) << (1LL << 32) << (1LL << 40) - 1 << 1LL
        << (1LL << 40) - 1 << (1LL << 32) << (1LL << 40) - 1 << 2147483647 << 2147483647 << 2147483647;
    QTest::newRow("a single sector") << 1LL << 512LL << 0LL << 1LL << 0LL << 0LL << 2048LL << 0LL << 0LL << 0LL << 0
                                     << 0 << 0;
}

void DialogsTest::scanRangeClampsAndTicks() {
    QFETCH(qint64, total);
    QFETCH(qint64, bytesPerSector);
    QFETCH(qint64, partiStart);
    QFETCH(qint64, partiCount);
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(qint64, perTick);
    QFETCH(qint64, last);
    QFETCH(qint64, startSector);
    QFETCH(qint64, endSector);
    QFETCH(int, maxTick);
    QFETCH(int, startTick);
    QFETCH(int, endTick);
    const ScanRange r(total, bytesPerSector, partiStart, partiCount, start, end);
    QCOMPARE(r.sectorsPerTick(), perTick);
    QCOMPARE(r.lastSector(), last);
    QCOMPARE(r.startSector(), startSector);
    QCOMPARE(r.endSector(), endSector);
    QCOMPARE(r.maxTick(), maxTick);
    QCOMPARE(r.startTick(), startTick);
    QCOMPARE(r.endTick(), endTick);
    QCOMPARE(r.range().First, startSector);
    QCOMPARE(r.range().Count, endSector - startSector + 1);
}

void DialogsTest::scanRangeMoves_data() {
    // On SmallPartition(): sectors 2048..43007, 2048 sectors a tick, ticks 0..19.
    QTest::addColumn<QString>("script");
    QTest::addColumn<qint64>("startSector");
    QTest::addColumn<qint64>("endSector");
    QTest::addColumn<int>("startTick");
    QTest::addColumn<int>("endTick");
    QTest::newRow("start moves alone") << "s5" << 12288LL << 43007LL << 5 << 19;
    QTest::newRow("end ends at its tick's last sector") << "e3" << 2048LL << 10239LL << 0 << 3;
    QTest::newRow("end below start pushes start back") << "s5,e3" << 8192LL << 10239LL << 3 << 3;
    QTest::newRow("start past end pulls end along") << "e3,s10" << 22528LL << 24575LL << 10 << 10;
    QTest::newRow("end back to the last tick") << "e7,e19" << 2048LL << 43007LL << 0 << 19;
    QTest::newRow("ticks beyond the bar are clamped") << "s99" << 40960LL << 43007LL << 19 << 19;
    QTest::newRow("negative ticks are clamped") << "e-4" << 2048LL << 4095LL << 0 << 0;
    QTest::newRow("both at zero") << "e0,s0" << 2048LL << 4095LL << 0 << 0;
}

void DialogsTest::scanRangeMoves() {
    QFETCH(QString, script);
    QFETCH(qint64, startSector);
    QFETCH(qint64, endSector);
    QFETCH(int, startTick);
    QFETCH(int, endTick);
    ScanRange r = SmallPartition();
    Play(r, script);
    QCOMPARE(r.startSector(), startSector);
    QCOMPARE(r.endSector(), endSector);
    QCOMPARE(r.startTick(), startTick);
    QCOMPARE(r.endTick(), endTick);
}

void DialogsTest::scanRangeEndNeverBelowStart() {
    // The last tick of this partition is a short one: its end is the partition's last sector.
    ScanRange r(100000, 512, 1000, 9000, 1000, 9999);
    QCOMPARE(r.maxTick(), 4);
    r.moveEnd(4);
    QCOMPARE(r.endSector(), 9999);  // not 1000 + 5 * 2048 - 1
    std::uint32_t seed = 12345;
    for (int i = 0; i < 2000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int tick = static_cast<int>((seed >> 16) % 7) - 1;  // -1..5, past both ends
        if (seed & 0x8000u) {
            r.moveStart(tick);
        } else {
            r.moveEnd(tick);
        }
        QVERIFY(r.startTick() <= r.endTick());
        QVERIFY(r.startSector() <= r.endSector());
        QVERIFY(r.startSector() >= 1000);
        QVERIFY(r.endSector() <= 9999);
        QCOMPARE(r.startSector(), 1000 + std::int64_t{r.startTick()} * 2048);
    }
}

void DialogsTest::scanRangeTexts_data() {
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("bytesPerSector");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("startText");
    QTest::addColumn<QString>("endText");
    QTest::addColumn<QString>("rangeText");
    QTest::newRow("a single sector") << 1LL << 512LL << "" << "Start: sector 0/0.00 B" << "End: sector 0/0.00 B"
                                     << "Scan range: 512.00 B (1 sectors)";
    QTest::newRow("a floppy") << 2880LL << 512LL << "" << "Start: sector 0/0.00 B"
                              << "End: sector 2879/1.41 MB" << "Scan range: 1.41 MB (2880 sectors)";
    QTest::newRow("one tick of a floppy") << 2880LL << 512LL << "e0" << "Start: sector 0/0.00 B"
                                          << "End: sector 2047/1023.50 KB" << "Scan range: 1.00 MB (2048 sectors)";
    QTest::newRow("8 PiB of 4K sectors") << (1LL << 41) << 4096LL << "" << "Start: sector 0/0.00 B"
                                         << "End: sector 2199023255551/8192.00 TB"
                                         << "Scan range: 8192.00 TB (2199023255552 sectors)";
    // The bars stop at tick 2147483647, a quarter of the way into this disk.
    QTest::newRow("8 PiB, start bar at its end")
        << (1LL << 41) << 4096LL << "s2147483647" << "Start: sector 549755813632/2048.00 TB"
        << "End: sector 2199023255551/8192.00 TB" << "Scan range: 6144.00 TB (1649267441920 sectors)";
}

void DialogsTest::scanRangeTexts() {
    QFETCH(qint64, total);
    QFETCH(qint64, bytesPerSector);
    QFETCH(QString, script);
    QFETCH(QString, startText);
    QFETCH(QString, endText);
    QFETCH(QString, rangeText);
    ScanRange r(total, bytesPerSector, 0, total, 0, total - 1);
    Play(r, script);
    QCOMPARE(QString::fromStdString(r.startText()), startText);
    QCOMPARE(QString::fromStdString(r.endText()), endText);
    QCOMPARE(QString::fromStdString(r.rangeText()), rangeText);
}

void DialogsTest::rangeDialogFollowsSliders() {
    gui::RangeSelectorDialog dlg(SmallPartition());
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Range Selector"));
    QCOMPARE(dlg.startSlider()->objectName(), QStringLiteral("trkStart"));
    QCOMPARE(dlg.endSlider()->objectName(), QStringLiteral("trkEnd"));
    for (QSlider* bar : {dlg.startSlider(), dlg.endSlider()}) {
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 19);
        QCOMPARE(bar->singleStep(), 10);
        QCOMPARE(bar->pageStep(), 1000);
    }
    QCOMPARE(dlg.startSlider()->value(), 0);
    QCOMPARE(dlg.endSlider()->value(), 19);
    QVERIFY(LabelWithText(dlg, QStringLiteral("Drag the sliders to select the scan range")));
    QCOMPARE(dlg.okButton()->text(), QStringLiteral("OK"));
    QVERIFY(dlg.okButton()->isDefault());
    QCOMPARE(dlg.cancelButton()->text(), QStringLiteral("Cancel"));
    QCOMPARE(dlg.startLabel()->text(), QStringLiteral("Start: sector 0/0.00 B"));
    QCOMPARE(dlg.endLabel()->text(), QStringLiteral("End: sector 40959/20.00 MB"));
    QCOMPARE(dlg.rangeLabel()->text(), QStringLiteral("Scan range: 20.00 MB (40960 sectors)"));

    dlg.startSlider()->setValue(5);
    QCOMPARE(dlg.startLabel()->text(), QStringLiteral("Start: sector 10240/5.00 MB"));
    QCOMPARE(dlg.endSlider()->value(), 19);
    dlg.endSlider()->setValue(2);  // below the start: the start bar follows
    QCOMPARE(dlg.startSlider()->value(), 2);
    QCOMPARE(dlg.startLabel()->text(), QStringLiteral("Start: sector 4096/2.00 MB"));
    QCOMPARE(dlg.endLabel()->text(), QStringLiteral("End: sector 6143/3.00 MB"));
    QCOMPARE(dlg.rangeLabel()->text(), QStringLiteral("Scan range: 1.00 MB (2048 sectors)"));
    dlg.startSlider()->setValue(7);  // above the end: the end bar follows
    QCOMPARE(dlg.endSlider()->value(), 7);
    QCOMPARE(dlg.rangeLabel()->text(), QStringLiteral("Scan range: 1.00 MB (2048 sectors)"));

    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.okButton(), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.range().First, 2048 + 7 * 2048);
    QCOMPARE(dlg.range().Count, 2048);
}

void DialogsTest::chooseRangeReturnsFirstAndCount() {
    // Untouched: the proposal, cut to the device.
    whenModal<gui::RangeSelectorDialog>([](gui::RangeSelectorDialog& d) { d.okButton()->click(); });
    auto r = gui::ChooseRange(nullptr, {100, 1000}, 512, 600);
    QVERIFY(r.has_value());
    QCOMPARE(r->First, 100);
    QCOMPARE(r->Count, 500);

    // Narrowed with the bars; an unknown sector size counts as 512 bytes (2048 sectors a tick).
    std::int64_t perTick = 0;
    whenModal<gui::RangeSelectorDialog>([&](gui::RangeSelectorDialog& d) {
        perTick = d.scanRange().sectorsPerTick();
        d.endSlider()->setValue(4);
        d.startSlider()->setValue(1);
        d.okButton()->click();
    });
    r = gui::ChooseRange(nullptr, {2048, 40960}, 0, 100000);
    QCOMPARE(perTick, std::int64_t{2048});
    QVERIFY(r.has_value());
    QCOMPARE(r->First, 2048 + 1 * 2048);
    QCOMPARE(r->Count, (2048 + 5 * 2048 - 1) - (2048 + 2048) + 1);

    // A range starting before the device keeps only its part on the device.
    whenModal<gui::RangeSelectorDialog>([](gui::RangeSelectorDialog& d) { d.okButton()->click(); });
    r = gui::ChooseRange(nullptr, {-10, 30}, 512, 100);
    QVERIFY(r.has_value());
    QCOMPARE(r->First, 0);
    QCOMPARE(r->Count, 20);

    whenModal<gui::RangeSelectorDialog>([](gui::RangeSelectorDialog& d) {
        d.startSlider()->setValue(3);
        d.cancelButton()->click();
    });
    QVERIFY(!gui::ChooseRange(nullptr, {0, 100000}, 512, 100000).has_value());
}

void DialogsTest::chooseRangeRefusesWithoutDialog_data() {
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<qulonglong>("deviceSectors");
    QTest::newRow("device without sectors") << 0LL << 100LL << 0ULL;
    QTest::newRow("empty range") << 10LL << 0LL << 1000ULL;
    QTest::newRow("negative count") << 10LL << -5LL << 1000ULL;
    QTest::newRow("range beyond the device") << 1000LL << 50LL << 1000ULL;
    QTest::newRow("range ending before the device") << -50LL << 40LL << 1000ULL;
}

void DialogsTest::chooseRangeRefusesWithoutDialog() {
    QFETCH(qint64, first);
    QFETCH(qint64, count);
    QFETCH(qulonglong, deviceSectors);
    bool shown = false;
    whenModal<gui::RangeSelectorDialog>(
        [&](gui::RangeSelectorDialog& d) {
            shown = true;
            d.okButton()->click();
        },
        0);
    QVERIFY(!gui::ChooseRange(nullptr, {first, count}, 512, deviceSectors).has_value());
    QTest::qWait(50);  // let the watcher run out here, where `shown` still lives
    QVERIFY(!shown);
}

// --- Options ---

void DialogsTest::optionsShowsMiscTab() {
    app::Config config;
    config.ShowOnlyDeleted = true;
    config.AdjustmentQuery = false;
    gui::OptionsDialog dlg(config);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Options"));
    QCOMPARE(dlg.tabs()->count(), 3);
    QCOMPARE(dlg.tabs()->tabText(0), QStringLiteral("File Types"));
    QCOMPARE(dlg.tabs()->tabText(1), QStringLiteral("Raw Recovery"));
    QCOMPARE(dlg.tabs()->tabText(2), QStringLiteral("Misc"));
    dlg.tabs()->setCurrentIndex(2);
    QCOMPARE(dlg.showOnlyDeletedBox()->text(),
             QStringLiteral("Show only deleted items after Scan (takes effect after the next scan)."));
    QCOMPARE(dlg.adjustmentBox()->text(), QStringLiteral("Show \"Adjustment\" dialog after Advanced Scan."));
    QVERIFY(dlg.showOnlyDeletedBox()->isChecked());
    QVERIFY(!dlg.adjustmentBox()->isChecked());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(dlg.showOnlyDeletedBox()->isVisible());
    QVERIFY(!dlg.adjustmentBox()->isVisible());
    QCOMPARE(dlg.okButton()->text(), QStringLiteral("OK"));
    QCOMPARE(dlg.cancelButton()->text(), QStringLiteral("Cancel"));
}

void DialogsTest::editOptionsOkStoresCancelKeeps() {
    app::Config config;
    config.ShowOnlyDeleted = false;
    config.AdjustmentQuery = false;
    config.Splitter1 = 123;

    whenModal<gui::OptionsDialog>([](gui::OptionsDialog& d) {
        d.showOnlyDeletedBox()->setChecked(true);
        d.cancelButton()->click();
    });
    QVERIFY(!gui::EditOptions(nullptr, config));
    QVERIFY(!config.ShowOnlyDeleted);

    whenModal<gui::OptionsDialog>([](gui::OptionsDialog& d) {
        d.showOnlyDeletedBox()->setChecked(true);
        d.okButton()->click();
    });
    QVERIFY(gui::EditOptions(nullptr, config));
    QVERIFY(config.ShowOnlyDeleted);
    // The hidden setting and everything the dialog does not show are written back as they were.
    QVERIFY(!config.AdjustmentQuery);
    QCOMPARE(config.Splitter1, 123);

    whenModal<gui::OptionsDialog>([](gui::OptionsDialog& d) {
        d.showOnlyDeletedBox()->setChecked(false);
        d.okButton()->click();
    });
    QVERIFY(gui::EditOptions(nullptr, config));
    QVERIFY(!config.ShowOnlyDeleted);
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
