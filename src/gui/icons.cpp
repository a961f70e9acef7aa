// The program draws all of its icons itself with QPainter: no image files ship with it, every
// icon scales to any size, and all of them share one flat style (light fills, a thin dark
// outline, red for deleted, amber for warnings). Shapes are laid out on a 32 x 32 grid and
// scaled to the pixmap size.

#include "gui/icons.h"

#include <array>
#include <cmath>
#include <map>

#include <QColor>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

namespace brenvale::gui {

namespace {

constexpr double kGrid = 32.0;
constexpr double kLine = 1.5;  // outline width in grid units
constexpr std::array kIconSizes{16, 32};

// The palette every icon draws from.
const QColor kOutline(0x45, 0x5A, 0x64);
const QColor kPaper(0xFF, 0xFF, 0xFF);
const QColor kPaperFold(0xEC, 0xEF, 0xF1);
const QColor kPaperLine(0xB0, 0xBE, 0xC5);
const QColor kMetalLight(0xCF, 0xD8, 0xDC);
const QColor kMetal(0x90, 0xA4, 0xAE);
const QColor kBlue(0x42, 0xA5, 0xF5);
const QColor kBlueDark(0x15, 0x65, 0xC0);
const QColor kGreen(0x66, 0xBB, 0x6A);
const QColor kRed(0xE5, 0x39, 0x35);
const QColor kAmber(0xFF, 0xA0, 0x00);
const QColor kIndigo(0x5C, 0x6B, 0xC0);
const QColor kPurple(0x7E, 0x57, 0xC2);

struct FolderColours {
    QColor back, front, line;
};
const FolderColours kYellowFolder{QColor(0xFF, 0xB3, 0x00), QColor(0xFF, 0xD5, 0x4F), QColor(0xB2, 0x7B, 0x00)};
const FolderColours kTealFolder{QColor(0x26, 0xA6, 0x9A), QColor(0x80, 0xCB, 0xC4), QColor(0x00, 0x69, 0x5C)};

QPen outlinePen(const QColor& c = kOutline, double width = kLine) {
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawFolder(QPainter& p, const FolderColours& c, bool open) {
    p.setPen(outlinePen(c.line));
    // The back with its tab.
    QPainterPath back;
    back.moveTo(3, 26);
    back.lineTo(3, 7.5);
    back.quadTo(3, 6, 4.5, 6);
    back.lineTo(11, 6);
    back.lineTo(14, 9);
    back.lineTo(27.5, 9);
    back.quadTo(29, 9, 29, 10.5);
    back.lineTo(29, 26);
    back.closeSubpath();
    p.setBrush(c.back);
    p.drawPath(back);
    if (open) {
        // A sheet showing above the tilted front.
        p.setPen(outlinePen(kPaperLine, 1.0));
        p.setBrush(kPaper);
        p.drawRect(QRectF(7, 11, 19, 10));
        p.setPen(outlinePen(c.line));
        p.setBrush(c.front);
        const QPolygonF front{QPointF(7, 14), QPointF(31, 14), QPointF(27, 27), QPointF(2, 27)};
        p.drawPolygon(front);
    } else {
        p.setBrush(c.front);
        p.drawRoundedRect(QRectF(3, 12, 26, 15), 1.5, 1.5);
    }
}

void drawPage(QPainter& p, const QRectF& r, bool lines) {
    const double fold = r.width() * 0.32;
    QPainterPath page;
    page.moveTo(r.left(), r.top());
    page.lineTo(r.right() - fold, r.top());
    page.lineTo(r.right(), r.top() + fold);
    page.lineTo(r.right(), r.bottom());
    page.lineTo(r.left(), r.bottom());
    page.closeSubpath();
    p.setPen(outlinePen(kOutline));
    p.setBrush(kPaper);
    p.drawPath(page);
    p.setBrush(kPaperFold);
    p.drawPolygon(QPolygonF{QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold),
                            QPointF(r.right(), r.top() + fold)});
    if (!lines) return;
    p.setPen(outlinePen(kPaperLine, 1.5));
    for (double y = r.top() + fold + 3; y < r.bottom() - 2; y += 4) {
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
    }
}

// A hard disk seen from the front: the light top, the darker base, a slot and the activity light.
void drawDrive(QPainter& p, const QRectF& r) {
    p.setPen(outlinePen());
    p.setBrush(kMetal);
    p.drawRoundedRect(r, 2.5, 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kMetalLight);
    const double split = r.top() + r.height() * 0.58;
    p.drawRoundedRect(QRectF(r.left() + 1, r.top() + 1, r.width() - 2, split - r.top() - 1), 1.5, 1.5);
    p.setPen(outlinePen(kOutline, 1.2));
    const double slotY = (split + r.bottom()) / 2;
    p.drawLine(QPointF(r.left() + 3.5, slotY), QPointF(r.left() + r.width() * 0.5, slotY));
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(r.right() - 4, slotY), 1.6, 1.6);
}

// Marks drawn over a shape, in the lower right corner.
void drawDeletedMark(QPainter& p) {
    p.setOpacity(1.0);
    p.setPen(QPen(kPaper, 1.2));
    p.setBrush(kRed);
    p.drawEllipse(QPointF(24, 24), 7.5, 7.5);
    p.setPen(QPen(kPaper, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(21, 21), QPointF(27, 27));
    p.drawLine(QPointF(27, 21), QPointF(21, 27));
}

void drawWarningMark(QPainter& p) {
    p.setPen(QPen(QColor(0x8D, 0x5A, 0x00), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kAmber);
    p.drawPolygon(QPolygonF{QPointF(24, 15.5), QPointF(31.5, 30.5), QPointF(16.5, 30.5)});
    p.setPen(QPen(kPaper, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(24, 20.5), QPointF(24, 25.5));
    p.drawPoint(QPointF(24, 28.3));
}

void drawQuestionMark(QPainter& p) {
    p.setOpacity(1.0);
    p.setPen(QPen(kPaper, 1.2));
    p.setBrush(kAmber);
    p.drawEllipse(QPointF(24, 24), 7.5, 7.5);
    p.setPen(QPen(kPaper, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath hook;
    hook.moveTo(21.3, 21.8);
    hook.cubicTo(21.3, 18.6, 26.8, 18.6, 26.8, 21.6);
    hook.cubicTo(26.8, 23.6, 24, 23.4, 24, 25.6);
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    p.drawPoint(QPointF(24, 28.4));
}

void drawComputer(QPainter& p) {
    p.setPen(outlinePen());
    p.setBrush(QColor(0x60, 0x7D, 0x8B));
    p.drawRoundedRect(QRectF(3, 4, 26, 18), 2, 2);
    p.setPen(Qt::NoPen);
    QLinearGradient screen(QPointF(6, 6.5), QPointF(26, 19.5));
    screen.setColorAt(0, QColor(0x90, 0xCA, 0xF9));
    screen.setColorAt(1, kBlue);
    p.setBrush(screen);
    p.drawRect(QRectF(5.5, 6.5, 21, 13));
    p.setPen(outlinePen());
    p.setBrush(kMetal);
    p.drawRect(QRectF(13.5, 22, 5, 4));
    p.drawRoundedRect(QRectF(8, 26, 16, 3), 1.2, 1.2);
}

void drawFloppy(QPainter& p) {
    QPainterPath body;
    body.moveTo(4, 5.5);
    body.quadTo(4, 4, 5.5, 4);
    body.lineTo(25, 4);
    body.lineTo(28, 7);
    body.lineTo(28, 26.5);
    body.quadTo(28, 28, 26.5, 28);
    body.lineTo(5.5, 28);
    body.quadTo(4, 28, 4, 26.5);
    body.closeSubpath();
    p.setPen(outlinePen(QColor(0x28, 0x35, 0x93)));
    p.setBrush(kIndigo);
    p.drawPath(body);
    p.setPen(Qt::NoPen);
    p.setBrush(kMetalLight);
    p.drawRect(QRectF(10, 4.8, 12, 8));
    p.setBrush(kOutline);
    p.drawRect(QRectF(17, 6.2, 3, 5));
    p.setBrush(kPaper);
    p.drawRoundedRect(QRectF(8, 16, 16, 11), 1, 1);
    p.setPen(outlinePen(kPaperLine, 1.2));
    p.drawLine(QPointF(10.5, 20), QPointF(21.5, 20));
    p.drawLine(QPointF(10.5, 23.5), QPointF(21.5, 23.5));
}

// A volume: a slimmer drive with a coloured band for the partition it stands for.
void drawVolume(QPainter& p) {
    const QRectF r(3, 10, 26, 13);
    p.setPen(outlinePen());
    p.setBrush(kMetalLight);
    p.drawRoundedRect(r, 2.5, 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    QPainterPath band;
    band.addRoundedRect(QRectF(3.8, 10.8, 7, 11.4), 1.8, 1.8);
    p.drawPath(band);
    p.setPen(outlinePen(kOutline, 1.2));
    p.drawLine(QPointF(13.5, 19.5), QPointF(21, 19.5));
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(25, 19.5), 1.6, 1.6);
}

// The space of a whole disk as a pie.
void drawDiskSpace(QPainter& p) {
    const QRectF r(3, 3, 26, 26);
    p.setPen(outlinePen());
    p.setBrush(kMetalLight);
    p.drawEllipse(r);
    p.setBrush(kBlue);
    p.drawPie(r, 90 * 16, -130 * 16);
}

void drawImage(QPainter& p) {
    drawPage(p, QRectF(5, 2, 22, 28), false);
    drawDrive(p, QRectF(8.5, 15, 15, 10));
}

void drawMagnifier(QPainter& p) {
    p.setPen(QPen(QColor(0x6D, 0x4C, 0x41), 4.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(19.5, 19.5), QPointF(27.5, 27.5));
    p.setPen(QPen(kOutline, 3.0));
    p.setBrush(QColor(0xBB, 0xDE, 0xFB));
    p.drawEllipse(QPointF(13, 13), 9, 9);
    p.setPen(QPen(kPaper, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(8, 8, 10, 10), 100 * 16, 70 * 16);
}

void drawSparkle(QPainter& p, const QPointF& c, double r) {
    p.setPen(Qt::NoPen);
    p.setBrush(kPaper);
    const double w = r * 0.3;
    p.drawPolygon(QPolygonF{QPointF(c.x(), c.y() - r), QPointF(c.x() + w, c.y() - w), QPointF(c.x() + r, c.y()),
                            QPointF(c.x() + w, c.y() + w), QPointF(c.x(), c.y() + r), QPointF(c.x() - w, c.y() + w),
                            QPointF(c.x() - r, c.y()), QPointF(c.x() - w, c.y() - w)});
}

void drawLostFiles(QPainter& p) {
    drawPage(p, QRectF(10, 2, 17, 22), false);
    drawPage(p, QRectF(4, 7, 17, 22), true);
}

void drawFileType(QPainter& p) {
    drawPage(p, QRectF(6, 3, 20, 26), false);
    p.setPen(Qt::NoPen);
    p.setBrush(kPurple);
    p.drawRect(QRectF(6.75, 17, 18.5, 7.5));
    p.setPen(QPen(kPaper, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9.5, 20.75), QPointF(19, 20.75));
}

void drawIcon(QPainter& p, app::Icon icon) {
    constexpr double kFaded = 0.45;
    switch (icon) {
        case app::Icon::Computer: drawComputer(p); break;
        case app::Icon::Disk: drawDrive(p, QRectF(3, 8, 26, 16)); break;
        case app::Icon::LostPartitions:
            p.setOpacity(0.55);
            drawDrive(p, QRectF(1, 6, 26, 16));
            drawQuestionMark(p);
            break;
        case app::Icon::Image: drawImage(p); break;
        case app::Icon::Floppy: drawFloppy(p); break;
        case app::Icon::Volume: drawVolume(p); break;
        case app::Icon::DiskSpace: drawDiskSpace(p); break;
        case app::Icon::Folder: drawFolder(p, kYellowFolder, false); break;
        case app::Icon::DeletedFolder:
            p.setOpacity(kFaded);
            drawFolder(p, kYellowFolder, false);
            drawDeletedMark(p);
            break;
        case app::Icon::DamagedFolder:
            drawFolder(p, kYellowFolder, false);
            drawWarningMark(p);
            break;
        case app::Icon::FolderOpen: drawFolder(p, kYellowFolder, true); break;
        case app::Icon::DeletedFolderOpen:
            p.setOpacity(kFaded);
            drawFolder(p, kYellowFolder, true);
            drawDeletedMark(p);
            break;
        case app::Icon::File: drawPage(p, QRectF(6, 3, 20, 26), true); break;
        case app::Icon::DeletedFile:
            p.setOpacity(kFaded);
            drawPage(p, QRectF(6, 3, 20, 26), true);
            drawDeletedMark(p);
            break;
        case app::Icon::Advanced:
            drawFolder(p, kTealFolder, false);
            drawSparkle(p, QPointF(16, 19.5), 5.5);
            break;
        case app::Icon::AdvancedOpen:
            drawFolder(p, kTealFolder, true);
            drawSparkle(p, QPointF(16, 20.5), 5);
            break;
        case app::Icon::SearchResults: drawMagnifier(p); break;
        case app::Icon::LostFiles:
            drawLostFiles(p);
            drawQuestionMark(p);
            break;
        case app::Icon::FileType: drawFileType(p); break;
    }
}

QPixmap renderIcon(app::Icon icon, int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kGrid, size / kGrid);
    drawIcon(p, icon);
    return pm;
}

QPixmap renderLogo(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    // A blue tile with a disk platter and a green arrow turning back: what was lost comes back.
    QLinearGradient tile(QPointF(0, 0), QPointF(0, 64));
    tile.setColorAt(0, kBlue);
    tile.setColorAt(1, kBlueDark);
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 13, 13);
    p.setBrush(kPaper);
    p.drawEllipse(QPointF(32, 32), 17, 17);
    p.setBrush(kMetalLight);
    p.drawEllipse(QPointF(32, 32), 11, 11);
    p.setBrush(kBlueDark);
    p.drawEllipse(QPointF(32, 32), 3.5, 3.5);
    p.setPen(QPen(QColor(0x43, 0xA0, 0x47), 5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    constexpr double kRadius = 23.5, kFrom = 120, kSpan = 270;
    p.drawArc(QRectF(32 - kRadius, 32 - kRadius, 2 * kRadius, 2 * kRadius), int(kFrom * 16), int(kSpan * 16));
    // The arrow head where the arc ends, pointing along the turn.
    const double a = qDegreesToRadians(kFrom + kSpan);
    const QPointF radial(std::cos(a), -std::sin(a));
    const QPointF along(-std::sin(a), -std::cos(a));
    const QPointF end = QPointF(32, 32) + kRadius * radial;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x43, 0xA0, 0x47));
    p.drawPolygon(QPolygonF{end + 7 * along, end - 2 * along + 7 * radial, end - 2 * along - 7 * radial});
    return pm;
}

}  // namespace

QIcon IconImage(app::Icon icon) {
    const int index = static_cast<int>(icon);
    if (index < 0 || index >= app::kIconCount) return {};
    static std::array<QIcon, app::kIconCount> cache;
    QIcon& drawn = cache[static_cast<std::size_t>(index)];
    if (drawn.isNull()) {
        for (const int size : kIconSizes) drawn.addPixmap(renderIcon(icon, size));
    }
    return drawn;
}

QPixmap AppLogo(int size) {
    if (size < 1) return {};
    static std::map<int, QPixmap> cache;
    auto [it, added] = cache.try_emplace(size);
    if (added) it->second = renderLogo(size);
    return it->second;
}

}  // namespace brenvale::gui
