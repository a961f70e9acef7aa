#include "scan/entry_facts.h"

#include "storage/fs_types.h"

namespace brenvale::scan {

namespace {

template <class E, class R>
EntryFacts describe(const E& e, const R& d) {
    EntryFacts f;
    f.name = EntryDisplayName(e);
    f.folder = IsFolder(e);
    f.status = e.Status;
    f.size = d.filesize;
    f.createdate = d.createdate;
    f.createtime = d.createtime;
    f.updatedate = d.updatedate;
    f.updatetime = d.updatetime;
    f.accessdate = d.accessdate;
    f.firstCluster = FirstCluster(e);
    f.parent = e.Parent;
    return f;
}

}  // namespace

EntryFacts DescribeEntry(const TUndelete& scan, const TScanEntry* entry) {
    if (scan.FileSystem() == storage::kFsFat32) {
        const auto& e = *static_cast<const TMidEntry32*>(entry);
        return describe(e, e.FDT32Entry);
    }
    const auto& e = *static_cast<const TMidEntry*>(entry);
    EntryFacts f = describe(e, e.FDTEntry);
    if (scan.FileSystem() == storage::kFsExfat) f.firstCluster = e.DirClusNum;
    return f;
}

}  // namespace brenvale::scan
