#pragma once
// The file list's filter box and sort state, without widgets. The folder view hands over a
// snapshot of every row it listed; the filter always works from that snapshot, never from the
// visible rows, so narrowing and widening the filter are the same operation.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "app/list_row.h"

namespace brenvale::app {

// The window's one-shot timer between typing and filtering.
inline constexpr int kFilterDelayMs = 120;
inline constexpr int kNoSortColumn = -1;

inline constexpr char kFilterBoxHint[] = "Search";
inline constexpr char kClearFilterHint[] = "Clear filter";

// Header arrows: a blank and U+25B2 / U+25BC in UTF-8.
inline constexpr char kSortUpMark[] = " \xE2\x96\xB2";
inline constexpr char kSortDownMark[] = " \xE2\x96\xBC";

// Rows by their identity (what they stand for), for selections that outlive a refiltering.
using RowSet = std::unordered_set<RowData, RowData::Hash>;

// Orders two rows (true when the first goes before the second).
using RowLess = std::function<bool(const ListRow&, const ListRow&)>;

struct FilterResult {
    std::vector<std::size_t> Rows;      // snapshot indexes of the visible rows, in list order
    std::vector<std::size_t> Selected;  // positions in Rows to select again
};

// Lower case for matching: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic capitals;
// every other byte, including invalid UTF-8, is copied unchanged.
std::string LowerText(std::string_view text);

// The filter text as it is matched: without leading and trailing blanks and control
// characters, lower-cased.
std::string FilterText(std::string_view boxText);

// True when a change of the box text applies at once (the box became empty); otherwise the
// window restarts its kFilterDelayMs timer and filters when it fires.
bool ApplyAtOnce(const std::string& text);

// The rows of `snapshot` that `boxText` keeps, in snapshot order or, with `less`, sorted by it
// (stable, so equal rows keep their snapshot order), and which of them to select again: every
// kept row whose data is in `selected` (rows without data are never re-selected).
// Text with "*" or "?" is a comma-separated list of wildcard patterns matched against the name
// and every path-like column (one holding "\"); other text is searched for in the name and
// the path-like columns. Empty text keeps every row. std::nullopt for an empty snapshot: the
// list is then left as it is.
std::optional<FilterResult> ApplyFilter(const std::vector<ListRow>& snapshot, std::string_view boxText,
                                        const RowSet& selected,
                                        const RowLess& less = {});

// Removes an arrow from every caption, then marks the caption at `index` (when there is one).
void MarkSortColumn(std::vector<std::string>& captions, int index, bool ascending);

// The window's filter state: the snapshot of the listed rows, the box text and the sort order.
class ListFilter {
public:
    void SetSnapshot(std::vector<ListRow> rows) { snapshot_ = std::move(rows); }
    const std::vector<ListRow>& Snapshot() const { return snapshot_; }
    // Forgets the snapshot and the text (a new node was selected); the sort is kept.
    void Reset();

    void SetText(std::string text) { text_ = std::move(text); }
    const std::string& Text() const { return text_; }

    // A click on a column header: a new column sorts descending, the same column again
    // reverses the direction. Returns the new direction (true for ascending). The caller
    // then supplies that column's order with SetSortCompare.
    bool SortClick(int column);
    // The ascending order of the sorted column; descending uses it reversed.
    void SetSortCompare(RowLess ascendingLess) { less_ = std::move(ascendingLess); }
    // No sorted column: the snapshot order stands.
    void ClearSort();
    int SortColumn() const { return sortColumn_; }
    bool SortAscending() const { return ascending_; }

    // ApplyFilter over the snapshot with the current text and, when a column is sorted, its order.
    std::optional<FilterResult> Apply(const RowSet& selected) const;

private:
    std::vector<ListRow> snapshot_;
    std::string text_;
    int sortColumn_ = kNoSortColumn;
    bool ascending_ = false;
    RowLess less_;
};

}  // namespace brenvale::app
