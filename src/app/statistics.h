#pragma once
// "Statistics": the folders and files below what is selected, and the files' total size, for
// the standard scan's entries and the advanced scan's rebuilt tree alike. Each folder counts
// once however often it is reached, and a file listed twice counts once.

#include <cstdint>
#include <string>
#include <unordered_set>

#include "advscan/adv_tree.h"
#include "scan/undelete.h"

namespace brenvale::app {

inline constexpr char kStatisticsCaption[] = "Statistics";
inline constexpr char kNothingToCount[] = "Nothing to count. Select one or more files or folders.";

struct StatTotals {
    std::uint64_t Dirs = 0;
    std::uint64_t Files = 0;
    std::uint64_t Size = 0;
};

class StatCounter {
public:
    // A standard-scan entry (null: the whole volume's root folder). With `onlyDeleted`, a
    // folder whose subtree holds no deleted entry is neither counted nor entered, and only
    // deleted files count.
    void CountStandard(scan::TUndelete& scan, const scan::TScanEntry* entry, bool onlyDeleted);
    // A node of the rebuilt tree. The tree's roots ("!!! Advanced Extra !!!", "NTFS Root",
    // "FAT Root", "exFAT Root") are not folders of the volume and do not count themselves.
    void CountAdvanced(const advscan::AdvTree& tree, std::size_t node);

    const StatTotals& Totals() const { return totals_; }

private:
    void standardFolder(scan::TUndelete& scan, const scan::TScanEntry* dir, bool countIt, bool onlyDeleted);
    void file(const void* entry, std::uint64_t size);

    StatTotals totals_;
    std::unordered_set<std::uint64_t> standardSeen_;
    std::unordered_set<const void*> advancedSeen_;  // folders and files of the rebuilt tree
    std::unordered_set<const void*> filesSeen_;
};

// The message: the title, then "Directories: ", "Files: " and "Total size: " lines (numbers
// with "," every three digits), and the skipped rows when there were any.
std::string StatisticsMessage(const std::string& title, const StatTotals& totals, std::int32_t skipped);
// 1234567 -> "1,234,567".
std::string GroupedNumber(std::uint64_t n);

}  // namespace brenvale::app
