#include "app/statistics.h"

#include <fmt/format.h>

#include <vector>

#include "advscan/fat_entry_access.h"
#include "scan/entry_cast.h"
#include "storage/format_size.h"

namespace brenvale::app {

namespace {

constexpr int kMaxDepth = 1000;

bool isRoot(advscan::AdvNode::Kind k) {
    using K = advscan::AdvNode::Kind;
    return k == K::AdvancedExtra || k == K::NtfsRoot || k == K::FatRoot || k == K::ExFatRoot;
}

// The folder view shows a FAT folder whose cluster was reused as damaged, and does not open it.
bool damagedFolder(const advscan::AdvNode& n) {
    return n.kind == advscan::AdvNode::Kind::FatEntry && n.entry &&
           advscan::fatentry::visit(n.entry, [](const auto& m) { return m.Status == scan::kStatusDamaged; });
}

}  // namespace

std::string GroupedNumber(std::uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string StatisticsMessage(const std::string& title, const StatTotals& totals, std::int32_t skipped) {
    std::string text = fmt::format("{}\r\n\r\nDirectories: {}\r\nFiles: {}\r\nTotal size: {}", title, GroupedNumber(totals.Dirs),
                                   GroupedNumber(totals.Files), storage::FormatSize(static_cast<std::int64_t>(totals.Size)));
    if (skipped > 0) text += fmt::format("\r\n\r\n{} selected item(s) were skipped (not a file or folder).", skipped);
    return text;
}

void StatCounter::file(const void* entry, std::uint64_t size) {
    if (entry && !filesSeen_.insert(entry).second) return;
    ++totals_.Files;
    totals_.Size += size;
}

void StatCounter::CountStandard(scan::TUndelete& scan, const scan::TScanEntry* entry, bool onlyDeleted) {
    if (!entry) {
        standardFolder(scan, nullptr, false, onlyDeleted);
    } else if (scan.DelEntryIsDir(entry)) {
        if (onlyDeleted && !scan.DelSubtreeHasDeleted(scan.DelKeyOfEntry(entry))) return;
        standardFolder(scan, entry, true, onlyDeleted);
    } else if (!onlyDeleted || scan.DelEntryIsDeleted(entry)) {
        file(entry, scan.EntryDataSize(entry));
    }
}

void StatCounter::standardFolder(scan::TUndelete& scan, const scan::TScanEntry* top, bool countTop, bool onlyDeleted) {
    // Depth first with a stack of its own; a folder's key is entered once.
    struct Frame {
        const scan::TScanEntry* dir;
        int depth;
    };
    std::vector<Frame> stack{{top, 0}};
    bool first = true;
    while (!stack.empty()) {
        const Frame f = stack.back();
        stack.pop_back();
        const std::uint64_t key = f.dir ? scan.DelKeyOfEntry(f.dir) : scan.DelRootKey();
        const bool countIt = first ? countTop : true;
        first = false;
        if (!standardSeen_.insert(key).second) continue;
        if (countIt) ++totals_.Dirs;
        if (f.dir && scan::IsMidEntry(f.dir) && scan::AsMid(f.dir)->Status == scan::kStatusDamaged) continue;
        if (f.dir && f.dir->Kind() == scan::EntryKind::Fat32 && scan::AsMid32(f.dir)->Status == scan::kStatusDamaged) continue;
        if (f.depth >= kMaxDepth) continue;
        std::int32_t lo = -1, hi = -1;
        if (!scan.GetDirBounds(key, lo, hi)) continue;
        for (std::int32_t i = lo; i <= hi; ++i) {
            const scan::TScanEntry* child = scan.ScannedFiles[static_cast<std::size_t>(i)];
            if (scan.EntryParent(child) != f.dir) continue;  // another folder with the same key
            if (scan.DelEntryIsDir(child)) {
                if (onlyDeleted && !scan.DelSubtreeHasDeleted(scan.DelKeyOfEntry(child))) continue;
                stack.push_back({child, f.depth + 1});
            } else if (!onlyDeleted || scan.DelEntryIsDeleted(child)) {
                file(child, scan.EntryDataSize(child));
            }
        }
    }
}

void StatCounter::CountAdvanced(const advscan::AdvTree& tree, std::size_t node) {
    const auto& nodes = tree.Nodes();
    if (node >= nodes.size()) return;
    // The tree lists every directory once, below the first folder that leads to it.
    for (std::size_t i = node, end = tree.SubtreeEnd(node); i < end; ++i) {
        const advscan::AdvNode& n = nodes[i];
        if (!n.folder) {
            file(n.entry, advscan::AdvEntrySize(n.entry));
            continue;
        }
        if (isRoot(n.kind)) continue;
        const void* key = n.entry ? static_cast<const void*>(n.entry) : static_cast<const void*>(&n);
        if (!advancedSeen_.insert(key).second) {
            i = tree.SubtreeEnd(i) - 1;
            continue;
        }
        ++totals_.Dirs;
        if (damagedFolder(n)) i = tree.SubtreeEnd(i) - 1;
    }
}

}  // namespace brenvale::app
