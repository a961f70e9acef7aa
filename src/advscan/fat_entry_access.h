#pragma once
// The FAT stages keep FAT12/16 entries as TMidEntry and FAT32 entries as TMidEntry32; these
// reach the fields both have, whichever record holds them.

#include <cstddef>
#include <cstring>
#include <span>
#include <type_traits>

#include "scan/entry_cast.h"

namespace brenvale::advscan::fatentry {

template <class F>
decltype(auto) visit(scan::TScanEntry* e, F&& f) {
    if (e->Kind() == scan::EntryKind::Fat32) return f(*scan::AsMid32(e));
    return f(*scan::AsMid(e));
}
template <class F>
decltype(auto) visit(const scan::TScanEntry* e, F&& f) {
    if (e->Kind() == scan::EntryKind::Fat32) return f(*scan::AsMid32(e));
    return f(*scan::AsMid(e));
}

inline const storage::TFDTEntry& slotOf(const scan::TMidEntry& m) { return m.FDTEntry; }
inline const storage::TFDT32Entry& slotOf(const scan::TMidEntry32& m) { return m.FDT32Entry; }
inline storage::TFDTEntry& slotOf(scan::TMidEntry& m) { return m.FDTEntry; }
inline storage::TFDT32Entry& slotOf(scan::TMidEntry32& m) { return m.FDT32Entry; }

// The 32 bytes as read (a deleted entry's first byte is "_").
inline std::span<const std::byte, 32> bytes(const scan::TScanEntry* e) {
    return visit(e, [](const auto& m) { return std::span<const std::byte, 32>(reinterpret_cast<const std::byte*>(&slotOf(m)), 32); });
}
inline std::uint8_t byteAt(const scan::TScanEntry* e, std::size_t i) { return std::to_integer<std::uint8_t>(bytes(e)[i]); }
inline bool isFolder(const scan::TScanEntry* e) { return (byteAt(e, 11) & 0x10) != 0; }
inline bool isDeleted(const scan::TScanEntry* e) { return byteAt(e, 0) == '_' || byteAt(e, 0) == 0xE5; }
inline std::int64_t dirSect(const scan::TScanEntry* e) { return visit(e, [](const auto& m) { return m.DirSectNum; }); }
inline void setDirSect(scan::TScanEntry* e, std::int64_t s) { visit(e, [s](auto& m) { m.DirSectNum = s; }); }
inline std::uint32_t dirClus(const scan::TScanEntry* e) { return visit(e, [](const auto& m) { return m.DirClusNum; }); }
inline void setDirClus(scan::TScanEntry* e, std::uint32_t c) { visit(e, [c](auto& m) { m.DirClusNum = c; }); }
inline bool regularDir(const scan::TScanEntry* e) { return visit(e, [](const auto& m) { return m.RegularDir; }); }
inline void setStatus(scan::TScanEntry* e, std::uint8_t s) { visit(e, [s](auto& m) { m.Status = s; }); }
// Entries of one enumeration are all of one kind: a parent is of its child's.
inline void setParent(scan::TScanEntry* e, scan::TScanEntry* parent) {
    visit(e, [parent](auto& m) { m.Parent = parent ? static_cast<std::remove_reference_t<decltype(*m.Parent)>*>(parent) : nullptr; });
}

}  // namespace brenvale::advscan::fatentry
