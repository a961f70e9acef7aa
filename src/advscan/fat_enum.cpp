// The harvested FAT directory blocks read into entries: each block from its first sector on,
// slot by slot, up to the first slot that cannot belong to a directory; then the geometry,
// the FAT, the directories' further clusters and the segments.

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "advscan/fat_entry_access.h"
#include "advscan/fat_stages.h"
#include "advscan/sector_tests.h"
#include "scan/fat_entry.h"
#include "storage/device_events.h"

namespace brenvale::advscan {

namespace {

constexpr std::uint32_t kDefaultReadLimit = 500;
constexpr std::uint32_t kReadChunk = 16;  // sectors read at a time: most directories are short
constexpr std::size_t kSlot = 32;
constexpr std::int64_t kRootSearchSpan = 4096;

bool badNameChar(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c == '.' || c < 32 || c == 127;
    });
}

// A deleted "." or "..": 0xE5 and blanks, or 0xE5, "." and blanks, with a blank extension.
bool deletedDot(std::span<const std::byte> slot) {
    if (std::to_integer<std::uint8_t>(slot[0]) != 0xE5 || !ShortNameOf(slot).ext.empty()) return false;
    const std::string_view rest(reinterpret_cast<const char*>(slot.data()) + 1, 7);
    return rest == "       " || rest == ".      ";
}

}  // namespace

std::size_t FatRebuild::readWindowed(std::int64_t rel, std::uint32_t count, std::span<std::byte> into) {
    constexpr std::uint32_t kWindowSectors = 256;
    const std::size_t want = std::min<std::size_t>(std::size_t{count} * sectorBytes_, into.size());
    auto inside = [&] {
        return windowStart_ >= 0 && rel >= windowStart_ &&
               static_cast<std::size_t>(rel - windowStart_) * sectorBytes_ + want <= windowSectors_ * sectorBytes_;
    };
    if (!inside()) {
        if (count > kWindowSectors || rel < 0) return read_(rel, count, into);
        // As far as the harvested blocks ahead reach, not always the whole window: blocks far
        // apart would read most of it for nothing.
        const auto sectors = std::clamp<std::uint32_t>(std::max(count, windowAhead_), 1, kWindowSectors);
        if (window_.size() < std::size_t{kWindowSectors} * sectorBytes_) window_.resize(std::size_t{kWindowSectors} * sectorBytes_);
        windowStart_ = rel;
        windowSectors_ = read_(rel, sectors, std::span(window_).first(std::size_t{sectors} * sectorBytes_)) / sectorBytes_;
    }
    // Short only where the object (or what could be read) ends.
    const std::size_t from = static_cast<std::size_t>(rel - windowStart_) * sectorBytes_;
    const std::size_t have = windowSectors_ * sectorBytes_;
    const std::size_t n = from < have ? std::min(want, have - from) : 0;
    std::memcpy(into.data(), window_.data() + from, n);
    return n;
}

scan::TScanEntry* FatRebuild::newEntry(std::int64_t sector, std::uint32_t slot) {
    scan::TScanEntry* e = nullptr;
    if (FatType == kFat32) {
        e = &mid32s_.emplace_back();
    } else {
        e = &mids_.emplace_back();
    }
    FatFileList.push_back(e);
    readAt_.push_back({e, sector, slot});
    return e;
}

FatRebuild::BlockResult FatRebuild::enumBlock(std::int64_t sector, std::uint32_t inheritClus, std::int64_t inheritSect,
                                              std::int64_t forceDirSect, std::uint32_t readLimit) {
    BlockResult r;
    if (storage::DeviceAborted) return r;
    r.ran = true;
    const std::uint32_t limit = readLimit >= 1 && readLimit <= 499 ? readLimit : kDefaultReadLimit;
    std::uint32_t loaded = 0;  // sectors
    bool shortRead = false;
    // Sized once for the longest block (not cleared per block: nothing is read past `length`).
    if (block_.size() < std::size_t{limit} * sectorBytes_) block_.resize(std::size_t{limit} * sectorBytes_);
    std::size_t length = 0;
    // The directory is read as far as the walk goes, not the whole limit at once.
    auto have = [&](std::size_t slot) {
        while ((slot + 1) * kSlot > length && loaded < limit && !shortRead) {
            const std::uint32_t n = std::min(kReadChunk, limit - loaded);
            const std::size_t got = readWindowed(sector + loaded, n, std::span(block_).subspan(length, std::size_t{n} * sectorBytes_));
            const std::size_t whole = got / sectorBytes_ * sectorBytes_;
            length += std::min(whole, std::size_t{n} * sectorBytes_);
            shortRead = whole < std::size_t{n} * sectorBytes_;
            loaded += n;
        }
        return (slot + 1) * kSlot <= length;
    };
    if (!have(1)) return r;
    auto slotAt = [&](std::size_t i) { return std::span<const std::byte>(block_).subspan(i * kSlot, kSlot); };
    const bool regular = ShortNameOf(slotAt(0)).name == "." && ShortNameOf(slotAt(1)).name == "..";
    std::uint32_t ownClus = regular ? checkedClus(slotAt(0)) : 2;
    std::int64_t dirSector = forceDirSect ? forceDirSect : sector;
    if (regular) {
        r.ownClus = ownClus;
    } else if (inheritSect != 0 && inheritClus > 1) {
        dirSector = inheritSect;
        ownClus = inheritClus;
    }
    if (regular) r.parentClus = checkedClus(slotAt(1));
    scan::FatLongNameJoiner joiner;
    const std::size_t perSector = sectorBytes_ / kSlot;
    // The long name being gathered, for the names a sector boundary cuts: which of them
    // continue in the next cluster, or started in the cluster before, is known only once the
    // geometry is.
    constexpr std::size_t kNoRun = SIZE_MAX;
    std::size_t runStart = kNoRun;
    std::byte runSum{};
    auto keepSplits = [&](std::size_t end, const Slot* shortSlot, scan::TScanEntry* e) {
        if (runStart == kNoRun) return;
        const std::size_t at = nameSlots_.size();
        bool kept = false;
        auto keep = [&](std::size_t cut) {
            if (!kept) {
                for (std::size_t k = runStart; k < end; ++k) {
                    const auto part = slotAt(k);
                    std::copy(part.begin(), part.end(), nameSlots_.emplace_back().begin());
                }
                kept = true;
            }
            NameSplit split;
            split.boundary = sector + static_cast<std::int64_t>(cut / perSector);
            split.at = at;
            split.before = static_cast<std::uint32_t>(cut - runStart);
            split.after = static_cast<std::uint32_t>(end - cut);
            if (shortSlot) split.shortSlot = *shortSlot;
            split.entry = e;
            splits_.push_back(split);
        };
        if (!shortSlot) {
            // Cut off where the walk stopped: only a stop at a sector boundary can be a
            // cluster's end.
            if (end % perSector == 0 && end > runStart) keep(end);
        } else {
            if (runStart == 0 && !regular) keep(0);  // the block begins inside the name
            for (std::size_t cut = (runStart / perSector + 1) * perSector; cut <= end; cut += perSector) keep(cut);
        }
        runStart = kNoRun;
    };
    // A directory's first cluster begins with "." (passed over); any other block's first slot
    // is an entry like the rest: the first entry of each further cluster of a long directory
    // lies there (a FAT12/16 root's label is passed over as a label).
    std::size_t i = regular ? 1 : 0;
    for (; have(i); ++i) {
        const auto slot = slotAt(i);
        const std::uint8_t first = std::to_integer<std::uint8_t>(slot[0]);
        const std::uint8_t attr = std::to_integer<std::uint8_t>(slot[11]);
        const auto decoded = scan::DecodeFatEntry(slot);
        if (attr == 0x0F) {
            joiner.Feed(*decoded);
            // As the joiner: a change of checksum starts another name.
            if (runStart == kNoRun || slot[13] != runSum) runStart = i;
            runSum = slot[13];
            continue;
        }
        const std::string_view name = ShortNameOf(slot).name;
        if (name == "." || name == ".." || (FatType == kFat32 && deletedDot(slot))) {
            if (i >= 3) break;
            continue;
        }
        // A free slot never used (first byte 0) is where the directory ends, like a blank name.
        if (first == 0 || (first != 0xE5 && name.empty())) break;
        // Dates that no FAT writes end the directory; one stamped after 2050 does not (the
        // sector tests, which must tell directories from any data, stop at 2050).
        if (!RealFatDates(slot) || attr >= 0x38) break;
        const std::optional<std::u16string_view> units = joiner.Feed(*decoded);
        Slot copy;
        std::copy(slot.begin(), slot.end(), copy.begin());
        if (attr & 0x08) {
            runStart = kNoRun;
            continue;
        }
        const Slot raw = copy;
        if (first == 0xE5) copy[0] = std::byte{'_'};
        const FatShortName copied = ShortNameOf(copy);
        if (badNameChar(copied.name) || badNameChar(copied.ext) || !UsableFatShortName(copy)) {
            runStart = kNoRun;
            continue;
        }

        scan::TScanEntry* e = newEntry(sector + static_cast<std::int64_t>(i / perSector), static_cast<std::uint32_t>(i % perSector));
        keepSplits(i, &raw, e);
        std::optional<std::string> longName = units ? scan::ListedLongName(*units) : std::nullopt;
        fatentry::visit(e, [&](auto& m) {
            auto& rec = fatentry::slotOf(m);
            std::memcpy(&rec, copy.data(), kSlot);
            if (longName) {
                m.LongFileName = std::move(*longName);
            } else {
                // Lower case stored as upper, as byte 12 says (each part on its own).
                scan::ApplyCaseBits(rec.filename, rec.fileext, std::to_integer<std::uint8_t>(copy[12]));
            }
            m.DirClusNum = ownClus;
            m.DirSectNum = dirSector;
            m.RegularDir = regular;
        });
        r.added = true;
    }
    keepSplits(i, nullptr, nullptr);
    r.used = static_cast<std::uint32_t>((std::max<std::size_t>(i, 1) - 1 + perSector - 1) / perSector);
    return r;
}

void FatRebuild::addSegment(std::int64_t start, std::int64_t end, std::int64_t owner, std::uint32_t clus) {
    if (!Segments.empty() && Segments.back().Owner == owner && Segments.back().End + 1 == start) {
        Segments.back().End = end;
        return;
    }
    Segments.push_back({start, end, owner, clus});
}

void FatRebuild::sortByDirSect() {
    // Each key read once: a sort comparing the entries themselves reaches into two of them for
    // every comparison. The list is often in order already.
    keyed_.clear();
    keyed_.reserve(FatFileList.size());
    bool sorted = true;
    for (scan::TScanEntry* e : FatFileList) {
        const std::int64_t key = fatentry::dirSect(e);
        sorted = sorted && (keyed_.empty() || keyed_.back().first <= key);
        keyed_.emplace_back(key, e);
    }
    if (sorted) return;
    std::stable_sort(keyed_.begin(), keyed_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::transform(keyed_.begin(), keyed_.end(), FatFileList.begin(), [](const auto& k) { return k.second; });
}

void FatRebuild::EnumFATFiles(std::vector<std::int64_t>& fdts, const std::function<void(int)>& progress) {
    FatFileList.clear();
    readAt_.clear();
    windowStart_ = -1;
    windowSectors_ = 0;
    mids_.clear();
    mid32s_.clear();
    RegDirSect.clear();
    RegDirClus.clear();
    RegDirParent.clear();
    blocks_.clear();
    chained_.clear();
    splits_.clear();
    nameSlots_.clear();
    Segments.clear();
    UnChainedFDTs.clear();
    FatOK = false;
    FatStart = -1;
    FatMaxClus = 0;
    fatCache_.clear();

    // A harvested directory sector holds a few entries: room for them up front, so the lists
    // are not copied as they grow (more only when they outgrow it).
    constexpr std::size_t kEntriesPerSector = 6;
    FatFileList.reserve(fdts.size() * kEntriesPerSector);
    readAt_.reserve(fdts.size() * kEntriesPerSector);
    nameSlots_.reserve(fdts.size() * 2);
    splits_.reserve(fdts.size());
    std::int64_t blockEnd = std::numeric_limits<std::int64_t>::min();
    std::int64_t lastRegEnd = -1;  // the end of the last registered directory's last block
    std::size_t ahead = 0;
    for (std::size_t i = 0; i < fdts.size(); ++i) {
        if (progress && i % 1024 == 0) progress(static_cast<int>(i * 100 / fdts.size()));
        if (storage::DeviceAborted) break;
        const std::int64_t s = fdts[i];
        if (s < 0 || s < blockEnd) {
            fdts[i] = -1;
            continue;
        }
        // The window reaches the blocks harvested just after this one, and a little past them.
        constexpr std::int64_t kReach = 224, kPast = 32;
        ahead = std::max(ahead, i);
        while (ahead + 1 < fdts.size() && fdts[ahead + 1] <= s + kReach) ++ahead;
        windowAhead_ = static_cast<std::uint32_t>(std::max(fdts[ahead], s) - s + kPast);
        std::uint32_t inheritClus = 0;
        std::int64_t inheritSect = 0;
        if (!RegDirClus.empty() && RegDirClus.back() > 1 && s == lastRegEnd) {
            inheritClus = RegDirClus.back();
            inheritSect = RegDirSect.back();
        }
        const std::size_t firstRead = readAt_.size();
        const BlockResult r = enumBlock(s, inheritClus, inheritSect, 0, 0);
        if (!r.ran) break;
        if (!r.added) fdts[i] = -1;
        blockEnd = s + r.used;
        const bool own = r.ownClus >= 2;
        if (r.used > 0) addSegment(s, blockEnd - 1, own ? s : inheritSect, own ? r.ownClus : inheritClus);
        blocks_.push_back({s, r.used, own ? s : inheritSect, own ? r.ownClus : inheritClus, own, firstRead, readAt_.size()});
        if (r.ownClus > 1) {
            RegDirSect.push_back(s);
            RegDirClus.push_back(r.ownClus);
            RegDirParent.push_back(r.parentClus);
            lastRegEnd = blockEnd;
        } else if (inheritSect != 0) {
            lastRegEnd = blockEnd;
        }
    }

    windowAhead_ = 0;
    AdvSolveFatGeometry(nullptr, nullptr);
    RootDirSectNum = RootSectNum;
    if (RootSectNum && FatType != kFat32 && !FatFileList.empty()) {
        // A FAT12/16 root lies in a fixed area before cluster 2: the run of blocks just below
        // it that hold no "."-".." directory, when it holds more entries than cluster 2 does.
        struct Kind {
            bool anyRegular = false, anyOther = false;
            std::size_t count = 0;
        };
        std::unordered_map<std::int64_t, Kind> kinds;
        for (const scan::TScanEntry* e : FatFileList) {
            Kind& k = kinds[fatentry::dirSect(e)];
            (fatentry::regularDir(e) ? k.anyRegular : k.anyOther) = true;
            ++k.count;
        }
        auto plain = [&](std::int64_t s) {
            const auto it = kinds.find(s);
            return it != kinds.end() && !it->second.anyRegular;
        };
        std::optional<std::int64_t> best;
        for (const auto& [s, k] : kinds) {
            if (s < *RootSectNum && !k.anyRegular && (!best || s > *best)) best = s;
        }
        if (best) {
            std::int64_t s = *best;
            while (plain(s - 1) && s - 1 > *RootSectNum - kRootSearchSpan) --s;
            const auto atRoot = kinds.find(*RootSectNum);
            if (kinds[s].count > (atRoot == kinds.end() ? 0 : atRoot->second.count)) RootDirSectNum = s;
        }
    }
    AdvFindFatTable();

    // The directories to follow along their chains: those that began with "." and "..", and
    // a FAT32 root (which has no such pair) where the found boot sector puts it.
    std::vector<std::pair<std::int64_t, std::uint32_t>> follow;
    for (std::size_t k = 0; k < RegDirSect.size(); ++k) follow.emplace_back(RegDirSect[k], RegDirClus[k]);
    if (FatOK && FatRootClus > 1 && RootDirSectNum && AdvClusSector(FatRootClus) == *RootDirSectNum) {
        follow.emplace_back(*RootDirSectNum, FatRootClus);
    }
    if (FatOK && !follow.empty()) {
        // By the sector each block was read at: the FAT's chain says which directory a
        // cluster continues, better than the guess that a block continues the one before it.
        // The entries read so far, by sector: the blocks were read in ascending order, so they
        // are in that order unless a block was read again. Indices, as readAt_ grows below.
        const std::size_t harvested = readAt_.size();
        std::vector<std::size_t> order;
        auto sectorOf = [&](std::size_t k) { return readAt_[order.empty() ? k : order[k]].sector; };
        if (!std::is_sorted(readAt_.begin(), readAt_.end(), [](const ReadPlace& a, const ReadPlace& b) { return a.sector < b.sector; })) {
            order.resize(harvested);
            std::iota(order.begin(), order.end(), std::size_t{0});
            std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return readAt_[a].sector < readAt_[b].sector; });
        }
        auto firstAtOrAfter = [&](std::int64_t sector) {
            std::size_t lo = 0, hi = harvested;
            while (lo < hi) {
                const std::size_t mid = lo + (hi - lo) / 2;
                if (sectorOf(mid) < sector) {
                    lo = mid + 1;
                } else {
                    hi = mid;
                }
            }
            return lo;
        };
        std::unordered_set<std::int64_t> claimed;  // a cluster's entries go to the first chain through it
        std::unordered_map<std::int64_t, std::size_t> segmentAt;
        for (std::size_t k = 0; k < Segments.size(); ++k) segmentAt.emplace(Segments[k].Start, k);
        std::vector<std::uint32_t> chain;
        for (const auto& [d, c] : follow) {
            if (storage::DeviceAborted) break;
            AdvDirClusChain(c, chain);
            for (std::size_t j = 1; j < chain.size(); ++j) {
                const std::int64_t u = AdvClusSector(chain[j]);
                if (u < 0 || static_cast<std::uint64_t>(u) + static_cast<std::uint64_t>(SectorsPerClus) > objectSectors_) continue;
                const std::size_t firstRead = readAt_.size();
                std::size_t k = firstAtOrAfter(u);
                if (k < harvested && sectorOf(k) == u && claimed.insert(u).second) {
                    for (; k < harvested && sectorOf(k) == u; ++k) {
                        scan::TScanEntry* e = readAt_[order.empty() ? k : order[k]].entry;
                        fatentry::setDirSect(e, d);
                        fatentry::setDirClus(e, c);
                    }
                } else {
                    // Never read, or a cluster another chain has taken already (read again for
                    // this directory too).
                    enumBlock(u, c, d, d, static_cast<std::uint32_t>(SectorsPerClus));
                }
                chained_.push_back({u, d, c, AdvClusSector(chain[j - 1]) + SectorsPerClus, firstRead, readAt_.size()});
                if (const auto own = segmentAt.find(u); own != segmentAt.end()) {
                    Segments[own->second].Owner = d;
                    Segments[own->second].Clus = c;
                } else {
                    segmentAt.emplace(u, Segments.size());
                    Segments.push_back({u, u + SectorsPerClus - 1, d, c});
                }
            }
        }
        std::stable_sort(Segments.begin(), Segments.end(), [](const FatDirSegment& a, const FatDirSegment& b) { return a.Start < b.Start; });
        sortByDirSect();
    }
    settleContinuations();
    AdvMarkBadDirs();
    resolveSegments();
    sortByDirSect();
    if (progress) progress(100);
}

bool FatRebuild::AdvGetFatBounds(std::int64_t sect, std::int32_t& first, std::int32_t& last) const {
    return AdvGetFatBoundsRange(sect, sect, first, last);
}

bool FatRebuild::AdvGetFatBoundsRange(std::int64_t from, std::int64_t to, std::int32_t& first, std::int32_t& last) const {
    first = last = -1;
    const auto lo = std::lower_bound(FatFileList.begin(), FatFileList.end(), from,
                                     [](const scan::TScanEntry* e, std::int64_t s) { return fatentry::dirSect(e) < s; });
    const auto hi = std::upper_bound(FatFileList.begin(), FatFileList.end(), to,
                                     [](std::int64_t s, const scan::TScanEntry* e) { return s < fatentry::dirSect(e); });
    if (lo >= hi) return false;
    first = static_cast<std::int32_t>(lo - FatFileList.begin());
    last = static_cast<std::int32_t>(hi - FatFileList.begin() - 1);
    return true;
}

}  // namespace brenvale::advscan
