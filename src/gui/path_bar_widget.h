#pragma once
// The breadcrumb above the file list: the selected node's path, the segment under the mouse
// highlighted, a click jumps to that ancestor, and "Copy path" on the context menu.

#include <QWidget>

#include <vector>

#include "app/path_bar.h"

namespace brenvale::gui {

class PathBarWidget : public QWidget {
    Q_OBJECT
public:
    explicit PathBarWidget(QWidget* parent = nullptr);

    void setNodes(std::vector<app::TreeNode*> nodes);
    const app::PathBarModel& model() const { return model_; }
    QSize sizeHint() const override;

signals:
    void navigate(app::TreeNode* node);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutSegments();
    int segmentAt(const QPoint& pos) const;

    app::PathBarModel model_;
    std::vector<QRect> rects_;  // where each segment is drawn; empty for dropped ones
    QRect ellipsisRect_;
    bool laidOut_ = false;
};

}  // namespace brenvale::gui
