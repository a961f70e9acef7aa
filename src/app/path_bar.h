#pragma once
// The breadcrumb above the file list, without painting: the path of the selected tree node,
// the segment under the mouse, and which segments fit the bar's width.

#include <cstddef>
#include <string>
#include <vector>

#include "app/tree_node.h"

namespace brenvale::app {

inline constexpr char kPathBarHint[] = "Current folder";
inline constexpr char kPathSeparator[] = "/";
inline constexpr char kPathEllipsis[] = "\xE2\x80\xA6";  // U+2026, stands for the dropped segments
inline constexpr char kCopyPathText[] = "Copy path";

// The node and its ancestors that have a text, root first (empty for no node).
std::vector<TreeNode*> ShowPathOf(TreeNode* node);

class PathBarModel {
public:
    // Replaces the path (root first); forgets the segment under the mouse.
    void SetNodes(std::vector<TreeNode*> nodes);
    void ClearNodes() { SetNodes({}); }
    void SetHintText(std::string text) { hint_ = std::move(text); }

    const std::vector<TreeNode*>& Nodes() const { return nodes_; }
    // Each node's text without a trailing "\".
    const std::vector<std::string>& SegmentTexts() const { return segments_; }
    // The segments joined with "/"; what "Copy path" copies (nothing when empty).
    const std::string& PathText() const { return path_; }
    // Drawn instead of segments when the path is empty.
    const std::string& HintText() const { return hint_; }

    // The segment under the mouse, -1 for none. SetHot takes any other index as none and
    // returns whether the highlight changed (the bar then repaints).
    int Hot() const { return hot_; }
    bool SetHot(int index);
    // The node a click on segment `index` navigates to; null when there is no such segment.
    TreeNode* NodeAt(int index) const;

private:
    std::vector<TreeNode*> nodes_;
    std::vector<std::string> segments_;
    std::string path_;
    std::string hint_ = kPathBarHint;
    int hot_ = -1;
};

struct PathBarFit {
    std::size_t First = 0;  // index of the first segment drawn
    bool Ellipsis = false;  // "…" and a separator are drawn before it
};

// Which segments to draw in `available` pixels: all when they fit with separators between
// them; otherwise segments are dropped from the left and "…" stands in their place. The last
// segment is always drawn, even when it alone is wider than the bar.
PathBarFit FitPathSegments(const std::vector<int>& segmentWidths, int separatorWidth, int ellipsisWidth,
                           int available);

}  // namespace brenvale::app
