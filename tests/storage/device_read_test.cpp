// TDevice::Read and the batch reader under faults, driven by the scripted platform.

#include <gmock/gmock.h>

#include "storage/device_test_util.h"

namespace brenvale::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class DeviceReadTest : public FakeDiskTest {};

TEST_F(DeviceReadTest, ReadsDeliverTheRequestedSectors) {
    auto dev = Open();
    EXPECT_EQ(dev->Sectors(), kSectors);
    EXPECT_EQ(dev->DeviceType(), storage::kDevicePhysical);
    EXPECT_EQ(dev->Model, "Fake Disk");
    std::vector<std::byte> buf(16 * 512);
    ASSERT_EQ(dev->Read(100, 16, buf.data()), 16u * 512);
    for (unsigned i = 0; i < 16; ++i) EXPECT_TRUE(SectorMatches(std::span(buf).subspan(i * 512, 512), 100 + i));
    EXPECT_TRUE(events.messages.empty());
}

TEST_F(DeviceReadTest, RangeRulesAtTheEndOfTheDevice) {
    auto dev = Open();
    std::vector<std::byte> buf(8 * 512);
    // Crossing the end is shortened to the end.
    EXPECT_EQ(dev->Read(kSectors - 4, 8, buf.data()), 4u * 512);
    EXPECT_TRUE(SectorMatches(std::span(buf).subspan(3 * 512, 512), kSectors - 1));
    // At or past the end, no sectors, an empty request or no buffer: 0, and the device is not touched.
    const auto reads = disk->reads;
    EXPECT_EQ(dev->Read(kSectors, 1, buf.data()), 0u);
    EXPECT_EQ(dev->Read(kSectors + 10, 1, buf.data()), 0u);
    EXPECT_EQ(dev->Read(0, 0, buf.data()), 0u);
    EXPECT_EQ(dev->Read(0, 1, static_cast<std::byte*>(nullptr)), 0u);
    EXPECT_EQ(dev->Read(0, storage::kMaxBatchSectors + 1, buf.data()), 0u);
    EXPECT_EQ(disk->reads, reads);
}

TEST_F(DeviceReadTest, SpanOverloadRefusesATooSmallBuffer) {
    auto dev = Open();
    std::vector<std::byte> buf(512 * 2 - 1);
    EXPECT_EQ(dev->Read(0, 2, std::span(buf)), 0u);
    EXPECT_EQ(dev->Read(0, 1, std::span(buf)), 512u);
}

TEST_F(DeviceReadTest, BadSectorsAreZeroFilledAndReportedAsRuns) {
    disk->faults.bad = {12, 13, 14, 17};
    auto dev = Open();
    std::vector<std::byte> buf(10 * 512);
    ASSERT_EQ(dev->Read(10, 10, buf.data()), 10u * 512);
    for (unsigned i = 0; i < 10; ++i) {
        const auto sector = std::span(buf).subspan(i * 512, 512);
        const bool bad = disk->faults.bad.count(10 + i) > 0;
        EXPECT_EQ(bad ? AllZero(sector) : SectorMatches(sector, 10 + i), true) << "sector " << 10 + i;
    }
    EXPECT_THAT(events.messages, ElementsAre("Bad sectors 12 - 14 (3 sectors): skipped and zero-filled",
                                             "Bad sectors 17 - 17 (1 sectors): skipped and zero-filled"));
    EXPECT_FALSE(dev->Abort().Aborted);
    EXPECT_FALSE(storage::DeviceAborted);
}

// A batch in which nothing can be read is a dead device from 64 sectors up; below that it is
// just a bad stretch.
struct AllBadCase {
    std::uint32_t sectors;
    bool aborts;
};
class AllBadTest : public FakeDiskTest, public ::testing::WithParamInterface<AllBadCase> {};

TEST_P(AllBadTest, WholeBatchUnreadable) {
    const auto [n, aborts] = GetParam();
    for (std::uint64_t s = 100; s < 100 + n; ++s) disk->faults.bad.insert(s);
    auto dev = Open();
    std::vector<std::byte> buf(n * 512, std::byte{0xAB});
    const auto got = dev->Read(100, n, buf.data());
    const std::string run = "Bad sectors 100 - " + std::to_string(99 + n) + " (" + std::to_string(n) +
                            " sectors): skipped and zero-filled";
    if (aborts) {
        EXPECT_EQ(got, 0u);
        EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](std::byte b) { return b == std::byte{0xAB}; }))
            << "an aborted read leaves the buffer alone";
        EXPECT_THAT(events.messages,
                    ElementsAre(run, "All 64 sectors of the batch failed to read (starting at LBA=100) - treated as "
                                     "device offline, operation aborted"));
        EXPECT_TRUE(dev->Abort().Aborted);
        EXPECT_TRUE(dev->Abort().Offline);
        EXPECT_TRUE(storage::DeviceAborted);
    } else {
        EXPECT_EQ(got, n * 512);
        EXPECT_TRUE(AllZero(buf));
        EXPECT_THAT(events.messages, ElementsAre(run));
        EXPECT_FALSE(dev->Abort().Aborted);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, AllBadTest, ::testing::Values(AllBadCase{63, false}, AllBadCase{64, true}));

TEST_F(DeviceReadTest, FailingBatchIsRetriedBeforeTheSectorPass) {
    disk->faults.bad = {5};
    auto dev = Open();
    dev->RetryNum = 2;
    std::vector<std::byte> buf(8 * 512);
    ASSERT_EQ(dev->Read(0, 8, buf.data()), 8u * 512);
    // Three whole-batch attempts, then eight single sectors.
    ASSERT_EQ(disk->log.size(), 3u + 8u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(disk->log[i].second, 8u * 512);
    EXPECT_EQ(disk->log[3].second, 512u);
}

TEST_F(DeviceReadTest, TimedOutBatchIsNotRetried) {
    disk->faults.timeout = {5};
    auto dev = Open();
    dev->RetryNum = 2;
    std::vector<std::byte> buf(8 * 512);
    ASSERT_EQ(dev->Read(0, 8, buf.data()), 8u * 512);
    EXPECT_EQ(disk->log.size(), 1u + 8u);
    EXPECT_TRUE(AllZero(std::span(buf).subspan(5 * 512, 512)));
    EXPECT_THAT(events.messages, ElementsAre("Bad sectors 5 - 5 (1 sectors): skipped and zero-filled"));
}

TEST_F(DeviceReadTest, SevenTimeoutsInARowAreSkippedTheEighthAborts) {
    for (std::uint64_t s = 20; s < 27; ++s) disk->faults.timeout.insert(s);  // 7 in a row, then a good one
    for (std::uint64_t s = 40; s < 48; ++s) disk->faults.timeout.insert(s);  // 8 in a row
    auto dev = Open();
    std::vector<std::byte> buf(10 * 512);
    ASSERT_EQ(dev->Read(20, 10, buf.data()), 10u * 512);
    EXPECT_TRUE(AllZero(std::span(buf).first(7 * 512)));
    EXPECT_TRUE(SectorMatches(std::span(buf).subspan(7 * 512, 512), 27));
    EXPECT_THAT(events.messages, ElementsAre("Bad sectors 20 - 26 (7 sectors): skipped and zero-filled"));
    EXPECT_FALSE(dev->Abort().Aborted);

    events.messages.clear();
    EXPECT_EQ(dev->Read(40, 10, buf.data()), 0u);
    EXPECT_THAT(events.messages,
                ElementsAre("Device not responding (8 consecutive timeouts starting at sector 40) - operation aborted",
                            "Bad sectors 40 - 47 (8 sectors): skipped and zero-filled"));
    EXPECT_TRUE(dev->Abort().Hanging);
    EXPECT_FALSE(dev->Abort().Offline);
}

TEST_F(DeviceReadTest, ReadCompletingWhileItsCancellationDrainsCountsAsSuccess) {
    disk->faults.drainOk = {7};
    auto dev = Open();
    std::vector<std::byte> buf(4 * 512);
    ASSERT_EQ(dev->Read(6, 4, buf.data()), 4u * 512);
    for (unsigned i = 0; i < 4; ++i) EXPECT_TRUE(SectorMatches(std::span(buf).subspan(i * 512, 512), 6 + i));
    EXPECT_EQ(disk->reads, 1u);
    EXPECT_TRUE(events.messages.empty());
}

TEST_F(DeviceReadTest, HungBatchAbortsAndHoldsOffFiveSeconds) {
    disk->faults.hang = {3};
    auto dev = Open();
    std::vector<std::byte> buf(8 * 512);
    EXPECT_EQ(dev->Read(0, 8, buf.data()), 0u);
    EXPECT_THAT(events.messages, ElementsAre("Device not responding (LBA=0) - operation aborted"));
    EXPECT_TRUE(dev->Abort().Hanging);
    EXPECT_TRUE(storage::DeviceAborted);

    // Within the hold-off nothing reaches the device, even elsewhere on the disk.
    const auto reads = disk->reads;
    EXPECT_EQ(dev->Abort().Since, os.now);
    os.advance(storage::kAbortHoldOffMs - 1);
    EXPECT_EQ(dev->Read(100, 1, buf.data()), 0u);
    EXPECT_EQ(disk->reads, reads);
    // After it, the abort is cleared by the next read; the global flag is not.
    os.advance(1);
    EXPECT_EQ(dev->Read(100, 1, buf.data()), 512u);
    EXPECT_FALSE(dev->Abort().Aborted);
    EXPECT_TRUE(storage::DeviceAborted);
}

TEST_F(DeviceReadTest, OfflineDeviceIsReopenedOnceThenHeldOff) {
    auto dev = Open();
    std::vector<std::byte> buf(512);
    ASSERT_EQ(dev->Read(0, 1, buf.data()), 512u);
    disk->faults.offlineAfterReads = disk->reads;
    disk->faults.reopenFails = true;
    EXPECT_EQ(dev->Read(1, 1, buf.data()), 0u);
    EXPECT_THAT(events.messages, ElementsAre("Device offline (LBA=1, error 19: No such device) - operation aborted"));
    EXPECT_TRUE(dev->Abort().Offline);

    // The next read tries one reopen; it fails, so that read and the rest of the hold-off give 0.
    const auto opens = disk->opens;
    const auto reads = disk->reads;
    EXPECT_EQ(dev->Read(2, 1, buf.data()), 0u);
    EXPECT_EQ(disk->opens, opens + 1);
    EXPECT_EQ(dev->Read(3, 1, buf.data()), 0u);
    EXPECT_EQ(disk->opens, opens + 1);
    EXPECT_EQ(disk->reads, reads);

    // The device comes back: after the hold-off a read goes through again.
    disk->faults.offlineAfterReads.reset();
    os.advance(storage::kAbortHoldOffMs);
    EXPECT_EQ(dev->Read(2, 1, buf.data()), 512u);
    EXPECT_TRUE(SectorMatches(buf, 2));
}

TEST_F(DeviceReadTest, OfflineDeviceThatComesBackIsReopenedByTheNextRead) {
    auto dev = Open();
    std::vector<std::byte> buf(512);
    disk->faults.offlineAfterReads = 0;
    EXPECT_EQ(dev->Read(0, 1, buf.data()), 0u);
    disk->faults.offlineAfterReads.reset();
    const auto opens = disk->opens;
    EXPECT_EQ(dev->Read(9, 1, buf.data()), 512u);
    EXPECT_EQ(disk->opens, opens + 1);
    EXPECT_TRUE(SectorMatches(buf, 9));
    EXPECT_FALSE(dev->Abort().Aborted);
}

TEST_F(DeviceReadTest, PrepareForNewOperationReopensAnAbortedDevice) {
    disk->faults.hang = {0};
    auto dev = Open();
    std::vector<std::byte> buf(512);
    EXPECT_EQ(dev->Read(0, 1, buf.data()), 0u);
    ASSERT_TRUE(dev->Abort().Aborted);
    const auto opens = disk->opens;
    dev->PrepareForNewOperation();
    EXPECT_EQ(disk->opens, opens + 1);
    EXPECT_FALSE(dev->Abort().Aborted);
    EXPECT_EQ(dev->Read(1, 1, buf.data()), 512u);
}

TEST_F(DeviceReadTest, ReadAheadAfterEightSequentialReads) {
    auto dev = Open();
    std::vector<std::byte> buf(512);
    for (std::uint64_t lba = 0; lba < 8; ++lba) ASSERT_EQ(dev->Read(lba, 1, buf.data()), 512u);
    ASSERT_EQ(disk->log.size(), 8u);
    for (const auto& [off, len] : disk->log) EXPECT_EQ(len, 512u);

    // The ninth sequential read fetches 64 KiB worth of extra sectors.
    ASSERT_EQ(dev->Read(8, 1, buf.data()), 512u);
    ASSERT_EQ(disk->log.size(), 9u);
    EXPECT_EQ(disk->log.back(), std::make_pair(std::uint64_t{8 * 512}, std::size_t{129 * 512}));

    // The run that follows is served from the cache until it is used up.
    for (std::uint64_t lba = 9; lba < 8 + 129; ++lba) {
        ASSERT_EQ(dev->Read(lba, 1, buf.data()), 512u);
        ASSERT_TRUE(SectorMatches(buf, lba)) << lba;
    }
    EXPECT_EQ(disk->log.size(), 9u);
    ASSERT_EQ(dev->Read(137, 1, buf.data()), 512u);
    EXPECT_EQ(disk->log.size(), 10u);
    EXPECT_TRUE(SectorMatches(buf, 137));
}

TEST_F(DeviceReadTest, ReadAheadStopsAtTheEndAndSkipsLargeReads) {
    auto dev = Open();
    std::vector<std::byte> buf(129 * 512);
    // The first read starts no streak (it does not follow a previous one), so the tenth
    // read is the one extended; it could fetch 128 more sectors but only 10 remain.
    const std::uint64_t start = kSectors - 20;
    for (std::uint64_t lba = start; lba < start + 10; ++lba) ASSERT_EQ(dev->Read(lba, 1, buf.data()), 512u);
    EXPECT_EQ(disk->log.back().second, 11u * 512);
    EXPECT_EQ(disk->log[disk->log.size() - 2].second, 512u);

    auto dev2 = Open();
    disk->log.clear();
    for (std::uint64_t lba = 0; lba < 8 * 129; lba += 129) ASSERT_EQ(dev2->Read(lba, 129, buf.data()), 129u * 512);
    ASSERT_EQ(dev2->Read(8 * 129, 129, buf.data()), 129u * 512);
    EXPECT_EQ(disk->log.back().second, 129u * 512) << "reads over 128 sectors are never extended";
}

TEST_F(DeviceReadTest, ANonSequentialReadEmptiesTheCacheAndTheStreak) {
    auto dev = Open();
    std::vector<std::byte> buf(512);
    for (std::uint64_t lba = 0; lba < 9; ++lba) ASSERT_EQ(dev->Read(lba, 1, buf.data()), 512u);
    ASSERT_EQ(disk->log.back().second, 129u * 512);
    ASSERT_EQ(dev->Read(2000, 1, buf.data()), 512u);  // miss: cache emptied, streak restarts
    ASSERT_EQ(dev->Read(9, 1, buf.data()), 512u);
    EXPECT_EQ(disk->log.back(), std::make_pair(std::uint64_t{9 * 512}, std::size_t{512}));
}

// Which time-out a read gets: the long one until the device has proven itself fast.
TEST_F(DeviceReadTest, TimeoutChoiceFollowsTheDevicesHistory) {
    disk->faults.latencyMs = 1;  // every read waits, so the time-out shows in the log
    auto dev = Open();
    std::vector<std::byte> buf(512);
    auto lastWait = [&] { return disk->waits.back(); };

    ASSERT_EQ(dev->Read(0, 1, buf.data()), 512u);
    EXPECT_EQ(lastWait(), 10000u) << "no successful I/O yet";
    ASSERT_EQ(dev->Read(100, 1, buf.data()), 512u);
    EXPECT_EQ(lastWait(), 1000u) << "the last read was fast";

    os.advance(storage::kIdleRewarmMs);
    ASSERT_EQ(dev->Read(200, 1, buf.data()), 512u);
    EXPECT_EQ(lastWait(), 10000u) << "a minute without I/O";

    // Slow reads keep the long time-out, but only for ten in a row.
    disk->faults.latencyMs = 400;
    for (int i = 0; i < 11; ++i) ASSERT_EQ(dev->Read(300 + i * 10, 1, buf.data()), 512u);
    EXPECT_EQ(disk->waits[disk->waits.size() - 2], 10000u) << "tenth slow read";
    EXPECT_EQ(lastWait(), 1000u) << "after ten slow reads";
}

TEST(DeviceShortRead, FileThatShrankGivesAShortCount) {
    platform::fake::FakePlatform os;
    auto& file = os.addDisk("/img/shrinking.img", PatternedSectors(8), 512, false);
    storage::TDevice dev(os, "/img/shrinking.img");
    ASSERT_EQ(dev.Sectors(), 8u);
    file.data.resize(6 * 512 + 256);  // truncated behind our back
    std::vector<std::byte> buf(4 * 512);
    EXPECT_EQ(dev.Read(4, 4, buf.data()), 2u * 512 + 256);
    EXPECT_TRUE(SectorMatches(std::span(buf).subspan(512, 512), 5));
    EXPECT_EQ(dev.Read(6, 1, buf.data()), 256u);
    EXPECT_EQ(dev.Read(7, 1, buf.data()), 0u);
    EXPECT_FALSE(dev.Abort().Aborted) << "a short file is not a failing device";
}

TEST_F(DeviceReadTest, MessagesWithoutASinkAreDropped) {
    storage::SetOnDeviceEvent({});
    disk->faults.bad = {1};
    auto dev = Open();
    std::vector<std::byte> buf(2 * 512);
    EXPECT_EQ(dev->Read(0, 2, buf.data()), 2u * 512);
    EXPECT_TRUE(events.messages.empty());
}

}  // namespace
}  // namespace brenvale::test
