#pragma once
// The "Raw Recovery" window without widgets: the finished hits of one scan grouped as
// group -> vendor -> type -> ranges of 1,000, the rows a node lists, and the filters the list
// offers (size range, type). The hits stay in the scan that found them; rows borrow them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "raw/file_types.h"
#include "raw/found_file.h"
#include "raw/signature_scan.h"

namespace brenvale::app {

inline constexpr char kRawRecoveryCaption[] = "Raw Recovery";
inline constexpr char kRawNeedsAdvancedScan[] =
    "Because Brenvale takes information needed by \"Raw Recovery\" during\r\"Advanced Recovery\" progress, please "
    "perform an \"Advanced Recovery\"\rprocedure before using \"Raw Recovery\".";
inline constexpr char kRawTotalFormat[] = "Total: {} records";
inline constexpr char kRawCurrentFormat[] = "Current: {} entries";
inline constexpr char kRawUnknownSize[] = "Unknown";
// Hits per range node.
inline constexpr std::int64_t kRawRangeSize = 1000;
// What the hidden "Size + 500K" adds to a hit's size.
inline constexpr std::int64_t kSizeStep = 512000;
// Node data of a vendor node.
inline constexpr std::uint32_t kRawVendorData = 0x2FFFF;

struct RawTreeNode {
    std::string Text;
    // A group node has none (0); a type node (group << 16) | (minor + 1); a vendor node
    // kRawVendorData; a range node its parent's value.
    std::uint32_t Data = 0;
    int Image = 0;
    int Group = 0;
    std::string Vendor;         // a vendor node's word
    std::int64_t Count = 0;     // hits below the node
    std::int64_t RangeFirst = -1;  // a range node: its first and last index among its parent's hits
    std::int64_t RangeLast = -1;
    bool IsRange() const { return RangeFirst >= 0; }
    std::vector<RawTreeNode> Children;
};

struct RawRow {
    const raw::TFoundFile* Hit = nullptr;
    std::size_t Index = 0;  // the hit's place in RawFiles
    int Number = 0;         // among the hits of its type, from 1
    std::string Caption;    // "JPG_12.jpg"
    std::string SizeText;   // FormatSize, or "Unknown"
    std::string TypeText;   // the type's caption
};

// What the list shows for a selected node.
struct RawListing {
    bool Changed = false;    // false: the list stays as it was (a group node without hits)
    bool LargeIcons = false; // pictures: thumbnails
    std::vector<RawRow> Rows;
};

// What the list keeps of its rows: sizes in bytes as the Size column counts them (an unknown
// size counts as 0), an extension (lower-case, empty: all).
struct RawRowFilter {
    std::int64_t MinBytes = -1;  // negative: no bound
    std::int64_t MaxBytes = -1;
    std::string Ext;
    bool Active() const { return MinBytes >= 0 || MaxBytes >= 0 || !Ext.empty(); }
};

class RawRecoveryModel {
public:
    explicit RawRecoveryModel(raw::RawScan& raw);

    // The six group nodes with their vendors, types and ranges; built once from the hits.
    const std::vector<RawTreeNode>& Tree() const { return FTree; }
    std::string TotalText() const;
    std::int64_t Total() const { return static_cast<std::int64_t>(FRaw.RawFiles.size()); }

    // The rows of a node; a node with children clears the list, a group node without any
    // leaves it unchanged.
    RawListing ListNode(const RawTreeNode& node) const;
    // Rows the filter keeps, in their order.
    static std::vector<RawRow> FilterRows(const std::vector<RawRow>& rows, const RawRowFilter& filter);
    // Indexes of the rows of the same type (extension) as rows[index].
    static std::vector<std::size_t> SameTypeRows(const std::vector<RawRow>& rows, std::size_t index);
    // The extensions the rows carry, sorted, once each.
    static std::vector<std::string> RowExtensions(const std::vector<RawRow>& rows);

    const raw::RawScan& Raw() const { return FRaw; }
    // "Size + 500K": the row's hit grows by kSizeStep (an unknown size becomes kSizeStep), and
    // the row shows it.
    void GrowHit(RawRow& row);

private:
    bool nodeTakes(const RawTreeNode& node, const raw::TFoundFile& hit) const;

    raw::RawScan& FRaw;
    std::vector<RawTreeNode> FTree;
};

// A node's caption: the caption, " - " and the count.
std::string RawNodeText(const std::string& caption, std::int64_t count);
// The Size column of a hit.
std::string RawSizeText(const raw::TFoundFile& hit);
// Image index of a group's type nodes (0, 2, 4, 6, 8, 11 for groups 0..5).
int RawTypeImage(int group);

}  // namespace brenvale::app
