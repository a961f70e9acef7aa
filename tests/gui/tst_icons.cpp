// The drawn icons: one per picture of the tree and the list, in both sizes, told apart by their pixels.

#include <QImage>
#include <QtTest>

#include "app/list_row.h"
#include "app/tree_node.h"
#include "gui/file_list_model.h"
#include "gui/icons.h"
#include "gui/tree_sync.h"

using namespace brenvale;

namespace {

QImage KindImage(int kind, int size) {
    return gui::IconImage(app::Icon(kind)).pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
}

int OpaquePixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) n += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
    }
    return n;
}

// Pixels that are clearly red: the deleted mark.
int RedPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            n += qAlpha(p) > 200 && qRed(p) > 180 && qGreen(p) < 90 && qBlue(p) < 90 ? 1 : 0;
        }
    }
    return n;
}

QImage Pixels(const QIcon& icon, QIcon::Mode mode) {
    return icon.pixmap(QSize(16, 16), mode).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The sum of the alpha channel: how much of the shape is drawn at full strength.
qint64 AlphaSum(const QImage& image) {
    qint64 sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) sum += qAlpha(image.pixel(x, y));
    }
    return sum;
}

}  // namespace

class IconsTest : public QObject {
    Q_OBJECT

private slots:
    void everyKindHasBothSizes();
    void kindsLookDifferent();
    void deletedKindsCarryTheRedMark_data();
    void deletedKindsCarryTheRedMark();
    void damagedFolderCarriesAWarning();
    void outOfRangeKindsGiveNullIcons();
    void iconsAreKept();
    void treeItemsShowTheirKindsPictures();
    void listRowsShowTheirKindsPictures();
    void appLogo();
};

void IconsTest::everyKindHasBothSizes() {
    for (int kind = 0; kind < app::kIconCount; ++kind) {
        const QIcon icon = gui::IconImage(app::Icon(kind));
        QVERIFY2(!icon.isNull(), qPrintable(QString::number(kind)));
        const QList<QSize> sizes = icon.availableSizes();
        QVERIFY2(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)), qPrintable(QString::number(kind)));
        for (const int size : {16, 32}) {
            const QImage image = KindImage(kind, size);
            QCOMPARE(image.size(), QSize(size, size));
            // Something is drawn, and the corners of the square stay partly see-through.
            QVERIFY2(OpaquePixels(image) > size * size / 10, qPrintable(QString("kind %1 at %2").arg(kind).arg(size)));
            QVERIFY2(OpaquePixels(image) < size * size, qPrintable(QString("kind %1 at %2").arg(kind).arg(size)));
        }
    }
}

void IconsTest::kindsLookDifferent() {
    // Every kind is told apart from every other one at both sizes.
    for (const int size : {16, 32}) {
        std::vector<QImage> images;
        for (int kind = 0; kind < app::kIconCount; ++kind) images.push_back(KindImage(kind, size));
        for (std::size_t a = 0; a < images.size(); ++a) {
            for (std::size_t b = a + 1; b < images.size(); ++b) {
                QVERIFY2(images[a] != images[b], qPrintable(QString("kinds %1 and %2 at %3").arg(a).arg(b).arg(size)));
            }
        }
    }
}

void IconsTest::deletedKindsCarryTheRedMark_data() {
    QTest::addColumn<int>("live");
    QTest::addColumn<int>("deleted");
    QTest::newRow("file") << int(app::Icon::File) << int(app::Icon::DeletedFile);
    QTest::newRow("folder") << int(app::Icon::Folder) << int(app::Icon::DeletedFolder);
    QTest::newRow("open folder") << int(app::Icon::FolderOpen) << int(app::Icon::DeletedFolderOpen);
}

void IconsTest::deletedKindsCarryTheRedMark() {
    QFETCH(int, live);
    QFETCH(int, deleted);
    for (const int size : {16, 32}) {
        const QImage liveImage = KindImage(live, size);
        const QImage deletedImage = KindImage(deleted, size);
        QVERIFY(liveImage != deletedImage);
        QCOMPARE(RedPixels(liveImage), 0);
        QVERIFY2(RedPixels(deletedImage) >= size * size / 40, qPrintable(QString::number(size)));
    }
    // The deleted kind's shape is faded: outside the mark it is drawn lighter than the live one.
    const QImage liveImage = KindImage(live, 32);
    const QImage deletedImage = KindImage(deleted, 32);
    const QRect awayFromMark(0, 0, 32, 14);
    QVERIFY(AlphaSum(deletedImage.copy(awayFromMark)) < AlphaSum(liveImage.copy(awayFromMark)) * 3 / 4);
}

void IconsTest::damagedFolderCarriesAWarning() {
    const QImage folder = KindImage(int(app::Icon::Folder), 32);
    const QImage damaged = KindImage(int(app::Icon::DamagedFolder), 32);
    QVERIFY(folder != damaged);
    QCOMPARE(RedPixels(damaged), 0);  // damaged is not deleted
    // The amber triangle sits in the lower right corner; the rest is the plain folder.
    QCOMPARE(damaged.copy(0, 0, 14, 32), folder.copy(0, 0, 14, 32));
    QVERIFY(damaged.copy(16, 16, 16, 16) != folder.copy(16, 16, 16, 16));
}

void IconsTest::outOfRangeKindsGiveNullIcons() {
    for (const int kind : {-1, app::kIconCount, 1000, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        QVERIFY2(gui::IconImage(app::Icon(kind)).isNull(), qPrintable(QString::number(kind)));
    }
}

void IconsTest::iconsAreKept() {
    // A second request gives the same drawing (the cache), not a fresh and different one.
    const QIcon a = gui::IconImage(app::Icon::Disk);
    const QIcon b = gui::IconImage(app::Icon::Disk);
    QCOMPARE(a.cacheKey(), b.cacheKey());
    QCOMPARE(gui::AppLogo(48).cacheKey(), gui::AppLogo(48).cacheKey());
}

void IconsTest::treeItemsShowTheirKindsPictures() {
    // A folder opens while it is selected; a damaged folder and a volume look the same either way.
    app::TreeNode root;
    app::TreeNode* volume = root.AddChild(app::NodeKind::Volume, "volume");
    volume->AddChild(app::NodeKind::Folder, "live");
    volume->AddChild(app::NodeKind::DeletedFolder, "deleted");
    volume->AddChild(app::NodeKind::DamagedFolder, "damaged");
    QTreeWidgetItem item;
    gui::NodeIndex index;
    gui::SyncItem(item, root, index);
    const struct {
        const app::TreeNode* node;
        app::Icon normal, selected;
    } cases[] = {
        {&root, app::Icon::Computer, app::Icon::Computer},
        {volume, app::Icon::Volume, app::Icon::Volume},
        {volume->Children[0].get(), app::Icon::Folder, app::Icon::FolderOpen},
        {volume->Children[1].get(), app::Icon::DeletedFolder, app::Icon::DeletedFolderOpen},
        {volume->Children[2].get(), app::Icon::DamagedFolder, app::Icon::DamagedFolder},
    };
    for (const auto& c : cases) {
        QTreeWidgetItem* shown = index.value(c.node);
        QVERIFY2(shown, c.node->Text.c_str());
        const QIcon icon = shown->icon(0);
        QCOMPARE(Pixels(icon, QIcon::Normal), Pixels(gui::IconImage(c.normal), QIcon::Normal));
        if (c.selected == c.normal) {
            // One picture: the style draws its selected look, as for any single icon.
            QCOMPARE(Pixels(icon, QIcon::Selected), Pixels(gui::IconImage(c.normal), QIcon::Selected));
        } else {
            QCOMPARE(Pixels(icon, QIcon::Selected), Pixels(gui::IconImage(c.selected), QIcon::Normal));
            QVERIFY(Pixels(icon, QIcon::Selected) != Pixels(icon, QIcon::Normal));
        }
    }
}

void IconsTest::listRowsShowTheirKindsPictures() {
    app::TreeNode disk;
    disk.Kind = app::NodeKind::Disk;
    std::vector<app::ListRow> rows(3);
    rows[0].Kind = app::RowKind::Device;
    rows[0].Data = app::RowData(&disk);
    rows[0].DeviceKind = disk.Kind;
    rows[1].Kind = app::RowKind::DeletedFile;
    rows[2].Kind = app::RowKind::DamagedFolder;
    gui::FileListModel model;
    model.setRows(rows, {"Name", "Type"}, -1);
    const app::Icon expected[] = {app::Icon::Disk, app::Icon::DeletedFile, app::Icon::DamagedFolder};
    for (int r = 0; r < 3; ++r) {
        const QVariant decoration = model.data(model.index(r, 0), Qt::DecorationRole);
        QCOMPARE(decoration.value<QIcon>().cacheKey(), gui::IconImage(expected[r]).cacheKey());
        QVERIFY(!model.data(model.index(r, 1), Qt::DecorationRole).isValid());
    }
}

void IconsTest::appLogo() {
    for (const int size : {16, 32, 64, 256}) {
        const QPixmap logo = gui::AppLogo(size);
        QVERIFY(!logo.isNull());
        QCOMPARE(logo.size(), QSize(size, size));
        const QImage image = logo.toImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(OpaquePixels(image) > size * size / 2);
    }
    QVERIFY(gui::AppLogo(0).isNull());
    QVERIFY(gui::AppLogo(-5).isNull());
}

QTEST_MAIN(IconsTest)
#include "tst_icons.moc"
