// The mail and database signatures: personal folders, Outlook Express folders and address
// books sized from their headers, mbox files known by their sender, Access databases walked
// page by page.

#include <gtest/gtest.h>

#include "cad_bytes.h"
#include "raw/formats/formats.h"
#include "scan_disk.h"

namespace brenvale::raw {
namespace {

using namespace testing;

struct MailCase {
    const char* name;
    ByteVec file;
    int major;
    int minor;
    const char* ext;
    std::int64_t size;  // -2: the file's own length
};

std::vector<MailCase> mailCases() {
    ByteVec mdb = accessOf(false, {1, 2, 2, 3, 4, 5, 1, 1, 9, 8});
    const std::size_t mdbLength = mdb.size();
    mdb.resize(mdb.size() + 2048, std::byte{0});  // a page of type 0 ends it
    const std::string mbox = "From alice@mail.example.org Thu Jan  1 00:00:00 2026\nSubject: hi\n\nbody\n";
    return {
        {"PST, Unicode (file size at 184)", pstOf(true, 40960), 3, 0, "pst", -2},
        {"PST, ANSI (file size at 168)", pstOf(false, 24576), 3, 0, "pst", -2},
        {"Outlook Express folder", dbxOf(70000), 3, 2, "dbx", -2},
        {"address book", wabOf(123456), 3, 3, "wab", 123456 + 204800},
        {"mbox", bytes(mbox), 3, 4, "mbox", kUnknownSize},
        {"MDB of 2,048-byte pages ending at a page of type 0", mdb, 4, 0, "mdb", static_cast<std::int64_t>(mdbLength)},
        {"ACCDB", accessOf(true, {1, 1, 2, 3, 4, 4, 4, 7}), 4, 2, "accdb", -2},
        {"Money", [] { ByteVec v; put32(v, 0x100); put(v, "MSISAM Database"); padTo(v, 4096, std::byte{1}); return v; }(), 4, 3, "mny", kUnknownSize},
    };
}

TEST(MailDatabaseLengths, ExactWhereverTheFileLies) {
    for (const MailCase& c : mailCases()) {
        SCOPED_TRACE(c.name);
        const std::int64_t expected = c.size == -2 ? static_cast<std::int64_t>(c.file.size()) : c.size;
        ExpectFoundWherever(c.file, {0, expected, c.major, c.minor, c.ext}, {1, 3, 2048});
    }
}

// The size field of an address book lies 2,216 bytes in: a hit whose batch ends before it
// waits for the batch that holds it, and is not listed until then.
TEST(MailDatabaseLengths, AddressBookWaitsForItsSizeField) {
    ByteVec disk = noiseDisk(64);
    place(disk, 10, wabOf(5000));
    const SizeTables sizes;
    RawScan scan(sizes, kSector);
    for (std::int64_t lba = 0; lba < 64; ++lba) {
        scan.RawSignatureScan(std::span(disk).subspan(static_cast<std::size_t>(lba) * kSector, kSector), lba);
        const bool listed = !scan.RawFiles.empty();
        if (lba < 10 + 4) {  // 2,216 bytes lie in the file's fifth sector
            EXPECT_FALSE(listed) << lba;
            EXPECT_EQ(scan.PendingRawFiles.size(), lba >= 10 ? 1u : 0u) << lba;
        } else {
            ASSERT_TRUE(listed) << lba;
        }
    }
    ASSERT_EQ(scan.RawFiles.size(), 1u);
    EXPECT_EQ(scan.RawFiles[0].Size, 5000 + 204800);
    // Batches that end before the field, at it and past it: the batch holding the file's fifth
    // sector reads it, whichever that is.
    for (std::size_t batch : {std::size_t{1}, std::size_t{3}}) {
        ByteVec shifted = noiseDisk(64);
        place(shifted, 10, wabOf(7777));
        EXPECT_EQ(hitAt(scanDisk(shifted, batch), 10), (Found{10, 7777 + 204800, 3, 3, "wab"}));
    }
}

TEST(MailDatabaseLengths, SenderAddressCheck) {
    for (const char* good : {"a@b.cd", "alice.smith@mail.example.org", "\"odd.name\"@ex-ample.com", "\"a\\\"b\"@x.y",
                             "x+tag@a1.b2", "o'hara@example.com"}) {
        EXPECT_TRUE(formats::MailAddressValid(good)) << good;
    }
    for (const char* bad : {"MAILER-DAEMON", "a@b", "a..b@example.com", ".a@example.com", "a.@example.com", "a@1x.com",
                            "a@ex-.com", "a@ex--ample.com", "a@example.", "a@@b.c", "a(b)@c.d", "\"open@x.y", "@x.y", ""}) {
        EXPECT_FALSE(formats::MailAddressValid(bad)) << bad;
    }
    ByteVec disk = noiseDisk(64);
    place(disk, 5, bytes("From MAILER-DAEMON Thu Jan  1 00:00:00 2026\n"));
    place(disk, 9, bytes("From bob@example.com\n"));  // no space within the line: no sender
    place(disk, 13, bytes("From bob@example.com Thu Jan  1 00:00:00 2026\n"));
    const auto hits = scanDisk(disk, 64);
    EXPECT_FALSE(hitAt(hits, 5));
    EXPECT_FALSE(hitAt(hits, 9));
    EXPECT_EQ(hitAt(hits, 13), (Found{13, kUnknownSize, 3, 4, "mbox"}));
}

TEST(MailDatabaseLengths, DamagedHeaders) {
    ByteVec pstVersion = pstOf(true, 40960);
    pstVersion[10] = std::byte{99};
    ByteVec pstClient = pstOf(true, 40960);
    pstClient[8] = std::byte{'X'};
    ByteVec pstTiny = pstOf(false, 24576);
    setLe32(pstTiny, 168, 600);  // smaller than the first allocation map's place
    ByteVec pstHuge = pstOf(true, 40960);
    setLe64(pstHuge, 184, 0xFFFFFFFFFFFFULL);
    ByteVec dbxTiny = dbxOf(70000);
    setLe32(dbxTiny, 124, 100);
    ByteVec mdbPage = accessOf(false, {1, 1});
    mdbPage[1] = std::byte{0x02};  // not the Jet start
    for (const auto& [name, file] : std::vector<std::pair<const char*, ByteVec>>{{"PST of an unknown version", pstVersion},
                                                                                  {"PST of an unknown client", pstClient},
                                                                                  {"PST smaller than its first map", pstTiny},
                                                                                  {"PST of 256 TiB", pstHuge},
                                                                                  {"DBX smaller than its header", dbxTiny},
                                                                                  {"Jet start cut", mdbPage}}) {
        SCOPED_TRACE(name);
        ByteVec disk = noiseDisk(256);
        place(disk, 20, file);
        const auto hit = hitAt(scanDisk(disk, 256), 20);
        EXPECT_FALSE(hit && (hit->major == 3 || hit->major == 4)) << *hit;
    }
}

}  // namespace
}  // namespace brenvale::raw
