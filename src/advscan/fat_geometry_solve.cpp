// The FAT geometry without a boot sector: the cluster size and the sector of cluster 2 that
// pairs of directories agree on, a default when they do not, and a boot sector and FAT found
// below the data area that agree with it.

#include <algorithm>
#include <array>
#include <map>

#include "advscan/fat_entry_access.h"
#include "advscan/fat_stages.h"
#include "storage/le.h"

namespace brenvale::advscan {

namespace {

using storage::le16;
using storage::le32;

constexpr std::uint32_t kSeed = 5'904'323;
constexpr int kTrials = 1001;
constexpr int kDrawsPerEntry = 21;
constexpr std::uint32_t kFatSearchSectors = 65536;
constexpr std::uint32_t kFatSearchRead = 128;
// The cluster count at which a layout's FAT widens from 16 to 32 bits (from 12 to 16:
// kFat12MaxClusters).
constexpr std::uint64_t kFat32Clusters = 65525;

bool isPow2UpTo(std::uint32_t v, std::uint32_t max) { return v >= 1 && v <= max && (v & (v - 1)) == 0; }

std::uint8_t u8(std::span<const std::byte> d, std::size_t at) { return std::to_integer<std::uint8_t>(d[at]); }

// The pseudo-random draws of the geometry trials: the same sequence on every run, so a scan
// solves a disk the same way each time.
class Draws {
public:
    std::uint32_t next(std::uint32_t n) {
        seed_ = seed_ * 134'775'813u + 1u;
        return static_cast<std::uint32_t>((std::uint64_t{seed_} * n) >> 32);
    }

private:
    std::uint32_t seed_ = kSeed;
};

struct Candidate {
    std::int32_t spc;
    std::int64_t dataStart;
    auto operator<=>(const Candidate&) const = default;
};

// Two directories give a candidate when their sectors and clusters move the same way by a
// whole number of sectors per cluster.
std::optional<Candidate> candidateOf(const scan::TScanEntry* a, const scan::TScanEntry* b) {
    const std::int64_t dc = std::int64_t{fatentry::dirClus(a)} - fatentry::dirClus(b);
    const std::int64_t ds = fatentry::dirSect(a) - fatentry::dirSect(b);
    if (dc == 0 || ds == 0 || (dc > 0) != (ds > 0) || ds % dc != 0) return std::nullopt;
    const std::int64_t q = ds / dc;
    if (q > 128 || !isPow2UpTo(static_cast<std::uint32_t>(q), 128)) return std::nullopt;
    return Candidate{static_cast<std::int32_t>(q), fatentry::dirSect(a) - (std::int64_t{fatentry::dirClus(a)} - 2) * q};
}

// Default cluster sizes by volume size in MiB: the first row whose bound the size reaches.
struct SizeRow {
    std::uint64_t fromMiB;
    std::int32_t spc;
};
constexpr std::array<SizeRow, 10> kFat32Defaults{{{16384, 32}, {8192, 16}, {4096, 8}, {2048, 8}, {1025, 8},
                                                  {512, 8}, {256, 8}, {128, 4}, {64, 2}, {32, 1}}};
constexpr std::array<SizeRow, 9> kFat16Defaults{{{8192, 512}, {4096, 256}, {2048, 128}, {1024, 64}, {512, 32},
                                                 {256, 16}, {128, 8}, {16, 4}, {0, 8}}};

}  // namespace

std::uint8_t FatTypeFromBootSector(const storage::TBootSector& boot, std::uint8_t fsCode) {
    if (fsCode >= 3) return kFatUnknown;
    const std::span<const std::byte> s(boot.Sector);
    const std::uint32_t bps = le16(s, 11), spc = u8(s, 13), reserved = le16(s, 14), fats = u8(s, 16);
    const std::uint32_t fatSize = le16(s, 22) ? le16(s, 22) : (fsCode == kFat32 ? le32(s, 36) : 0);
    const std::uint32_t total = le16(s, 19) ? le16(s, 19) : le32(s, 32);
    if ((bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) || !isPow2UpTo(spc, 128) || spc * bps > 65536 ||
        reserved == 0 || fats < 1 || fats > 4 || fatSize == 0 || total == 0) {
        return kFatUnknown;
    }
    const std::uint64_t rootSectors = fsCode == kFat32 ? 0 : (std::uint64_t{le16(s, 17)} * 32 + bps - 1) / bps;
    const std::uint64_t meta = reserved + std::uint64_t{fats} * fatSize + rootSectors;
    if (total <= meta) return kFatUnknown;
    const std::uint64_t clusters = (total - meta) / spc;
    return clusters < static_cast<std::uint64_t>(kFat12MaxClusters) ? kFat12 : clusters < kFat32Clusters ? kFat16 : kFat32;
}

bool FatRebuild::AdvSolveFatGeometry(const scan::TScanEntry* file1, const scan::TScanEntry* file2) {
    if (file1 && file2) {
        const auto c = candidateOf(file1, file2);
        if (!c) return false;
        SectorsPerClus = c->spc;
        RootSectNum = c->dataStart;
        return true;
    }
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(FatFileList.size(), UINT32_MAX));
    if (n < 2) {
        fallbackGeometry();
        return true;
    }
    Draws draws;
    auto drawRegular = [&]() -> const scan::TScanEntry* {
        const scan::TScanEntry* e = nullptr;
        int made = 0;
        do {
            e = FatFileList[draws.next(n)];
            ++made;
        } while (!fatentry::regularDir(e) && made < kDrawsPerEntry);
        return made == kDrawsPerEntry ? nullptr : e;  // the last draw does not count, even a hit
    };
    std::vector<std::pair<Candidate, int>> tally;  // in the order first met
    std::map<Candidate, std::size_t> at;
    int total = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        const scan::TScanEntry* a = drawRegular();
        if (!a) continue;
        const scan::TScanEntry* b = drawRegular();
        if (!b) continue;
        const auto c = candidateOf(a, b);
        if (!c) continue;
        const auto [it, fresh] = at.emplace(*c, tally.size());
        if (fresh) tally.emplace_back(*c, 0);
        ++tally[it->second].second;
        ++total;
    }
    const auto best = std::max_element(tally.begin(), tally.end(), [](const auto& x, const auto& y) { return x.second < y.second; });
    if (best != tally.end() && best->second * 2 >= total) {
        SectorsPerClus = best->first.spc;
        RootSectNum = best->first.dataStart;
        return true;
    }
    fallbackGeometry();
    return true;
}

void FatRebuild::fallbackGeometry() {
    const std::uint64_t mib = objectSectors_ * sectorBytes_ / (1024 * 1024);
    std::int32_t spc = 1;  // a FAT32 volume under 32 MiB: the smallest cluster
    if (FatType == kFat32) {
        for (const SizeRow& r : kFat32Defaults) {
            if (mib >= r.fromMiB) {
                spc = r.spc;
                break;
            }
        }
    } else {
        for (const SizeRow& r : kFat16Defaults) {
            if (mib >= r.fromMiB) {
                spc = r.spc;
                break;
            }
        }
    }
    SectorsPerClus = spc;
    RootSectNum.reset();
    for (const scan::TScanEntry* e : FatFileList) {
        if (!fatentry::regularDir(e)) continue;
        RootSectNum = fatentry::dirSect(e) - (std::int64_t{fatentry::dirClus(e)} - 2) * spc;
        break;
    }
}

void FatRebuild::AdvFindFatTable(const std::function<void(int)>& progress) {
    FatOK = false;
    FatStart = -1;
    FatRootClus = 0;
    fatCache_.clear();
    if ((FatType != kFat16 && FatType != kFat32) || SectorsPerClus <= 0 || !RootSectNum || *RootSectNum <= 1) return;
    const std::uint32_t bps = std::max<std::uint32_t>(sectorBytes_, 512);
    std::vector<std::byte> buf(std::size_t{kFatSearchRead} * bps);
    const std::int64_t root = *RootSectNum;
    std::int64_t top = root;  // the search reads below this sector
    std::uint32_t done = 0;
    while (top > 0 && done < kFatSearchSectors) {
        const auto count = static_cast<std::uint32_t>(std::min<std::int64_t>({kFatSearchRead, top, kFatSearchSectors - done}));
        const std::int64_t first = top - count;
        const std::size_t got = read_(first, count, std::span(buf).first(std::size_t{count} * bps));
        done += count;
        top = first;
        if (progress) progress(static_cast<int>(std::uint64_t{done} * 100 / kFatSearchSectors));
        for (std::uint32_t i = count; i-- > 0;) {
            if (std::size_t{i + 1} * bps > got) continue;
            const std::span<const std::byte> s = std::span<const std::byte>(buf).subspan(std::size_t{i} * bps, 512);
            const std::int64_t p = first + i;
            const std::uint32_t sbps = le16(s, 11), spc = u8(s, 13), fats = u8(s, 16), reserved = le16(s, 14);
            if (le16(s, 510) != 0xAA55 || (sbps != 512 && sbps != 1024 && sbps != 2048 && sbps != 4096)) continue;
            // Sector arithmetic below is in the device's sectors: a layout in other sectors is
            // not this volume's.
            if (sbps != bps || !isPow2UpTo(spc, 128) || fats < 1 || fats > 4) continue;
            const std::uint32_t total = le16(s, 19) ? le16(s, 19) : le32(s, 32);
            const bool fat32Layout = le16(s, 22) == 0;
            const std::uint32_t fatSize = fat32Layout ? le32(s, 36) : le16(s, 22);
            if (total == 0 || fatSize == 0 || (fat32Layout && le32(s, 44) <= 1)) continue;
            const std::int64_t rootSectors = fat32Layout ? 0 : (std::int64_t{le16(s, 17)} * 32 + sbps - 1) / sbps;
            std::int64_t base = p;  // where the volume begins, by this sector
            std::int64_t dataStart = base + reserved + std::int64_t{fats} * fatSize + rootSectors;
            // A FAT32 volume keeps a copy of its boot sector a few sectors in (the sector its
            // field at byte 50 gives): when the first is gone, the copy tells where it was.
            const std::uint32_t backupAt = le16(s, 50);
            if (fat32Layout && dataStart != root && backupAt > 0 && backupAt < reserved && p >= backupAt &&
                dataStart - backupAt == root) {
                base = p - backupAt;
                dataStart = root;
            }
            const std::int64_t fatsEnd = base + reserved + std::int64_t{fats} * fatSize;
            if (dataStart != root || static_cast<std::int32_t>(spc) != SectorsPerClus) continue;
            if (!fat32Layout && RootDirSectNum && fatsEnd != *RootDirSectNum) break;  // the rest of this read is passed over
            // A boot sector may claim fewer sectors than its data area needs.
            if (std::int64_t{total} <= dataStart - base) continue;
            const std::uint64_t clusters = (std::uint64_t{total} - static_cast<std::uint64_t>(dataStart - base)) / spc;
            if (clusters == 0) continue;
            // A FAT12 table packs entries in 12 bits: read as 16-bit entries it would chain
            // directories through garbage. Better no chains than wrong ones.
            if (!fat32Layout && clusters < static_cast<std::uint64_t>(kFat12MaxClusters)) continue;
            FatStart = base + reserved;
            FatEntryBytes = fat32Layout ? 4 : 2;
            FatMaxClus = static_cast<std::uint32_t>(std::min<std::uint64_t>(clusters + 1, 0x0FFFFFF0));
            FatRootClus = fat32Layout ? le32(s, 44) : 0;
            FatOK = true;
            return;
        }
    }
}

bool FatRebuild::AdvFatChainTrusted() const {
    if (!RootSectNum || FsCode >= 3) return false;
    const std::span<const std::byte> s(Boot.Sector);
    const std::uint32_t bps = le16(s, 11), spc = u8(s, 13), reserved = le16(s, 14), fats = u8(s, 16);
    if (static_cast<std::int32_t>(spc) != SectorsPerClus) return false;
    if (FsCode == kFat32) return std::int64_t{reserved} + std::int64_t{fats} * le32(s, 36) == *RootSectNum;
    if (bps < 32 || spc == 0) return false;
    return std::int64_t{reserved} + std::int64_t{fats} * le16(s, 22) + le16(s, 17) / (bps / 32) == *RootSectNum;
}

}  // namespace brenvale::advscan
