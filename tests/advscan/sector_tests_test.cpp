// The sector recognisers of the advanced scan over sectors built from the published layouts:
// NTFS file records, exFAT directory sectors (by layout and by checksum), FAT directory
// sectors, FAT32 evidence and the record-length vote.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "advscan/sector_tests.h"

namespace brenvale::advscan {
namespace {

using Sector = std::vector<std::byte>;

void put8(Sector& s, std::size_t at, unsigned v) {
    s[at] = static_cast<std::byte>(v & 0xFF);
}
void put16(Sector& s, std::size_t at, unsigned v) {
    put8(s, at, v);
    put8(s, at + 1, v >> 8);
}
void put32(Sector& s, std::size_t at, std::uint32_t v) {
    put16(s, at, v & 0xFFFF);
    put16(s, at + 2, v >> 16);
}
void putText(Sector& s, std::size_t at, std::string_view t) {
    for (std::size_t i = 0; i < t.size(); ++i) s[at + i] = static_cast<std::byte>(t[i]);
}

// --- NTFS -----------------------------------------------------------------------------------

Sector ntfsRecord(std::uint32_t length, unsigned firstAttrOffset = 56, unsigned firstAttrType = 0x10) {
    Sector r(length, std::byte{0});
    putText(r, 0, "FILE");
    put16(r, 20, firstAttrOffset);
    put32(r, 28, length);
    if (firstAttrOffset + 4 <= length) put32(r, firstAttrOffset, firstAttrType);
    return r;
}

TEST(AdvSectorTests, NtfsRecordStart) {
    EXPECT_TRUE(LooksLikeNtfsRecord(ntfsRecord(1024)));
    EXPECT_FALSE(LooksLikeNtfsRecord(ntfsRecord(1024, 56, 0x30)));  // file name first: not a record start
    EXPECT_FALSE(LooksLikeNtfsRecord(ntfsRecord(1024, 0x38, 0x80)));
    // An extension record starts with what spilled over from its base record.
    Sector extension = ntfsRecord(1024, 56, 0x30);
    put32(extension, 32, 40);
    EXPECT_TRUE(LooksLikeNtfsRecord(extension));
    put32(extension, 56, 0x33);
    EXPECT_FALSE(LooksLikeNtfsRecord(extension));
    Sector bad = ntfsRecord(1024);
    putText(bad, 0, "BAAD");
    EXPECT_FALSE(LooksLikeNtfsRecord(bad));
    // An attribute offset past the bytes handed reads nothing.
    Sector shortOne = ntfsRecord(1024);
    put16(shortOne, 20, 200);
    EXPECT_FALSE(LooksLikeNtfsRecord(std::span(shortOne).first(100)));
}

TEST(AdvSectorTests, RecordLengthVote) {
    struct Case {
        const char* name;
        std::uint32_t bps;
        std::vector<std::pair<std::size_t, std::uint32_t>> records;  // offset, allocated size
        std::uint32_t length;  // 0: none
    };
    const Case cases[] = {
        {"three 1 KiB records on 512-byte sectors", 512, {{0, 1024}, {1024, 1024}, {4096, 1024}}, 1024},
        {"a lone record is not enough", 512, {{0, 1024}}, 0},
        {"four 1 KiB records inside one 4 KiB sector", 4096, {{0, 1024}, {1024, 1024}, {2048, 1024}, {3072, 1024}}, 1024},
        {"records off a sector start do not count", 512, {{100, 1024}, {1300, 1024}}, 0},
        {"equal votes: the shorter length", 512, {{0, 1024}, {1024, 1024}, {2048, 4096}, {6144, 4096}}, 1024},
        {"the most votes win", 512, {{0, 4096}, {4096, 4096}, {8192, 4096}, {12288, 1024}, {13312, 1024}}, 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sector batch(16 * 4096, std::byte{0xEE});
        for (const auto& [at, size] : c.records) {
            const Sector r = ntfsRecord(size);
            std::copy(r.begin(), r.begin() + 64, batch.begin() + static_cast<std::ptrdiff_t>(at));
        }
        const auto vote = DiscoverRecordLength(batch, c.bps);
        if (c.length == 0) {
            EXPECT_FALSE(vote.has_value());
        } else {
            ASSERT_TRUE(vote.has_value());
            EXPECT_EQ(vote->length, c.length);
        }
    }
    // The last 31 bytes of the data are no place.
    Sector tail(2048, std::byte{0});
    const Sector r = ntfsRecord(1024);
    std::copy(r.begin(), r.begin() + 32, tail.begin());
    std::copy(r.begin(), r.begin() + 32, tail.begin() + 1536);
    EXPECT_TRUE(DiscoverRecordLength(tail, 512));
    EXPECT_FALSE(DiscoverRecordLength(std::span(tail).first(1536 + 31), 512));
}

// --- exFAT ----------------------------------------------------------------------------------

std::uint16_t setChecksum(const Sector& s, std::size_t off, std::size_t bytes) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        if (i == 2 || i == 3) continue;
        sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + std::to_integer<unsigned>(s[off + i]));
    }
    return sum;
}

// A file entry set at slot `slot`: the file entry, a stream extension and `names` name entries.
void putSet(Sector& s, std::size_t slot, bool inUse, unsigned names, bool goodChecksum = true) {
    const std::size_t off = slot * 32;
    put8(s, off, inUse ? 0x85 : 0x05);
    put8(s, off + 1, 1 + names);
    put16(s, off + 4, 0x20);
    put8(s, off + 32, inUse ? 0xC0 : 0x40);
    put8(s, off + 32 + 3, 5);
    for (unsigned i = 0; i < names; ++i) {
        put8(s, off + 64 + 32 * i, inUse ? 0xC1 : 0x41);
        putText(s, off + 64 + 32 * i + 2, "a\0b\0c\0");
    }
    const std::uint16_t sum = setChecksum(s, off, (2 + names) * 32);
    put16(s, off + 2, goodChecksum ? sum : sum ^ 0x5A5A);
}

TEST(AdvSectorTests, ExFatDirectorySectors) {
    struct Case {
        const char* name;
        void (*build)(Sector&);
        bool layout;
        bool checksum;
    };
    const Case cases[] = {
        {"a bitmap, an up-case table, a label and a file", [](Sector& s) {
             put8(s, 0, 0x83);
             put8(s, 32, 0x81);
             put8(s, 64, 0x82);
             putSet(s, 3, true, 1);
         }, true, true},
        {"deleted sets", [](Sector& s) {
             putSet(s, 0, false, 2);
             putSet(s, 4, false, 1);
         }, true, true},
        {"a set with a wrong checksum", [](Sector& s) { putSet(s, 0, true, 1, false); }, true, false},
        {"a set that runs on into the next sector", [](Sector& s) {
             for (std::size_t slot : {0, 3, 6, 9}) putSet(s, slot, true, 1);
             putSet(s, 12, true, 3);
         }, true, true},
        {"a set whose secondary in this sector is no secondary", [](Sector& s) {
             for (std::size_t slot : {0, 3, 6, 9}) putSet(s, slot, true, 1);
             putSet(s, 12, true, 3);
             put8(s, 13 * 32, 0x81);
         }, false, true},
        {"a set that claims a name entry it lacks", [](Sector& s) {
             putSet(s, 0, true, 1);
             put8(s, 1, 3);
         }, false, false},
        {"a type no folder holds", [](Sector& s) {
             putSet(s, 0, true, 1);
             put8(s, 96, 0x20);
         }, false, true},
        {"only a label: no file", [](Sector& s) { put8(s, 0, 0x83); }, false, false},
        {"zeros", [](Sector&) {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sector s(1024, std::byte{0});  // the sector and the one after it
        c.build(s);
        const auto sector = std::span(s).first(512);
        EXPECT_EQ(IsExFatDirSectorByLayout(sector), c.layout);
        EXPECT_EQ(IsExFatDirSectorByChecksum(sector), c.checksum);
    }
}

// --- FAT ------------------------------------------------------------------------------------

constexpr unsigned kDate = ((2024 - 1980) << 9) | (5 << 5) | 17;  // 2024-05-17
constexpr unsigned kTime = (13 << 11) | (45 << 5) | 10;           // 13:45:20

void putShort(Sector& s, std::size_t slot, std::string_view name11, unsigned attr, unsigned cluster,
              std::uint32_t size = 100, unsigned date = kDate) {
    const std::size_t off = slot * 32;
    putText(s, off, name11);
    put8(s, off + 11, attr);
    put16(s, off + 14, kTime);
    put16(s, off + 16, date);
    put16(s, off + 18, date);
    put16(s, off + 22, kTime);
    put16(s, off + 24, date);
    put16(s, off + 26, cluster);
    put32(s, off + 28, size);
}

std::uint8_t lfnChecksum(std::string_view name11) {
    std::uint8_t sum = 0;
    for (char c : name11) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<std::uint8_t>(c));
    return sum;
}

void putLongName(Sector& s, std::size_t slot, unsigned sequence, std::string_view part, std::uint8_t checksum) {
    const std::size_t off = slot * 32;
    put8(s, off, sequence);
    put8(s, off + 11, 0x0F);
    put8(s, off + 13, checksum);
    static constexpr std::size_t kUnits[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t i = 0; i < 13; ++i) put16(s, off + kUnits[i], i < part.size() ? part[i] : i == part.size() ? 0 : 0xFFFF);
}

TEST(AdvSectorTests, FatDirectorySectors) {
    struct Case {
        const char* name;
        void (*build)(Sector&);
        bool fat;
    };
    const Case cases[] = {
        {"a folder's first sector: dot and dot-dot", [](Sector& s) {
             putText(s, 0, ".          ");
             putText(s, 32, "..         ");
         }, true},
        {"a root: label and files", [](Sector& s) {
             putShort(s, 0, "PHOTOS     ", 0x08, 0, 0, 0);
             put16(s, 14, 0);  // a label carries no creation time
             putShort(s, 1, "REPORT  PDF", 0x20, 3);
             putShort(s, 2, "\xE5" "OTES   TXT", 0x20, 9);
         }, true},
        {"a root as mkfs.vfat writes it: the label stamped with its creation time", [](Sector& s) {
             putShort(s, 0, "PHOTOS     ", 0x08, 0, 0);
             putShort(s, 1, "REPORT  PDF", 0x20, 3);
         }, true},
        {"a label that holds data", [](Sector& s) {
             putShort(s, 0, "PHOTOS     ", 0x08, 0, 4096);
             putShort(s, 1, "REPORT  PDF", 0x20, 3);
         }, false},
        {"a label created in 2077", [](Sector& s) {
             putShort(s, 0, "PHOTOS     ", 0x08, 0, 0, ((2077 - 1980) << 9) | (1 << 5) | 1);
             putShort(s, 1, "REPORT  PDF", 0x20, 3);
         }, false},
        {"long names whose checksum matches the short entry", [](Sector& s) {
             const std::uint8_t sum = lfnChecksum("HOLIDA~1JPG");
             putLongName(s, 0, 0x42, "g", sum);
             putLongName(s, 1, 0x01, "holiday photo.jp", sum);
             putShort(s, 2, "HOLIDA~1JPG", 0x20, 12);
         }, true},
        {"long names whose checksum does not", [](Sector& s) {
             putLongName(s, 0, 0x41, "holiday.jpg", 0x11);
             putShort(s, 1, "HOLIDA~1JPG", 0x20, 12);
         }, false},
        {"a deleted long name: its checksum covers the short name's lost first byte", [](Sector& s) {
             const std::uint8_t sum = lfnChecksum("HOLIDA~1JPG");
             putLongName(s, 0, 0xE5, "g", sum);
             putLongName(s, 1, 0xE5, "holiday photo.jp", sum);
             putShort(s, 2, "\xE5" "OLIDA~1JPG", 0x20, 12);
         }, true},
        {"a deleted long name whose short name would have begun with a byte no name holds", [](Sector& s) {
             putLongName(s, 0, 0xE5, "holiday.jpg", lfnChecksum("\x01OLIDA~1JPG"));
             putShort(s, 1, "\xE5" "OLIDA~1JPG", 0x20, 12);
         }, false},
        {"an empty long-name part", [](Sector& s) {
             putLongName(s, 0, 0x41, "", lfnChecksum("HOLIDA~1JPG"));
             putShort(s, 1, "HOLIDA~1JPG", 0x20, 12);
         }, false},
        {"a case byte FAT never writes", [](Sector& s) {
             putShort(s, 0, "REPORT  PDF", 0x20, 3);
             putShort(s, 1, "DATA    BIN", 0x20, 4);
             put8(s, 32 + 12, 0x41);
         }, false},
        {"a first entry without a cluster", [](Sector& s) { putShort(s, 0, "EMPTY   TXT", 0x20, 0, 0); }, false},
        {"a date in 2077", [](Sector& s) {
             putShort(s, 0, "REPORT  PDF", 0x20, 3, 100, ((2077 - 1980) << 9) | (1 << 5) | 1);
         }, false},
        {"a name with a forbidden character", [](Sector& s) { putShort(s, 0, "A+B     TXT", 0x20, 3); }, false},
        {"zeros", [](Sector&) {}, false},
        {"text", [](Sector& s) {
             for (std::size_t i = 0; i < 512; ++i) put8(s, i, "Lorem ipsum dolor sit amet. "[i % 28]);
         }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sector s(512, std::byte{0});
        c.build(s);
        EXPECT_EQ(IsFatDirSector(s), c.fat);
    }
}

TEST(AdvSectorTests, Fat32Evidence) {
    Sector s(512, std::byte{0});
    putShort(s, 0, "REPORT  PDF", 0x20, 3);
    EXPECT_FALSE(HasFat32Evidence(s));
    put16(s, 20, 1);  // a high cluster word
    EXPECT_TRUE(HasFat32Evidence(s));
    put8(s, 0, 0xE5);  // deleted entries do not count
    EXPECT_FALSE(HasFat32Evidence(s));
    Sector late(512, std::byte{0});
    putShort(late, 2, "LATE    TXT", 0x20, 3);
    put16(late, 64 + 20, 2);
    EXPECT_FALSE(HasFat32Evidence(late));  // after the end marker in slot 0
}

}  // namespace
}  // namespace brenvale::advscan
