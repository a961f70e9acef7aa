#include "scan/entry_facts.h"

#include "scan/dos_time.h"
#include "storage/fs_types.h"

namespace brenvale::scan {

namespace {

std::optional<std::string> dosTime(std::uint16_t date, std::uint16_t time) {
    const auto t = DecodeDosDateTime(date, time);
    if (!t) return std::nullopt;
    return IsoDateTime(*t);
}

template <class E, class R>
EntryFacts describe(const E& e, const R& d) {
    EntryFacts f;
    f.name = EntryDisplayName(e);
    f.folder = IsFolder(e);
    f.status = e.Status;
    f.size = d.filesize;
    f.modified = dosTime(d.updatedate, d.updatetime);
    f.created = dosTime(d.createdate, d.createtime);
    f.accessed = dosTime(d.accessdate, 0);
    f.firstCluster = FirstCluster(e);
    f.parent = e.Parent;
    return f;
}

EntryFacts describeNtfs(const tntfsfilerecord& e) {
    EntryFacts f;
    f.name = e.filename;
    f.folder = IsFolder(e);
    bool deleted = IsDeleted(e);
    for (const tntfsfilerecord* p = e.Parent; p && !deleted; p = p->Parent) deleted = IsDeleted(*p);
    // A torn record is listed, but what it says may be half old and half new.
    f.status = e.torn ? kStatusDamaged : deleted ? kStatusDeleted : kStatusLive;
    f.size = e.realsize;
    const storage::TFileNameAttrHead h = e.head;
    f.modified = FileTimeIso(h.FileAlteredTime);
    f.created = FileTimeIso(h.FileCreateTime);
    f.accessed = FileTimeIso(h.FileReadTime);
    f.record = e.recordnumber;
    f.parent = e.Parent;
    return f;
}

}  // namespace

EntryFacts DescribeEntry(const TUndelete& /*scan*/, const TScanEntry* entry) {
    switch (entry->Kind()) {
        case EntryKind::Ntfs: return describeNtfs(*AsNtfs(entry));
        case EntryKind::Fat32: {
            const auto& e = *AsMid32(entry);
            return describe(e, e.FDT32Entry);
        }
        case EntryKind::Fat: break;
        case EntryKind::ExFat: {
            const auto& e = *AsMid(entry);
            EntryFacts f = describe(e, e.FDTEntry);
            f.firstCluster = e.DirClusNum;
            f.size = EntrySize(e);
            return f;
        }
    }
    const auto& e = *AsMid(entry);
    return describe(e, e.FDTEntry);
}

}  // namespace brenvale::scan
