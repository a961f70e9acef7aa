// Takes the screenshots of docs/screenshots: the main window with the demo image loaded, the
// scan-mode dialog of a Standard Scan run through the window, the window after the scan with
// a deleted file's properties, a volume's properties, the event log, "Raw Recovery" with the
// thumbnails of the pictures found by their content, and an Advanced Scan of the NTFS partition
// with its "!!! Advanced Extra !!!" tree and a "Statistics" box. Meant for a real X
// server (scripts/screenshots runs it under Xvfb), so fonts and style are a desktop's.
// The advanced scan runs on QFORMAT_IMAGE, a quick-formatted copy of the demo's NTFS partition
// (an intact volume leaves the advanced scan nothing the standard scan did not find).
//   usage: brenvale_screenshot_tour DEMO_IMAGE OUTDIR [QFORMAT_IMAGE]

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <atomic>
#include <cstdio>

#include <QMessageBox>

#include "app/adv_extra.h"
#include "gui/adv_commands.h"
#include "gui/file_list_model.h"
#include "gui/main_window.h"
#include "gui/range_selector_dialog.h"
#include "gui/raw_recovery_window.h"
#include "gui/scan_mode_dialog.h"
#include "partitions/partition.h"
#include "platform/linux/linux_platform.h"
#include "raw/scan_range.h"
#include "storage/device.h"

using namespace brenvale;

namespace {

QString gOut;
int gFailures = 0;

// The screen area of the window and of any dialog above it.
void Shoot(const QString& name, QWidget& window, QWidget* dialog = nullptr) {
    QApplication::processEvents();
    QRect area = window.frameGeometry();
    if (dialog) area = area.united(dialog->frameGeometry());
    const QPixmap shot = window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString file = QDir(gOut).filePath(name);
    if (shot.isNull() || !shot.save(file)) {
        std::fprintf(stderr, "could not save %s\n", qPrintable(file));
        ++gFailures;
        return;
    }
    std::printf("%s\n", qPrintable(file));
}

app::TreeNode* Find(app::TreeNode* node, const std::string& text) {
    if (node->Text == text) return node;
    for (auto& c : node->Children) {
        if (auto* found = Find(c.get(), text)) return found;
    }
    return nullptr;
}

// Lets the window settle (paint, timers) for a moment.
void Settle(int ms = 300) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: brenvale_screenshot_tour DEMO_IMAGE OUTDIR [QFORMAT_IMAGE]\n");
        return 2;
    }
    gOut = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(gOut);

    auto os = platform::makeLinuxPlatform();
    app::Config config;
    gui::MainWindow window(*os, config, nullptr);
    window.start({}, {});
    if (!window.openImage(QString::fromLocal8Bit(argv[1]))) return 1;
    window.resize(1360, 860);
    window.move(0, 0);
    window.show();
    Settle();

    app::TreeNode* photos = Find(window.shell().Tree().Root(), "PHOTOS (partition 1)");
    if (!photos || !window.selectNode(photos)) return 1;
    window.tree()->setFocus();
    Settle();

    // The scan-mode dialog, shot while it is open, then "Standard Scan" is clicked.
    QEventLoop scanned;
    QObject::connect(&window, &gui::MainWindow::commandFinished, &scanned, &QEventLoop::quit);
    std::function<void()> answer = [&] {
        auto* dialog = qobject_cast<gui::ScanModeDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            QTimer::singleShot(50, answer);
            return;
        }
        Settle();
        Shoot("scan-mode-dialog.png", window, dialog);
        dialog->choiceButton(0)->click();
    };
    QTimer::singleShot(50, answer);
    window.actScan->trigger();
    scanned.exec();
    Settle();

    // The volume's properties right after the scan.
    window.pages()->setCurrentIndex(gui::kPageProperties);
    Settle();
    Shoot("properties.png", window);

    // A folder with deleted files, one of them selected: its properties.
    app::TreeNode* media = Find(photos, "100MEDIA");
    if (!media || !window.selectNode(media)) return 1;
    const auto& rows = window.listModel()->rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].Caption == "_MG_0005.JPG") {
            window.list()->setFocus();
            window.list()->setCurrentIndex(window.listModel()->index(static_cast<int>(i), 0));
        }
    }
    Settle();
    Shoot("main-window.png", window);

    window.pages()->setCurrentIndex(gui::kPageEventLog);
    Settle(500);
    Shoot("event-log.png", window);

    // "Raw Recovery" over what the signature scan finds in the partition: the pictures with
    // their thumbnails, the first one previewed.
    scan::TUndelete& photoScan = *photos->Scan;
    storage::TDevice& device = photoScan.Device();
    raw::RawScan hits(config.Sizes, device.BytesPerSector(), raw::DeviceSectors(device));
    const auto start = static_cast<std::uint64_t>(partitions::PartitionStart(&photoScan.Partition()));
    const auto sectors = static_cast<std::uint64_t>(partitions::PartitionSize(&photoScan.Partition()));
    std::atomic<bool> stop{false};
    raw::ScanRange(hits, device, {start, sectors}, start, sectors, {}, stop);
    hits.FinishPending();
    app::RawRecoverySession session{photoScan, hits, config, window.eventLog(), *os, {}};
    gui::RawRecoveryWindow raw(session, &window);
    raw.resize(1200, 760);
    raw.move(0, 0);
    raw.show();
    Settle();
    for (QTreeWidgetItemIterator it(raw.tree()); *it; ++it) {
        if (!(*it)->text(0).startsWith("JPEG")) continue;
        QEventLoop thumbs;
        QObject::connect(&raw, &gui::RawRecoveryWindow::thumbnailsFinished, &thumbs, &QEventLoop::quit);
        QTimer::singleShot(20000, &thumbs, &QEventLoop::quit);
        raw.tree()->setCurrentItem(*it);
        if (raw.thumbnailsDone() < raw.thumbnailsTotal()) thumbs.exec();
        raw.selectRows({0});
        Settle(800);
        break;
    }
    Shoot("raw-recovery.png", raw);

    if (argc < 4) return gFailures == 0 ? 0 : 1;
    // An Advanced Scan of the quick-formatted volume: the range window is accepted as proposed.
    if (!window.openImage(QString::fromLocal8Bit(argv[3]))) return 1;
    app::TreeNode* windows = nullptr;
    const std::string imageName = QFileInfo(QString::fromLocal8Bit(argv[3])).fileName().toStdString();
    for (const auto& c : window.shell().Tree().Root()->Children) {
        if (c->Text != imageName) continue;
        for (const auto& v : c->Children) {
            if (!windows && v->Kind == app::NodeKind::Volume && v->Scan) windows = v.get();
        }
    }
    if (!windows || !window.selectNode(windows)) return 1;
    window.tree()->setFocus();
    window.pages()->setCurrentIndex(gui::kPageProperties);
    QEventLoop advScanned;
    QObject::connect(&window, &gui::MainWindow::commandFinished, &advScanned, &QEventLoop::quit);
    std::function<void()> acceptRange = [&] {
        auto* dialog = qobject_cast<gui::RangeSelectorDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            QTimer::singleShot(50, acceptRange);
            return;
        }
        dialog->okButton()->click();
    };
    QTimer::singleShot(50, acceptRange);
    window.advanced()->advScan->trigger();
    advScanned.exec();
    app::TreeNode* extra = app::AdvFindExtraNode(*windows);
    app::TreeNode* shown = extra ? Find(extra, "Pictures") : nullptr;
    if (!shown || !window.selectNode(shown)) return 1;
    for (app::TreeNode* n = shown; n; n = n->Parent) {
        if (QTreeWidgetItem* item = window.itemOf(n)) item->setExpanded(true);
    }
    Settle();
    Shoot("advanced-scan.png", window);

    // "Statistics" of the rebuilt "Users" folder, shot while its box is open.
    app::TreeNode* users = Find(extra, "Users");
    if (!users || !window.selectNode(users)) return 1;
    window.tree()->setFocus();
    std::function<void()> shootBox = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(50, shootBox);
            return;
        }
        Settle();
        Shoot("statistics.png", window, box);
        box->accept();
    };
    QTimer::singleShot(50, shootBox);
    window.advanced()->statistics->trigger();
    Settle();
    return gFailures == 0 ? 0 : 1;
}
