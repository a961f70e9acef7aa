#include "advscan/sector_tests.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "scan/dos_time.h"
#include "storage/le.h"

namespace brenvale::advscan {

namespace {

constexpr std::size_t kSlot = 32;
constexpr std::size_t kFatSlots = 16;

std::uint8_t byteAt(Bytes d, std::size_t off) {
    return storage::u8(d, off);
}

// exFAT: the file entry (0x85 in use, 0x05 deleted) and the other types a folder holds.
constexpr bool isFileEntry(std::uint8_t type) {
    return (type & 0x7F) == 0x05;
}
constexpr bool isOtherExFatType(std::uint8_t type) {
    switch (type) {
        case 0x01: case 0x02: case 0x03: case 0x40: case 0x41:
        case 0x81: case 0x82: case 0x83: case 0xC0: case 0xC1: return true;
        default: return false;
    }
}

std::uint16_t exFatSetChecksum(Bytes set) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < set.size(); ++i) {
        if (i == 2 || i == 3) continue;
        sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + std::to_integer<std::uint8_t>(set[i]));
    }
    return sum;
}

}  // namespace

FatShortName ShortNameOf(Bytes slot) {
    auto trimmed = [](std::string_view s) {
        const auto first = s.find_first_not_of(' ');
        if (first == std::string_view::npos) return std::string_view{};
        return s.substr(first, s.find_last_not_of(' ') - first + 1);
    };
    const std::string_view raw(reinterpret_cast<const char*>(slot.data()), 11);
    return {trimmed(raw.substr(0, 8)), trimmed(raw.substr(8, 3))};
}

namespace {

// Bytes no 8.3 name holds, as a table: the test runs on every slot of every sector.
constexpr std::array<bool, 256> kBadShortNameByte = [] {
    std::array<bool, 256> bad{};
    for (const char c : std::string_view("\"'+/;<=>[\\]|")) bad[static_cast<unsigned char>(c)] = true;
    return bad;
}();

bool usableShortName(const FatShortName& n) {
    if (n.name.empty() && n.ext.empty()) return false;
    auto clean = [](std::string_view s) {
        return std::none_of(s.begin(), s.end(), [](char c) { return kBadShortNameByte[static_cast<unsigned char>(c)]; });
    };
    return clean(n.name) && clean(n.ext);
}

bool controlInName(Bytes slot) {
    for (std::size_t i = 0; i < 11; ++i) {
        const std::uint8_t c = byteAt(slot, i);
        if (c < 32 || c == 127) return true;
    }
    return false;
}

// Modification, creation and access dates are each unset or a real moment from 1980 to 2050.
bool plausibleDates(Bytes slot) {
    return scan::IsValidDosPair(storage::le16(slot, 24), storage::le16(slot, 22)) &&
           scan::IsValidDosPair(storage::le16(slot, 16), storage::le16(slot, 14)) &&
           scan::IsValidDosPair(storage::le16(slot, 18), 0);
}

// The 13 characters of a long-name slot, without the terminator and the padding after it, and
// blanks at either end: empty when nothing is left.
bool longNamePartEmpty(Bytes slot) {
    static constexpr std::array<std::size_t, 13> kUnits = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    bool any = false;
    for (std::size_t at : kUnits) {
        const std::uint16_t u = storage::le16(slot, at);
        if (u == 0) break;
        if (u != 0xFFFF && u != ' ') any = true;
    }
    return !any;
}

constexpr std::uint8_t kLabel = 0x08;
constexpr std::uint8_t kLongName = 0x0F;
constexpr std::uint8_t kDeleted = 0xE5;

// A volume label holds no data: no size and no cluster. mkfs.vfat stamps its creation and
// access times, so those may be set, as real moments.
bool plausibleLabel(Bytes slot) {
    return storage::le32(slot, 28) == 0 && storage::le16(slot, 26) == 0 &&
           scan::IsValidDosPair(storage::le16(slot, 16), storage::le16(slot, 14)) &&
           scan::IsValidDosPair(storage::le16(slot, 18), 0);
}

// The first slot of a directory sector must look right on its own.
bool firstSlotLooksRight(Bytes s) {
    const Bytes first = s.first(kSlot);
    const std::uint8_t attr = byteAt(first, 11);
    if (attr == kLabel) return plausibleLabel(first) && storage::le16(first, 20) == 0;
    if (attr == kLongName) {
        // The checksum repeats in every long-name slot and matches the short entry they name.
        const std::uint8_t sum = byteAt(first, 13);
        for (std::size_t i = 1; i < kFatSlots; ++i) {
            const Bytes slot = s.subspan(i * kSlot, kSlot);
            if (byteAt(slot, 11) == kLongName) {
                if (byteAt(slot, 13) != sum) return false;
                continue;
            }
            return FatShortNameMayHaveChecksum(slot, sum);
        }
        return false;
    }
    const FatShortName n = ShortNameOf(first);
    return plausibleDates(first) && !n.name.empty() && usableShortName(n) && storage::le16(first, 26) != 0 &&
           storage::le16(first, 20) < 0x7F && byteAt(first, 0) > 0x20 && byteAt(first, 2) >= 0x20 &&
           byteAt(first, 4) >= 0x20 && byteAt(first, 6) >= 0x20 && byteAt(first, 8) >= 0x20 && byteAt(first, 8) <= 0xB0 &&
           byteAt(first, 9) >= 0x20 && byteAt(first, 9) <= 0xB0 && byteAt(first, 10) >= 0x20 && byteAt(first, 10) <= 0xB0;
}

}  // namespace

bool LooksLikeNtfsRecord(Bytes record) {
    if (record.size() < 40 || std::memcmp(record.data(), "FILE", 4) != 0) return false;
    const std::uint32_t first = storage::le32(record, byteAt(record, 20));
    if (first == 0x10) return true;
    // An extension record (it names its base record) holds the attributes that spilled over
    // from another record, never a standard-information attribute.
    return storage::le64(record, 32) != 0 && first >= 0x20 && first <= 0x100 && first % 0x10 == 0;
}

bool IsExFatDirSectorByLayout(Bytes sector) {
    int sets = 0;
    for (std::size_t off = 0; off + kSlot <= sector.size(); off += kSlot) {
        const std::uint8_t type = byteAt(sector, off);
        if (type == 0) break;
        if (isFileEntry(type)) {
            const std::uint8_t count = byteAt(sector, off + 1);
            if (count < 1 || count > 18) return false;
            for (std::size_t i = 1; i <= count; ++i) {
                const std::size_t at = off + i * kSlot;
                // A set may run on into the next sector: what lies here must be right.
                if (at + kSlot > sector.size()) break;
                const std::uint8_t t = byteAt(sector, at) & 0x7F;
                if (t != 0x40 && t != 0x41) return false;
            }
            ++sets;
        } else if (!isOtherExFatType(type)) {
            return false;
        }
    }
    return sets > 0;
}

bool IsExFatDirSectorByChecksum(Bytes sector) {
    if (sector.size() < 160) return false;
    for (std::size_t i = 0; i < 5; ++i) {
        const std::size_t off = i * kSlot;
        const std::uint8_t type = byteAt(sector, off);
        if (type == 0) break;
        if (!isFileEntry(type)) continue;
        const std::size_t count = byteAt(sector, off + 1);
        if (count < 1 || count > 18 || (i + count + 1) * kSlot > sector.size()) continue;
        if (exFatSetChecksum(sector.subspan(off, (count + 1) * kSlot)) == storage::le16(sector, off + 2)) return true;
    }
    return false;
}

bool PlausibleFatDates(Bytes slot) {
    return slot.size() >= kSlot && plausibleDates(slot);
}

bool RealFatDates(Bytes slot) {
    return slot.size() >= kSlot && scan::IsRealDosPair(storage::le16(slot, 24), storage::le16(slot, 22)) &&
           scan::IsRealDosPair(storage::le16(slot, 16), storage::le16(slot, 14)) &&
           scan::IsRealDosPair(storage::le16(slot, 18), 0);
}

bool UsableFatShortName(Bytes slot) {
    return slot.size() >= kSlot && usableShortName(ShortNameOf(slot));
}

bool IsFatDirSector(Bytes sector) {
    if (sector.size() < kFatSlots * kSlot) return false;
    const Bytes s = sector.first(kFatSlots * kSlot);
    if (std::memcmp(s.data(), ".       ", 8) == 0 && std::memcmp(s.data() + kSlot, "..      ", 8) == 0) return true;
    int plausible = 0;
    for (std::size_t i = 0; i < kFatSlots; ++i) {
        const Bytes slot = s.subspan(i * kSlot, kSlot);
        const std::uint8_t first = byteAt(slot, 0);
        const std::uint8_t attr = byteAt(slot, 11);
        if (attr == kLabel) {
            if (!plausibleLabel(slot)) return false;
            continue;
        }
        if (attr == kLongName) {
            if (longNamePartEmpty(slot) || byteAt(slot, 12) != 0 || storage::le16(slot, 26) != 0 ||
                (first >= 0x80 && first != kDeleted))
                return false;
            continue;
        }
        const std::uint8_t caseBits = byteAt(slot, 12);
        if ((caseBits != 0 && caseBits != 8 && caseBits != 16 && caseBits != 24) || attr > 0x3F) return false;
        if (first == 0) break;
        const FatShortName n = ShortNameOf(slot);
        if (first != kDeleted && n.name.empty() && n.ext.empty()) continue;
        if (!controlInName(slot) && usableShortName(n) && plausibleDates(slot)) ++plausible;
    }
    return plausible > 0 && firstSlotLooksRight(s);
}

std::uint8_t FatShortNameChecksum(Bytes slot) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + byteAt(slot, i));
    return sum;
}

bool FatShortNameCanBegin(std::uint8_t b) {
    constexpr std::string_view kNever = "\"*+,./:;<=>?[\\]|";
    return b > 0x20 && b != kDeleted && b != 0x7F && !(b >= 'a' && b <= 'z') &&
           kNever.find(static_cast<char>(b)) == std::string_view::npos;
}

bool FatShortNameMayHaveChecksum(Bytes slot, std::uint8_t sum) {
    if (byteAt(slot, 0) != kDeleted) return FatShortNameChecksum(slot) == sum;
    // Deleting overwrote the first byte, which the checksum covers: the rest must give `sum`
    // after some first byte a short name can begin with. (Each first byte gives another sum,
    // so this rules out only the sums of the bytes no name holds.)
    for (unsigned first = 0; first < 256; ++first) {
        if (!FatShortNameCanBegin(static_cast<std::uint8_t>(first))) continue;
        auto s = static_cast<std::uint8_t>(first);
        for (std::size_t i = 1; i < 11; ++i) s = static_cast<std::uint8_t>(((s & 1) << 7) + (s >> 1) + byteAt(slot, i));
        if (s == sum) return true;
    }
    return false;
}

bool HasFat32Evidence(Bytes sector) {
    for (std::size_t off = 0; off + kSlot <= sector.size(); off += kSlot) {
        const std::uint8_t first = byteAt(sector, off);
        if (first == 0) break;
        const std::uint8_t attr = byteAt(sector, off + 11);
        if (first != kDeleted && attr != kLongName && attr < 0x40 && storage::le16(sector, off + 20) != 0) return true;
    }
    return false;
}

std::optional<RecordLengthVote> DiscoverRecordLength(Bytes batch, std::uint32_t bytesPerSector) {
    if (bytesPerSector == 0) return std::nullopt;
    RecordLengthVote best;
    for (std::uint32_t length : {1024u, 2048u, 4096u}) {
        // Places: every sector start and, in a sector larger than the length, every multiple
        // of the length inside it.
        const std::uint32_t step = bytesPerSector > length ? length : bytesPerSector;
        int count = 0;
        for (std::size_t at = 0; at + kSlot <= batch.size(); at += step) {
            if (std::memcmp(batch.data() + at, "FILE", 4) == 0 && storage::le32(batch, at + 28) == length) ++count;
        }
        if (count > best.agreeing) best = {length, count};
    }
    if (best.agreeing < 2) return std::nullopt;
    return best;
}

}  // namespace brenvale::advscan
