// The scan checkpoint: a scan stopped anywhere (in the standard-scan stage, after a batch, at
// its last batch, in the stages; once or twice), saved to a file and resumed in a new scan
// object ends with exactly what an uninterrupted scan ends with. The file's bytes are stable,
// every cut-off copy is refused, and so is the checkpoint of another source.

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "advscan/adv_dump.h"
#include "advscan/checkpoint_resume.h"
#include "advscan/image_scan.h"
#include "advscan/scan_checkpoint.h"
#include "storage/checkpoint_io.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::advscan {
namespace {

enum class StopIn { Standard, Batch, Stage };

struct StopPoint {
    StopIn where;
    int at;                   // the standard scan's nth folder or record batch, the nth batch, or the nth stage
    bool lastBatch = false;   // `at` counted back from the last batch (1: the last)
};

// One run of the advanced scan over an image that stops at `stop` (or runs to the end) and
// saves its checkpoint; resumed from `checkpoint` when that is given.
struct ScanRun {
    explicit ScanRun(const std::filesystem::path& image) : scan(image, BootSector::FirstSector) {}

    // The result of AdvScan; `batches` counts the batches the pass read.
    int Go(const StopPoint* stop, int totalBatches) {
        std::atomic<bool> flag{false};
        bool inStages = false;
        int reports = 0, stages = 0;
        AdvCallbacks cb;
        cb.Stage = [&](const std::string&) {
            inStages = true;
            if (stop && stop->where == StopIn::Stage && ++stages == stop->at) flag = true;
        };
        cb.Progress = [&](int) {
            if (inStages) return;
            ++batches;
            if (!stop || stop->where != StopIn::Batch) return;
            const int at = stop->lastBatch ? totalBatches - stop->at + 1 : stop->at;
            if (batches == at) flag = true;
        };
        auto& s = scan.scan;
        auto report = [&] {
            if (stop && stop->where == StopIn::Standard && ++reports == stop->at) {
                flag = true;
                s.FTerminated = true;
            }
        };
        // The standard scan announces each folder (FAT) or batch of records (NTFS) it reads.
        s.FOnEnumDir = [&](std::uint8_t, const std::string&, std::uint32_t) { report(); };
        const int result = scan.adv.AdvScan(flag, cb);
        s.FOnEnumDir = nullptr;
        return result;
    }

    ImageScan scan;
    int batches = 0;
};

struct Case {
    const char* image;             // under the fixture folder
    std::int64_t volumeStart;      // > 0: the volume at this sector of a disk image, cut out
    std::vector<StopPoint> stops;  // each stop is saved, and resumed by a new run
};

std::string uninterrupted(const std::filesystem::path& image, int& batches) {
    ScanRun run(image);
    EXPECT_EQ(run.Go(nullptr, 0), kAdvCompleted);
    batches = run.batches;
    return DumpAdvancedScan(run.scan.adv);
}

// The first line where two dumps part, for the failure message.
std::string firstDifference(const std::string& a, const std::string& b) {
    std::istringstream x(a), y(b);
    std::string l1, l2;
    for (int n = 1;; ++n) {
        const bool more1 = static_cast<bool>(std::getline(x, l1)), more2 = static_cast<bool>(std::getline(y, l2));
        if (!more1 && !more2) return "the same";
        if (!more1 || !more2 || l1 != l2) return "line " + std::to_string(n) + ":\n  whole:   " + l1 + "\n  resumed: " + l2;
    }
}

// The volume that begins at `sector` of a disk image, as an image of its own: a sound volume
// whose standard scan finds folders.
std::filesystem::path cutVolume(const std::filesystem::path& disk, std::int64_t sector, const test::TempDir& dir) {
    const auto out = dir / (disk.stem().string() + "-volume.img");
    if (std::filesystem::exists(out)) return out;
    std::ifstream in(disk, std::ios::binary);
    in.seekg(sector * 512);
    std::ofstream(out, std::ios::binary) << in.rdbuf();
    return out;
}

TEST(ScanCheckpoint, ResumedScansEndAsOneScanEnds) {
    BRENVALE_REQUIRE_FIXTURE(ntfsManifest, "adv/manifest.json");
    const auto fixtures = ntfsManifest.parent_path().parent_path();
    const Case cases[] = {
        // A sound NTFS volume: its standard scan goes first, then the pass.
        {"adv/deleted.img", 2048, {{StopIn::Standard, 1}}},
        {"adv/deleted.img", 2048, {{StopIn::Batch, 1}}},
        {"adv/deleted.img", 2048, {{StopIn::Batch, 3}, {StopIn::Batch, 7}}},
        // Re-formatted NTFS: the old records are all harvested.
        {"adv/qformat.img", 0, {{StopIn::Batch, 12}}},
        {"adv/qformat.img", 0, {{StopIn::Batch, 1, true}}},
        {"adv/qformat.img", 0, {{StopIn::Stage, 2}}},
        // A sound FAT32 volume with deleted files: a folder-by-folder standard scan.
        {"adv-fat/fat32-deleted.img", 2048, {{StopIn::Standard, 3}}},
        {"adv-fat/fat32-deleted.img", 2048, {{StopIn::Standard, 2}, {StopIn::Batch, 2, true}}},
        {"adv-fat/fat16-wiped.img", 0, {{StopIn::Batch, 5}, {StopIn::Stage, 5}}},
        // exFAT re-formatted: entry sets harvested, the geometry inferred.
        {"adv-fat/exfat-qformat.img", 0, {{StopIn::Batch, 9}}},
        {"adv-fat/exfat-qformat.img", 0, {{StopIn::Stage, 6}}},  // the last stage
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        const std::filesystem::path image =
            c.volumeStart > 0 ? cutVolume(fixtures / c.image, c.volumeStart, dir) : fixtures / c.image;
        SCOPED_TRACE(std::string(c.image) + " stopped " + std::to_string(c.stops.size()) + " time(s), first at " +
                     std::to_string(static_cast<int>(c.stops[0].where)) + "/" + std::to_string(c.stops[0].at));
        int total = 0;
        const std::string whole = uninterrupted(image, total);
        ASSERT_GT(total, 3);
        const std::string file = dir.file("scan.qvc");
        bool pending = false;  // a checkpoint waits to be resumed
        for (const StopPoint& stop : c.stops) {
            ScanRun run(image);
            if (pending) {
                TCheckpointData data;
                std::string reason;
                ASSERT_TRUE(ValidateCheckpoint(file, &run.scan.adv, data, reason)) << reason;
                ApplyCheckpoint(data, run.scan.adv);
            }
            ASSERT_EQ(run.Go(&stop, total), kAdvStopped);
            EXPECT_EQ(run.scan.adv.Phase, stop.where == StopIn::Standard ? 0 : 1);
            ASSERT_TRUE(SaveAdvancedScanCheckpoint(file, run.scan.adv));
            pending = true;
        }
        ScanRun last(image);
        TCheckpointData data;
        std::string reason;
        ASSERT_TRUE(ValidateCheckpoint(file, &last.scan.adv, data, reason)) << reason;
        const bool passDone = data.AdvPhase != 0 && data.AdvLBA >= static_cast<std::int64_t>(last.scan.adv.ObjectSectors());
        ApplyCheckpoint(data, last.scan.adv);
        ASSERT_EQ(last.Go(nullptr, total), kAdvCompleted);
        // A scan stopped at its last batch or in the stages reads no batch again.
        if (passDone) {
            EXPECT_EQ(last.batches, 0);
        }
        const std::string resumed = DumpAdvancedScan(last.scan.adv);
        EXPECT_TRUE(resumed == whole) << firstDifference(whole, resumed);
    }
}

// The standard scan and part of the pass of a FAT32 volume, for the tests of the file.
std::vector<std::byte> stoppedFile(const std::filesystem::path& image, const std::string& file) {
    ScanRun run(image);
    const StopPoint stop{StopIn::Batch, 4};
    EXPECT_EQ(run.Go(&stop, 100), kAdvStopped);
    EXPECT_TRUE(SaveAdvancedScanCheckpoint(file, run.scan.adv));
    return *storage::readWholeFile(file, std::size_t{1} << 30);
}

TEST(ScanCheckpoint, SaveLoadSaveGivesTheSameBytes) {
    BRENVALE_REQUIRE_FIXTURE(fatManifest, "adv-fat/manifest.json");
    test::TempDir dir;
    for (const char* name : {"fat32-qformat.img", "exfat-qformat.img"}) {
        SCOPED_TRACE(name);
        const auto bytes = stoppedFile(fatManifest.parent_path() / name, dir.file("a.qvc"));
        TCheckpointData data;
        ASSERT_EQ(LoadScanCheckpoint(dir.file("a.qvc"), data), kCheckpointLoaded);
        EXPECT_EQ(data.AdvPhase, 1);
        EXPECT_FALSE(data.Records.empty() && data.AdvFDTs.empty() && data.AdvFatFileList.empty());
        ASSERT_TRUE(SaveScanCheckpoint(dir.file("b.qvc"), data));
        EXPECT_EQ(*storage::readWholeFile(dir.file("b.qvc"), std::size_t{1} << 30), bytes);
        // No temporary file is left beside it.
        EXPECT_FALSE(std::filesystem::exists(dir.file("b.qvc") + ".tmp"));
    }
}

TEST(ScanCheckpoint, EveryCutOffCopyIsRefused) {
    BRENVALE_REQUIRE_FIXTURE(ntfsManifest, "adv/manifest.json");
    test::TempDir dir;
    const auto bytes = stoppedFile(ntfsManifest.parent_path() / "deleted.img", dir.file("a.qvc"));
    ASSERT_GT(bytes.size(), 1000u);
    TCheckpointData data;
    ASSERT_EQ(DecodeScanCheckpoint(bytes, data), kCheckpointLoaded);
    // Every prefix: the cut may fall in any field of any list.
    const std::size_t step = bytes.size() > 200000 ? 7 : 1;
    for (std::size_t n = 0; n < bytes.size(); n += step) {
        if (DecodeScanCheckpoint(std::span(bytes).first(n), data) != kCheckpointInvalid) {
            ADD_FAILURE() << "a copy cut to " << n << " of " << bytes.size() << " bytes loads";
            break;
        }
        EXPECT_TRUE(data.Records.empty());
    }
}

TEST(ScanCheckpoint, DamagedFieldsAreRefused) {
    BRENVALE_REQUIRE_FIXTURE(fatManifest, "adv-fat/manifest.json");
    test::TempDir dir;
    const auto bytes = stoppedFile(cutVolume(fatManifest.parent_path() / "fat32-deleted.img", 2048, dir), dir.file("a.qvc"));
    TCheckpointData data;
    auto refused = [&](std::size_t at, std::uint8_t value) {
        auto copy = bytes;
        copy[at] = std::byte{value};
        return DecodeScanCheckpoint(copy, data) == kCheckpointInvalid;
    };
    EXPECT_TRUE(refused(0, 'X'));   // magic
    EXPECT_TRUE(refused(8, 9));     // version
    EXPECT_TRUE(refused(12, 7));    // source type
    // The first record's tag: right after the header, the identity and the cluster list.
    ASSERT_EQ(DecodeScanCheckpoint(bytes, data), kCheckpointLoaded);
    ASSERT_FALSE(data.Records.empty());
    const std::size_t header = 8 + 4 + 1 + 4 + data.SourceId.size() + 8 + 8 + 1 + 4 + data.VolumeLabel.size() + 1 + 1 + 8 +
                               1 + 1 + 1 + 1 + 4 + data.Source.Model.size() + 8 + 4 + 8 + 4 + 4 * data.DoneClus.size() + 4;
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[header]), kTagFat32);
    EXPECT_TRUE(refused(header, 9));
    // A record count larger than the file can hold.
    EXPECT_TRUE(refused(header - 1, 0x7F));
}

TEST(ScanCheckpoint, AnotherSourceIsRefused) {
    BRENVALE_REQUIRE_FIXTURE(fatManifest, "adv-fat/manifest.json");
    test::TempDir dir;
    const auto folder = fatManifest.parent_path();
    stoppedFile(folder / "fat16-qformat.img", dir.file("a.qvc"));
    TCheckpointData data;
    std::string reason;
    {
        // Same file system and layout, another image.
        ScanRun other(folder / "fat16-wiped.img");
        EXPECT_FALSE(ValidateCheckpoint(dir.file("a.qvc"), &other.scan.adv, data, reason));
        EXPECT_EQ(reason, kCheckpointMismatch);
        EXPECT_TRUE(data.Records.empty());
    }
    {
        // The same image under another name is another source too.
        std::filesystem::copy_file(folder / "fat16-qformat.img", dir / "copy.img");
        ScanRun copy(dir / "copy.img");
        EXPECT_FALSE(ValidateCheckpoint(dir.file("a.qvc"), &copy.scan.adv, data, reason));
        EXPECT_EQ(reason, kCheckpointMismatch);
    }
    {
        ScanRun same(folder / "fat16-qformat.img");
        EXPECT_FALSE(ValidateCheckpoint(dir.file("none.qvc"), &same.scan.adv, data, reason));
        EXPECT_EQ(reason, kCheckpointMissingText);
        EXPECT_FALSE(ValidateCheckpoint(dir.file("a.qvc"), nullptr, data, reason));
        EXPECT_EQ(reason, kCheckpointNoObject);
        EXPECT_TRUE(ValidateCheckpoint(dir.file("a.qvc"), &same.scan.adv, data, reason)) << reason;
        // A completed scan removes its own checkpoint only.
        RemoveOwnCheckpoint(dir.file("a.qvc"), same.scan.adv);
        EXPECT_FALSE(std::filesystem::exists(dir.file("a.qvc")));
    }
    stoppedFile(folder / "fat16-qformat.img", dir.file("b.qvc"));
    ScanRun other(folder / "fat16-wiped.img");
    RemoveOwnCheckpoint(dir.file("b.qvc"), other.scan.adv);
    EXPECT_TRUE(std::filesystem::exists(dir.file("b.qvc")));
}

}  // namespace
}  // namespace brenvale::advscan
