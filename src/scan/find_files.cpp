// The search over the entries of a standard scan: names, dates, sizes, deleted-only.

#include <cstring>
#include <ctime>

#include "scan/dos_time.h"
#include "scan/name_pattern.h"
#include "scan/undelete.h"
#include "storage/fs_types.h"

namespace brenvale::scan {

namespace {

constexpr int kMaxSearchDepth = 1000;

// Days since 1899-12-30 of a civil date, the day count the search's dates are given in.
double dayNumber(int y, int m, int d) {
    // Days from 1970-01-01 (Howard Hinnant's algorithm), then moved to the 1899 origin.
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<double>(era * 146097 + doe - 719468) + 25569.0;
}

double toDateTime(const DosDateTime& t) {
    return dayNumber(t.year, t.month, t.day) + (t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
}

// An NTFS time as local time in two-second steps; nullopt for 0.
std::optional<double> ntfsDate(std::uint64_t fileTime) {
    auto t = FileTimeLocal(fileTime);
    if (!t) return std::nullopt;
    t->second = t->second / 2 * 2;
    return toDateTime(*t);
}

}  // namespace

std::optional<double> EntrySearchDate(const TScanEntry* e, int dateType) {
    if (IsNtfsEntry(e)) {
        const storage::TFileNameAttrHead h = AsNtfs(e)->head;
        return ntfsDate(dateType == 0 ? h.FileCreateTime : dateType == 1 ? h.FileAlteredTime : h.FileReadTime);
    }
    // The date fields sit at the same offsets in both readings of the entry.
    storage::TFDTEntry d{};
    if (e->Kind() == EntryKind::Fat32) {
        std::memcpy(&d, &AsMid32(e)->FDT32Entry, sizeof d);
    } else {
        d = AsMid(e)->FDTEntry;
    }
    const auto t = dateType == 0   ? DecodeDosDateTime(d.createdate, d.createtime)
                   : dateType == 1 ? DecodeDosDateTime(d.updatedate, d.updatetime)
                                   : DecodeDosDateTime(d.accessdate, 0);
    if (!t) return std::nullopt;
    return toDateTime(*t);
}

struct TUndelete::SearchQuery {
    std::string name;
    bool caseSensitive = false;
    int dateType = 0;
    double dateFrom = 0, dateTo = 0;
    std::int64_t sizeMin = -1, sizeMax = -1;
    bool onlyDeleted = false;
    bool subDirs = true;
    mutable bool ended = false;
};

bool TUndelete::findIn(const TScanEntry* aDir, const SearchQuery& q, std::vector<TScanEntry*>& FileList, int depth) {
    std::int32_t first = 0, last = static_cast<std::int32_t>(ScannedFiles.size()) - 1;
    if (aDir && !GetDirBounds(DelKeyOfEntry(aDir), first, last)) return true;
    for (std::int32_t i = first; i <= last && !q.ended; ++i) {
        if (FileList.size() > kMaxSearchHits) {
            if (FUi) FUi->ShowMessage(storage::MessageKind::Warning, kTooManySearchHits, storage::kAppTitle);
            q.ended = true;
            break;
        }
        TScanEntry* e = ScannedFiles[static_cast<std::size_t>(i)];
        if (aDir && EntryParent(e) != aDir) continue;

        bool pass = true;
        if (q.dateFrom != 0) {
            // An entry without a valid date is not excluded by a date range.
            const double v = EntrySearchDate(e, q.dateType).value_or(q.dateFrom);
            pass = v >= q.dateFrom && v <= q.dateTo;
        }
        if (pass && q.sizeMin >= 0 && q.sizeMax >= 0) {
            const std::uint64_t size = EntryDataSize(e);
            pass = size >= static_cast<std::uint64_t>(q.sizeMin) && size <= static_cast<std::uint64_t>(q.sizeMax);
        }
        if (pass && q.onlyDeleted) pass = DelEntryIsDeleted(e);
        if (pass && !q.name.empty()) pass = MatchesPatternList(q.name, EntryDisplayName(e), q.caseSensitive);
        if (pass) FileList.push_back(e);
        if (q.subDirs && aDir && DelEntryIsDir(e) && depth < kMaxSearchDepth) findIn(e, q, FileList, depth + 1);
    }
    return true;
}

bool TUndelete::FindFiles(const std::string& FName, bool CaseSensi, int DateType, double DateFrom, double DateTo,
                          std::int64_t SizeMin, std::int64_t SizeMax, const TScanEntry* aDir, bool IsOnlyDeleted,
                          bool SearchSubDir, std::vector<TScanEntry*>& FileList) {
    try {
        SearchQuery q{FName, CaseSensi, DateType, DateFrom, DateTo, SizeMin, SizeMax, IsOnlyDeleted, SearchSubDir};
        return findIn(aDir, q, FileList, 0);
    } catch (const std::exception& e) {
        ReportException(e);
        return false;
    }
}

double SearchDayNumber(int year, int month, int day) { return dayNumber(year, month, day); }

}  // namespace brenvale::scan
