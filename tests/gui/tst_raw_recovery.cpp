// The "Raw Recovery" window on the offscreen platform: the pictures the carve driver finds in
// the fixture image made by the real tools get thumbnails, a picked file comes back byte for
// byte, a damaged picture falls back to the hex view, ten thousand hits scroll while their
// thumbnails are made without the window's timers running late, and the two options tabs.

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <span>

#include "advscan/advanced_scan.h"
#include "app/raw_recovery_session.h"
#include "gui/file_type_tabs.h"
#include "gui/main_window.h"
#include "gui/options_dialog.h"
#include "gui/picture_decode.h"
#include "gui/raw_list_model.h"
#include "gui/raw_recovery_window.h"
#include "partitions/partition.h"
#include "platform/linux/linux_platform.h"
#include "raw/scan_range.h"
#include "storage/device.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "gui/when_modal.h"

using namespace brenvale;

namespace {

// A scan object over an image file with the hits found in it (or given).
struct Source {
    std::unique_ptr<platform::Platform> os = platform::makeLinuxPlatform();
    std::unique_ptr<storage::TDevice> device;
    partitions::TPartition record;
    std::unique_ptr<scan::TUndelete> scan;
    std::unique_ptr<raw::RawScan> raw;
    app::Config config;
    app::EventLog log;
    int saves = 0;
    std::unique_ptr<app::RawRecoverySession> session;

    explicit Source(const std::filesystem::path& image) {
        device = std::make_unique<storage::TDevice>(*os, image.string());
        record.Entry.SectCount = static_cast<std::uint32_t>(device->Sectors());
        scan = std::make_unique<scan::TUndelete>(*device, record);
        raw = std::make_unique<raw::RawScan>(config.Sizes, 512, raw::DeviceSectors(*device));
        session = std::make_unique<app::RawRecoverySession>(
            app::RawRecoverySession{*scan, *raw, config, log, *os, [this] { ++saves; }});
    }
    // The carve driver over the whole image, as the advanced scan runs it.
    void carve() {
        std::atomic<bool> stop{false};
        raw::ScanRange(*raw, *device, {0, device->Sectors()}, 0, device->Sectors(), {}, stop);
        raw->FinishPending();
    }
};

QTreeWidgetItem* itemStartingWith(QTreeWidget* tree, const QString& prefix) {
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if ((*it)->text(0).startsWith(prefix)) return *it;
    }
    return nullptr;
}

std::vector<std::byte> jpegBytes(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    const auto* p = reinterpret_cast<const std::byte*>(bytes.constData());
    return {p, p + bytes.size()};
}

// CRC-32 as PNG chunks carry it (ISO 3309, reflected 0xEDB88320).
std::uint32_t crc32(std::span<const std::byte> data) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::byte b : data) {
        c ^= static_cast<std::uint8_t>(b);
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return c ^ 0xFFFFFFFFu;
}

void put(std::vector<std::byte>& disk, std::size_t lba, const std::vector<std::byte>& file) {
    std::copy(file.begin(), file.end(), disk.begin() + static_cast<std::ptrdiff_t>(lba * 512));
}

}  // namespace

class RawRecoveryWindowTest : public QObject {
    Q_OBJECT
private slots:
    void thumbnailsAppearAndAPickedFileIsTheOriginal();
    void damagedPicturesShowTheHexView();
    void tenThousandHitsScrollWhileThumbnailsAreMade();
    void filtersAndSelectAllOfAType();
    void layoutIsKeptInTheConfiguration();
    void optionsTabsCheckAndStore();
    void mainWindowOpensItAfterAnAdvancedScan();
};

void RawRecoveryWindowTest::thumbnailsAppearAndAPickedFileIsTheOriginal() {
    const auto manifestPath = test::fixture("carve/pictures.json");
    if (!manifestPath) QSKIP("fixture carve/pictures.json not built");
    const auto manifest = nlohmann::json::parse(std::ifstream(*manifestPath))["images"][0];
    Source src(manifestPath->parent_path() / manifest["image"].get<std::string>());
    src.carve();
    test::TempDir tmp;

    gui::RawRecoveryWindow w(*src.session);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.windowTitle(), QStringLiteral("Raw Recovery"));
    QCOMPARE(w.previewCaption()->text(), QStringLiteral("Preview: select a file in the list on the left"));
    QCOMPARE(w.statusPanel(3)->text(), QStringLiteral("Total: %1 records").arg(src.raw->RawFiles.size()));

    QTreeWidgetItem* jpeg = itemStartingWith(w.tree(), "JPEG Graphic Files ( .jpg .jpeg) - ");
    QVERIFY(jpeg);
    QSignalSpy done(&w, &gui::RawRecoveryWindow::thumbnailsFinished);
    w.tree()->setCurrentItem(jpeg);
    QCOMPARE(w.currentView(), static_cast<QAbstractItemView*>(w.iconView()));
    QVERIFY(w.iconView()->isVisible());
    const int rows = w.listModel()->rowCount();
    QVERIFY(rows >= 4);
    QCOMPARE(w.statusPanel(2)->text(), QStringLiteral("Current: %1 entries").arg(rows));
    QVERIFY(done.count() > 0 || done.wait(20000));
    // Every JPEG that lies whole on the disk has its thumbnail.
    std::map<std::int64_t, std::string> whole;
    for (const auto& f : manifest["files"]) {
        if (f["expect"].value("recovers_whole", false)) whole[f["lba"].get<std::int64_t>()] = f["sample"].get<std::string>();
    }
    int pictures = 0;
    for (int r = 0; r < rows; ++r) {
        if (!whole.count(w.listModel()->rows()[static_cast<std::size_t>(r)].Hit->LBA)) continue;
        QVERIFY2(w.listModel()->hasThumbnail(r), qPrintable(QString::number(r)));
        const auto icon = w.listModel()->data(w.listModel()->index(r, 0), Qt::DecorationRole).value<QPixmap>();
        QCOMPARE(icon.size(), QSize(95, 95));
        ++pictures;
    }
    QVERIFY(pictures >= 3);

    // The first whole picture: previewed, then written; its SHA-256 is the original's.
    int pick = -1;
    for (int r = 0; r < rows && pick < 0; ++r) {
        if (whole.count(w.listModel()->rows()[static_cast<std::size_t>(r)].Hit->LBA)) pick = r;
    }
    QSignalSpy shown(&w, &gui::RawRecoveryWindow::previewShown);
    w.selectRows({pick});
    QVERIFY(shown.wait(10000));
    QVERIFY(w.showingPicture());
    QVERIFY(w.previewCaption()->text().startsWith("Preview: jpg ("));

    const auto dest = tmp.file("out");
    w.chooseFolder = [&](const std::string&) -> std::optional<std::string> { return dest; };
    std::vector<app::RecoverySummary> summaries;
    w.showSummary = [&](const app::RecoverySummary& s) { summaries.push_back(s); };
    QSignalSpy recovered(&w, &gui::RawRecoveryWindow::recoveryFinished);
    w.actRecover->trigger();
    QVERIFY(w.actStop->isEnabled());
    QVERIFY(recovered.count() > 0 || recovered.wait(20000));
    QCOMPARE(summaries.size(), std::size_t{1});
    QCOMPARE(summaries[0].numRecovered, 1);
    QCOMPARE(w.statusPanel(0)->text(), QStringLiteral(" Recovered: 1 files"));
    const auto& row = w.listModel()->rows()[static_cast<std::size_t>(pick)];
    const auto written = test::ReadWholeFile(std::filesystem::path(dest) / row.Caption);
    const auto original = test::ReadWholeFile(manifestPath->parent_path() / whole[row.Hit->LBA]);
    QCOMPARE(QString::fromStdString(test::sha256Hex(written)), QString::fromStdString(test::sha256Hex(original)));
    QCOMPARE(src.config.RecoverFolder, dest);
    QVERIFY(!w.actStop->isEnabled());
}

// A JPEG whose data is noise, a PNG whose header claims a picture of 100,000 x 100,000 pixels,
// and a picture of unknown size cut short: no crash, the hex view of the first bytes.
void RawRecoveryWindowTest::damagedPicturesShowTheHexView() {
    test::TempDir tmp;
    std::vector<std::byte> disk(4 << 20);
    std::vector<std::byte> noise(6000);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::byte>((i * 7919 + 13) % 251);
    auto badJpeg = noise;
    for (std::size_t i : {0, 1, 2, 3}) badJpeg[i] = static_cast<std::byte>(std::array<int, 4>{0xFF, 0xD8, 0xFF, 0xDB}[i]);
    put(disk, 100, badJpeg);
    // A PNG signature and an IHDR of 100000 x 100000, then nothing a decoder can use.
    const std::vector<int> png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                               0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0, 8, 2, 0, 0, 0};  // then its CRC
    std::vector<std::byte> pngBytes;
    for (int b : png) pngBytes.push_back(static_cast<std::byte>(b));
    // The chunk's CRC (over its type and data) is right: only the claimed size is wrong.
    const std::uint32_t crc = crc32(std::span(pngBytes).subspan(12, 17));
    for (int shift : {24, 16, 8, 0}) pngBytes.push_back(static_cast<std::byte>(crc >> shift));
    for (int b : {0, 0, 0, 0, int{'I'}, int{'E'}, int{'N'}, int{'D'}, 0xAE, 0x42, 0x60, 0x82}) pngBytes.push_back(static_cast<std::byte>(b));
    // Decoders would be asked for 40 GB; the claimed size is refused before decoding.
    app::PictureBytes claimed;
    claimed.Kind = app::PictureKind::Encoded;
    claimed.Bytes = pngBytes;
    QVERIFY(gui::DecodePicture(claimed).isNull());
    app::PictureBytes real;
    real.Kind = app::PictureKind::Encoded;
    real.Bytes = jpegBytes(64, 48);
    QCOMPARE(gui::DecodePicture(real).size(), QSize(64, 48));
    real.QuarterScale = true;
    QCOMPARE(gui::DecodePicture(real).size(), QSize(16, 12));
    put(disk, 300, pngBytes);
    const auto image = tmp.file("damaged.img");
    test::WriteWholeFile(image, disk);

    Source src(image);
    auto hit = raw::MakeHit(2, 2, "jpg", 100);
    hit.Size = 6000;
    src.raw->RawFiles.push_back(hit);
    auto pngHit = raw::MakeHit(2, 5, "png", 300);
    pngHit.Size = static_cast<std::int64_t>(pngBytes.size());
    src.raw->RawFiles.push_back(pngHit);
    auto unknown = raw::MakeHit(2, 5, "png", 8190);  // at the disk's end, length unknown
    unknown.Size = raw::kUnknownSize;
    src.raw->RawFiles.push_back(unknown);

    gui::RawRecoveryWindow w(*src.session);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    struct Case {
        const char* node;
        int row;
        QString caption;
        int hexBytes;
    };
    for (const Case& c : {Case{"JPEG Graphic Files", 0, "Hex preview: jpg", 6000},
                          Case{"PNG Graphic Files", 0, "Hex preview: png", static_cast<int>(pngBytes.size())},
                          Case{"PNG Graphic Files", 1, "Hex preview: png", 2 * 512}}) {
        QTreeWidgetItem* node = itemStartingWith(w.tree(), c.node);
        if (w.tree()->currentItem() != node) {
            QSignalSpy finished(&w, &gui::RawRecoveryWindow::thumbnailsFinished);
            w.tree()->setCurrentItem(node);
            QVERIFY(finished.count() > 0 || finished.wait(10000));
        }
        QVERIFY(!w.listModel()->hasThumbnail(c.row));
        QSignalSpy shown(&w, &gui::RawRecoveryWindow::previewShown);
        w.selectRows({c.row});
        QVERIFY(shown.wait(10000));
        QVERIFY(!w.showingPicture());
        QCOMPARE(w.previewCaption()->text(), c.caption);
        // 16 bytes a line.
        QCOMPARE(w.hexView()->toPlainText().count('\n'), (c.hexBytes + 15) / 16);
        QVERIFY(w.hexView()->toPlainText().startsWith(c.row == 0 && c.caption.endsWith("jpg") ? "00000000  FF D8 FF DB" : "00000000  "));
    }
    QCOMPARE(w.listModel()->rows()[1].SizeText, std::string("Unknown"));
}

// Ten ranges of 1,000 JPEG hits: each range is listed and scrolled to its end while the
// thumbnails of the rows are made on the device thread; a 10 ms timer of the window's thread
// is never late by more than 100 ms.
void RawRecoveryWindowTest::tenThousandHitsScrollWhileThumbnailsAreMade() {
    test::TempDir tmp;
    std::vector<std::byte> disk(2 << 20);
    const auto jpeg = jpegBytes(640, 480);
    put(disk, 64, jpeg);
    const auto image = tmp.file("many.img");
    test::WriteWholeFile(image, disk);
    Source src(image);
    for (int i = 0; i < 10000; ++i) {
        auto hit = raw::MakeHit(2, 2, "jpg", 64);
        hit.Size = static_cast<std::int64_t>(jpeg.size());
        src.raw->RawFiles.push_back(hit);
    }
    gui::RawRecoveryWindow w(*src.session);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTreeWidgetItem* type = itemStartingWith(w.tree(), "JPEG Graphic Files ( .jpg .jpeg) - 10000");
    QVERIFY(type);
    QCOMPARE(type->childCount(), 10);
    QCOMPARE(type->child(9)->text(0), QStringLiteral("9000-9999"));

    qint64 worst = 0;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    QTimer tick;
    tick.setInterval(10);
    connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last - 10);
        last = now;
    });
    last = clock.elapsed();
    tick.start();
    int thumbs = 0;
    for (int r = 0; r < 10; ++r) {
        w.tree()->setCurrentItem(type->child(r));
        QCOMPARE(w.listModel()->rowCount(), 1000);
        QCOMPARE(QString::fromStdString(w.listModel()->rows().back().Caption), QStringLiteral("JPG_%1.jpg").arg((r + 1) * 1000));
        QScrollBar* bar = w.iconView()->verticalScrollBar();
        for (int step = 0; step <= 20; ++step) {
            bar->setValue(bar->maximum() * step / 20);
            QTest::qWait(15);
        }
        thumbs += w.thumbnailsDone();
    }
    QSignalSpy done(&w, &gui::RawRecoveryWindow::thumbnailsFinished);
    QVERIFY(w.thumbnailsDone() == 1000 || done.wait(60000));
    tick.stop();
    QVERIFY2(worst <= 100, qPrintable(QStringLiteral("a 10 ms timer ran %1 ms late").arg(worst)));
    // Thumbnails were made while the ranges were scrolled, and the last range has all of them.
    QVERIFY(thumbs > 0);
    QCOMPARE(w.thumbnailsDone(), 1000);
    QVERIFY(w.listModel()->hasThumbnail(999));
}

void RawRecoveryWindowTest::filtersAndSelectAllOfAType() {
    test::TempDir tmp;
    std::vector<std::byte> disk(1 << 20);
    const auto image = tmp.file("small.img");
    test::WriteWholeFile(image, disk);
    Source src(image);
    const std::vector<std::pair<const char*, std::int64_t>> hits{{"tif", 4000}, {"cr2", 300000}, {"tif", 900000}, {"cr2", 2048}};
    for (const auto& [ext, size] : hits) {
        auto h = raw::MakeHit(2, 7, ext, 10);
        h.Size = size;
        src.raw->RawFiles.push_back(h);
    }
    gui::RawRecoveryWindow w(*src.session);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTreeWidgetItem* canon = itemStartingWith(w.tree(), "Canon Raw Graphic Files");
    QVERIFY(canon);
    QCOMPARE(canon->parent()->text(0), QStringLiteral("Canon - 4"));
    w.tree()->setCurrentItem(canon);
    QCOMPARE(w.listModel()->rowCount(), 4);
    QCOMPARE(w.typeBox()->count(), 3);  // all, cr2, tif

    w.minSizeBox()->setValue(3);    // 3 KB
    w.maxSizeBox()->setValue(400);  // 400 KB
    QCOMPARE(w.listModel()->rowCount(), 2);
    QCOMPARE(QString::fromStdString(w.listModel()->rows()[0].Caption), QStringLiteral("TIF_1.tif"));
    QCOMPARE(QString::fromStdString(w.listModel()->rows()[1].Caption), QStringLiteral("CR2_2.cr2"));
    QCOMPARE(w.statusPanel(2)->text(), QStringLiteral("Current: 2 entries"));
    w.maxSizeBox()->setValue(0);
    w.typeBox()->setCurrentText("tif");
    QCOMPARE(w.listModel()->rowCount(), 2);
    QCOMPARE(QString::fromStdString(w.listModel()->rows()[1].Caption), QStringLiteral("TIF_3.tif"));
    w.minSizeBox()->setValue(0);
    w.typeBox()->setCurrentIndex(0);
    QCOMPARE(w.listModel()->rowCount(), 4);

    // "Select All of This Type" from the second row: both cr2 rows.
    w.currentView()->setCurrentIndex(w.listModel()->index(1, 0));
    w.actSelectType->trigger();
    QList<int> selected;
    for (const auto& i : w.currentView()->selectionModel()->selectedRows()) selected << i.row();
    std::sort(selected.begin(), selected.end());
    QCOMPARE(selected, (QList<int>{1, 3}));

    // The hidden "Size + 500K": shown by Ctrl+Alt+S, adds 512,000 bytes to the picked hit.
    QVERIFY(!w.actSize500K->isVisible());
    w.actEnableSize500K->trigger();
    QVERIFY(w.actSize500K->isVisible());
    w.selectRows({0});
    w.actSize500K->trigger();
    QCOMPARE(src.raw->RawFiles[0].Size, std::int64_t{4000 + 512000});
    QCOMPARE(w.listModel()->data(w.listModel()->index(0, 1), Qt::DisplayRole).toString(),
             QString::fromStdString(app::RawSizeText(src.raw->RawFiles[0])));
}

void RawRecoveryWindowTest::layoutIsKeptInTheConfiguration() {
    test::TempDir tmp;
    std::vector<std::byte> disk(1 << 20);
    const auto image = tmp.file("small.img");
    test::WriteWholeFile(image, disk);
    Source src(image);
    src.config.RwSplitter1 = 260;
    src.config.RwSplitter2 = 180;
    src.config.RwColumns = "150,abc,5000";
    {
        gui::RawRecoveryWindow w(*src.session);
        w.resize(1000, 700);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.leftSplitter()->sizes()[0], 260);
        QCOMPARE(w.previewSplitter()->sizes()[1], 180);
        QCOMPARE(w.reportView()->columnWidth(0), 150);
        QCOMPARE(w.reportView()->columnWidth(1), 90);  // "abc" and 5000 leave the defaults
        int total = 0;
        for (int v : w.leftSplitter()->sizes()) total += v;
        w.leftSplitter()->setSizes({300, total - 300});
        w.reject();
    }
    QCOMPARE(src.config.RwSplitter1, 300);
    QCOMPARE(src.config.RwColumns.substr(0, 7), std::string("150,90,"));
    QVERIFY(src.saves >= 1);
}

void RawRecoveryWindowTest::optionsTabsCheckAndStore() {
    app::Config config;
    config.LostFileExtensions = {"mp3"};
    gui::OptionsDialog dlg(config);
    std::vector<std::string> refusals;
    auto* types = dlg.fileTypesTab();
    auto* sizes = dlg.rawSizesTab();
    types->refuse = sizes->refuse = [&](QWidget*, const app::OptionsRefusal& r) { refusals.push_back(r.Text); };
    QCOMPARE(types->list()->count(), 1);
    QVERIFY(types->list()->item(0)->text().endsWith("(*.mp3)"));

    types->edit()->setText(" WAV ");
    QTest::keyClick(types->edit(), Qt::Key_Return);
    QCOMPARE(types->list()->count(), 2);
    QVERIFY(types->edit()->text().isEmpty());
    types->edit()->setText("*.doc");
    types->addButton()->click();
    types->edit()->setText("mp3");
    types->addButton()->click();
    QCOMPARE(refusals, (std::vector<std::string>{"Invalid extension name.", "Extension name \"mp3\" already exists."}));
    for (const char* e : {"a", "b", "c"}) {
        types->edit()->setText(e);
        types->addButton()->click();
    }
    QVERIFY(!types->addButton()->isEnabled());
    QVERIFY(!types->edit()->isEnabled());
    types->list()->item(0)->setSelected(true);
    types->removeButton()->click();
    QVERIFY(types->addButton()->isEnabled());

    QCOMPARE(sizes->list()->topLevelItemCount(), 59);
    QCOMPARE(sizes->list()->headerItem()->text(1), QStringLiteral("Default Size"));
    QVERIFY(sizes->list()->headerItem()->toolTip(2).startsWith(QString::fromUtf8("Max Size \xE2\x80\x94 how far")));
    sizes->list()->setCurrentItem(sizes->list()->topLevelItem(2));  // GZIP 16/64
    QCOMPARE(sizes->captionEdit()->text(), QStringLiteral("GZIP Compression File ( .gz .gzip)"));
    QVERIFY(!sizes->captionEdit()->isEnabled());
    QCOMPARE(sizes->defaultEdit()->text(), QStringLiteral("16"));
    sizes->maxEdit()->setText("251");
    sizes->applyButton()->click();
    QCOMPARE(refusals.back(), std::string("\"Max Size\" cannot beyond 250M."));
    sizes->defaultEdit()->setText("20");
    sizes->maxEdit()->setText("250");
    sizes->applyButton()->click();
    QCOMPARE(sizes->list()->topLevelItem(2)->text(2), QStringLiteral("250"));
    // Typing letters into the number fields is not possible.
    QTest::keyClicks(sizes->defaultEdit(), "x");
    QCOMPARE(sizes->defaultEdit()->text(), QStringLiteral("20"));

    dlg.store(config);
    QCOMPARE(config.LostFileExtensions, (std::vector<std::string>{"wav", "a", "b", "c"}));
    QCOMPARE(config.Sizes.DefaultSize[2], 20 * raw::kMiB);
    QCOMPARE(config.Sizes.MaxSize[2], 250 * raw::kMiB);
}

// Through the main window: refused before an advanced scan of the selected volume, then opened
// over what the advanced scan of the demo image's picture partition found; every JPEG file the
// generator put there (live or deleted) is among the hits with its size.
void RawRecoveryWindowTest::mainWindowOpensItAfterAnAdvancedScan() {
    const auto image = test::fixture("demo.img");
    const auto manifest = test::fixture("demo.p1.manifest.tsv");
    if (!image || !manifest) QSKIP("fixture demo.img not built");
    auto os = platform::makeLinuxPlatform();
    app::Config config;
    gui::MainWindow window(*os, config, nullptr);
    window.start({}, {});
    QVERIFY(window.openImage(QString::fromStdString(image->string())));
    app::TreeNode* photos = nullptr;
    for (auto& d : window.shell().Tree().Root()->Children) {
        for (auto& v : d->Children) {
            if (v->Text.rfind("PHOTOS", 0) == 0) photos = v.get();
        }
    }
    QVERIFY(photos && photos->Scan);
    QVERIFY(window.selectNode(photos));
    QVERIFY(window.actRawRecovery->isEnabled());

    QString refused;
    test::whenModal<QMessageBox>([&](QMessageBox& box) {
        refused = box.text();
        box.accept();
    });
    window.actRawRecovery->trigger();
    QVERIFY(refused.startsWith("Because Brenvale takes information needed by \"Raw Recovery\""));

    scan::TUndelete& s = *photos->Scan;
    raw::RawScan hits(config.Sizes, s.Device().BytesPerSector(), raw::DeviceSectors(s.Device()));
    advscan::AdvancedScan adv(s, hits, static_cast<std::uint64_t>(partitions::PartitionStart(&s.Partition())),
                              static_cast<std::uint64_t>(partitions::PartitionSize(&s.Partition())));
    std::atomic<bool> stop{false};
    QCOMPARE(adv.AdvScan(stop), advscan::kAdvCompleted);
    hits.FinishPending();
    s.FAdvScaned = true;
    window.shell().RawScanOf = [&](const scan::TUndelete& of) { return &of == &s ? &hits : nullptr; };

    std::multiset<std::int64_t> sizes;
    bool opened = false;
    test::whenModal<gui::RawRecoveryWindow>([&](gui::RawRecoveryWindow& w) {
        opened = true;
        if (QTreeWidgetItem* jpeg = itemStartingWith(w.tree(), "JPEG Graphic Files")) {
            w.tree()->setCurrentItem(jpeg);
            for (const auto& r : w.listModel()->rows()) sizes.insert(r.Hit->Size);
        }
        w.reject();
    });
    window.actRawRecovery->trigger();
    QVERIFY(opened);
    int jpegs = 0;
    for (const auto& row : test::loadManifest(*manifest)) {
        const bool jpg = row.path.ends_with(".JPG") || row.path.ends_with(".jpg");
        if (row.type != "file" || !jpg) continue;
        ++jpegs;
        QVERIFY2(sizes.count(static_cast<std::int64_t>(row.size)) > 0, row.path.c_str());
    }
    QVERIFY(jpegs >= 3);
}

QTEST_MAIN(RawRecoveryWindowTest)
#include "tst_raw_recovery.moc"
