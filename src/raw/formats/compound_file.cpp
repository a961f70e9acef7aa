// Compound files (the storage of Word, Excel and PowerPoint 97-2003, Visio, Outlook messages,
// Access projects and some CAD parts). The file's own allocation table says how long it is:
// it ends after the highest sector in use. Its directory names its streams, and the stream
// names say which program wrote it. The tables may lie beyond the batch, so the test reads
// those sectors itself; every sector number, chain and count is checked before use, and every
// chain walk is bounded, so a damaged or cyclic table ends the look instead of looping.

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "raw/formats/formats.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kLastRegular = 0xFFFFFFF9;  // above: free, end of chain, table sectors
constexpr std::uint16_t kClassUnknown = 0xFFFF;
constexpr std::size_t kHeaderDifat = 109;
constexpr std::size_t kMaxSectorBytes = 4096;
constexpr std::size_t kMiniSectorBytes = 64;

constexpr std::array<unsigned char, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

#pragma pack(push, 1)
struct CompoundHeader {
    std::uint8_t Signature[8];
    std::uint8_t Clsid[16];
    std::uint16_t MinorVersion;
    std::uint16_t MajorVersion;
    std::uint16_t ByteOrder;        // 0xFFFE
    std::uint16_t SectorShift;      // 9 (512-byte sectors) or 12 (4096)
    std::uint16_t MiniSectorShift;  // 6
    std::uint8_t Reserved[6];
    std::uint32_t DirectorySectors;
    std::uint32_t FatSectors;
    std::uint32_t FirstDirectorySector;
    std::uint32_t TransactionSignature;
    std::uint32_t MiniStreamCutoff;
    std::uint32_t FirstMiniFatSector;
    std::uint32_t MiniFatSectors;
    std::uint32_t FirstDifatSector;
    std::uint32_t DifatSectors;
    std::uint32_t Difat[kHeaderDifat];
};
static_assert(sizeof(CompoundHeader) == 512);

struct CompoundDirEntry {
    std::uint16_t Name[32];  // UTF-16, NUL-terminated
    std::uint16_t NameBytes;  // with the terminator
    std::uint8_t ObjectType;  // 1 storage, 2 stream, 5 root
    std::uint8_t Color;
    std::uint32_t LeftSibling;
    std::uint32_t RightSibling;
    std::uint32_t Child;
    std::uint8_t Clsid[16];
    std::uint32_t StateBits;
    std::uint64_t Created;
    std::uint64_t Modified;
    std::uint32_t StartSector;
    std::uint64_t StreamSize;
};
static_assert(sizeof(CompoundDirEntry) == 128);
#pragma pack(pop)

// Walks and reads of one compound file are bounded: a damaged table costs a few reads, never
// a loop over four billion sectors.
constexpr int kMaxTrailingFreeFatSectors = 8;
constexpr int kMaxDirectorySectors = 16;
constexpr std::uint32_t kMaxChainSteps = 1u << 16;
constexpr std::uint32_t kMaxDeviceReads = 1024;
constexpr std::size_t kPropertyBytes = 4096;
constexpr std::size_t kMaxPropertyText = 255;

// The sectors of one compound file, from the bytes the test was handed or, beyond them, from
// the device. Sector k lies (k + 1) sectors after the file's start.
class CompoundSectors {
public:
    CompoundSectors(const ScanContext& ctx, Bytes s, std::uint32_t sectorBytes, const CompoundHeader& h)
        : ctx_(ctx), s_(s), cs_(sectorBytes), h_(h) {}

    std::uint32_t Bytes() const { return cs_; }
    std::uint32_t PerFat() const { return cs_ / 4; }
    std::uint32_t PerDifat() const { return cs_ / 4 - 1; }  // the last entry links the next

    // Where a sector read from the device is kept: each kind of table has its own, so walking a
    // chain does not read the same table sector again for every link.
    enum SlotKind { kFat, kDifat, kMiniFat, kData, kSlots };

    // Sector k; empty when it cannot be had.
    formats::Bytes Sector(std::uint32_t k, SlotKind slot) {
        if (k > kLastRegular) return {};
        const std::uint64_t at = (std::uint64_t{k} + 1) * cs_;
        if (storage::fits(s_, at, cs_)) return s_.subspan(at, cs_);
        Slot& c = slots_[slot];
        if (c.valid && c.sector == k) return {c.bytes.data() + c.skip, cs_};
        c.valid = false;
        const std::uint32_t bps = ctx_.BytesPerSector;
        if (!ctx_.ReadSectors || !*ctx_.ReadSectors || bps == 0 || bps > kMaxSectorBytes) return {};
        if (++reads_ > kMaxDeviceReads) return {};
        const std::uint64_t first = at / bps;
        const std::uint64_t blocks = (at % bps + cs_ + bps - 1) / bps;
        const std::size_t want = blocks * bps;
        if (want > c.bytes.size()) return {};
        const std::uint32_t got =
            (*ctx_.ReadSectors)(static_cast<std::uint64_t>(ctx_.SectorLba) + first, std::span(c.bytes.data(), want));
        if (got < want) return {};
        c.valid = true;
        c.sector = k;
        c.skip = static_cast<std::size_t>(at % bps);
        return {c.bytes.data() + c.skip, cs_};
    }

    // The sector number of FAT sector i: from the header's table for the first 109, then from
    // the chain of DIFAT sectors.
    std::optional<std::uint32_t> FatSector(std::uint32_t i) {
        if (i >= h_.FatSectors) return std::nullopt;
        if (i < kHeaderDifat) return regular(h_.Difat[i]);
        const std::uint32_t rest = i - static_cast<std::uint32_t>(kHeaderDifat);
        const std::uint32_t d = rest / PerDifat();
        if (d >= h_.DifatSectors) return std::nullopt;
        // The chain is walked forward from where the last look left it.
        if (difatIndex_ > d || difatIndex_ < 0) {
            difatIndex_ = 0;
            difatSector_ = h_.FirstDifatSector;
        }
        while (static_cast<std::uint32_t>(difatIndex_) < d) {
            if (++chainSteps_ > kMaxChainSteps) return std::nullopt;
            const auto sec = Sector(difatSector_, kDifat);
            if (sec.empty()) return std::nullopt;
            difatSector_ = storage::le32(sec, PerDifat() * 4);
            ++difatIndex_;
        }
        const auto sec = Sector(difatSector_, kDifat);
        if (sec.empty()) return std::nullopt;
        return regular(storage::le32(sec, (rest % PerDifat()) * 4));
    }

    // The FAT entry of sector k: the next sector of its chain.
    std::optional<std::uint32_t> Next(std::uint32_t k) {
        const auto fat = FatSector(k / PerFat());
        if (!fat) return std::nullopt;
        const auto sec = Sector(*fat, kFat);
        if (sec.empty()) return std::nullopt;
        return storage::le32(sec, (k % PerFat()) * 4);
    }

    // The sector `steps` links after `start` on its chain, every link checked.
    std::optional<std::uint32_t> Follow(std::uint32_t start, std::uint32_t steps) {
        std::uint32_t k = start;
        for (std::uint32_t i = 0; i < steps; ++i) {
            if (++chainSteps_ > kMaxChainSteps) return std::nullopt;
            const auto next = Next(k);
            if (!next || !regular(*next)) return std::nullopt;
            k = *next;
        }
        return regular(k);
    }

private:
    static std::optional<std::uint32_t> regular(std::uint32_t k) {
        return k <= kLastRegular ? std::optional(k) : std::nullopt;
    }

    struct Slot {
        std::array<std::byte, 2 * kMaxSectorBytes> bytes{};
        std::size_t skip = 0;
        std::uint32_t sector = 0;
        bool valid = false;
    };

    const ScanContext& ctx_;
    formats::Bytes s_;
    std::uint32_t cs_;
    const CompoundHeader& h_;
    std::array<Slot, kSlots> slots_{};
    std::int64_t difatIndex_ = -1;
    std::uint32_t difatSector_ = 0;
    std::uint32_t chainSteps_ = 0;
    std::uint32_t reads_ = 0;
};

// The highest sector in use, from the end of the allocation table backwards.
std::optional<std::uint32_t> highestUsedSector(CompoundSectors& cf, std::uint32_t fatSectors) {
    for (int back = 0; back < kMaxTrailingFreeFatSectors && back < static_cast<int>(fatSectors); ++back) {
        const std::uint32_t i = fatSectors - 1 - static_cast<std::uint32_t>(back);
        const auto fat = cf.FatSector(i);
        if (!fat) return std::nullopt;
        const auto sec = cf.Sector(*fat, CompoundSectors::kFat);
        if (sec.empty()) return std::nullopt;
        for (std::uint32_t e = cf.PerFat(); e-- > 0;) {
            if (storage::le32(sec, e * 4) != kFree) return i * cf.PerFat() + e;
        }
    }
    return std::nullopt;
}

// An entry's name, lower-case, non-ASCII characters as '?'.
std::string entryName(const CompoundDirEntry& e) {
    std::string name;
    const std::size_t chars = std::min<std::size_t>(e.NameBytes / 2, 32);
    for (std::size_t i = 0; i < chars && e.Name[i] != 0; ++i) {
        const std::uint16_t c = e.Name[i];
        name += c < 0x80 ? static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c) : '?';
    }
    return name;
}

struct Classified {
    std::uint16_t code;
    std::uint16_t major;
    std::uint16_t minor;
    const char* ext;
};

constexpr std::array<Classified, 8> kClasses = {{
    {0, 1, 0, "doc"},
    {1, 1, 1, "xls"},
    {2, 1, 2, "ppt"},
    {6, 1, 6, "vsd"},
    {20, 3, 1, "msg"},
    {21, 4, 1, "adp"},
    {30, 5, 3, "sldprt"},
    {31, 5, 4, "ipt"},
}};

std::uint16_t classify(std::string_view n) {
    auto any = [&](std::initializer_list<std::string_view> names) {
        return std::find(names.begin(), names.end(), n) != names.end();
    };
    if (any({"worddocument", "1table"})) return 0;
    if (any({"workbook", "book"})) return 1;
    if (any({"pictures", "powerpoint document"})) return 2;
    if (any({"visiodocument", "visioinformation"})) return 6;
    if (n.starts_with("__properties_version") || n.starts_with("__nameid_version")) return 20;
    if (any({"propdata", "forms", "reports"})) return 21;
    if (any({"isolidworksinformation", "swdoccontentmgr", "swxmlcontents", "emodelic"}) || n.starts_with("_mo_version_"))
        return 30;
    if (any({"rsestorage", "rsedb", "protein", "rseseginfo", "ufrxdoc"})) return 31;
    return kClassUnknown;
}

// Format identifiers of the two property sets, in their stored byte order.
constexpr std::array<unsigned char, 16> kSummaryFmtid = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                                         0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
constexpr std::array<unsigned char, 16> kDocSummaryFmtid = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                                            0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
constexpr std::uint32_t kTypeString8 = 30;

// An 8-bit string property (Windows-1252 for the programs that write these) as UTF-8, cut at
// its terminator.
std::string latin1ToUtf8(Bytes raw) {
    std::string out;
    for (std::byte b : raw.first(std::min(raw.size(), kMaxPropertyText))) {
        const auto c = std::to_integer<unsigned char>(b);
        if (c == 0) break;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Fills the properties a property set holds: title, subject and author from the summary
// section, the organisation from the document summary section.
void readPropertySet(Bytes set, TCBFFFileInfo& info) {
    const std::uint32_t sections = std::min<std::uint32_t>(storage::le32(set, 24), 2);
    for (std::uint32_t i = 0; i < sections; ++i) {
        const std::size_t at = 28 + i * 20;
        if (!storage::fits(set, at, 20)) return;
        const bool summary = std::memcmp(set.data() + at, kSummaryFmtid.data(), 16) == 0;
        const bool docSummary = std::memcmp(set.data() + at, kDocSummaryFmtid.data(), 16) == 0;
        if (!summary && !docSummary) continue;
        const std::size_t section = storage::le32(set, at + 16);
        if (!storage::fits(set, section, 8)) continue;
        const std::uint32_t count = storage::le32(set, section + 4);
        for (std::uint32_t p = 0; p < count; ++p) {
            const std::size_t entry = section + 8 + std::size_t{p} * 8;
            if (!storage::fits(set, entry, 8)) break;
            const std::uint32_t id = storage::le32(set, entry);
            std::string* field = nullptr;
            if (summary && id == 2) field = &info.Title;
            if (summary && id == 3) field = &info.Subject;
            if (summary && id == 4) field = &info.Author;
            if (docSummary && id == 15) field = &info.Orgnization;
            if (!field) continue;
            const std::size_t value = section + storage::le32(set, entry + 4);
            if (!storage::fits(set, value, 8) || storage::le32(set, value) != kTypeString8) continue;
            const std::size_t length = std::min<std::size_t>(storage::le32(set, value + 4), set.size() - value - 8);
            *field = latin1ToUtf8(set.subspan(value + 8, length));
        }
    }
}

// The first bytes (up to the buffer's size) of a stream, from the regular sectors or, for a
// stream below the cut-off, from the mini stream that the root entry's chain holds.
std::size_t readStream(CompoundSectors& cf, const CompoundHeader& h, const CompoundDirEntry& root,
                       const CompoundDirEntry& e, std::span<std::byte> out) {
    const std::uint64_t size = h.MajorVersion == 3 ? (e.StreamSize & 0xFFFFFFFF) : e.StreamSize;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, out.size()));
    std::size_t got = 0;
    if (size >= h.MiniStreamCutoff) {
        std::optional<std::uint32_t> k = e.StartSector;
        while (got < want && k) {
            const auto sec = cf.Sector(*k, CompoundSectors::kData);
            if (sec.empty()) break;
            const std::size_t n = std::min<std::size_t>(sec.size(), want - got);
            std::memcpy(out.data() + got, sec.data(), n);
            got += n;
            if (got < want) k = cf.Follow(*k, 1);
        }
        return got;
    }
    if (h.MiniSectorShift != 6) return 0;
    const std::uint32_t perSector = cf.Bytes() / kMiniSectorBytes;
    std::uint32_t m = e.StartSector;
    // Where on the root's chain the last mini sector lay: mini sectors mostly ascend, so the
    // chain is walked on from there instead of from its start.
    std::uint32_t atIndex = 0;
    std::optional<std::uint32_t> at = root.StartSector;
    while (got < want && m <= kLastRegular) {
        const std::uint32_t index = m / perSector;
        if (index < atIndex) {
            atIndex = 0;
            at = root.StartSector;
        }
        at = cf.Follow(*at, index - atIndex);
        atIndex = index;
        if (!at) break;
        const auto sec = cf.Sector(*at, CompoundSectors::kData);
        if (sec.empty()) break;
        const std::size_t n = std::min<std::size_t>(kMiniSectorBytes, want - got);
        std::memcpy(out.data() + got, sec.data() + (m % perSector) * kMiniSectorBytes, n);
        got += n;
        if (got == want) break;
        // The mini stream's own table: the chain of mini-FAT sectors, entry m.
        if (m / cf.PerFat() >= h.MiniFatSectors) break;
        const auto miniFat = cf.Follow(h.FirstMiniFatSector, m / cf.PerFat());
        if (!miniFat) break;
        const auto table = cf.Sector(*miniFat, CompoundSectors::kMiniFat);
        if (table.empty()) break;
        m = storage::le32(table, (m % cf.PerFat()) * 4);
    }
    return got;
}

}  // namespace

bool IsCompoundFileType(const TFoundFile& hit) {
    return std::any_of(kClasses.begin(), kClasses.end(),
                       [&](const Classified& c) { return c.major == hit.MajorType && c.minor == hit.MinorType; });
}

bool TestCompoundFile(ScanContext& ctx, Bytes s, TFoundFile& hit) {
    if (s.size() < sizeof(CompoundHeader) || std::memcmp(s.data(), kSignature.data(), kSignature.size()) != 0) return false;
    const auto h = storage::readRecord<CompoundHeader>(s, 0);
    if (!h || h->ByteOrder != 0xFFFE || (h->SectorShift != 9 && h->SectorShift != 12)) return false;
    const std::uint32_t cs = 1u << h->SectorShift;
    CompoundSectors cf(ctx, s, cs, *h);
    // Enough table sectors for the count the header gives, and no DIFAT sectors without need.
    if (h->FatSectors == 0 || h->FatSectors > kHeaderDifat + std::uint64_t{h->DifatSectors} * cf.PerDifat()) return false;

    const auto highest = highestUsedSector(cf, h->FatSectors);
    if (!highest) return false;
    const std::int64_t size = (std::int64_t{*highest} + 2) * cs;

    // The directory, sector by sector along its chain: the first entry whose name is known
    // names the file; the summary streams give its properties.
    std::uint16_t code = kClassUnknown;
    TCBFFFileInfo info;
    bool summarySeen = false, docSummarySeen = false;
    std::optional<CompoundDirEntry> root;
    std::array<std::uint32_t, kMaxDirectorySectors> visited{};
    std::optional<std::uint32_t> dir = h->FirstDirectorySector;
    std::array<std::byte, kPropertyBytes> set{};
    for (int n = 0; n < kMaxDirectorySectors && dir; ++n) {
        if (std::find(visited.begin(), visited.begin() + n, *dir) != visited.begin() + n) break;  // a cycle
        visited[static_cast<std::size_t>(n)] = *dir;
        const auto sec = cf.Sector(*dir, CompoundSectors::kData);
        if (sec.empty()) break;
        // Copied out: reading a property stream reuses the sector's slot.
        std::array<CompoundDirEntry, kMaxSectorBytes / sizeof(CompoundDirEntry)> entries{};
        const std::size_t count = sec.size() / sizeof(CompoundDirEntry);
        for (std::size_t i = 0; i < count; ++i) entries[i] = *storage::readRecord<CompoundDirEntry>(sec, i * sizeof(CompoundDirEntry));
        for (std::size_t i = 0; i < count; ++i) {
            const CompoundDirEntry& e = entries[i];
            if (e.ObjectType == 5 && !root) root = e;
            const std::string name = entryName(e);
            if (code == kClassUnknown) code = classify(name);
            const bool summary = name == "\005summaryinformation";
            const bool docSummary = name == "\005documentsummaryinformation";
            if ((summary && !summarySeen) || (docSummary && !docSummarySeen)) {
                (summary ? summarySeen : docSummarySeen) = true;
                if (root && e.ObjectType == 2) {
                    const std::size_t got = readStream(cf, *h, *root, e, set);
                    readPropertySet(std::span<const std::byte>(set.data(), got), info);
                }
            }
        }
        if (code != kClassUnknown && summarySeen && docSummarySeen) break;
        dir = cf.Follow(*dir, 1);
    }
    if (code == kClassUnknown) return false;

    const auto* c = std::find_if(kClasses.begin(), kClasses.end(), [&](const Classified& k) { return k.code == code; });
    hit = MakeHit(c->major, c->minor, c->ext);
    hit.Size = size;
    if (!info.Title.empty() || !info.Subject.empty() || !info.Author.empty() || !info.Orgnization.empty())
        hit.Info = ctx.Side.NewCompoundInfo(std::move(info));
    return true;
}

}  // namespace brenvale::raw::formats
