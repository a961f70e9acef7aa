#include "advscan/ntfs_stages.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <map>
#include <unordered_set>

namespace brenvale::advscan {

namespace {

constexpr std::uint64_t kRoot = 5;
constexpr std::array<std::uint32_t, 3> kRecordLengths = {1024, 2048, 4096};
constexpr std::size_t kProgressStep = 16384;
constexpr std::int64_t kMinStrideVotes = 16;

std::uint64_t parentOf(const scan::tntfsfilerecord* r) {
    return r->head.FileReferenceOfParentDir.recordNumber();
}

}  // namespace

std::int32_t ChooseSectorsPerCluster(const SpcVotes& votes) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < votes.size(); ++i) {
        if (votes[i] > votes[best]) best = i;
    }
    return std::int32_t{1} << best;
}

void SortByParentAndName(std::vector<scan::tntfsfilerecord*>& list) {
    std::stable_sort(list.begin(), list.end(), [](const scan::tntfsfilerecord* a, const scan::tntfsfilerecord* b) {
        const std::uint64_t pa = parentOf(a), pb = parentOf(b);
        if (pa != pb) return pa < pb;
        return a->filename < b->filename;
    });
}

NtfsFolders AdvSortNtfsRecords(HarvestLists& lists, const scan::tntfsfilerecord& folderTemplate,
                               const StageProgress& progress) {
    NtfsFolders out;
    auto& list = lists.NTFSFileList;
    // A stage run again (a resumed scan) makes its folders afresh: a parent found since
    // needs none.
    if (!lists.Placeholders.empty()) {
        const std::unordered_set<const scan::tntfsfilerecord*> made(lists.Placeholders.begin(), lists.Placeholders.end());
        std::erase_if(list, [&](const scan::tntfsfilerecord* r) { return made.contains(r); });
        lists.Placeholders.clear();
    }
    SortByParentAndName(list);
    std::unordered_set<std::int64_t> numbers;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::uint64_t parent = parentOf(list[i]);
        if (parent != 0 && parent != kRoot && (out.Dirs.empty() || out.Dirs.back() != parent)) out.Dirs.push_back(parent);
        numbers.insert(list[i]->recordnumber);
        if (progress && i % kProgressStep == 0) progress(static_cast<int>(i * 50 / std::max<std::size_t>(list.size(), 1)));
    }
    for (std::size_t i = 0; i < out.Dirs.size(); ++i) {
        const std::uint64_t dir = out.Dirs[i];
        if (progress && i % 1024 == 0) progress(50 + static_cast<int>(i * 50 / out.Dirs.size()));
        if (numbers.contains(static_cast<std::int64_t>(dir))) continue;
        out.TopDirs.push_back(dir);
        scan::tntfsfilerecord& folder = lists.NtfsRecords.emplace_back(folderTemplate);
        folder.recordnumber = static_cast<std::int64_t>(dir);
        folder.head.FileReferenceOfParentDir = storage::makeFileReference(kRoot, 0);
        folder.filename = fmt::format("Folder{:08X}", dir);
        folder.flag = 2;
        list.push_back(&folder);
        lists.Placeholders.push_back(&folder);
    }
    if (!out.TopDirs.empty()) SortByParentAndName(list);
    return out;
}

std::size_t AdvFixLegacyNtfsRecNumbers(HarvestLists& lists, std::uint32_t bytesPerSector,
                                       const std::unordered_map<std::int64_t, std::int64_t>& known, const Diag& diag) {
    auto& list = lists.NTFSFileList;
    const auto waiting = static_cast<std::size_t>(
        std::count_if(list.begin(), list.end(), [](const auto* r) { return r->recordnumber < 0; }));
    if (waiting == 0) return 0;
    const std::int64_t bps = bytesPerSector ? bytesPerSector : 512;

    std::unordered_map<std::int64_t, std::int64_t> numberAt;
    std::unordered_set<std::int64_t> numbers;
    for (const auto* r : list) {
        if (r->recordnumber < 0) continue;
        numberAt.emplace(r->sectornumber, r->recordnumber);
        numbers.insert(r->recordnumber);
    }
    for (const auto& [sector, number] : known) numberAt.emplace(sector, number);

    // The stride between neighbouring records: the record length that most pairs of numbered
    // records one stride apart agree with.
    std::int64_t stride = 0, votes = 0;
    for (std::uint32_t length : kRecordLengths) {
        const std::int64_t s = length / bps;
        if (s <= 0) continue;
        std::int64_t count = 0;
        for (const auto& [sector, number] : numberAt) {
            const auto next = numberAt.find(sector + s);
            if (next != numberAt.end() && next->second == number + 1) ++count;
        }
        if (count > votes) {
            stride = s;
            votes = count;
        }
    }
    if (stride == 0 || votes < kMinStrideVotes) {
        if (diag) {
            diag(fmt::format("Legacy record numbers: skipped (stride {}, {} pairs agree, {} records without a number)",
                             stride, votes, waiting));
        }
        return 0;
    }

    std::size_t filled = 0;
    for (std::size_t i = 0; i < list.size();) {
        if (list[i]->recordnumber >= 0) {
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < list.size() && list[end]->recordnumber < 0 &&
               list[end]->sectornumber == list[end - 1]->sectornumber + stride)
            ++end;
        const auto before = numberAt.find(list[i]->sectornumber - stride);
        const auto after = numberAt.find(list[end - 1]->sectornumber + stride);
        const auto run = static_cast<std::int64_t>(end - i);
        if (before != numberAt.end() && after != numberAt.end() && after->second - before->second == run + 1) {
            for (std::size_t k = i; k < end; ++k) {
                const std::int64_t number = before->second + static_cast<std::int64_t>(k - i) + 1;
                if (!numbers.insert(number).second) continue;  // taken: this record stays unnumbered
                list[k]->recordnumber = number;
                ++filled;
            }
        }
        i = end;
    }
    if (diag) {
        diag(fmt::format("Legacy record numbers: stride {} ({} pairs agree), {} without a number, {} filled, {} still unknown",
                         stride, votes, waiting, filled, waiting - filled));
    }
    return filled;
}

NtfsVolumeStart AdvSolveNtfsGeometry(const HarvestLists& lists, std::int32_t sectorsPerCluster,
                                     std::uint32_t bytesPerSector, const Diag& diag, const StageProgress& progress) {
    NtfsVolumeStart out;
    const auto& list = lists.NTFSFileList;
    if (list.size() < 2 || sectorsPerCluster <= 0) return out;
    const std::int64_t bps = bytesPerSector ? bytesPerSector : 512;
    const std::int64_t spc = sectorsPerCluster;
    const auto r0 = std::find_if(list.begin(), list.end(), [](const auto* r) { return r->recordnumber == 0; });
    if (r0 == list.end()) return out;
    const std::int64_t s0 = (*r0)->sectornumber;
    const std::int64_t mft0 = (*r0)->tmpsectnum;

    // Families: records 4 to 63 that agree on where record 0 of their table lies.
    std::int64_t bestBase = 0, bestCount = 0;
    std::uint32_t bestLength = 0;
    for (std::size_t li = 0; li < kRecordLengths.size(); ++li) {
        const std::uint32_t length = kRecordLengths[li];
        std::map<std::int64_t, std::int64_t> families;
        for (std::size_t i = 0; i < list.size(); ++i) {
            const auto* r = list[i];
            if (progress && i % kProgressStep == 0)
                progress(static_cast<int>((li * 100 + i * 100 / list.size()) / kRecordLengths.size()));
            if (r->recordnumber < 4 || r->recordnumber > 63) continue;
            const std::int64_t base = r->sectornumber - r->recordnumber * length / bps;
            if (base >= 0) ++families[base];
        }
        for (const auto& [base, count] : families) {
            if (count > bestCount) {
                bestBase = base;
                bestCount = count;
                bestLength = length;
            }
        }
    }
    auto accept = [&](std::int64_t start, const std::string& why) {
        out.Solved = true;
        out.Base = start;
        if (diag) diag(why);
    };

    if (bestCount < 2) {
        if (mft0 > 0 && s0 - mft0 * spc >= 0) {
            accept(s0 - mft0 * spc,
                   fmt::format("Volume start from record 0 alone: record at sector {}, record length {}, table at cluster "
                               "{}, {} sectors per cluster: volume at sector {}",
                               s0, bestCount ? bestLength : 0, mft0, spc, s0 - mft0 * spc));
        }
        return out;
    }
    if (bestBase == s0) {
        if (mft0 > 0 && s0 - mft0 * spc >= 0) {
            accept(s0 - mft0 * spc,
                   fmt::format("Volume start from the table: family at sector {}, record length {}, {} records, table at "
                               "cluster {}: volume at sector {}",
                               bestBase, bestLength, bestCount, mft0, s0 - mft0 * spc));
        }
        return out;
    }
    // Record 0 was met in the mirror: record 1 right after it gives the mirror's own cluster,
    // and both views of the volume's start must agree.
    const std::int64_t m1Sector = s0 + bestLength / bps;
    const auto m1 = std::find_if(list.begin(), list.end(),
                                 [&](const auto* r) { return r->recordnumber == 1 && r->sectornumber == m1Sector; });
    if (m1 == list.end() || (*m1)->tmpsectnum <= 0 || mft0 <= 0) return out;
    const std::int64_t a = s0 - (*m1)->tmpsectnum * spc;
    const std::int64_t b = bestBase - mft0 * spc;
    if (a >= 0 && a == b) {
        accept(a, fmt::format("Volume start from the mirror: family at sector {}, mirror at sector {}, record length {}, "
                              "table at cluster {}, mirror at cluster {}: volume at sector {}",
                              bestBase, s0, bestLength, mft0, (*m1)->tmpsectnum, a));
    }
    return out;
}

}  // namespace brenvale::advscan
