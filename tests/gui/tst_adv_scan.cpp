// The advanced scan in the desktop program on a quick-formatted NTFS volume image: started from
// the scan-mode dialog with the range window, browsed under "!!! Advanced Extra !!!", a rebuilt
// file recovered, the statistics box, and a stop that saves its progress and a resume from it,
// all while the window keeps answering.

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <nlohmann/json.hpp>

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "app/adv_extra.h"
#include "app/advanced_scan_command.h"
#include "gui/adjust_dialog.h"
#include "gui/adv_commands.h"
#include "gui/file_list_model.h"
#include "gui/gui_ui.h"
#include "gui/main_window.h"
#include "gui/range_selector_dialog.h"
#include "gui/scan_mode_dialog.h"
#include "gui/when_modal.h"
#include "platform/linux/linux_platform.h"
#include "support/file_digest.h"
#include "support/fixtures.h"

using namespace brenvale;

namespace {

// Answers the pickers from a script and records the message boxes; the scan-mode and range
// dialogs stay the real ones. With `slowPumpMs` every step of a command on the worker takes
// that long, as on a slow disk.
class ScriptedGuiUi : public gui::GuiUi {
public:
    std::deque<std::string> folders, saveFiles, openFiles;
    std::vector<app::RecoverySummary> summaries;
    std::vector<std::pair<QString, QString>> messages;  // caption, text
    std::atomic<int> slowPumpMs{0};

    void Pump() override {
        if (slowPumpMs && QThread::currentThread() != thread()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(slowPumpMs.load()));
        }
    }

protected:
    std::optional<std::string> doChooseFolder(const QString&, const QString&) override { return take(folders); }
    std::optional<std::string> doChooseSaveFile(const QString&, const QString&, const QString&, const QString&) override {
        return take(saveFiles);
    }
    std::optional<std::string> doChooseOpenFile(const QString&, const QString&) override { return take(openFiles); }
    void doShowRecoverySummary(const app::RecoverySummary& s) override { summaries.push_back(s); }
    void doShowMessage(app::MessageKind, const QString& text, const QString& caption) override {
        messages.emplace_back(caption, text);
    }

private:
    static std::optional<std::string> take(std::deque<std::string>& q) {
        if (q.empty()) return std::nullopt;
        std::string v = q.front();
        q.pop_front();
        return v;
    }
};


}  // namespace

class AdvScanTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<platform::Platform> os_ = platform::makeLinuxPlatform();
    app::Config config_;
    ScriptedGuiUi* ui_ = nullptr;
    std::unique_ptr<gui::MainWindow> window_;
    QTemporaryDir tmp_;
    app::TreeNode* volume_ = nullptr;

    gui::MainWindow& w() { return *window_; }
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
    void clickNode(app::TreeNode* node) {
        QTreeWidgetItem* it = node ? w().itemOf(node) : nullptr;
        QVERIFY(it);
        w().tree()->scrollToItem(it);
        QTest::mouseClick(w().tree()->viewport(), Qt::LeftButton, {}, w().tree()->visualItemRect(it).center());
        QCOMPARE(w().shell().Selected(), node);
    }
    void clickRow(int r) {
        QVERIFY(r >= 0);
        const QModelIndex index = w().listModel()->index(r, 0);
        w().list()->scrollTo(index);
        QTest::mouseClick(w().list()->viewport(), Qt::LeftButton, {}, w().list()->visualRect(index).center());
    }
    app::TreeNode* child(app::TreeNode* node, const std::string& text) {
        if (!node) return nullptr;
        for (const auto& c : node->Children) {
            if (c->Text == text) return c.get();
        }
        return nullptr;
    }
    std::vector<std::string> advLines() {
        std::vector<std::string> out;
        for (const auto& e : w().eventLog().Entries()) {
            if (e.Event == app::kAdvScanEvent) out.push_back(e.Description);
        }
        return out;
    }
    // "Advanced Scan" from the scan-mode dialog, the range window accepted as proposed.
    void startAdvancedScan() {
        clickNode(volume_);
        test::whenModal<gui::ScanModeDialog>([](gui::ScanModeDialog& d) { d.choiceButton(1)->click(); });
        QTimer::singleShot(300, [] {
            test::whenModal<gui::RangeSelectorDialog>([](gui::RangeSelectorDialog& d) { d.okButton()->click(); });
        });
        QVERIFY(w().actScan->isEnabled());
        w().actScan->trigger();
    }

private slots:
    void init() {
        const auto image = test::fixture("adv/qformat.img");
        if (!image) QSKIP("fixture adv/qformat.img not built (tests/fixtures/build-fixtures.sh, needs root)");
        setenv("TZ", "UTC", 1);
        tzset();
        auto ui = std::make_unique<ScriptedGuiUi>();
        ui_ = ui.get();
        window_ = std::make_unique<gui::MainWindow>(*os_, config_, nullptr, std::move(ui));
        w().start({}, {});
        QVERIFY(w().openImage(QString::fromStdString(image->string())));
        volume_ = nullptr;
        // The image's volume (a bare volume image also shows its whole extent as "Total Disk Space").
        app::TreeNode* disk = w().shell().Tree().Root()->Children.front().get();
        for (const auto& c : disk->Children) {
            if (!volume_ && c->Kind == app::NodeKind::Volume && c->Scan) volume_ = c.get();
        }
        QVERIFY(volume_);
        w().resize(1200, 800);
        w().show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() {
        window_.reset();
        config_ = app::Config{};
    }

    void advancedScanBrowseRecoverAndCount() {
        std::map<std::string, std::pair<std::uint64_t, std::string>> manifest;  // path: size, sha256
        {
            const auto json = nlohmann::json::parse(std::ifstream(*test::fixture("adv/manifest.json")));
            for (const auto& img : json["images"]) {
                if (img["image"] != "qformat.img") continue;
                for (const auto& e : img["entries"]) {
                    manifest[e["path"].get<std::string>()] = {e["size"].get<std::uint64_t>(), e.value("sha256", std::string())};
                }
            }
        }
        QSignalSpy finished(window_.get(), &gui::MainWindow::commandFinished);
        // Each step of the pass takes a little while, as on a slower disk; the event loop is
        // watched while it runs.
        ui_->slowPumpMs = 10;
        QElapsedTimer clock;
        qint64 last = 0, longestGap = 0;
        QTimer tick;
        tick.setInterval(10);
        // Only while the worker runs: the window then builds the tree it found, which is not the pass.
        connect(&tick, &QTimer::timeout, [&] {
            if (w().busy()) longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        startAdvancedScan();
        QTRY_VERIFY_WITH_TIMEOUT(w().busy(), 10000);
        clock.start();
        tick.start();
        QVERIFY(w().advanced()->stopSave->isEnabled());
        QVERIFY(finished.wait(120000));
        tick.stop();
        ui_->slowPumpMs = 0;
        QVERIFY2(longestGap < 100, qPrintable(QString("the event loop stalled for %1 ms").arg(longestGap)));
        QVERIFY(!w().advanced()->stopSave->isEnabled());
        QCOMPARE(advLines().back(), std::string("Scan progress completed"));

        // The tree: the top node first under the volume, its three parts below.
        app::TreeNode* extra = app::AdvFindExtraNode(*volume_);
        QVERIFY(extra);
        QTreeWidgetItem* extraItem = w().itemOf(extra);
        QVERIFY(extraItem);
        QCOMPARE(extraItem->text(0), QString("!!! Advanced Extra !!!"));
        QCOMPARE(w().itemOf(volume_)->child(0), extraItem);
        QCOMPARE(extraItem->childCount(), 3);
        QCOMPARE(extraItem->child(2)->text(0), QString("NTFS Root"));

        // Browse to "Photos" with the mouse; its rebuilt files are listed as deleted.
        clickNode(child(child(extra, "NTFS Root"), "Photos"));
        QCOMPARE(captions(), QStringList({"Holiday Photo 001.jpg", "Sunset.png", QString::fromUtf8("Ünïcödé Deleted Photo.jpg")}));
        QCOMPARE(QString::fromStdString(w().listModel()->rows()[0].SubItems[1]), QString("Deleted"));

        // Recover one: the bytes are the original's.
        clickRow(row("Sunset.png"));
        QVERIFY(w().actRecover->isEnabled());
        const std::string dest = (tmp_.path() + "/out").toStdString();
        ui_->folders = {dest};
        w().actRecover->trigger();
        QVERIFY(finished.wait(60000));
        QCOMPARE(ui_->summaries.size(), std::size_t{1});
        QCOMPARE(ui_->summaries[0].numRecovered, 1);
        QCOMPARE(test::fileSha256Hex(std::filesystem::path(dest) / "Sunset.png"), manifest.at("NTFS Root/Photos/Sunset.png").second);

        // Statistics of the folder, from the tree (clicked again after the list had the say).
        clickNode(child(extra, "NTFS Root"));
        clickNode(child(child(extra, "NTFS Root"), "Photos"));
        QVERIFY(w().advanced()->statistics->isEnabled());
        w().advanced()->statistics->trigger();
        QVERIFY(!ui_->messages.empty());
        QCOMPARE(ui_->messages.back().first, QString("Statistics"));
        std::uint64_t bytes = 0;
        int files = 0;
        for (const auto& [p, e] : manifest) {
            if (p.rfind("NTFS Root/Photos/", 0) == 0) bytes += e.first, ++files;
        }
        QVERIFY2(ui_->messages.back().second.contains(QString("Files: %1").arg(files)), qPrintable(ui_->messages.back().second));
        QVERIFY(ui_->messages.back().second.contains("Directories: 1"));
        QVERIFY(bytes > 0);
    }

    void stopWithSaveThenResume() {
        const std::string checkpoint = (tmp_.path() + "/progress.qvc").toStdString();
        ui_->saveFiles = {checkpoint};
        ui_->slowPumpMs = 30;
        QSignalSpy finished(window_.get(), &gui::MainWindow::commandFinished);
        startAdvancedScan();
        QTRY_VERIFY_WITH_TIMEOUT(w().busy() && w().progressBar()->isVisible() && w().progressBar()->value() >= 10, 60000);
        QVERIFY(w().statusPanel(1)->text().contains("left"));
        QVERIFY(w().advanced()->stopSave->isEnabled());
        w().advanced()->stopSave->trigger();
        QVERIFY(finished.wait(30000));
        ui_->slowPumpMs = 0;
        const auto lines = advLines();
        QVERIFY(std::find(lines.begin(), lines.end(), "Checkpoint saved") != lines.end());
        QCOMPARE(lines.back(), std::string("Scan progress finished with return code \"User Terminated\""));
        QVERIFY(std::filesystem::exists(checkpoint));

        // Resume from the list's context: the scan completes and its checkpoint goes.
        ui_->openFiles = {checkpoint};
        clickNode(volume_);
        test::whenModal<gui::ScanModeDialog>([](gui::ScanModeDialog& d) { d.choiceButton(3)->click(); });
        w().actScan->trigger();
        QVERIFY(finished.wait(120000));
        const auto resumed = advLines();
        QCOMPARE(resumed.back(), std::string("Scan progress completed"));
        QVERIFY(std::find(resumed.begin(), resumed.end(), std::string("Resume from checkpoint")) != resumed.end());
        QVERIFY(!std::filesystem::exists(checkpoint));
        QVERIFY(child(child(app::AdvFindExtraNode(*volume_), "NTFS Root"), "Documents"));
    }
};

QTEST_MAIN(AdvScanTest)
#include "tst_adv_scan.moc"
