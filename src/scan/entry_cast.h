#pragma once
// Checked access to the record behind a TScanEntry: the kind tag is tested (in debug builds)
// before the cast, and VisitEntry dispatches on it.

#include <cassert>

#include "scan/mid_entry.h"
#include "scan/ntfs_entry.h"

namespace brenvale::scan {

inline bool IsNtfsEntry(const TScanEntry* e) { return e->Kind() == EntryKind::Ntfs; }
inline bool IsMidEntry(const TScanEntry* e) { return e->Kind() == EntryKind::Fat || e->Kind() == EntryKind::ExFat; }

inline const tntfsfilerecord* AsNtfs(const TScanEntry* e) {
    assert(e && IsNtfsEntry(e));
    return static_cast<const tntfsfilerecord*>(e);
}
inline tntfsfilerecord* AsNtfs(TScanEntry* e) {
    assert(e && IsNtfsEntry(e));
    return static_cast<tntfsfilerecord*>(e);
}
inline const TMidEntry* AsMid(const TScanEntry* e) {
    assert(e && IsMidEntry(e));
    return static_cast<const TMidEntry*>(e);
}
inline TMidEntry* AsMid(TScanEntry* e) {
    assert(e && IsMidEntry(e));
    return static_cast<TMidEntry*>(e);
}
inline const TMidEntry32* AsMid32(const TScanEntry* e) {
    assert(e && e->Kind() == EntryKind::Fat32);
    return static_cast<const TMidEntry32*>(e);
}
inline TMidEntry32* AsMid32(TScanEntry* e) {
    assert(e && e->Kind() == EntryKind::Fat32);
    return static_cast<TMidEntry32*>(e);
}

// Calls f with the record as its own type (const tntfsfilerecord&, const TMidEntry32& or
// const TMidEntry&).
template <class F>
decltype(auto) VisitEntry(const TScanEntry* e, F&& f) {
    switch (e->Kind()) {
        case EntryKind::Ntfs: return f(*AsNtfs(e));
        case EntryKind::Fat32: return f(*AsMid32(e));
        case EntryKind::Fat:
        case EntryKind::ExFat: break;
    }
    return f(*AsMid(e));
}

}  // namespace brenvale::scan
