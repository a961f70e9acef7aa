// Clusters under the solved geometry, the found FAT's values (its sectors read once) and the
// cluster chains of directories.

#include <algorithm>
#include <unordered_set>

#include "advscan/fat_entry_access.h"
#include "advscan/fat_stages.h"
#include "storage/le.h"

namespace brenvale::advscan {

namespace {

constexpr std::uint32_t kNoValue = 0xFFFFFFFF;
constexpr std::uint32_t kMaxChain = 4096;
constexpr std::size_t kMaxCachedSectors = 8192;  // 4 MiB of a table of 512-byte sectors

}  // namespace

FatRebuild::FatRebuild(ReadRelSectors read, std::uint32_t sectorBytes, std::uint64_t objectSectors)
    : read_(std::move(read)), sectorBytes_(sectorBytes ? sectorBytes : 512), objectSectors_(objectSectors) {}

std::int64_t FatRebuild::dataSectorOf(std::uint32_t clus) const {
    return *RootSectNum + (std::int64_t{clus} - 2) * SectorsPerClus;
}

std::int64_t FatRebuild::AdvClusSector(std::uint32_t clus) const {
    if (clus <= 1 || SectorsPerClus <= 0 || !RootSectNum || *RootSectNum <= 1) return -1;
    return dataSectorOf(clus);
}

std::uint32_t FatRebuild::WidthClusOf(const scan::TScanEntry* e) const {
    const std::uint32_t lo = storage::le16(fatentry::bytes(e), 26);
    return FatType == kFat32 ? (std::uint32_t{storage::le16(fatentry::bytes(e), 20)} << 16) | lo : lo;
}

std::uint32_t FatRebuild::FatClusOf(const scan::TScanEntry* e) const {
    return e ? checkedClus(fatentry::bytes(e)) : 0;
}

std::uint32_t FatRebuild::checkedClus(std::span<const std::byte> slot) const {
    const std::uint32_t lo = storage::le16(slot, 26), hi = storage::le16(slot, 20);
    if (hi == 0) return lo;
    const std::uint32_t c = (hi << 16) | lo;
    if (c >= 0x10000000) return lo;
    if (SectorsPerClus > 0 && RootSectNum) {
        const std::int64_t s = dataSectorOf(c);
        if (s < 0 || (objectSectors_ > 0 && static_cast<std::uint64_t>(s) >= objectSectors_)) return lo;
    }
    return c;
}

std::uint32_t FatRebuild::AdvFatEntryOf(std::uint32_t clus) {
    if (!FatOK || FatStart < 0) return kNoValue;
    const std::uint64_t pos = std::uint64_t{clus} * FatEntryBytes;
    const std::int64_t sector = FatStart + static_cast<std::int64_t>(pos / sectorBytes_);
    auto it = fatCache_.find(sector);
    if (it == fatCache_.end()) {
        if (fatCache_.size() >= kMaxCachedSectors) fatCache_.clear();
        std::vector<std::byte> bytes(sectorBytes_);
        if (read_(sector, 1, bytes) < std::min<std::uint32_t>(512, sectorBytes_)) return kNoValue;
        it = fatCache_.emplace(sector, std::move(bytes)).first;
    }
    const auto at = static_cast<std::size_t>(pos % sectorBytes_);
    if (FatEntryBytes == 4) return storage::le32(it->second, at) & 0x0FFFFFFF;
    return storage::le16(it->second, at);
}

std::uint32_t FatRebuild::AdvDirClusChain(std::uint32_t firstClus, std::vector<std::uint32_t>& chain) {
    chain.clear();
    if (!FatOK || firstClus <= 1) return 0;
    chain.push_back(firstClus);
    std::unordered_set<std::uint32_t> seen{firstClus};
    const std::uint32_t end = FatEntryBytes == 4 ? 0x0FFFFFF8 : 0xFFF8;
    std::vector<std::byte> sector(std::max<std::uint32_t>(sectorBytes_, 512));
    for (std::uint32_t current = firstClus;;) {
        const std::uint32_t next = AdvFatEntryOf(current);
        if (next == kNoValue) return 0;
        if (next == 0 || next >= end) return static_cast<std::uint32_t>(chain.size());
        if (next < 2 || (FatMaxClus && next > FatMaxClus) || !seen.insert(next).second) return 0;
        const std::int64_t at = AdvClusSector(next);
        if (at < 0 || read_(at, 1, sector) < 512) return 0;
        bool empty = true;
        for (std::size_t slot = 0; slot < 16; ++slot) {
            const std::uint8_t first = std::to_integer<std::uint8_t>(sector[slot * 32]);
            const std::uint8_t attr = std::to_integer<std::uint8_t>(sector[slot * 32 + 11]);
            if (attr >= 0x40 || (first == 0 && attr != 0)) return 0;  // not a directory cluster
            if (first != 0 || attr != 0) empty = false;
        }
        if (empty) return static_cast<std::uint32_t>(chain.size());  // the directory ends before it
        chain.push_back(next);
        if (chain.size() >= kMaxChain) return static_cast<std::uint32_t>(chain.size());
        current = next;
    }
}

}  // namespace brenvale::advscan
