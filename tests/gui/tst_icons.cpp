// The drawn icons: one per node and row kind, in both sizes, told apart by their pixels.

#include <QImage>
#include <QtTest>

#include "app/tree_node.h"
#include "gui/icons.h"

using namespace brenvale;

namespace {

QImage KindImage(int kind, int size) {
    return gui::KindIcon(kind).pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
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
    void appLogo();
};

void IconsTest::everyKindHasBothSizes() {
    for (int kind = 0; kind < gui::kKindIconCount; ++kind) {
        const QIcon icon = gui::KindIcon(kind);
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
        for (int kind = 0; kind < gui::kKindIconCount; ++kind) images.push_back(KindImage(kind, size));
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
    QTest::newRow("file") << int(app::kIconFile) << int(app::kIconDeletedFile);
    QTest::newRow("folder") << int(app::kIconFolder) << int(app::kIconDeletedFolder);
    QTest::newRow("open folder") << int(app::kIconFolderOpen) << int(app::kIconDeletedFolderOpen);
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
    const QImage folder = KindImage(app::kIconFolder, 32);
    const QImage damaged = KindImage(app::kIconDamagedFolder, 32);
    QVERIFY(folder != damaged);
    QCOMPARE(RedPixels(damaged), 0);  // damaged is not deleted
    // The amber triangle sits in the lower right corner; the rest is the plain folder.
    QCOMPARE(damaged.copy(0, 0, 14, 32), folder.copy(0, 0, 14, 32));
    QVERIFY(damaged.copy(16, 16, 16, 16) != folder.copy(16, 16, 16, 16));
}

void IconsTest::outOfRangeKindsGiveNullIcons() {
    for (const int kind : {-1, gui::kKindIconCount, 1000, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        QVERIFY2(gui::KindIcon(kind).isNull(), qPrintable(QString::number(kind)));
    }
}

void IconsTest::iconsAreKept() {
    // A second request gives the same drawing (the cache), not a fresh and different one.
    const QIcon a = gui::KindIcon(app::kIconDisk);
    const QIcon b = gui::KindIcon(app::kIconDisk);
    QCOMPARE(a.cacheKey(), b.cacheKey());
    QCOMPARE(gui::AppLogo(48).cacheKey(), gui::AppLogo(48).cacheKey());
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
