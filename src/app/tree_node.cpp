#include "app/tree_node.h"

#include <algorithm>

namespace brenvale::app {

namespace {

// Paths of this system's kind: node paths are read like file paths.
constexpr char kPathSeparator = '/';

}  // namespace

TreeNode* TreeNode::AddChild(std::unique_ptr<TreeNode> child) {
    return InsertChild(Children.size(), std::move(child));
}

TreeNode* TreeNode::AddChild(NodeKind kind, std::string text) {
    auto child = std::make_unique<TreeNode>();
    child->Kind = kind;
    child->Text = std::move(text);
    return AddChild(std::move(child));
}

TreeNode* TreeNode::InsertChild(std::size_t index, std::unique_ptr<TreeNode> child) {
    child->Parent = this;
    const auto at = Children.begin() + static_cast<std::ptrdiff_t>(std::min(index, Children.size()));
    return Children.insert(at, std::move(child))->get();
}

int TreeNode::Index() const {
    if (!Parent) return -1;
    const auto& siblings = Parent->Children;
    const auto it = std::find_if(siblings.begin(), siblings.end(), [this](const auto& c) { return c.get() == this; });
    return it == siblings.end() ? -1 : static_cast<int>(it - siblings.begin());
}

bool TreeNode::HasState(int bit) const {
    if (!ScanCapable()) throw std::logic_error(kNodeStateError);
    return ((-FStateIndex) & bit) != 0;
}

void TreeNode::SetState(int bit) {
    if (!ScanCapable()) throw std::logic_error(kNodeStateError);
    FStateIndex = -((-FStateIndex) | bit);
}

scan::TUndelete* ScanOf(const TreeNode* node) {
    for (; node; node = node->Parent) {
        if (node->Scan) return node->Scan;
    }
    return nullptr;
}

TreeNode* DriveNodeOf(TreeNode* node) {
    for (; node; node = node->Parent) {
        if (node->Drive) return node;
    }
    return nullptr;
}

bool UnderLostPartitions(const TreeNode* node) {
    if (!node) return false;
    for (const TreeNode* p = node->Parent; p; p = p->Parent) {
        if (p->Kind == NodeKind::LostPartitions) return true;
    }
    return false;
}

std::string NodePath(const TreeNode* node) {
    if (!node) return {};
    std::string path = node->Text;
    // The root ("My Computer") is left out unless it is the node itself.
    for (const TreeNode* p = node->Parent; p && p->Parent; p = p->Parent) path = p->Text + kPathSeparator + path;
    return path;
}

partitions::TPartition* PartitionOf(const TreeNode* node) {
    return node && node->Scan ? &node->Scan->Partition() : nullptr;
}

}  // namespace brenvale::app
