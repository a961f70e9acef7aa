#include "gui/tree_sync.h"

#include <QApplication>
#include <QPalette>

#include "gui/icons.h"
#include "partitions/partition.h"

namespace brenvale::gui {

namespace {

constexpr int kNodeRole = Qt::UserRole;

QIcon NodeIcon(const app::TreeNode& node) {
    const app::Icon closed = app::NodeIcon(node.Kind, false), open = app::NodeIcon(node.Kind, true);
    if (open == closed) return IconImage(closed);
    // A selected folder shows its open icon. Few pairs exist; each is made once.
    static QHash<int, QIcon> pairs;
    const int key = static_cast<int>(closed) * 256 + static_cast<int>(open);
    if (const auto it = pairs.constFind(key); it != pairs.constEnd()) return *it;
    QIcon icon;
    const QIcon normal = IconImage(closed), selected = IconImage(open);
    for (const int size : {16, 32}) {
        icon.addPixmap(normal.pixmap(size), QIcon::Normal);
        icon.addPixmap(selected.pixmap(size), QIcon::Selected);
    }
    pairs.insert(key, icon);
    return icon;
}

// A partition the image claims but does not hold: drawn grey.
bool Unusable(const app::TreeNode& node) {
    const partitions::TPartition* p = app::PartitionOf(&node);
    return p && p->ClaimedSectCount > 0 && partitions::PartitionSize(p) == 0;
}

bool SameChildren(const QTreeWidgetItem& item, const app::TreeNode& node) {
    if (item.childCount() != static_cast<int>(node.Children.size())) return false;
    for (int i = 0; i < item.childCount(); ++i) {
        if (NodeOf(item.child(i)) != node.Children[static_cast<std::size_t>(i)].get()) return false;
    }
    return true;
}

}  // namespace

app::TreeNode* NodeOf(const QTreeWidgetItem* item) {
    return item ? reinterpret_cast<app::TreeNode*>(item->data(0, kNodeRole).value<quintptr>()) : nullptr;
}

void SyncItem(QTreeWidgetItem& item, app::TreeNode& node, NodeIndex& index) {
    item.setData(0, kNodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(&node)));
    item.setText(0, QString::fromStdString(node.Text));
    item.setIcon(0, NodeIcon(node));
    if (Unusable(node)) item.setForeground(0, QApplication::palette().brush(QPalette::Disabled, QPalette::Text));
    index.insert(&node, &item);

    if (!SameChildren(item, node)) {
        qDeleteAll(item.takeChildren());
        for (std::size_t i = 0; i < node.Children.size(); ++i) item.addChild(new QTreeWidgetItem);
    }
    for (std::size_t i = 0; i < node.Children.size(); ++i) {
        SyncItem(*item.child(static_cast<int>(i)), *node.Children[i], index);
    }
    if (item.isExpanded() != node.Expanded) item.setExpanded(node.Expanded);
}

}  // namespace brenvale::gui
