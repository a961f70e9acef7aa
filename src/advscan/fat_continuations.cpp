// Which directory a cluster of directory entries continues when no FAT chain says so. The
// enumeration reads a directory on past its first cluster and takes a block that begins with no
// "." entry to continue nothing (or the directory that ended just before it); both guesses fail
// where a directory's clusters lie apart, as a FAT32 root's do once files were written between
// them. Two kinds of evidence settle it: the ".." entry of a subfolder listed in the cluster
// names the directory that holds it, and a long name whose first parts end the cluster before
// continues at this cluster's start (its parts carry the short name's checksum and, when live,
// their numbers).

#include <algorithm>
#include <cctype>
#include <string>
#include <unordered_map>
#include <vector>

#include "advscan/fat_entry_access.h"
#include "advscan/fat_stages.h"
#include "advscan/sector_tests.h"
#include "scan/fat_entry.h"

namespace brenvale::advscan {

namespace {

using Slot = std::array<std::byte, 32>;

constexpr std::uint8_t kDeletedMark = 0xE5;
constexpr std::size_t kMaxNameParts = 20;

std::uint8_t at(const Slot& s, std::size_t i) { return std::to_integer<std::uint8_t>(s[i]); }

// The checksums a short slot may have had: its own, or for a deleted one (its first byte lost)
// that of every first byte a name can begin with.
template <class F>
void forEachShortChecksum(const Slot& shortSlot, F&& f) {
    if (at(shortSlot, 0) != kDeletedMark) {
        f(FatShortNameChecksum(shortSlot));
        return;
    }
    std::array<bool, 256> seen{};
    Slot probe = shortSlot;
    for (int b = 0; b < 256; ++b) {
        if (!FatShortNameCanBegin(static_cast<std::uint8_t>(b))) continue;
        probe[0] = static_cast<std::byte>(b);
        const std::uint8_t sum = FatShortNameChecksum(probe);
        if (!seen[sum]) {
            seen[sum] = true;
            f(sum);
        }
    }
}

// The long name that `parts` (in disk order) spell for `shortSlot`, when they belong to it: one
// checksum, the short name's; deleted together with it; and live parts numbered down to 1 from
// the last, which carries 0x40.
std::optional<std::string> joinedName(std::span<const Slot> parts, const Slot& shortSlot) {
    if (parts.empty() || parts.size() > kMaxNameParts) return std::nullopt;
    const bool deleted = at(shortSlot, 0) == kDeletedMark;
    const std::uint8_t sum = at(parts[0], 13);
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const Slot& p = parts[k];
        if (at(p, 11) != 0x0F || at(p, 13) != sum || (at(p, 0) == kDeletedMark) != deleted) return std::nullopt;
        if (deleted) continue;
        const std::uint8_t number = at(p, 0) & 0x1F;
        if (number != parts.size() - k || ((at(p, 0) & 0x40) != 0) != (k == 0)) return std::nullopt;
    }
    if (!FatShortNameMayHaveChecksum(shortSlot, sum)) return std::nullopt;
    std::u16string units;
    for (auto p = parts.rbegin(); p != parts.rend(); ++p) units += scan::DecodeFatEntry(*p)->longNameUnits();
    return scan::ListedLongName(units);
}

// The short slot an entry was read from, as far as its copy tells: the case bits undone, a
// deleted entry's first byte unknown again.
Slot rawShortOf(const scan::TScanEntry* e) {
    Slot s;
    std::copy(fatentry::bytes(e).begin(), fatentry::bytes(e).end(), s.begin());
    const bool named = fatentry::visit(e, [](const auto& m) { return !m.LongFileName.empty(); });
    if (!named) {
        const std::uint8_t caseBits = at(s, 12);
        for (std::size_t i = 0; i < 11; ++i) {
            const bool lowered = i < 8 ? (caseBits & scan::kFatCaseLowerName) : (caseBits & scan::kFatCaseLowerExt);
            if (lowered) s[i] = static_cast<std::byte>(std::toupper(at(s, i)));
        }
    }
    if (fatentry::isDeleted(e)) s[0] = static_cast<std::byte>(kDeletedMark);
    return s;
}

void setName(scan::TScanEntry* e, const std::optional<std::string>& name) {
    fatentry::visit(e, [&](auto& m) {
        if (name) {
            m.LongFileName = *name;
            return;
        }
        if (m.LongFileName.empty()) return;
        // Back to the short name, lower case where byte 12 says so.
        m.LongFileName.clear();
        auto& rec = fatentry::slotOf(m);
        scan::ApplyCaseBits(rec.filename, rec.fileext, static_cast<std::uint8_t>(rec.reserved & 0xFF));
    });
}

}  // namespace

void FatRebuild::settleContinuations() {
    if (SectorsPerClus <= 0 || !RootSectNum || *RootSectNum < 0) return;
    const std::int64_t root = *RootSectNum, spc = SectorsPerClus;
    auto aligned = [&](std::int64_t s) { return s >= root && (s - root) % spc == 0; };

    // The stretches to settle: every cluster (or part of one) a block was read over, and every
    // cluster a chain gave.
    struct Piece {
        std::int64_t start, end;  // inclusive
        std::int64_t owner;
        std::uint32_t clus;
        bool vouched;               // a directory's own first cluster, or a chain's
        bool readOn;                // reached by reading on from the sector before it
        std::size_t firstRead, endRead;
        std::int64_t predEnd = -1;  // where the cluster it continues ends (the sector after)
        std::int64_t link = -1;     // the piece it continues, by a long name
        bool moved = false;
    };
    std::vector<Piece> pieces;
    for (const BlockSpan& b : blocks_) {
        if (b.start < root || b.used == 0) continue;
        std::size_t r = b.firstRead;
        for (std::int64_t s = b.start, end = b.start + b.used; s < end;) {
            const std::int64_t next = std::min(end, root + ((s - root) / spc + 1) * spc);
            const std::size_t r0 = r;
            while (r < b.endRead && readAt_[r].sector < next) ++r;
            const bool first = s == b.start;
            pieces.push_back({s, next - 1, b.owner, b.clus, first && b.regular, !first, r0, r});
            s = next;
        }
    }
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.start < b.start; });
    auto pieceAt = [&](std::int64_t s) -> std::int64_t {
        const auto it = std::upper_bound(pieces.begin(), pieces.end(), s, [](std::int64_t x, const Piece& p) { return x < p.start; });
        if (it == pieces.begin() || s > (it - 1)->end) return -1;
        return it - 1 - pieces.begin();
    };
    const std::size_t blockPieces = pieces.size();
    for (const ChainedCluster& c : chained_) {
        const std::int64_t k = pieceAt(c.start);
        if (k >= 0 && pieces[static_cast<std::size_t>(k)].start == c.start && static_cast<std::size_t>(k) < blockPieces) {
            Piece& p = pieces[static_cast<std::size_t>(k)];
            p.moved = p.owner != c.owner;
            p.owner = c.owner;
            p.clus = c.clus;
            p.vouched = true;
            p.predEnd = c.predEnd;
        } else {
            Piece p{c.start, c.start + spc - 1, c.owner, c.clus, true, false, c.firstRead, c.endRead};
            p.predEnd = c.predEnd;
            pieces.push_back(p);
        }
    }
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.start < b.start; });

    // Directories by their first sector and by their own cluster; the root of a FAT32 volume
    // lies in the data area, so its further clusters are settled like any directory's.
    std::unordered_map<std::int64_t, std::size_t> regAt;
    std::unordered_map<std::uint32_t, std::size_t> regOfClus;
    for (std::size_t k = 0; k < RegDirSect.size(); ++k) {
        regAt.emplace(RegDirSect[k], k);
        regOfClus.emplace(RegDirClus[k], k);
    }
    const bool rootInData = FatType == kFat32 && RootDirSectNum && *RootDirSectNum >= root;
    const std::uint32_t rootClus = FatRootClus > 1 ? FatRootClus : 2;
    struct Dir {
        std::int64_t sector = -1;
        std::uint32_t clus = 0;
        bool operator==(const Dir&) const = default;
    };
    auto parentDir = [&](std::uint32_t p) -> Dir {
        if (const auto it = regOfClus.find(p); p > 1 && it != regOfClus.end()) return {RegDirSect[it->second], p};
        if (rootInData && (p == 0 || p == rootClus)) return {*RootDirSectNum, rootClus};
        return {};
    };

    // Long-name parts cut off at a cluster's end, by what a name going on after them must
    // match: the checksum, whether they are deleted (a name's parts all are, or none) and, for
    // live parts, the number of the last (the next part has the number below it). And the cut
    // names at each boundary.
    auto endingKey = [](std::uint8_t sum, bool deleted, std::uint8_t lastNumber) {
        return static_cast<std::uint32_t>(sum) | (deleted ? 0x100u : 0u) | (deleted ? 0u : std::uint32_t{lastNumber} << 9);
    };
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> endingBySum;
    std::unordered_map<std::int64_t, std::size_t> endingAt, leadAt;
    for (std::size_t k = 0; k < splits_.size(); ++k) {
        const NameSplit& s = splits_[k];
        if (s.before > 0 && s.before <= kMaxNameParts && aligned(s.boundary) && endingAt.emplace(s.boundary, k).second) {
            const Slot& first = nameSlots_[s.at];
            const Slot& last = nameSlots_[s.at + s.before - 1];
            endingBySum[endingKey(at(first, 13), at(first, 0) == kDeletedMark, at(last, 0) & 0x1F)].push_back(k);
        }
        if (s.entry) leadAt.emplace(s.boundary, k);
    }
    std::vector<Slot> parts;
    auto partsOf = [&](std::int64_t endingSplit, const NameSplit* lead) {
        parts.clear();
        if (endingSplit >= 0) {
            const NameSplit& s = splits_[static_cast<std::size_t>(endingSplit)];
            parts.insert(parts.end(), nameSlots_.begin() + static_cast<std::ptrdiff_t>(s.at),
                         nameSlots_.begin() + static_cast<std::ptrdiff_t>(s.at + s.before));
        }
        if (lead) {
            const auto from = nameSlots_.begin() + static_cast<std::ptrdiff_t>(lead->at + lead->before);
            parts.insert(parts.end(), from, from + lead->after);
        }
        return std::span<const Slot>(parts);
    };
    // The name a piece begins in: its cut parts and short slot, or the entry in its first slot.
    struct Lead {
        const NameSplit* split = nullptr;
        Slot shortSlot{};
        scan::TScanEntry* entry = nullptr;
    };
    auto leadOf = [&](const Piece& p) -> Lead {
        if (const auto it = leadAt.find(p.start); it != leadAt.end()) {
            const NameSplit& s = splits_[it->second];
            return {&s, s.shortSlot, s.entry};
        }
        for (std::size_t r = p.firstRead; r < p.endRead && readAt_[r].sector == p.start; ++r) {
            if (readAt_[r].slot == 0) return {nullptr, rawShortOf(readAt_[r].entry), readAt_[r].entry};
        }
        return {};
    };
    // The end (the sector after it) of the one cluster whose last parts the lead's name goes
    // on from; -1 when none or more than one.
    auto continuedFrom = [&](const Lead& lead) -> std::int64_t {
        if (!lead.entry) return -1;
        // The cluster just before it on disk first: a directory written in one go lies in
        // clusters one after the other, and names repeat from folder to folder.
        const std::int64_t here = lead.split ? lead.split->boundary : -1;
        if (const auto it = endingAt.find(here); here >= 0 && it != endingAt.end() &&
                                                  joinedName(partsOf(static_cast<std::int64_t>(it->second), lead.split), lead.shortSlot)) {
            return here;
        }
        // Otherwise exactly one ending anywhere: a second makes it a guess, so the search
        // ends there (names are many where clusters are, and each lead would try them all).
        std::int64_t found = -1;
        int count = 0;
        const bool deleted = at(lead.shortSlot, 0) == kDeletedMark;
        const std::uint32_t partsHere = lead.split ? lead.split->after : 0;
        if (partsHere >= kMaxNameParts) return -1;
        auto tryBucket = [&](std::uint8_t sum) {
            const auto it = endingBySum.find(endingKey(sum, deleted, static_cast<std::uint8_t>(partsHere + 1)));
            if (it == endingBySum.end()) return;
            for (const std::size_t k : it->second) {
                if (count >= 2) return;
                if (joinedName(partsOf(static_cast<std::int64_t>(k), lead.split), lead.shortSlot) && ++count == 1) {
                    found = splits_[k].boundary;
                }
            }
        };
        if (lead.split && lead.split->after > 0) {
            tryBucket(at(nameSlots_[lead.split->at + lead.split->before], 13));
        } else {
            forEachShortChecksum(lead.shortSlot, [&](std::uint8_t sum) { tryBucket(sum); });
        }
        return count == 1 ? found : -1;
    };

    std::vector<std::pair<Dir, int>> live, gone;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        Piece& p = pieces[k];
        if (rootInData && p.start == *RootDirSectNum) {  // the root's own first cluster
            p.owner = *RootDirSectNum;
            p.clus = rootClus;
            p.vouched = true;
        }
        if (p.vouched) continue;
        // Votes of the subfolders listed here: each one's ".." names the directory holding it.
        live.clear();
        gone.clear();
        for (std::size_t r = p.firstRead; r < p.endRead; ++r) {
            const scan::TScanEntry* e = readAt_[r].entry;
            if (!fatentry::isFolder(e)) continue;
            const std::uint32_t x = FatClusOf(e);
            const auto reg = x > 1 ? regAt.find(dataSectorOf(x)) : regAt.end();
            if (reg == regAt.end() || RegDirClus[reg->second] != x) continue;
            const Dir d = parentDir(RegDirParent[reg->second]);
            if (d.sector < 0 || d.sector == RegDirSect[reg->second]) continue;
            auto& tally = fatentry::isDeleted(e) ? gone : live;
            const auto it = std::find_if(tally.begin(), tally.end(), [&](const auto& v) { return v.first == d; });
            if (it == tally.end()) {
                tally.emplace_back(d, 1);
            } else {
                ++it->second;
            }
        }
        // Live folders speak for the cluster as it is now; deleted ones only when no live one
        // does (their folder may have been reused).
        const auto& votes = live.empty() ? gone : live;
        int total = 0;
        for (const auto& v : votes) total += v.second;
        const auto best = std::max_element(votes.begin(), votes.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
        if (aligned(p.start)) p.predEnd = continuedFrom(leadOf(p));
        if (best != votes.end() && best->second * 2 > total) {
            p.moved = p.owner != best->first.sector;
            p.owner = best->first.sector;
            p.clus = best->first.clus;
        } else if (p.predEnd >= 0 && p.predEnd != p.start) {
            p.link = pieceAt(p.predEnd - 1);
            if (p.link == static_cast<std::int64_t>(k)) p.link = -1;
        } else if (p.readOn && k > 0) {
            p.link = static_cast<std::int64_t>(k) - 1;  // goes where the cluster it was read on from goes
        }
    }
    // Pieces that continue another take its directory, along chains of such links (a loop
    // leaves them as they were).
    std::vector<char> state(pieces.size(), 0);  // 0 open, 1 on the walk, 2 settled
    std::vector<std::size_t> walk;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        walk.clear();
        std::size_t v = k;
        while (state[v] == 0 && pieces[v].link >= 0) {
            state[v] = 1;
            walk.push_back(v);
            v = static_cast<std::size_t>(pieces[v].link);
        }
        const bool loop = state[v] == 1;
        for (const std::size_t w : walk) {
            state[w] = 2;
            if (loop || pieces[v].owner == 0 || pieces[w].owner == pieces[v].owner) continue;
            pieces[w].owner = pieces[v].owner;
            pieces[w].clus = pieces[v].clus;
            pieces[w].moved = true;
        }
        state[v] = 2;
    }

    std::vector<FatDirSegment> given;
    for (const Piece& p : pieces) {
        if (!p.moved) continue;
        for (std::size_t r = p.firstRead; r < p.endRead; ++r) {
            fatentry::setDirSect(readAt_[r].entry, p.owner);
            fatentry::setDirClus(readAt_[r].entry, p.clus);
        }
        given.push_back({p.start, p.end, p.owner, p.clus});
    }
    // The name cut at each cluster's start, joined to the parts the cluster it continues ends
    // in. Without such parts it keeps only what is its own: the walk may have joined parts of
    // whatever lay before it on disk (another directory's), or begun with a name's last parts.
    for (const Piece& p : pieces) {
        if (!aligned(p.start) || p.predEnd == p.start) continue;
        const Lead lead = leadOf(p);
        if (!lead.entry || (!lead.split && p.predEnd < 0)) continue;
        const auto ending = p.predEnd >= 0 ? endingAt.find(p.predEnd) : endingAt.end();
        std::optional<std::string> name;
        if (ending != endingAt.end()) name = joinedName(partsOf(static_cast<std::int64_t>(ending->second), lead.split), lead.shortSlot);
        if (!name && lead.split) name = joinedName(partsOf(-1, lead.split), lead.shortSlot);
        // (Parts the walk joined across from the cluster before it on disk are not its own:
        // they would have been found first.)
        if (name || lead.split) setName(lead.entry, name);
    }
    if (given.empty()) return;
    // The clusters that changed hands become segments of their own directories.
    std::sort(given.begin(), given.end(), [](const FatDirSegment& a, const FatDirSegment& b) { return a.Start < b.Start; });
    std::vector<FatDirSegment> out;
    for (const FatDirSegment& g : Segments) {
        std::int64_t from = g.Start;
        auto it = std::upper_bound(given.begin(), given.end(), g.Start, [](std::int64_t s, const FatDirSegment& x) { return s < x.End + 1; });
        if (it != given.begin() && (it - 1)->End >= g.Start) --it;
        for (; it != given.end() && it->Start <= g.End; ++it) {
            if (it->End < from) continue;
            if (it->Start > from) out.push_back({from, it->Start - 1, g.Owner, g.Clus});
            from = it->End + 1;
        }
        if (from <= g.End) out.push_back({from, g.End, g.Owner, g.Clus});
    }
    out.insert(out.end(), given.begin(), given.end());
    std::stable_sort(out.begin(), out.end(), [](const FatDirSegment& a, const FatDirSegment& b) { return a.Start < b.Start; });
    Segments = std::move(out);
}

}  // namespace brenvale::advscan
