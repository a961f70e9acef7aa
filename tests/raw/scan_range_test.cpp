// The range driver (batch geometry, pieces, stop) and raw extraction, over a scripted device.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "archive_bytes.h"
#include "platform/fake/fake_platform.h"
#include "raw/raw_recover.h"
#include "raw/scan_range.h"
#include "scan/undelete.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "support/temp_dir.h"

namespace brenvale::raw {
namespace {

using namespace testing;

constexpr std::uint32_t kSector = 512;
constexpr char kImage[] = "disk.img";


TEST(BatchSectors, OneMebibyteWithinItsBounds) {
    struct Case {
        std::uint32_t bps;
        std::uint64_t objectSectors;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {512, 1 << 30, 2048}, {4096, 1 << 30, 256}, {0, 1 << 30, 2048}, {64, 1 << 30, 16384},
        {65536, 1 << 30, 256}, {512, 100, 100}, {512, 2048, 2048},
    };
    for (const auto& c : cases) EXPECT_EQ(BatchSectors(c.bps, c.objectSectors), c.expected) << c.bps << " " << c.objectSectors;
}

// A disk of noise with archives in it, on a scripted platform.
class RangeTest : public ::testing::Test {
protected:
    static constexpr std::uint64_t kSectors = 3 * 2048 + 700;

    void SetUp() override {
        storage::DeviceAborted = false;
        disk = noise(kSectors * kSector);
        for (std::uint64_t s = 0; s < kSectors; ++s) disk[s * kSector] = std::byte{0xEE};
        files = {
            {100, ZipBytes().add("a.txt", textBytes(9000)).finish()},
            {2045, tarOf({{"b", textBytes(3000)}})},  // across the first batch boundary
            {4090, gzipOf(textBytes(400000), 9)},      // across the second
            {kSectors - 2, rar4({{"c", textBytes(700)}})},  // ends at the disk's end
        };
        for (const auto& [lba, bytes] : files) {
            ASSERT_LE(lba * kSector + bytes.size(), disk.size());
            std::copy(bytes.begin(), bytes.end(), disk.begin() + static_cast<std::ptrdiff_t>(lba * kSector));
        }
        os.addDisk(kImage, disk, kSector, false);
        device = std::make_unique<storage::TDevice>(os, kImage);
    }
    void TearDown() override { storage::DeviceAborted = false; }

    std::vector<std::pair<std::int64_t, std::int64_t>> hitsOf(const RawScan& s) {
        std::vector<std::pair<std::int64_t, std::int64_t>> out;
        for (const auto& f : s.RawFiles) out.emplace_back(f.LBA, f.Size);
        std::sort(out.begin(), out.end());
        return out;
    }

    platform::fake::FakePlatform os;
    ByteVec disk;
    std::vector<std::pair<std::uint64_t, ByteVec>> files;
    std::unique_ptr<storage::TDevice> device;
    SizeTables sizes;
    std::atomic<bool> stop{false};
};

TEST_F(RangeTest, FindsEveryFileWithItsLength) {
    RawScan raw(sizes, kSector, DeviceSectors(*device));
    std::uint64_t lastDone = 0, lastTotal = 0;
    const auto r = ScanRange(raw, *device, {0, kSectors}, 0, kSectors,
                             [&](std::uint64_t done, std::uint64_t total) { lastDone = done, lastTotal = total; }, stop);
    raw.FinishPending();
    EXPECT_EQ(r.outcome, RangeOutcome::Completed);
    EXPECT_EQ(r.nextLba, kSectors);
    EXPECT_EQ(r.bytesRead, disk.size());
    EXPECT_EQ(lastDone, lastTotal);
    std::vector<std::pair<std::int64_t, std::int64_t>> expected;
    for (const auto& [lba, bytes] : files) expected.emplace_back(lba, bytes.size());
    EXPECT_EQ(hitsOf(raw), expected);
}

// Scanning in pieces of any batch-aligned size gives what one run gives.
TEST_F(RangeTest, PiecesGiveTheSameHits) {
    RawScan whole(sizes, kSector, DeviceSectors(*device));
    (void)ScanRange(whole, *device, {0, kSectors}, 0, kSectors, {}, stop);
    whole.FinishPending();
    for (std::uint64_t piece : {std::uint64_t{2048}, std::uint64_t{4096}}) {
        RawScan parts(sizes, kSector, DeviceSectors(*device));
        for (std::uint64_t at = 0; at < kSectors; at += piece) {
            const auto r = ScanRange(parts, *device, {0, kSectors}, at, std::min(piece, kSectors - at), {}, stop);
            EXPECT_EQ(r.outcome, RangeOutcome::Completed);
        }
        parts.FinishPending();
        EXPECT_EQ(hitsOf(parts), hitsOf(whole)) << piece;
    }
}

// A range reads the whole batches that cover it, aligned to the object's start, and no sector
// past the object's end.
TEST_F(RangeTest, RangesReadWholeBatchesOfTheObject) {
    struct Case {
        ScanObject object;
        std::uint64_t first, count;
        std::uint64_t bytes;
        std::uint64_t next;
    };
    const Case cases[] = {
        {{0, kSectors}, 2100, 10, 2048 * kSector, 4096},
        {{0, kSectors}, 6200, 1000, 700 * kSector, kSectors},
        {{1000, 3000}, 0, 1500, 2048 * kSector, 3048},          // object 1000..3999: batches 1000, 3048
        {{1000, 3000}, 3100, 5000, (4000 - 3048) * kSector, 4000},
        {{0, kSectors}, kSectors + 5, 10, 0, kSectors + 5},      // outside: nothing is read
    };
    for (const auto& c : cases) {
        RawScan raw(sizes, kSector, DeviceSectors(*device));
        const auto r = ScanRange(raw, *device, c.object, c.first, c.count, {}, stop);
        EXPECT_EQ(r.bytesRead, c.bytes) << c.first;
        EXPECT_EQ(r.nextLba, c.next) << c.first;
    }
}

TEST_F(RangeTest, StopEndsAfterTheBatchInHand) {
    RawScan raw(sizes, kSector, DeviceSectors(*device));
    int batches = 0;
    const auto r = ScanRange(raw, *device, {0, kSectors}, 0, kSectors,
                             [&](std::uint64_t, std::uint64_t) {
                                 if (++batches == 1) stop = true;
                             },
                             stop);
    EXPECT_EQ(r.outcome, RangeOutcome::Stopped);
    EXPECT_LT(r.nextLba, kSectors);
    EXPECT_LE(batches, 2);
}

TEST_F(RangeTest, DeviceLostEndsTheScan) {
    os.disk(kImage).faults.offlineAfterReads = 1;
    RawScan raw(sizes, kSector, DeviceSectors(*device));
    const auto r = ScanRange(raw, *device, {0, kSectors}, 0, kSectors, {}, stop);
    EXPECT_EQ(r.outcome, RangeOutcome::DeviceLost);
}

class RawRecoverTest : public RangeTest {
protected:
    void SetUp() override {
        RangeTest::SetUp();
        record.Entry.SectCount = static_cast<std::uint32_t>(kSectors);
        scan = std::make_unique<scan::TUndelete>(*device, record);
        scan->FOnRecover = [this](const std::string& name, std::int32_t code) { reports.emplace_back(name, code); };
    }
    partitions::TPartition record;
    std::unique_ptr<scan::TUndelete> scan;
    std::vector<std::pair<std::string, std::int32_t>> reports;
    test::TempDir dest;
};

TEST_F(RawRecoverTest, WritesTheFileByteForByte) {
    RawScan raw(sizes, kSector, DeviceSectors(*device));
    (void)ScanRange(raw, *device, {0, kSectors}, 0, kSectors, {}, stop);
    raw.FinishPending();
    ASSERT_EQ(raw.RawFiles.size(), files.size());
    for (const auto& hit : raw.RawFiles) {
        const std::string name = RawFileName(hit, 1);
        ASSERT_TRUE(RawRecoverFile(*scan, sizes, hit, name, dest.path().string())) << name;
        const auto it = std::find_if(files.begin(), files.end(), [&](const auto& f) { return f.first == static_cast<std::uint64_t>(hit.LBA); });
        EXPECT_EQ(test::ReadWholeFile(dest / name), it->second) << name;
    }
    // The same name again gets a name of its own.
    ASSERT_TRUE(RawRecoverFile(*scan, sizes, raw.RawFiles.front(), RawFileName(raw.RawFiles.front(), 1), dest.path().string()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dest.path()), {}), static_cast<long>(files.size() + 1));
    EXPECT_EQ(reports.front().second, scan::kRecoverStarting);
    EXPECT_EQ(reports.back().second, scan::kRecoverSuccessful);
}

TEST_F(RawRecoverTest, SizeWrittenForUnknownAndOversizedHits) {
    sizes.DefaultSize[SizeIndex(0, 2)] = 300 * 1024;
    sizes.MaxSize[SizeIndex(0, 2)] = 400 * 1024;
    struct Case {
        std::int64_t lba, size, expected;
    };
    const std::int64_t diskBytes = static_cast<std::int64_t>(kSectors) * kSector;
    const Case cases[] = {
        {10, 10000, 10000},                            // known: as it is
        {10, kUnknownSize, 300 * 1024},                // unknown: the default size
        {10, 500 * 1024, 300 * 1024},                  // past the maximum: the default size
        {static_cast<std::int64_t>(kSectors) - 4, kUnknownSize, 4 * kSector},  // cut at the disk's end
        {static_cast<std::int64_t>(kSectors) - 4, 0, 4 * kSector},
    };
    for (const auto& c : cases) {
        TFoundFile hit = MakeHit(0, 2, "gz", c.lba);
        hit.Size = c.size;
        EXPECT_EQ(RawRecoverySize(hit, sizes, static_cast<std::uint64_t>(diskBytes), kSector), c.expected) << c.lba << " " << c.size;
        const std::string name = "GZ_" + std::to_string(c.lba) + "_" + std::to_string(c.size) + ".gz";
        ASSERT_TRUE(RawRecoverFile(*scan, sizes, hit, name, dest.path().string()));
        const auto written = test::ReadWholeFile(dest / name);
        ASSERT_EQ(static_cast<std::int64_t>(written.size()), c.expected);
        EXPECT_TRUE(std::equal(written.begin(), written.end(), disk.begin() + c.lba * kSector));
    }
}

TEST_F(RawRecoverTest, AReadThatFailsEndsTheFileWithAFailure) {
    TFoundFile hit = MakeHit(0, 1, "zip", 100);
    hit.Size = 600 * 1024;
    os.disk(kImage).faults.offlineAfterReads = os.disk(kImage).reads + 1;
    EXPECT_FALSE(RawRecoverFile(*scan, sizes, hit, "ZIP_1.zip", dest.path().string()));
    EXPECT_EQ(reports.back().second, scan::kRecoverReadError);
    // A file that could not be written whole does not stay to pass for a recovered one.
    EXPECT_FALSE(std::filesystem::exists(dest / "ZIP_1.zip"));
}

TEST_F(RawRecoverTest, HeadOfAHit) {
    TFoundFile hit = MakeHit(0, 1, "zip", 100);
    hit.Size = 1000;
    std::vector<std::byte> head;
    RecoverRawHead(*scan, hit, 65536, head);
    ASSERT_EQ(head.size(), 1000u);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), disk.begin() + 100 * kSector));
    hit.Size = kUnknownSize;
    RecoverRawHead(*scan, hit, 3000, head);
    EXPECT_EQ(head.size(), 3000u);
    RecoverRawHead(*scan, hit, 0, head);
    EXPECT_TRUE(head.empty());
}

}  // namespace
}  // namespace brenvale::raw
