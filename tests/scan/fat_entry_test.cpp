// FAT directory entries decoded from bytes alone: the kind of each slot, the first cluster in
// both widths, the long name the parts before a short entry spell, the case bits, and the rules
// by which the folder walk leaves entries out.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "scan/fat_entry.h"
#include "scan/volume_builder.h"
#include "storage/le.h"

namespace brenvale::test {
namespace {

using namespace std::string_literals;

using scan::DecodeFatEntry;
using scan::FatDrop;
using scan::FatEntry;
using scan::FatEntryKind;
using scan::FatLongNameJoiner;

FatEntry Decoded(const RawEntry& raw) {
    const auto e = DecodeFatEntry(raw);
    EXPECT_TRUE(e.has_value());
    return e.value_or(FatEntry{});
}

RawEntry WithByte(RawEntry e, std::size_t off, std::uint8_t value) {
    e[off] = std::byte{value};
    return e;
}

// The second part on disk of ".config backup" is its first: sequence byte 0x01, then '.', 0x00.
RawEntry LongPartStartingWithDot() { return LongNameEntries(u".config backup", 0x11)[1]; }

TEST(FatEntryDecode, KindOfEachSlot) {
    RawEntry blanks{};
    for (std::size_t i = 0; i < 11; ++i) blanks[i] = std::byte{' '};
    struct Row {
        const char* what;
        RawEntry raw;
        FatEntryKind kind;
        bool deleted;
        bool folder;
    };
    const std::vector<Row> rows = {
        {"zero-filled slot", RawEntry{}, FatEntryKind::EndOfFolder, false, false},
        {"blank 8.3 fields", WithByte(blanks, 11, 0x20), FatEntryKind::EndOfFolder, false, false},
        {"'.'", FolderEntry(".", 10), FatEntryKind::Dot, false, true},
        {"'..'", FolderEntry("..", 0), FatEntryKind::Dot, false, true},
        {"long-name part that reads as '.'", LongPartStartingWithDot(), FatEntryKind::LongNamePart, false, false},
        {"long-name part", LongNameEntries(u"name", 0x22)[0], FatEntryKind::LongNamePart, false, false},
        {"volume label", ShortEntry("MYVOLUME", 0x08, 0, 0), FatEntryKind::Label, false, false},
        {"deleted volume label", Deleted(ShortEntry("MYVOLUME", 0x08, 0, 0)), FatEntryKind::Label, true, false},
        {"label bit among others", ShortEntry("ODD.BIN", 0x28, 5, 1), FatEntryKind::Label, false, false},
        {"file", FileEntry("PLAIN.TXT", 14, 5), FatEntryKind::Regular, false, false},
        {"folder", FolderEntry("DOCS", 14), FatEntryKind::Regular, false, true},
        {"deleted file", Deleted(FileEntry("XGONE.TXT", 14, 5)), FatEntryKind::Regular, true, false},
        {"deleted folder", Deleted(FolderEntry("XOLD", 14)), FatEntryKind::Regular, true, true},
        // A zero first byte ends the name field, but an extension still makes it an entry.
        {"zero first byte with an extension", WithByte(FileEntry("ABC.TXT", 14, 5), 0, 0x00), FatEntryKind::Regular,
         false, false},
        {"extension only", FileEntry("        .TXT", 14, 5), FatEntryKind::Regular, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const FatEntry e = Decoded(r.raw);
        EXPECT_EQ(e.kind, r.kind);
        EXPECT_EQ(e.deleted, r.deleted);
        EXPECT_EQ(e.folder, r.folder);
    }
}

TEST(FatEntryDecode, ReadsOnlyWhole32ByteSlots) {
    std::vector<std::byte> two(64);
    const RawEntry second = FileEntry("SECOND.TXT", 9, 3);
    std::copy(second.begin(), second.end(), two.begin() + 32);
    struct Row {
        std::size_t size;
        std::size_t off;
        bool decoded;
    };
    for (const Row& r : {Row{64, 32, true}, Row{63, 32, false}, Row{64, 33, false}, Row{64, 64, false},
                         Row{31, 0, false}, Row{64, std::size_t(-1), false}}) {
        SCOPED_TRACE(testing::Message() << r.size << " bytes, offset " << r.off);
        const auto e = DecodeFatEntry(std::span(two).first(r.size), r.off);
        ASSERT_EQ(e.has_value(), r.decoded);
        if (e) {
            EXPECT_EQ(e->name(), "SECOND");
        }
    }
}

TEST(FatEntryDecode, FieldsAsStored) {
    RawEntry raw = ShortEntry("report.pdf", 0x21, 0x0003002A, 0x12345678, 0x18);
    ASSERT_TRUE(storage::putLe16(raw, 14, 0x7A31));  // create time
    ASSERT_TRUE(storage::putLe16(raw, 16, 0x5A21));  // create date
    ASSERT_TRUE(storage::putLe16(raw, 18, 0x5A22));  // access date
    ASSERT_TRUE(storage::putLe16(raw, 22, 0x8001));  // update time
    ASSERT_TRUE(storage::putLe16(raw, 24, 0x5A23));  // update date
    const FatEntry e = Decoded(raw);
    EXPECT_EQ(e.name(), "report");
    EXPECT_EQ(e.ext(), "pdf");
    // Packed fields are copied out before the checks take them by reference.
    EXPECT_EQ(e.rec.attribute, 0x21);
    EXPECT_EQ(e.caseBits(), 0x18);
    EXPECT_EQ(e.size(), 0x12345678u);
    EXPECT_EQ(std::uint32_t{e.rec.createtime}, 0x7A31);
    EXPECT_EQ(std::uint32_t{e.rec.createdate}, 0x5A21);
    EXPECT_EQ(std::uint32_t{e.rec.accessdate}, 0x5A22);
    EXPECT_EQ(std::uint32_t{e.rec.updatetime}, 0x8001);
    EXPECT_EQ(std::uint32_t{e.rec.updatedate}, 0x5A23);
    // FAT32 joins the word at offset 20 above the one at 26; FAT12/16 keep only the low word.
    EXPECT_EQ(e.firstCluster(true), 0x0003002Au);
    EXPECT_EQ(e.firstCluster(false), 0x002Au);
}

TEST(FatEntryDecode, LongNamePartTakesEachPieceUpToItsFirstZero) {
    // 5 + 6 + 2 units at offsets 1, 14 and 28; a zero in one piece does not end the others.
    RawEntry part{};
    part[0] = std::byte{0x41};
    part[11] = std::byte{0x0F};
    part[13] = std::byte{0x5C};
    const std::u16string pieces[3] = {u"ab", u"cdefgh", u"ij"};
    const std::size_t starts[3] = {1, 14, 28};
    for (int p = 0; p < 3; ++p) {
        for (std::size_t i = 0; i < pieces[p].size(); ++i) ASSERT_TRUE(storage::putLe16(part, starts[p] + 2 * i, pieces[p][i]));
    }
    ASSERT_TRUE(storage::putLe16(part, 9, u'X'));  // after the first piece's zero: not read
    const FatEntry e = Decoded(part);
    EXPECT_EQ(e.kind, FatEntryKind::LongNamePart);
    EXPECT_EQ(e.longNameChecksum(), 0x5C);
    EXPECT_EQ(e.longNameSequence(), 0x41);
    EXPECT_EQ(e.longNameUnits(), u"abcdefghij");
}

TEST(FatEntryDecode, DropRulesOfTheWalk) {
    struct Row {
        const char* what;
        RawEntry raw;
        bool fat32;
        FatDrop drop;
    };
    const std::vector<Row> rows = {
        {"live file", FileEntry("PLAIN.TXT", 14, 5), false, FatDrop::Kept},
        {"empty live file", FileEntry("EMPTY.TXT", 14, 0), false, FatDrop::Kept},
        {"deleted file of size 0", Deleted(FileEntry("DZERO.TXT", 10, 0)), false, FatDrop::DeletedEmptyFile},
        {"deleted file with data", Deleted(FileEntry("DDATA.TXT", 11, 5)), false, FatDrop::Kept},
        {"live folder with a size", ShortEntry("BIGDIR", 0x10, 12, 512), false, FatDrop::LiveFolderWithSize},
        {"deleted folder with a size", Deleted(ShortEntry("XBIGDIR", 0x10, 13, 512)), false, FatDrop::Kept},
        {"deleted folder of size 0", Deleted(FolderEntry("XOLD", 13)), false, FatDrop::Kept},
        {"file at cluster 0 with a size", FileEntry("NOCLUS.TXT", 0, 5), false, FatDrop::SizedFileAtNoCluster},
        {"empty file at cluster 0", FileEntry("EMPTY.TXT", 0, 0), false, FatDrop::Kept},
        // Only FAT32 reads the high word, so only there does the file have a cluster.
        {"FAT16: cluster only in the high word", FileEntry("HIGH.TXT", 0x10000, 5), false,
         FatDrop::SizedFileAtNoCluster},
        {"FAT32: cluster only in the high word", FileEntry("HIGH.TXT", 0x10000, 5), true, FatDrop::Kept},
        {"extension only", FileEntry("        .TXT", 14, 5), false, FatDrop::NoName},
        {"zero first byte with an extension", WithByte(FileEntry("ABC.TXT", 14, 5), 0, 0x00), true, FatDrop::NoName},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const FatEntry e = Decoded(r.raw);
        ASSERT_EQ(e.kind, FatEntryKind::Regular);
        EXPECT_EQ(scan::WalkDropRule(e, r.fat32), r.drop);
    }
}

TEST(FatEntryDecode, DropRulesForBytesThatAreNoEntry) {
    // A volume of clusters 2 to 1001 and 1000 KiB; the defaults bound nothing.
    const scan::FatVolumeBounds volume{1001, 1000 * 1024};
    struct Row {
        const char* what;
        RawEntry raw;
        scan::FatVolumeBounds bounds;
        FatDrop drop;
    };
    const std::vector<Row> rows = {
        {"plain file", FileEntry("PLAIN.TXT", 1001, 1000 * 1024), volume, FatDrop::Kept},
        {"0x05 standing for a first 0xE5", WithByte(FileEntry("KANJI.TXT", 14, 5), 0, 0x05), volume, FatDrop::Kept},
        {"deleted mark", Deleted(FileEntry("GONE.TXT", 14, 5)), volume, FatDrop::Kept},
        {"bytes above 0x7F (code page)", WithByte(FileEntry("CAFE.TXT", 14, 5), 3, 0x90), volume, FatDrop::Kept},
        {"control byte in the name", WithByte(FileEntry("CTL.TXT", 14, 5), 1, 0x07), volume, FatDrop::BadShortName},
        {"control byte in the extension", WithByte(FileEntry("CTL.TXT", 14, 5), 9, 0x1B), volume, FatDrop::BadShortName},
        {"'?' in the name", WithByte(FileEntry("ASK.TXT", 14, 5), 2, '?'), volume, FatDrop::BadShortName},
        {"'.' inside the 8.3 fields", WithByte(FileEntry("DOT.TXT", 14, 5), 1, '.'), volume, FatDrop::BadShortName},
        {"'|' in the extension", WithByte(FileEntry("BAR.TXT", 14, 5), 10, '|'), volume, FatDrop::BadShortName},
        {"attribute bit 0x40", ShortEntry("RES.TXT", 0x40, 14, 5), volume, FatDrop::ReservedAttributes},
        {"attribute bit 0x80", ShortEntry("RES.TXT", 0xA0, 14, 5), volume, FatDrop::ReservedAttributes},
        {"file after the last cluster", FileEntry("FAR.TXT", 1002, 5), volume, FatDrop::ClusterPastVolume},
        {"folder after the last cluster", FolderEntry("FAR", 1002), volume, FatDrop::Kept},
        {"after the last cluster, unbounded", FileEntry("FAR.TXT", 1002, 5), {}, FatDrop::Kept},
        {"larger than the volume", FileEntry("BIG.TXT", 14, 1000 * 1024 + 1), volume, FatDrop::SizePastVolume},
        {"larger than the volume, unbounded", FileEntry("BIG.TXT", 14, 1000 * 1024 + 1), {}, FatDrop::Kept},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const FatEntry e = Decoded(r.raw);
        ASSERT_EQ(e.kind, FatEntryKind::Regular);
        EXPECT_EQ(scan::WalkDropRule(e, false, r.bounds), r.drop);
    }
}

// The long name the joiner gives each short entry of a folder, as the entry would be listed
// (nullopt: listed by its 8.3 name).
std::vector<std::optional<std::string>> NamesHandedOut(const std::vector<RawEntry>& slots) {
    FatLongNameJoiner joiner;
    std::vector<std::optional<std::string>> out;
    for (const RawEntry& raw : slots) {
        const FatEntry e = Decoded(raw);
        const auto units = joiner.Feed(e);
        const bool passes = e.kind == FatEntryKind::LongNamePart || e.kind == FatEntryKind::Dot;
        EXPECT_EQ(units.has_value(), !passes) << "slot after " << out.size() << " short entries";
        if (units) out.push_back(scan::ListedLongName(*units));
    }
    return out;
}

std::vector<RawEntry> Join(std::initializer_list<std::vector<RawEntry>> runs) {
    std::vector<RawEntry> out;
    for (const auto& r : runs) out.insert(out.end(), r.begin(), r.end());
    return out;
}

std::string Letters(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(char('a' + i % 26));
    return s;
}

std::u16string Wide(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

TEST(FatLongNameJoiner, HandsTheJoinedPartsToTheNextShortEntry) {
    const RawEntry shortEntry = FileEntry("LONGNA~1.TXT", 10, 5);
    const RawEntry other = FileEntry("OTHER.TXT", 11, 5);
    const std::uint8_t sum = LongNameChecksum(shortEntry);
    const std::string name = "A very long file name.txt";  // two parts, the last first on disk
    const auto twoParts = LongNameEntries(Wide(name), sum);
    auto brokenInside = twoParts;
    brokenInside[1][13] = std::byte{static_cast<std::uint8_t>(sum + 1)};
    const auto twentyParts = LongNameEntries(Wide(Letters(20 * 13)), sum ^ 0x01);
    const std::string tooLong = Letters(21 * 13);

    struct Row {
        const char* what;
        std::vector<RawEntry> slots;
        std::vector<std::optional<std::string>> listed;
    };
    const std::vector<Row> rows = {
        {"no parts", {shortEntry}, {std::nullopt}},
        {"one sequence", Join({twoParts, {shortEntry}}), {name}},
        {"a stale sequence before it",
         Join({LongNameEntries(u"old-stale-name.doc", sum ^ 0x5A), twoParts, {shortEntry}}), {name}},
        {"checksum changes at the last part", Join({brokenInside, {shortEntry}}), {"A very long f"}},
        // The checksum is only compared between parts, never with the short name.
        {"checksum of another short name", Join({LongNameEntries(u"kept anyway", sum ^ 0xFF), {shortEntry}}),
         {"kept anyway"}},
        {"a short entry takes only the parts before it", Join({twoParts, {shortEntry, other}}), {name, std::nullopt}},
        {"'.' and '..' between parts",
         Join({{twoParts[0], FolderEntry(".", 10), FolderEntry("..", 0), twoParts[1]}, {shortEntry}}), {name}},
        {"a label between parts ends the sequence",
         Join({{twoParts[0], ShortEntry("MYVOLUME", 0x08, 0, 0), twoParts[1]}, {shortEntry}}),
         {"ile name.txt", "A very long f"}},
        {"an end-of-folder slot takes the parts too", Join({twoParts, {RawEntry{}, shortEntry}}), {name, std::nullopt}},
        {"a part that reads as '.'", Join({LongNameEntries(u".config backup", sum), {shortEntry}}), {".config backup"}},
        {"20 parts", Join({twentyParts, {shortEntry}}), {Letters(20 * 13)}},
        // The first 20 on disk (the name's end) are kept; the part holding its start is not.
        {"21 parts", Join({LongNameEntries(Wide(tooLong), sum), {shortEntry}}), {tooLong.substr(13)}},
        {"a new checksum starts the part count over", Join({twentyParts, LongNameEntries(u"short one", sum), {shortEntry}}),
         {"short one"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(NamesHandedOut(r.slots), r.listed);
    }
}

TEST(FatLongNameJoiner, PartsAreJoinedUnitForUnit) {
    // The units themselves, padding included: the listed name is cut from them later.
    const std::uint8_t sum = 0x42;
    FatLongNameJoiner joiner;
    for (const RawEntry& part : LongNameEntries(u".config backup", sum)) EXPECT_FALSE(joiner.Feed(Decoded(part)));
    const auto units = joiner.Feed(Decoded(FileEntry("CONFIG~1", 10, 1)));
    ASSERT_TRUE(units.has_value());
    // 14 characters, then the terminator ends the second part's first piece; its other two
    // pieces are read on to their end (all U+FFFF padding).
    EXPECT_EQ(*units, u".config backup" + std::u16string(8, u'\uFFFF'));
    EXPECT_EQ(joiner.Feed(Decoded(FileEntry("NEXT.TXT", 11, 1))), std::u16string());
}

TEST(FatLongNameJoiner, ListedNameIsCutAtTheFirstZeroOrFFFF) {
    struct Row {
        const char* what;
        std::u16string units;
        std::optional<std::string> listed;
    };
    const std::vector<Row> rows = {
        {"no units", u"", std::nullopt},
        {"only blanks and control units", u"  \u0001 ", std::nullopt},
        {"terminated and padded", u"name.txt\0\uFFFF\uFFFF"s, "name.txt"},
        {"filling its last part", u"exactly13char", "exactly13char"},
        {"padding without a terminator", u"name\uFFFF\uFFFF", "name"},
        {"blanks around the name are kept", u" spaced ", " spaced "},
        {"non-ASCII", u"Gr\u00FC\u00DFe", "Gr\xC3\xBC\xC3\x9F" "e"},
        // Not blank, so the 8.3 name is not used, but nothing is left before the cut.
        {"padding first", u"\uFFFFname", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(scan::ListedLongName(r.units), r.listed);
    }
}

TEST(FatEntryDecode, CaseBitsLowerNameAndExtensionSeparately) {
    struct Row {
        std::uint8_t caseBits;
        const char* name;
        const char* ext;
    };
    for (const Row& r : {Row{0x00, "README\x8E ", "TXT"}, Row{0x08, "readme\x8E ", "TXT"}, Row{0x10, "README\x8E ", "txt"},
                         Row{0x18, "readme\x8E ", "txt"}, Row{0x19, "readme\x8E ", "txt"}, Row{0xE7, "README\x8E ", "TXT"}}) {
        SCOPED_TRACE(testing::Message() << "case bits " << int(r.caseBits));
        storage::TArray8 name{'R', 'E', 'A', 'D', 'M', 'E', '\x8E', ' '};  // a code-page letter stays as it is
        std::array<char, 3> ext{'T', 'X', 'T'};
        scan::ApplyCaseBits(name, ext, r.caseBits);
        EXPECT_EQ(std::string(name.data(), 8), r.name);
        EXPECT_EQ(std::string(ext.data(), 3), r.ext);
    }
}

}  // namespace
}  // namespace brenvale::test
