// Recovery from hostile volumes: files claiming more than their volume holds fail at once,
// a file that fails leaves nothing in the destination, and a FAT32 root read from the wrong
// cluster lists little of the garbage it holds.

#include <gmock/gmock.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>

#include "scan/scan_harness.h"
#include "scan/volume_builder.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesUnder(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) out.push_back(e.path());
    return out;
}

// The codes reported for each file, "starting" left out.
struct Outcomes {
    explicit Outcomes(scan::TUndelete& s) {
        s.FOnRecover = [this](const std::string& name, std::int32_t code) {
            if (code != scan::kRecoverStarting) codes.emplace_back(name, code);
        };
    }
    std::vector<std::pair<std::string, std::int32_t>> codes;
};

TEST(HostileRecover, ExfatFileLargerThanItsVolumeFailsWithoutReading) {
    struct Row {
        const char* what;
        std::uint64_t length;
        bool noFatChain;
    };
    const Row rows[] = {
        {"2^36 bytes, contiguous", std::uint64_t{1} << 36, true},
        {"2^36 bytes, FAT chain", std::uint64_t{1} << 36, false},
        {"one cluster more than the volume", 0, true},  // length filled in below
    };
    for (Row r : rows) {
        SCOPED_TRACE(r.what);
        VolumeBuilder v(Fs::Exfat);
        if (r.length == 0) r.length = (std::uint64_t{v.clusterCount()} + 1) * VolumeBuilder::kSectorBytes;
        v.put(v.root(), 0, ExfatEntries({.name = u"huge.bin", .cluster = 10, .length = r.length, .noFatChain = r.noFatChain}));
        v.setFat(10, v.endOfChain());
        ScanHarness h(v.bytes());
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        const auto* huge = h.one("huge.bin");
        ASSERT_NE(huge, nullptr);
        TempDir tmp;
        Outcomes seen(h.scan());
        const std::uint64_t readsBefore = h.disk().reads;
        EXPECT_FALSE(h.scan().RecoverFile(huge, "huge.bin", tmp.path().string()));
        EXPECT_EQ(h.disk().reads, readsBefore) << "nothing of a file the volume cannot hold is read";
        EXPECT_THAT(seen.codes, ::testing::ElementsAre(std::pair<std::string, std::int32_t>{"huge.bin", scan::kRecoverNonrecoverable}));
        EXPECT_THAT(FilesUnder(tmp.path()), ::testing::IsEmpty());
        std::vector<std::byte> head;
        EXPECT_FALSE(h.scan().RecoverFileToBuf(huge, "huge.bin", head, 4096));
    }
}

TEST(HostileRecover, StopFlagEndsAChainWalkAndTheCopy) {
    // A file of 200 chained clusters: with the stop flag up, neither the walk of its chain nor
    // the copy goes on.
    VolumeBuilder v(Fs::Exfat);
    const std::uint32_t n = 200;
    for (std::uint32_t c = 10; c < 10 + n - 1; ++c) v.setFat(c, c + 1);
    v.setFat(10 + n - 1, v.endOfChain());
    v.put(v.root(), 0, ExfatEntries({.name = u"long.bin", .cluster = 10, .length = std::uint64_t{n} * 512}));
    ScanHarness h(v.bytes());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    TempDir tmp;
    Outcomes seen(h.scan());
    h.scan().TerminateProcess();
    const std::uint64_t readsBefore = h.disk().reads;
    EXPECT_FALSE(h.scan().RecoverFile(h.one("long.bin"), "long.bin", tmp.path().string()));
    EXPECT_EQ(h.disk().reads, readsBefore);
    EXPECT_THAT(seen.codes, ::testing::ElementsAre(std::pair<std::string, std::int32_t>{"long.bin", scan::kRecoverStopped}));
}


TEST(HostileRecover, AFailedFileLeavesNothingInTheDestination) {
    struct Row {
        const char* what;
        std::int32_t expected;
        std::function<void(scan::TUndelete&)> before;  // run just before the recovery
        rlim_t sizeCap;                                 // 0: none
    };
    const std::vector<Row> rows = {
        {"the destination takes fewer bytes than the file has", scan::kRecoverWriteError, nullptr, 1024},
        {"stopped", scan::kRecoverStopped, [](scan::TUndelete& s) { s.TerminateProcess(); }, 0},
        {"its data runs past the volume", scan::kRecoverReadError, nullptr, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        VolumeBuilder v(Fs::Fat16);
        const bool pastEnd = r.expected == scan::kRecoverReadError;
        // Three clusters; a deleted file whose chain was cleared goes on in the clusters
        // after its first, which for the last one of the volume are not there.
        const std::uint32_t first = pastEnd ? v.clusterCount() + 1 : 20;
        if (!pastEnd) v.chain({20, 21, 22});
        v.put(v.root(), 0, {pastEnd ? Deleted(FileEntry("DATA.BIN", first, 3 * 512)) : FileEntry("DATA.BIN", first, 3 * 512)});
        ScanHarness h(v.bytes());
        ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        const std::string name = pastEnd ? "_ATA.BIN" : "DATA.BIN";
        const auto* file = h.one(name);
        ASSERT_NE(file, nullptr);
        TempDir tmp;
        Outcomes seen(h.scan());
        if (r.before) r.before(h.scan());
        {
            std::optional<test::FileSizeLimit> cap;
            if (r.sizeCap) cap.emplace(r.sizeCap);
            EXPECT_FALSE(h.scan().RecoverFile(file, name, tmp.path().string()));
        }
        EXPECT_THAT(seen.codes, ::testing::ElementsAre(std::pair<std::string, std::int32_t>{name, r.expected}));
        EXPECT_THAT(FilesUnder(tmp.path()), ::testing::IsEmpty());
    }
}

TEST(HostileRecover, Fat32RootAtTheWrongClusterListsLittleGarbage) {
    // The root-cluster field points into 64 clusters of random bytes chained like a file's
    // data (no slot starts with 0, which would end the folder early).
    VolumeBuilder v(Fs::Fat32);
    const std::uint32_t first = 100, clusters = 64;
    std::mt19937 rng(77);
    for (std::uint32_t c = first; c < first + clusters; ++c) {
        for (std::byte& b : v.cluster(c)) b = static_cast<std::byte>(rng() & 0xFF);
        for (std::size_t slot = 0; slot < v.entriesPerCluster(); ++slot) {
            auto& b0 = v.cluster(c)[slot * 32];
            if (b0 == std::byte{0}) b0 = std::byte{'Q'};
        }
        v.setFat(c, c + 1 < first + clusters ? c + 1 : v.endOfChain());
    }
    for (int i = 0; i < 4; ++i) v.bootSector()[44 + i] = static_cast<std::byte>(first >> (8 * i));
    const std::size_t slots = clusters * v.entriesPerCluster();
    ScanHarness h(v.bytes());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    EXPECT_LE(h.scan().ScannedFiles.size(), slots / 50) << "of " << slots << " garbage slots";

    // Whatever is listed and fails, fails without reading its data.
    TempDir tmp;
    Outcomes seen(h.scan());
    const std::uint64_t readsBefore = h.disk().reads;
    h.scan().RecoverChildren(nullptr, tmp.path().string(), false);
    std::size_t ok = 0;
    for (const auto& [name, code] : seen.codes) ok += code == scan::kRecoverSuccessful;
    EXPECT_LE(h.disk().reads - readsBefore, ok * 2 + seen.codes.size());
}

}  // namespace
}  // namespace brenvale::test
