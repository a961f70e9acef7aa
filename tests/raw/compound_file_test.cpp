// Compound files: measured by their own allocation table (wherever its sectors lie, in the
// batch or beyond it), named by their streams, and their summary properties read; damaged
// tables end the look in a bounded number of reads.

#include <gtest/gtest.h>

#include "compound_bytes.h"
#include "scan_disk.h"

namespace brenvale::raw {
namespace {

using namespace testing;

ByteVec filled(std::size_t n, char c) {
    return bytes(std::string(n, c));
}

struct ClassCase {
    const char* name;
    std::vector<std::string> streams;  // the first gets 6,000 bytes, the rest 300
    unsigned shift;
    int major;
    int minor;
    const char* ext;
};

ByteVec compoundOf(const ClassCase& c) {
    CompoundBytes cf(c.shift);
    for (std::size_t i = 0; i < c.streams.size(); ++i) cf.stream(c.streams[i], filled(i == 0 ? 6000 : 300, 'a' + char(i)));
    return cf.build();
}

TEST(CompoundFile, MeasuredAndNamedWhereverItLies) {
    const ClassCase cases[] = {
        {"Word", {"WordDocument", "1Table", "\005SummaryInformation"}, 9, 1, 0, "doc"},
        {"Excel", {"Workbook", "\005DocumentSummaryInformation"}, 9, 1, 1, "xls"},
        {"Excel 5", {"Book"}, 9, 1, 1, "xls"},
        {"PowerPoint", {"Current User", "PowerPoint Document", "Pictures"}, 9, 1, 2, "ppt"},
        {"Visio", {"VisioDocument"}, 9, 1, 6, "vsd"},
        {"Outlook message", {"__substg1.0_0037001F", "__properties_version1.0"}, 9, 3, 1, "msg"},
        {"Outlook message by its named properties", {"__nameid_version1.0"}, 9, 3, 1, "msg"},
        {"Access project", {"PropData", "Forms"}, 9, 4, 1, "adp"},
        {"SolidWorks part", {"Contents", "_MO_VERSION_1400"}, 9, 5, 3, "sldprt"},
        {"SolidWorks part by its content manager", {"SwDocContentMgr"}, 9, 5, 3, "sldprt"},
        {"Inventor part", {"RSeStorage"}, 9, 5, 4, "ipt"},
        {"workbook before a Word stream", {"Workbook", "WordDocument"}, 9, 1, 1, "xls"},
        {"Word with 4,096-byte sectors", {"WordDocument", "1Table"}, 12, 1, 0, "doc"},
    };
    for (const ClassCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ByteVec file = compoundOf(c);
        ExpectFoundWherever(file, {0, static_cast<std::int64_t>(file.size()), c.major, c.minor, c.ext}, {1, 3, 2048});
    }
}

TEST(CompoundFile, EndsAtTheHighestSectorInUse) {
    // Twenty sectors after the header (FAT, directory, 18 of the stream), the last in use
    // sector 19: 21 sectors long, though the table has room for more and garbage follows.
    CompoundBytes cf;
    cf.stream("WordDocument", filled(18 * 512, 'w'));
    ByteVec file = cf.build();
    ASSERT_EQ(file.size(), 21u * 512);
    ByteVec disk = noiseDisk(64);
    place(disk, 7, file);
    const auto hit = hitAt(scanDisk(disk, 16), 7);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->size, 21 * 512);
}

TEST(CompoundFile, NamesNothingItDoesNotKnow) {
    ByteVec unknown = CompoundBytes().stream("Contents", filled(5000, 'c')).stream("Data", filled(100, 'd')).build();
    ByteVec badShift = compoundOf({"", {"WordDocument"}, 9, 1, 0, "doc"});
    badShift[30] = std::byte{10};  // 1,024-byte sectors: not a compound file
    ByteVec noFat = compoundOf({"", {"WordDocument"}, 9, 1, 0, "doc"});
    noFat[44] = std::byte{0};
    for (const ByteVec* file : {&unknown, &badShift, &noFat}) {
        ByteVec disk = noiseDisk(64);
        place(disk, 3, *file);
        EXPECT_FALSE(hitAt(scanDisk(disk, 8), 3).has_value());
    }
}

TEST(CompoundFile, SummaryPropertiesFromTheMiniStreamAndFromSectors) {
    // The summary set is small (in the mini stream), the document summary set large enough
    // for sectors of its own.
    std::string longText(5000, 'n');
    CompoundBytes cf;
    cf.stream("WordDocument", filled(9000, 'w'))
        .stream("\005SummaryInformation", propertySet(false, {{2, "Quarterly report"}, {3, "Sales"}, {4, "Ren\xE9 M."}}))
        .stream("\005DocumentSummaryInformation", propertySet(true, {{15, "Acme Ltd"}, {2, longText}}));
    const ByteVec file = cf.build();
    for (std::size_t lba : {std::size_t{10}, std::size_t{2047}}) {
        SCOPED_TRACE(lba);
        ByteVec disk = noiseDisk(4096);
        place(disk, lba, file);
        SizeTables sizes;
        RawScan scan(sizes, kSector, memoryReader(disk));
        for (std::size_t at = 0; at < disk.size(); at += 2048 * kSector)
            scan.RawSignatureScan(std::span(disk).subspan(at, 2048 * kSector), static_cast<std::int64_t>(at / kSector));
        scan.FinishPending();
        const auto found = std::find_if(scan.RawFiles.begin(), scan.RawFiles.end(),
                                        [&](const TFoundFile& f) { return f.LBA == static_cast<std::int64_t>(lba); });
        ASSERT_NE(found, scan.RawFiles.end());
        EXPECT_EQ(found->Size, static_cast<std::int64_t>(file.size()));
        const TCBFFFileInfo* info = scan.CompoundInfo(*found);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->Title, "Quarterly report");
        EXPECT_EQ(info->Subject, "Sales");
        EXPECT_EQ(info->Author, "Ren\xC3\xA9 M.");
        EXPECT_EQ(info->Orgnization, "Acme Ltd");
    }
}

TEST(CompoundFile, LargeTableThroughDifatSectorsThatLieApart) {
    // More than 109 + 127 FAT sectors: two DIFAT sectors, the second at the file's end (127
    // FAT sector numbers each, the last entry links the next). The file starts near a batch's
    // end, so its table is read from the device.
    CompoundBytes cf;
    cf.stream("WordDocument", filled(15'500'000, 'x')).difatApart();
    const ByteVec file = cf.build();
    ASSERT_EQ(cf.DifatSectors.size(), 2u);
    ASSERT_GT(cf.DifatSectors[1], cf.DifatSectors[0] + 1);
    const std::size_t lba = 2040;
    ByteVec disk = noiseDisk(lba + file.size() / kSector + 64);
    place(disk, lba, file);
    const auto hit = hitAt(scanDisk(disk, 2048), static_cast<std::int64_t>(lba));
    ASSERT_TRUE(hit);
    EXPECT_EQ(*hit, (Found{static_cast<std::int64_t>(lba), static_cast<std::int64_t>(file.size()), 1, 0, "doc"}));
}

TEST(CompoundFile, DamagedTablesEndTheLookInFewReads) {
    struct Damage {
        const char* name;
        void (*apply)(ByteVec& file, const CompoundBytes& cf);
        bool found;  // the file is still named and measured
    };
    const Damage damages[] = {
        {"directory chain looping back to its start",
         [](ByteVec& f, const CompoundBytes& cf) {
             const std::size_t at = cf.FatEntryOffset(cf.DirectorySector + 1);
             for (int b = 0; b < 4; ++b) f[at + b] = static_cast<std::byte>((cf.DirectorySector >> (8 * b)) & 0xFF);
         },
         true},
        {"counts of billions",
         [](ByteVec& f, const CompoundBytes&) {
             for (std::size_t at : {44u, 72u}) {
                 for (int b = 0; b < 4; ++b) f[at + b] = std::byte{0x7F};
             }
             for (int b = 0; b < 4; ++b) f[68 + b] = std::byte{0};  // the DIFAT starts at sector 0
         },
         false},
        {"a FAT sector number past the disk",
         [](ByteVec& f, const CompoundBytes&) {
             for (int b = 0; b < 4; ++b) f[76 + b] = std::byte{0x30};
         },
         false},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.name);
        CompoundBytes cf;
        // The first directory sector names nothing; the second names the workbook.
        cf.stream("Contents", filled(300, 'c')).stream("Data", filled(300, 'd')).stream("More", filled(300, 'm'));
        cf.stream("Workbook", filled(5000, 'w'));
        ByteVec file = cf.build();
        d.apply(file, cf);
        ByteVec disk = noiseDisk(256);
        const std::size_t lba = 200;  // the table lies past the 8-sector batch: read beside it
        place(disk, lba, file);
        SizeTables sizes;
        std::size_t reads = 0;
        const SectorReader memory = memoryReader(disk);
        RawScan scan(sizes, kSector, [&](std::uint64_t at, std::span<std::byte> into) {
            ++reads;
            return memory(at, into);
        });
        for (std::size_t at = 0; at < disk.size(); at += 8 * kSector)
            scan.RawSignatureScan(std::span(disk).subspan(at, 8 * kSector), static_cast<std::int64_t>(at / kSector));
        scan.FinishPending();
        const bool found = std::any_of(scan.RawFiles.begin(), scan.RawFiles.end(),
                                       [&](const TFoundFile& f) { return f.LBA == static_cast<std::int64_t>(lba); });
        EXPECT_EQ(found, d.found);
        EXPECT_LE(reads, 1100u);
    }
}

}  // namespace
}  // namespace brenvale::raw
