// The main window driven with the mouse and keyboard on the demo disk image: a standard scan
// through the scan-mode dialog, browsing, filtering, sorting, recovering a deleted file and a
// deleted folder, the properties and event-log pages, and a long scan that keeps the window
// responsive and stops when asked.

#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "app/list_filter.h"
#include "gui/file_list_model.h"
#include "gui/gui_ui.h"
#include "gui/main_window.h"
#include "gui/pages.h"
#include "gui/scan_mode_dialog.h"
#include "gui/when_modal.h"
#include "platform/linux/linux_platform.h"
#include "support/file_digest.h"
#include "support/fixtures.h"

using namespace brenvale;

namespace {

// Answers the folder and file pickers from a script and records what the window says. The scan
// mode dialog stays the real one. With `slowPumpMs` every record a scan on the worker thread
// reads takes that long, as on a slow disk.
class ScriptedGuiUi : public gui::GuiUi {
public:
    std::deque<std::string> folders, saveFiles;
    std::vector<app::RecoverySummary> summaries;
    std::vector<std::pair<app::MessageKind, QString>> messages;
    std::atomic<int> slowPumpMs{0};
    std::optional<app::SearchCriteria> search;
    // Runs while the folder picker or the summary is open, as the user would look at the window.
    std::function<void()> whileDialogOpen;

    void Pump() override {
        if (slowPumpMs && QThread::currentThread() != thread()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(slowPumpMs.load()));
        }
    }

protected:
    std::optional<std::string> doChooseFolder(const QString&, const QString&) override {
        if (whileDialogOpen) whileDialogOpen();
        return take(folders);
    }
    std::optional<app::SearchCriteria> doAskSearch() override { return search; }
    std::optional<std::string> doChooseSaveFile(const QString&, const QString&, const QString&, const QString&) override {
        return take(saveFiles);
    }
    void doShowRecoverySummary(const app::RecoverySummary& s) override {
        if (whileDialogOpen) whileDialogOpen();
        summaries.push_back(s);
    }
    void doShowMessage(app::MessageKind kind, const QString& text, const QString&) override {
        messages.emplace_back(kind, text);
    }

private:
    static std::optional<std::string> take(std::deque<std::string>& q) {
        if (q.empty()) return std::nullopt;
        std::string v = q.front();
        q.pop_front();
        return v;
    }
};

QTreeWidgetItem* FindItem(QTreeWidgetItem* item, const QString& text) {
    if (!item) return nullptr;
    if (item->text(0) == text) return item;
    for (int i = 0; i < item->childCount(); ++i) {
        if (QTreeWidgetItem* found = FindItem(item->child(i), text)) return found;
    }
    return nullptr;
}


}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<platform::Platform> os_ = platform::makeLinuxPlatform();
    app::Config config_;
    ScriptedGuiUi* ui_ = nullptr;
    std::unique_ptr<gui::MainWindow> window_;
    QTemporaryDir tmp_;

    gui::MainWindow& w() { return *window_; }
    QTreeWidgetItem* item(const QString& text) { return FindItem(w().tree()->topLevelItem(0), text); }
    int row(const QString& caption) {
        const auto& rows = w().listModel()->rows();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (QString::fromStdString(rows[i].Caption) == caption) return static_cast<int>(i);
        }
        return -1;
    }
    QStringList captions() {
        QStringList out;
        for (const auto& r : w().listModel()->rows()) out << QString::fromStdString(r.Caption);
        return out;
    }
    void clickTreeItem(QTreeWidgetItem* it) {
        QVERIFY(it);
        w().tree()->scrollToItem(it);
        const QRect r = w().tree()->visualItemRect(it);
        QTest::mouseClick(w().tree()->viewport(), Qt::LeftButton, {}, r.center());
    }
    void clickRow(int r, Qt::KeyboardModifiers mods = {}) {
        QVERIFY(r >= 0);
        const QModelIndex index = w().listModel()->index(r, 0);
        w().list()->scrollTo(index);
        QTest::mouseClick(w().list()->viewport(), Qt::LeftButton, mods, w().list()->visualRect(index).center());
    }
    void doubleClickRow(int r) {
        QVERIFY(r >= 0);
        const QModelIndex index = w().listModel()->index(r, 0);
        w().list()->scrollTo(index);
        const QPoint at = w().list()->visualRect(index).center();
        QTest::mouseClick(w().list()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(w().list()->viewport(), Qt::LeftButton, {}, at);
    }
    // Runs an action that starts a long command and waits until the window shows its result.
    void runAndWait(QAction* action, int timeoutMs = 60000) {
        QSignalSpy finished(window_.get(), &gui::MainWindow::commandFinished);
        QVERIFY(action->isEnabled());
        action->trigger();
        QVERIFY(finished.wait(timeoutMs));
    }
    // Standard Scan of a partition through the scan-mode dialog.
    void scan(const QString& partition) {
        clickTreeItem(item(partition));
        QCOMPARE(w().tree()->currentItem()->text(0), partition);
        test::whenModal<gui::ScanModeDialog>([](gui::ScanModeDialog& d) { d.choiceButton(0)->click(); });
        runAndWait(w().actScan);
    }
    std::vector<std::pair<QString, QString>> propertyRows() {
        std::vector<std::pair<QString, QString>> out;
        auto* page = w().propertiesPage();
        for (int i = 0; i < page->topLevelItemCount(); ++i) {
            out.emplace_back(page->topLevelItem(i)->text(0), page->topLevelItem(i)->text(1));
        }
        return out;
    }
    QString property(const QString& field) {
        for (const auto& [f, v] : propertyRows()) {
            if (f == field) return v;
        }
        return "<none>";
    }

private slots:
    void init() {
        const auto demo = test::fixture("demo.img");
        if (!demo) QSKIP("fixture demo.img not built (tests/fixtures/build-fixtures.sh, needs root)");
        auto ui = std::make_unique<ScriptedGuiUi>();
        ui_ = ui.get();
        window_ = std::make_unique<gui::MainWindow>(*os_, config_, nullptr, std::move(ui));
        w().start({}, {});
        QVERIFY(w().openImage(QString::fromStdString(demo->string())));
        w().resize(1200, 800);
        w().show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() {
        window_.reset();
        config_ = app::Config{};
    }

    void windowShowsTheDriveTreeAndTheDeviceList() {
        QCOMPARE(w().windowTitle(), QString("Brenvale 1.1.2"));
        QTreeWidgetItem* disk = item("demo.img");
        QVERIFY(disk);
        QStringList children;
        for (int i = 0; i < disk->childCount(); ++i) children << disk->child(i)->text(0);
        QCOMPARE(children, QStringList({"Total Disk Space", "PHOTOS (partition 1)", "CAMERA (partition 2)", "Windows (partition 3)", "Lost Partitions"}));
        clickTreeItem(disk);
        QCOMPARE(captions(), children);
        QCOMPARE(w().listModel()->headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Serial"));
        QVERIFY(!w().actSimpleScan->isEnabled());
        QVERIFY(w().actPartiScan->isEnabled());
        QVERIFY(!w().actStop->isEnabled());
    }

    void standardScanBrowseFilterSortAndRecover() {
        scan("PHOTOS (partition 1)");
        QTreeWidgetItem* photos = item("PHOTOS (partition 1)");
        QCOMPARE(photos->childCount(), 3);
        QCOMPARE(photos->child(2)->text(0), QString("Old Backups"));
        QVERIFY(photos->isExpanded());
        QCOMPARE(captions(), QStringList({"DCIM", "Documents", "Old Backups"}));
        QCOMPARE(w().statusPanel(2)->text(), QString("Current 3 entries"));
        QVERIFY(w().statusPanel(3)->text().startsWith("Total "));
        QVERIFY(w().filterBox()->isVisible());
        QVERIFY(w().eventLogPage()->list()->topLevelItemCount() >= 2);
        // The image's loading, then the scan.
        QCOMPARE(w().eventLogPage()->list()->topLevelItem(0)->text(0), QString("Load Image"));
        QCOMPARE(w().eventLogPage()->list()->topLevelItem(1)->text(0), QString("Standard Scan"));
        QCOMPARE(property("Drive Name"), QString("PHOTOS (partition 1)"));
        QCOMPARE(property("File System"), QString("FAT32"));

        // Browse down with double-clicks; deleted files are marked.
        doubleClickRow(row("DCIM"));
        QTRY_COMPARE(w().tree()->currentItem()->text(0), QString("DCIM"));
        doubleClickRow(row("100MEDIA"));
        QTRY_COMPARE(w().tree()->currentItem()->text(0), QString("100MEDIA"));
        QCOMPARE(w().listModel()->rowCount(), 5);
        const auto& deleted = w().listModel()->rows()[static_cast<std::size_t>(row("_MG_0003.JPG"))];
        QCOMPARE(QString::fromStdString(deleted.SubItems[1]), QString("Deleted"));

        // Filter: typing narrows after the delay; clearing the box shows every row at once.
        QTest::keyClicks(w().filterBox(), "*3.jpg");
        QTRY_COMPARE(w().listModel()->rowCount(), 1);
        QCOMPARE(captions(), QStringList({"_MG_0003.JPG"}));
        w().filterBox()->clear();
        QCOMPARE(w().listModel()->rowCount(), 5);

        // Sort: the first click on "Size" sorts descending and marks the header.
        QHeaderView* header = w().list()->header();
        const int sizeX = header->sectionViewportPosition(app::kColSize) + header->sectionSize(app::kColSize) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(sizeX, header->height() / 2));
        QCOMPARE(captions().front(), QString("_MG_0005.JPG"));
        QCOMPARE(w().listModel()->headerData(app::kColSize, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QString::fromUtf8("Size") + QString::fromUtf8(app::kSortDownMark));

        // Recover one deleted file: its bytes are the original's.
        clickRow(row("_MG_0003.JPG"));
        QVERIFY(w().actRecover->isEnabled());
        QCOMPARE(property("Name"), QString("_MG_0003.JPG"));
        const std::string dest = (tmp_.path() + "/files").toStdString();
        ui_->folders = {dest};
        runAndWait(w().actRecover);
        QCOMPARE(ui_->summaries.size(), std::size_t{1});
        QCOMPARE(ui_->summaries[0].numRecovered, 1);
        std::map<std::string, std::string> shas;
        for (const auto& r : test::loadManifest(*test::fixture("demo.p1.manifest.tsv"))) shas[r.path] = r.sha256;
        QCOMPARE(test::fileSha256Hex(std::filesystem::path(dest) / "_MG_0003.JPG"), shas["/DCIM/100MEDIA/IMG_0003.JPG"]);

        // Up twice, then the deleted folder with both its files.
        w().actUp->trigger();
        w().actUp->trigger();
        QCOMPARE(w().tree()->currentItem()->text(0), QString("PHOTOS (partition 1)"));
        clickRow(row("Old Backups"));
        const std::string dest2 = (tmp_.path() + "/folder").toStdString();
        ui_->folders = {dest2};
        runAndWait(w().actRecover);
        QCOMPARE(ui_->summaries.back().numRecovered, 2);
        QCOMPARE(test::fileSha256Hex(std::filesystem::path(dest2) / "Old Backups" / "Profile Picture.jpg"),
                 shas["/Old Backups/Profile Picture.jpg"]);

        // The event log is saved with its header and one line per entry.
        const std::string logFile = (tmp_.path() + "/events.log").toStdString();
        ui_->saveFiles = {logFile};
        emit w().eventLogPage()->saveRequested();
        std::ifstream in(logFile);
        std::string first;
        std::getline(in, first);
        QCOMPARE(QString::fromStdString(first), QString("Event\t\tTime\t\tDescription\r"));
    }

    void longScanKeepsTheWindowResponsiveAndStops() {
        // Each NTFS record takes 20 ms to read, as on a slow disk.
        ui_->slowPumpMs = 20;
        clickTreeItem(item("Windows (partition 3)"));
        QSignalSpy finished(window_.get(), &gui::MainWindow::commandFinished);

        QElapsedTimer clock;
        qint64 last = 0, longestGap = 0;
        QTimer tick;
        tick.setInterval(10);
        connect(&tick, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        clock.start();
        tick.start();
        w().actSimpleScan->trigger();
        QVERIFY(w().busy());
        QVERIFY(w().actStop->isEnabled());
        QVERIFY(!w().actRecover->isEnabled() && !w().actScan->isEnabled() && !w().actLoadImage->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(w().progressBar()->isVisible() && w().progressBar()->value() >= 3, 20000);

        // Half a second of scanning while the timer measures the event loop.
        QTest::qWait(500);
        QVERIFY(w().busy());

        // Clicks on the tree are refused while the scan runs.
        QTreeWidgetItem* before = w().tree()->currentItem();
        clickTreeItem(item("PHOTOS (partition 1)"));
        QCOMPARE(w().tree()->currentItem(), before);

        QElapsedTimer stopClock;
        stopClock.start();
        w().actStop->trigger();
        QVERIFY(finished.wait(5000));
        QVERIFY2(stopClock.elapsed() < 1000, qPrintable(QString("stopped after %1 ms").arg(stopClock.elapsed())));
        tick.stop();
        QVERIFY2(longestGap < 100, qPrintable(QString("the event loop stalled for %1 ms").arg(longestGap)));

        bool terminated = false;
        for (const auto& e : w().eventLog().Entries()) {
            terminated |= e.Description == "Scan progress finished with return code \"User Terminated\"";
        }
        QVERIFY(terminated);
        QVERIFY(!w().busy());
        QVERIFY(!w().actStop->isEnabled());
        QVERIFY(w().actSimpleScan->isEnabled());
    }

    void layoutComesFromAndGoesBackToTheConfiguration() {
        config_.Splitter1 = 333;
        config_.Columns = "250,90,70,110,140,60";
        window_.reset();
        init();
        QCOMPARE(w().tree()->width(), 333);
        scan("PHOTOS (partition 1)");
        QCOMPARE(w().list()->header()->sectionSize(0), 250);
        QCOMPARE(w().list()->header()->sectionSize(3), 110);
        w().list()->header()->resizeSection(1, 123);
        QVERIFY(w().close());
        QCOMPARE(config_.Splitter1, 333);
        QCOMPARE(QString::fromStdString(config_.Columns), QString("250,123,70,110,140,60"));
    }

    // Search for the deleted pictures, select every hit with Ctrl+A and recover them from the
    // tool bar; then one hit through the list's context menu.
    void searchHitsAreRecoveredFromTheToolBarAndTheContextMenu() {
        scan("PHOTOS (partition 1)");
        app::SearchCriteria c;
        c.Name = "*.jpg";
        ui_->search = c;
        runAndWait(w().actSearch);
        QCOMPARE(w().tree()->currentItem()->text(0), QString("Search Results"));
        QCOMPARE(w().listModel()->rowCount(), 3);
        w().list()->setFocus();
        QTest::keyClick(w().list(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(w().list()->selectionModel()->selectedRows().size(), 3);
        QVERIFY(w().actRecover->isEnabled());
        QCOMPARE(property("Name"), QString::fromStdString(w().listModel()->rows()[static_cast<std::size_t>(
                                       w().list()->selectionModel()->selectedRows().front().row())].Caption));

        const std::string dest = (tmp_.path() + "/hits").toStdString();
        ui_->folders = {dest};
        runAndWait(w().actRecover);
        QCOMPARE(ui_->summaries.size(), std::size_t{1});
        QCOMPARE(ui_->summaries[0].numRecovered, 3);
        std::map<std::string, std::string> shas;
        for (const auto& r : test::loadManifest(*test::fixture("demo.p1.manifest.tsv"))) shas[r.path] = r.sha256;
        QCOMPARE(test::fileSha256Hex(std::filesystem::path(dest) / "_MG_0005.JPG"), shas["/DCIM/100MEDIA/IMG_0005.JPG"]);
        QCOMPARE(test::fileSha256Hex(std::filesystem::path(dest) / "Profile Picture.jpg"), shas["/Old Backups/Profile Picture.jpg"]);

        // The context menu's "Recover" on one hit.
        clickRow(row("_MG_0003.JPG"));
        const std::string dest2 = (tmp_.path() + "/one").toStdString();
        ui_->folders = {dest2};
        QSignalSpy finished(window_.get(), &gui::MainWindow::commandFinished);
        QTimer::singleShot(50, [] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* a : menu->actions()) {
                if (a->text() == "Recover") menu->setActiveAction(a);
            }
            QTest::keyClick(menu, Qt::Key_Return);
        });
        const QModelIndex hit = w().listModel()->index(row("_MG_0003.JPG"), 0);
        emit w().list()->customContextMenuRequested(w().list()->visualRect(hit).center());
        QVERIFY(finished.wait(60000));
        QCOMPARE(ui_->summaries.size(), std::size_t{2});
        QCOMPARE(ui_->summaries[1].numRecovered, 1);
        QCOMPARE(test::fileSha256Hex(std::filesystem::path(dest2) / "_MG_0003.JPG"), shas["/DCIM/100MEDIA/IMG_0003.JPG"]);
    }

    // Keyboard only: Enter offers the scan choice on an unscanned volume and starts the focused
    // choice, Enter opens a folder of the list, Backspace goes up, and the shortcuts of Scan
    // and Recover are on their actions.
    void keyboardAlone() {
        QVERIFY(!w().actScan->shortcut().isEmpty());
        QVERIFY(!w().actRecover->shortcut().isEmpty());
        QApplication::setActiveWindow(window_.get());
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));

        clickTreeItem(item("PHOTOS (partition 1)"));
        w().tree()->setFocus();
        QSignalSpy finished(window_.get(), &gui::MainWindow::commandFinished);
        bool focusShown = false;
        test::whenModal<gui::ScanModeDialog>([&focusShown](gui::ScanModeDialog& d) {
            focusShown = d.focusWidget() == d.choiceButton(0) && d.choiceButton(0)->styleSheet().contains(":focus");
            QTest::keyClick(&d, Qt::Key_Return);
        });
        QTest::keyClick(w().tree(), Qt::Key_Return);
        QVERIFY(finished.wait(60000));
        QVERIFY(focusShown);
        QCOMPARE(captions(), QStringList({"DCIM", "Documents", "Old Backups"}));
        // After the scan the keyboard is back in the tree, where the command state looks (the
        // window's focus widget: the offscreen platform may leave no window active after a dialog).
        QTRY_COMPARE(w().focusWidget(), static_cast<QWidget*>(w().tree()));

        w().list()->setFocus();
        w().list()->setCurrentIndex(w().listModel()->index(row("DCIM"), 0));
        QTest::keyClick(w().list(), Qt::Key_Return);
        QCOMPARE(w().tree()->currentItem()->text(0), QString("DCIM"));
        QTest::keyClick(w().tree(), Qt::Key_Backspace);
        QCOMPARE(w().tree()->currentItem()->text(0), QString("PHOTOS (partition 1)"));

        // Ctrl+R recovers the selected rows (shortcuts reach the active window).
        QApplication::setActiveWindow(window_.get());
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        w().list()->setFocus();
        clickRow(row("Documents"));
        ui_->folders = {(tmp_.path() + "/keys").toStdString()};
        QSignalSpy recovered(window_.get(), &gui::MainWindow::commandFinished);
        QTest::keyClick(w().list(), Qt::Key_R, Qt::ControlModifier);
        QVERIFY(recovered.wait(60000));
        QCOMPARE(ui_->summaries.size(), std::size_t{1});
        QVERIFY(ui_->folders.empty());
    }

    // While the folder picker or the summary is open nothing runs: Stop is not offered.
    void stopIsOffOnlyWhileSomethingRuns() {
        scan("PHOTOS (partition 1)");
        clickRow(row("Documents"));
        std::vector<bool> stopDuringDialogs;
        ui_->whileDialogOpen = [&] {
            // The dialog runs on the window's thread: let the window show its state first.
            QCoreApplication::processEvents();
            stopDuringDialogs.push_back(w().actStop->isEnabled());
        };
        ui_->folders = {(tmp_.path() + "/stop").toStdString()};
        runAndWait(w().actRecover);
        ui_->whileDialogOpen = nullptr;
        QCOMPARE(stopDuringDialogs, (std::vector<bool>{false, false}));  // the picker, then the summary
        QVERIFY(!w().actStop->isEnabled());
    }

    // A lower panel saved at another scale never leaves the list a few rows tall, and columns
    // shown for the first time are as wide as a larger font needs.
    void layoutFitsTheWindowAndTheFont() {
        config_.Splitter2 = 590;  // a height the configuration accepts, saved on a tall screen
        window_.reset();
        init();
        w().resize(900, 600);
        QTest::qWait(20);
        QVERIFY2(w().list()->height() >= w().pages()->height() / 2,
                 qPrintable(QString("list %1 px, pages %2 px").arg(w().list()->height()).arg(w().pages()->height())));

        QFont large = w().list()->font();
        large.setPointSize(large.pointSize() * 2);
        w().list()->setFont(large);
        w().list()->header()->setFont(large);
        clickTreeItem(item("PHOTOS (partition 1)"));  // a folder list: a column set not shown yet
        QHeaderView* header = w().list()->header();
        for (int i = 0; i < w().listModel()->columnCount(); ++i) {
            QVERIFY2(header->sectionSize(i) >= header->sectionSizeHint(i), qPrintable(QString("column %1").arg(i)));
        }
    }

    void imageThatCannotBeOpenedIsReported() {
        QVERIFY(!w().openImage(tmp_.path() + "/missing.img"));
        QCOMPARE(ui_->messages.size(), std::size_t{1});
        QCOMPARE(ui_->messages[0].first, app::MessageKind::Error);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_main_window.moc"
