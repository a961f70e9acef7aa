#include "app/raw_recovery_model.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>

#include "raw/raw_recover.h"
#include "storage/format_size.h"

namespace brenvale::app {

namespace {

constexpr int kGraphics = 2;

std::uint32_t typeData(int group, int minor) {
    return (static_cast<std::uint32_t>(group) << 16) | static_cast<std::uint32_t>(minor + 1);
}

void addRanges(RawTreeNode& node) {
    if (node.Count <= kRawRangeSize) return;
    for (std::int64_t first = 0; first < node.Count; first += kRawRangeSize) {
        RawTreeNode r;
        r.RangeFirst = first;
        r.RangeLast = std::min(first + kRawRangeSize, node.Count) - 1;
        r.Text = fmt::format("{}-{}", r.RangeFirst, r.RangeLast);
        r.Data = node.Data;
        r.Image = node.Image;
        r.Group = node.Group;
        r.Vendor = node.Vendor;
        node.Children.push_back(std::move(r));
    }
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string RawNodeText(const std::string& caption, std::int64_t count) { return fmt::format("{} - {}", caption, count); }

std::string RawSizeText(const raw::TFoundFile& hit) {
    return hit.Size > 0 ? storage::FormatSize(hit.Size) : std::string(kRawUnknownSize);
}

int RawTypeImage(int group) {
    static constexpr std::array<int, raw::kMajorTypes> images{0, 2, 4, 6, 8, 11};
    return group >= 0 && group < raw::kMajorTypes ? images[static_cast<std::size_t>(group)] : 0;
}

RawRecoveryModel::RawRecoveryModel(raw::RawScan& raw) : FRaw(raw) {
    // Counted from the hits themselves: the per-type counters of a resumed scan are the
    // checkpoint's word, the list is what is there.
    std::array<std::int64_t, raw::kSizeSlots> counts{};
    for (const auto& hit : raw.RawFiles) {
        if (raw::ValidTypePair(hit.MajorType, hit.MinorType)) ++counts[static_cast<std::size_t>(raw::SizeIndex(hit.MajorType, hit.MinorType))];
    }
    for (int g = 0; g < raw::kMajorTypes; ++g) {
        RawTreeNode group;
        group.Group = g;
        group.Image = g * 2;
        for (int m = 0; m < raw::DefinedTypeCount(g); ++m) {
            const std::int64_t n = counts[static_cast<std::size_t>(raw::SizeIndex(g, m))];
            const raw::FileTypeInfo* t = raw::FindFileType(g, m);
            if (n == 0 || !t) continue;
            group.Count += n;
            RawTreeNode type;
            type.Text = RawNodeText(t->Caption, n);
            type.Data = typeData(g, m);
            type.Image = RawTypeImage(g);
            type.Group = g;
            type.Count = n;
            addRanges(type);
            if (g != kGraphics || !*t->Vendor) {
                group.Children.push_back(std::move(type));
                continue;
            }
            auto vendor = std::find_if(group.Children.begin(), group.Children.end(), [&](const RawTreeNode& c) {
                return c.Data == kRawVendorData && c.Vendor == t->Vendor;
            });
            if (vendor == group.Children.end()) {
                RawTreeNode v;
                v.Data = kRawVendorData;
                v.Vendor = t->Vendor;
                v.Image = RawTypeImage(g);
                v.Group = g;
                group.Children.push_back(std::move(v));
                vendor = group.Children.end() - 1;
            }
            vendor->Count += n;
            vendor->Children.push_back(std::move(type));
        }
        for (auto& c : group.Children) {
            if (c.Data != kRawVendorData) continue;
            c.Text = RawNodeText(c.Vendor, c.Count);
            addRanges(c);
        }
        group.Text = RawNodeText(raw::GroupCaption(g), group.Count);
        FTree.push_back(std::move(group));
    }
}

std::string RawRecoveryModel::TotalText() const { return fmt::format(kRawTotalFormat, Total()); }

bool RawRecoveryModel::nodeTakes(const RawTreeNode& node, const raw::TFoundFile& hit) const {
    if (hit.MajorType != node.Group) return false;
    if (node.Data == kRawVendorData) {
        const raw::FileTypeInfo* t = raw::FindFileType(hit.MajorType, hit.MinorType);
        return t && node.Vendor == t->Vendor;
    }
    return hit.MinorType + 1 == static_cast<int>(node.Data & 0xFFFF);
}

RawListing RawRecoveryModel::ListNode(const RawTreeNode& node) const {
    RawListing out;
    if (!node.Children.empty()) {
        out.Changed = true;
        return out;
    }
    if (node.Data == 0) return out;  // a group without hits
    out.Changed = true;
    out.LargeIcons = node.Group == kGraphics;
    int n = 0;
    for (std::size_t i = 0; i < FRaw.RawFiles.size(); ++i) {
        const raw::TFoundFile& hit = FRaw.RawFiles[i];
        if (!nodeTakes(node, hit)) continue;
        ++n;
        if (node.IsRange() && (n - 1 < node.RangeFirst || n - 1 > node.RangeLast)) continue;
        const raw::FileTypeInfo* t = raw::FindFileType(hit.MajorType, hit.MinorType);
        out.Rows.push_back({&hit, i, n, raw::RawFileName(hit, n), RawSizeText(hit), t ? t->Caption : ""});
    }
    return out;
}

void RawRecoveryModel::GrowHit(RawRow& row) {
    if (row.Index >= FRaw.RawFiles.size()) return;
    raw::TFoundFile& hit = FRaw.RawFiles[row.Index];
    hit.Size = hit.Size > 0 ? hit.Size + kSizeStep : kSizeStep;
    row.Hit = &hit;
    row.SizeText = RawSizeText(hit);
}

std::vector<RawRow> RawRecoveryModel::FilterRows(const std::vector<RawRow>& rows, const RawRowFilter& filter) {
    if (!filter.Active()) return rows;
    const std::string ext = lower(filter.Ext);
    std::vector<RawRow> out;
    for (const auto& r : rows) {
        const std::int64_t size = std::max<std::int64_t>(r.Hit->Size, 0);
        if (filter.MinBytes >= 0 && size < filter.MinBytes) continue;
        if (filter.MaxBytes >= 0 && size > filter.MaxBytes) continue;
        if (!ext.empty() && lower(std::string(r.Hit->Ext())) != ext) continue;
        out.push_back(r);
    }
    return out;
}

std::vector<std::size_t> RawRecoveryModel::SameTypeRows(const std::vector<RawRow>& rows, std::size_t index) {
    std::vector<std::size_t> out;
    if (index >= rows.size()) return out;
    const std::string ext = lower(std::string(rows[index].Hit->Ext()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (lower(std::string(rows[i].Hit->Ext())) == ext) out.push_back(i);
    }
    return out;
}

std::vector<std::string> RawRecoveryModel::RowExtensions(const std::vector<RawRow>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(lower(std::string(r.Hit->Ext())));
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace brenvale::app
