#pragma once
// Copies entries of the "!!! Advanced Extra !!!" tree out of the scanned object, with the
// geometry the advanced scan worked out: NTFS records from where they were harvested, their
// data runs from the solved volume start; FAT and exFAT entries from the solved data area.
// Names, times, unique names, status codes and the stop flag are those of standard recovery
// (through the scan object's callbacks).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "advscan/adv_tree.h"
#include "scan/undelete.h"

namespace brenvale::advscan {

class AdvancedScan;

// File-system kinds of the tree's parts: NTFS, exFAT; any other value is the FAT width.
inline constexpr std::uint8_t kAdvNtfs = 3;
inline constexpr std::uint8_t kAdvExFat = 4;

class AdvRecovery {
public:
    AdvRecovery(const AdvancedScan& adv, scan::TUndelete& scan);

    // The kind a node's entry is recovered as.
    std::uint8_t FsTypeOf(const AdvNode& node) const;

    // Forgets what this command wrote: each entry is written once per command.
    void ClearRecoveredFiles() { recovered_.clear(); }
    // One entry as a file `name` in folder `path` (created when missing); true when written.
    bool AdvRecoverFile(const scan::TScanEntry* e, std::uint8_t fsType, const std::string& name, const std::string& path);
    // The first min(size, file size) bytes (size below 1: 65536), for a preview.
    bool AdvRecoverFileToBuf(const scan::TScanEntry* e, std::uint8_t fsType, std::vector<std::byte>& buffer, std::int64_t size);
    // A node of the tree into `dest`: a file as a file, a folder as a folder holding what the
    // tree shows below it.
    bool RecoverNode(const AdvTree& tree, std::size_t node, const std::string& dest);
    // The files and bytes RecoverNode would write.
    scan::TUndelete::RecoveryTotals CountNode(const AdvTree& tree, std::size_t node) const;
    // The bytes of an entry's file as listed (64-bit for exFAT).
    std::uint64_t SizeOf(const AdvNode& node) const;

    // Why NTFS records could not be located or read, one line each.
    std::vector<std::string> Diag;

private:
    using Sink = std::function<bool(std::span<const std::byte>)>;
    // The entry's bytes, at most `limit` of them, into `sink`; a status code, or -1 for a
    // failure that has none.
    std::int32_t copyData(const scan::TScanEntry* e, std::uint8_t fsType, std::uint64_t limit, bool interactive, const Sink& sink);
    std::int32_t copyNtfs(const scan::tntfsfilerecord& r, std::uint64_t limit, bool interactive, const Sink& sink);
    std::int32_t copyClusters(const std::vector<std::uint32_t>& chain, std::int64_t heap, std::int32_t spc, std::uint64_t size,
                              std::uint64_t limit, bool interactive, const Sink& sink);
    // Reads whole sectors at a sector relative to the object; false unless all were read.
    bool readRel(std::int64_t rel, std::span<std::byte> into);
    bool readAbs(std::uint64_t abs, std::span<std::byte> into);
    void progress(std::uint64_t done, std::uint64_t total, bool interactive) const;

    const AdvancedScan& adv_;
    scan::TUndelete& scan_;
    std::uint32_t bps_;
    std::unordered_set<const void*> recovered_;
};

}  // namespace brenvale::advscan
