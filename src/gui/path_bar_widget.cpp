#include "gui/path_bar_widget.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace brenvale::gui {

namespace {

constexpr int kPadding = 6;     // around each segment's text
constexpr int kBarHeight = 30;

}  // namespace

PathBarWidget::PathBarWidget(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize PathBarWidget::sizeHint() const { return {300, kBarHeight}; }

void PathBarWidget::setNodes(std::vector<app::TreeNode*> nodes) {
    model_.SetNodes(std::move(nodes));
    laidOut_ = false;
    update();
}

void PathBarWidget::layoutSegments() {
    const QFontMetrics fm(font());
    const auto& texts = model_.SegmentTexts();
    std::vector<int> widths;
    for (const auto& t : texts) widths.push_back(fm.horizontalAdvance(QString::fromStdString(t)) + 2 * kPadding);
    const int separator = fm.horizontalAdvance(QString::fromUtf8(app::kPathSeparator)) + 2;
    const int ellipsis = fm.horizontalAdvance(QString::fromUtf8(app::kPathEllipsis)) + 2 * kPadding;
    const app::PathBarFit fit = app::FitPathSegments(widths, separator, ellipsis, width() - 2 * kPadding);

    rects_.assign(texts.size(), QRect());
    ellipsisRect_ = QRect();
    int x = kPadding;
    if (fit.Ellipsis) {
        ellipsisRect_ = QRect(x, 0, ellipsis, height());
        x += ellipsis + separator;
    }
    for (std::size_t i = fit.First; i < texts.size(); ++i) {
        rects_[i] = QRect(x, 0, widths[i], height());
        x += widths[i] + separator;
    }
    laidOut_ = true;
}

void PathBarWidget::paintEvent(QPaintEvent*) {
    if (!laidOut_) layoutSegments();
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const auto& texts = model_.SegmentTexts();
    if (texts.empty()) {
        p.setPen(palette().color(QPalette::PlaceholderText));
        p.drawText(rect().adjusted(kPadding * 2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   QString::fromStdString(model_.HintText()));
        return;
    }
    const QString separator = QString::fromUtf8(app::kPathSeparator);
    p.setPen(palette().color(QPalette::Text));
    if (!ellipsisRect_.isNull()) {
        p.drawText(ellipsisRect_, Qt::AlignCenter, QString::fromUtf8(app::kPathEllipsis));
        p.drawText(QRect(ellipsisRect_.right(), 0, 14, height()), Qt::AlignVCenter | Qt::AlignLeft, separator);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (rects_[i].isNull()) continue;
        const bool hot = static_cast<int>(i) == model_.Hot();
        if (hot) {
            p.fillRect(rects_[i].adjusted(0, 4, 0, -4), palette().color(QPalette::Highlight).lighter(170));
        }
        p.setPen(palette().color(QPalette::Text));
        p.drawText(rects_[i], Qt::AlignCenter, QString::fromStdString(texts[i]));
        if (i + 1 < texts.size()) {
            p.setPen(palette().color(QPalette::PlaceholderText));
            p.drawText(QRect(rects_[i].right() + 1, 0, 14, height()), Qt::AlignVCenter | Qt::AlignLeft, separator);
        }
    }
}

int PathBarWidget::segmentAt(const QPoint& pos) const {
    for (std::size_t i = 0; i < rects_.size(); ++i) {
        if (!rects_[i].isNull() && rects_[i].contains(pos)) return static_cast<int>(i);
    }
    return -1;
}

void PathBarWidget::mouseMoveEvent(QMouseEvent* event) {
    if (!laidOut_) layoutSegments();
    if (model_.SetHot(segmentAt(event->position().toPoint()))) update();
}

void PathBarWidget::leaveEvent(QEvent*) {
    if (model_.SetHot(-1)) update();
}

void PathBarWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (!laidOut_) layoutSegments();
    if (app::TreeNode* node = model_.NodeAt(segmentAt(event->position().toPoint()))) emit navigate(node);
}

void PathBarWidget::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(QString::fromUtf8(app::kCopyPathText));
    copy->setEnabled(!model_.PathText().empty());
    if (menu.exec(event->globalPos()) == copy) {
        QApplication::clipboard()->setText(QString::fromStdString(model_.PathText()));
    }
}

void PathBarWidget::resizeEvent(QResizeEvent*) { laidOut_ = false; }

}  // namespace brenvale::gui
