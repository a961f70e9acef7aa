// The advanced scan's pass over volumes built byte by byte: NTFS records (their length found
// from the records, their numbers, names and the cluster-size vote), exFAT entry sets and FAT
// directory sectors are harvested wherever batch boundaries fall; a stopped pass resumed gives
// what one pass gives; each batch also goes to the signature scan.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <tuple>

#include "advscan/harvest_pass.h"
#include "platform/fake/fake_platform.h"
#include "raw/signature_scan.h"
#include "scan/ntfs_builder.h"
#include "scan/volume_builder.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/le.h"

namespace brenvale::advscan {
namespace {

using test::NtfsBuilder;

struct Disk {
    explicit Disk(std::vector<std::byte> bytes) : sectors(bytes.size() / 512) {
        storage::DeviceAborted = false;
        os.addDisk("/d.img", std::move(bytes), 512, false);
        device = std::make_unique<storage::TDevice>(os, "/d.img");
    }
    platform::fake::FakePlatform os;
    std::unique_ptr<storage::TDevice> device;
    std::uint64_t sectors;
};

struct Pass {
    HarvestLists lists;
    KnownSets known;
    PassResult result;
};

// One pass (or a pass stopped after `stopAfter` batches and resumed) over the whole disk.
std::unique_ptr<Pass> runPass(Disk& d, std::uint32_t batch, int stopAfter = -1, raw::RawScan* raw = nullptr) {
    auto p = std::make_unique<Pass>();
    PassRequest req;
    req.ObjectSectors = d.sectors;
    req.BatchSectors = batch;
    HarvestSetup setup;
    setup.ObjectSectors = d.sectors;
    std::atomic<bool> stop{false};
    PassCallbacks cb;
    int batches = 0;
    cb.Progress = [&](int) {
        if (++batches == stopAfter) stop = true;
    };
    p->result = RunHarvestPass(*d.device, req, p->lists, p->known, setup, raw, cb, stop);
    if (stopAfter > 0) {
        EXPECT_EQ(p->result.Outcome, PassOutcome::Stopped);
        // The batch already read when the stop came is finished too.
        EXPECT_EQ(p->result.NextLba, std::int64_t{stopAfter + 1} * batch);
        stop = false;
        req.ResumeLba = p->result.NextLba;
        p->result = RunHarvestPass(*d.device, req, p->lists, p->known, setup, raw, cb, stop);
    }
    EXPECT_EQ(p->result.Outcome, PassOutcome::Completed);
    return p;
}

// A small NTFS volume: $MFT, files 16 to 45 with resident data, and one file whose data lies in
// ten clusters (5,000 bytes: it votes for one sector per cluster).
std::vector<std::byte> ntfsVolume() {
    NtfsBuilder b;
    for (std::uint32_t n = 16; n < 46; ++n) {
        auto& r = b.record(n, 0x0001);
        b.standardInformation(r, 0);
        b.fileName(r, 5, u"file" + std::u16string(1, char16_t(u'A' + (n - 16) % 26)) + u".txt", 1);
        b.residentData(r, "text");
    }
    auto& big = b.record(46, 0x0001);
    b.standardInformation(big, 0);
    b.fileName(big, 5, u"big.bin", 1);
    b.nonResidentData(big, {std::byte{0x11}, std::byte{10}, std::byte{100}, std::byte{0}}, 5000);
    auto bytes = b.finish();
    // Quick-formatted: nothing of the boot sector is left.
    std::fill(bytes.begin(), bytes.begin() + 512, std::byte{0});
    return bytes;
}

using RecordKey = std::tuple<std::int64_t, std::string, std::int64_t>;  // number, name, sector

std::set<RecordKey> recordsOf(const HarvestLists& l) {
    std::set<RecordKey> out;
    for (const auto* r : l.NTFSFileList) out.emplace(r->recordnumber, r->filename, r->sectornumber);
    return out;
}

TEST(AdvHarvestPass, NtfsRecordsWhereverTheBatchesEnd) {
    Disk d(ntfsVolume());
    std::set<RecordKey> files;
    for (std::int64_t n = 16; n < 46; ++n) {
        files.emplace(n, "file" + std::string(1, char('A' + (n - 16) % 26)) + ".txt", 16 + 2 * n);
    }
    files.emplace(46, "big.bin", 16 + 2 * 46);
    std::set<RecordKey> withTable = files;
    withTable.emplace(0, "$MFT", 16);
    // Batches of 7 and 13 sectors end inside records. The record length is found in the first
    // batch that holds two records: with small batches $MFT (alone in its batch, records 1 to
    // 15 are missing) comes before that and is not harvested; a batch of 256 holds them all.
    struct Case {
        std::uint32_t batch;
        const std::set<RecordKey>& records;
        SpcVotes votes;  // big.bin votes for one sector per cluster, and so does $MFT
    };
    for (const Case& c : {Case{7, files, {1, 0, 0, 0, 0, 0, 0, 0}}, Case{13, files, {1, 0, 0, 0, 0, 0, 0, 0}},
                          Case{256, withTable, {2, 0, 0, 0, 0, 0, 0, 0}}}) {
        SCOPED_TRACE(c.batch);
        const auto p = runPass(d, c.batch);
        EXPECT_EQ(p->lists.RecordLength, 1024u);
        EXPECT_EQ(recordsOf(p->lists), c.records);
        EXPECT_EQ(p->lists.Votes, c.votes);
        const auto big = std::find_if(p->lists.NTFSFileList.begin(), p->lists.NTFSFileList.end(),
                                      [](const auto* r) { return r->filename == "big.bin"; });
        ASSERT_NE(big, p->lists.NTFSFileList.end());
        EXPECT_EQ((*big)->tmpsectnum, 100);
        EXPECT_EQ((*big)->realsize, 5000u);
    }
}

TEST(AdvHarvestPass, KnownRecordsAndTheRootAreNotHarvestedAgain) {
    Disk d(ntfsVolume());
    auto p = std::make_unique<Pass>();
    p->known.RecordNumbers = {17, 18};
    PassRequest req;
    req.ObjectSectors = d.sectors;
    req.RecordLength = 1024;  // from the boot sector
    std::atomic<bool> stop{false};
    RunHarvestPass(*d.device, req, p->lists, p->known, HarvestSetup{}, nullptr, {}, stop);
    std::set<std::int64_t> numbers;
    for (const auto* r : p->lists.NTFSFileList) numbers.insert(r->recordnumber);
    EXPECT_FALSE(numbers.contains(5));
    EXPECT_FALSE(numbers.contains(17));
    EXPECT_FALSE(numbers.contains(18));
    EXPECT_TRUE(numbers.contains(16));
    EXPECT_TRUE(numbers.contains(19));
}

TEST(AdvHarvestPass, ARecordWhoseNameLiesInALaterRecordIsHarvestedAfterThePass) {
    NtfsBuilder b;
    // Record 40 keeps its name in record 41, as its attribute list says.
    auto& base = b.record(40, 0x0001);
    b.standardInformation(base, 0);
    std::vector<std::byte> list;
    auto entry = [&](std::uint32_t type, std::uint64_t record) {
        std::vector<std::byte> e(32);
        (void)storage::putLe32(e, 0, type);
        (void)storage::putLe16(e, 4, 32);
        e[7] = std::byte{26};
        (void)storage::putLe64(e, 16, record | (std::uint64_t{1} << 48));
        list.insert(list.end(), e.begin(), e.end());
    };
    entry(0x10, 40);
    entry(0x30, 41);
    b.resident(base, 0x20, list);
    auto& extension = b.record(41, 0x0001);
    (void)storage::putLe64(extension.bytes, 32, 40 | (std::uint64_t{1} << 48));
    b.fileName(extension, 5, u"spilled name.txt", 1);
    Disk d(b.finish());

    Pass p;
    PassRequest req;
    req.ObjectSectors = d.sectors;
    req.RecordLength = 1024;
    std::atomic<bool> stop{false};
    RunHarvestPass(*d.device, req, p.lists, p.known, HarvestSetup{}, nullptr, {}, stop);
    auto named = [&] {
        return std::any_of(p.lists.NTFSFileList.begin(), p.lists.NTFSFileList.end(), [](const auto* r) {
            return r->recordnumber == 40 && r->filename == "spilled name.txt";
        });
    };
    EXPECT_FALSE(named());
    ASSERT_EQ(p.lists.DeferredRecords.size(), 1u);
    HarvestDeferredRecords(p.lists, p.known, 512, 512, [&](std::int64_t rel, std::span<std::byte> into) {
        return d.device->Read(static_cast<std::uint64_t>(rel), static_cast<std::uint32_t>(into.size() / 512), into) == into.size();
    });
    EXPECT_TRUE(named());
    EXPECT_TRUE(p.lists.DeferredRecords.empty());
    // The extension record itself names no file of its own.
    EXPECT_EQ(std::count_if(p.lists.NTFSFileList.begin(), p.lists.NTFSFileList.end(),
                            [](const auto* r) { return r->recordnumber == 41; }),
              0);
}

TEST(AdvHarvestPass, StoppedAndResumedGivesWhatOnePassGives) {
    Disk d(ntfsVolume());
    const auto whole = runPass(d, 13);
    for (int stopAfter : {2, 5, 9}) {
        SCOPED_TRACE(stopAfter);
        const auto resumed = runPass(d, 13, stopAfter);
        EXPECT_EQ(recordsOf(resumed->lists), recordsOf(whole->lists));
        EXPECT_EQ(resumed->lists.Votes, whole->lists.Votes);
    }
}

TEST(AdvHarvestPass, ExFatEntrySetsAcrossSectorsAndBatches) {
    using test::ExfatEntries;
    test::VolumeBuilder v(test::Fs::Exfat);
    // A root of two clusters (one sector each): four sets of three slots, then one of five
    // that starts in the first sector and ends in the second, then one in the second.
    v.chain({v.root(), 3});
    std::size_t slot = 0;
    for (std::uint32_t i = 0; i < 4; ++i) {
        slot = v.put(v.root(), slot, ExfatEntries({.name = std::u16string(1, char16_t(u'a' + i)) + u".txt", .cluster = 20 + 10 * i, .length = 5}));
    }
    ASSERT_EQ(slot, 12u);
    slot = v.put(v.root(), slot, ExfatEntries({.name = u"a rather long name of a file.txt", .cluster = 21, .length = 7}));
    ASSERT_EQ(slot, 17u);
    v.put(v.root(), slot, ExfatEntries({.name = u"gone.jpg", .cluster = 22, .length = 90000, .deleted = true}));
    v.put(30, 0, ExfatEntries({.name = u"Photos", .folder = true, .cluster = 31}));
    const std::uint64_t rootSector = v.clusterSector(v.root());
    const std::uint64_t folderSector = v.clusterSector(30);
    ASSERT_EQ(v.clusterSector(3), rootSector + 1);
    Disk d(std::move(v.bytes()));
    // A batch boundary right after the root's first sector.
    for (std::uint32_t batch : {static_cast<std::uint32_t>(rootSector + 1), 64u}) {
        SCOPED_TRACE(batch);
        const auto p = runPass(d, batch);
        std::map<std::string, std::uint32_t> found;
        for (const auto* e : p->lists.FatFileList) found[e->LongFileName] = e->DirClusNum;
        EXPECT_EQ(found, (std::map<std::string, std::uint32_t>{{"a.txt", 20},
                                                                 {"b.txt", 30},
                                                                 {"c.txt", 40},
                                                                 {"d.txt", 50},
                                                                 {"a rather long name of a file.txt", 21},
                                                                 {"gone.jpg", 22},
                                                                 {"Photos", 31}}));
        EXPECT_EQ(p->lists.ExFatDirs, (std::vector<std::int64_t>{static_cast<std::int64_t>(rootSector),
                                                                  static_cast<std::int64_t>(rootSector + 1),
                                                                  static_cast<std::int64_t>(folderSector)}));
    }
}

TEST(AdvHarvestPass, FatDirectorySectors) {
    using test::FileEntry;
    using test::FolderEntry;
    test::VolumeBuilder v(test::Fs::Fat16);
    v.put(0, 0, {FileEntry("REPORT.PDF", 40, 1000), FolderEntry("PHOTOS", 50)});
    v.makeFolder(50, 0);
    v.put(50, 2, {FileEntry("IMG1.JPG", 60, 4000)});
    const auto folder = static_cast<std::int64_t>(v.clusterSector(50));
    Disk d(std::move(v.bytes()));
    const auto p = runPass(d, 64);
    ASSERT_EQ(p->lists.FDTs.size(), 2u);  // the root's first sector and the folder's
    EXPECT_EQ(p->lists.FDTs[1], folder);
    EXPECT_EQ(p->lists.Fat32Count, 0);
    // A sector the standard walk read is not kept again.
    auto again = std::make_unique<Pass>();
    again->known.DirSectors = {folder};
    PassRequest req;
    req.ObjectSectors = d.sectors;
    std::atomic<bool> stop{false};
    RunHarvestPass(*d.device, req, again->lists, again->known, HarvestSetup{}, nullptr, {}, stop);
    EXPECT_EQ(again->lists.FDTs, std::vector<std::int64_t>{p->lists.FDTs[0]});
}

TEST(AdvHarvestPass, EveryBatchGoesToTheSignatureScan) {
    auto bytes = ntfsVolume();
    // A cabinet's head at sector 3000: the signature scan lists it with its header's length.
    bytes.resize(4096 * 512, std::byte{0});
    const char cab[] = "MSCF\0\0\0\0\x10\x27\0\0";
    std::memcpy(bytes.data() + 3000 * 512, cab, 12);
    Disk d(std::move(bytes));
    raw::SizeTables sizes;
    raw::RawScan raw(sizes, 512);
    runPass(d, 256, -1, &raw);
    raw.FinishPending();
    ASSERT_EQ(raw.RawFiles.size(), 1u);
    EXPECT_EQ(raw.RawFiles.front().LBA, 3000);
    EXPECT_EQ(raw.RawFiles.front().Size, 10000);
}

TEST(AdvHarvestPass, RangesChooseWholeBatches) {
    Disk d(ntfsVolume());
    HarvestLists lists;
    KnownSets known;
    PassRequest req;
    req.ObjectSectors = d.sectors;
    req.BatchSectors = 16;
    req.RecordLength = 1024;
    req.Range = {0, 60, 70};  // batches 3 and 4: sectors 48 to 79
    std::atomic<bool> stop{false};
    const auto r = RunHarvestPass(*d.device, req, lists, known, HarvestSetup{}, nullptr, {}, stop);
    EXPECT_EQ(r.BytesRead, 32u * 512);
    EXPECT_EQ(r.NextLba, 80);
    for (const auto* rec : lists.NTFSFileList) {
        EXPECT_GE(rec->sectornumber, 48);
        EXPECT_LT(rec->sectornumber, 80);
    }
    EXPECT_FALSE(lists.NTFSFileList.empty());
    // Outside the object: nothing read, the pass ends where it began.
    req.Range = {0, 100000, 200000};
    const auto none = RunHarvestPass(*d.device, req, lists, known, HarvestSetup{}, nullptr, {}, stop);
    EXPECT_EQ(none.BytesRead, 0u);
    EXPECT_EQ(none.NextLba, 0);
}

TEST(AdvHarvestPass, BootRecordLengths) {
    EXPECT_EQ(BootRecordLength(0xF6, 512, 8), 1024u);   // 2^10
    EXPECT_EQ(BootRecordLength(0xF4, 4096, 1), 4096u);  // 2^12
    EXPECT_EQ(BootRecordLength(2, 512, 1), 1024u);      // two clusters of 512
    EXPECT_EQ(BootRecordLength(1, 4096, 1), 4096u);
    EXPECT_EQ(BootRecordLength(0xF0, 512, 8), 0u);      // 64 KiB: no record length
    EXPECT_EQ(BootRecordLength(1, 512, 1), 0u);         // 512: too short
    EXPECT_EQ(BootRecordLength(0x80, 512, 1), 0u);      // 2^128
    EXPECT_EQ(BootRecordLength(0, 512, 8), 0u);
}

}  // namespace
}  // namespace brenvale::advscan
