#include "app/path_bar.h"

#include <algorithm>
#include <cstdint>

namespace brenvale::app {

std::vector<TreeNode*> ShowPathOf(TreeNode* node) {
    std::vector<TreeNode*> path;
    for (TreeNode* at = node; at != nullptr; at = at->Parent) {
        if (!at->Text.empty()) path.push_back(at);
    }
    std::reverse(path.begin(), path.end());
    return path;
}

void PathBarModel::SetNodes(std::vector<TreeNode*> nodes) {
    nodes_ = std::move(nodes);
    segments_.clear();
    path_.clear();
    for (const TreeNode* node : nodes_) {
        std::string text = node->Text;
        if (text.ends_with('\\')) text.pop_back();
        if (!segments_.empty()) path_ += kPathSeparator;
        path_ += text;
        segments_.push_back(std::move(text));
    }
    hot_ = -1;
}

bool PathBarModel::SetHot(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= nodes_.size()) index = -1;
    if (index == hot_) return false;
    hot_ = index;
    return true;
}

TreeNode* PathBarModel::NodeAt(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= nodes_.size()) return nullptr;
    return nodes_[static_cast<std::size_t>(index)];
}

PathBarFit FitPathSegments(const std::vector<int>& segmentWidths, int separatorWidth, int ellipsisWidth,
                           int available) {
    const std::size_t n = segmentWidths.size();
    if (n <= 1) return {};
    std::int64_t all = 0;
    for (const int w : segmentWidths) all += w;
    all += std::int64_t{separatorWidth} * static_cast<std::int64_t>(n - 1);
    if (all <= available) return {};
    // Otherwise keep as many segments from the right as fit after "…\" (at least the last).
    const std::int64_t lead = std::int64_t{ellipsisWidth} + separatorWidth;
    std::int64_t tail = segmentWidths[n - 1];
    std::size_t first = n - 1;
    while (first > 1) {
        const std::int64_t wider = tail + separatorWidth + segmentWidths[first - 1];
        if (lead + wider > available) break;
        tail = wider;
        --first;
    }
    return {first, true};
}

}  // namespace brenvale::app
