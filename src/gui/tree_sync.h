#pragma once
// The drive tree widget mirrors the shell's nodes: same order, texts and icons, expanded where
// the node is. Items keep a pointer to their node; they are only read while no command runs.

#include <QHash>
#include <QTreeWidgetItem>

#include "app/tree_node.h"

namespace brenvale::gui {

using NodeIndex = QHash<const app::TreeNode*, QTreeWidgetItem*>;

// The node an item stands for.
app::TreeNode* NodeOf(const QTreeWidgetItem* item);

// Makes `item` show `node` and its subtree; items whose nodes are unchanged are kept (so are
// scroll position and selection), changed child lists are rebuilt. Fills `index`.
void SyncItem(QTreeWidgetItem& item, app::TreeNode& node, NodeIndex& index);

}  // namespace brenvale::gui
