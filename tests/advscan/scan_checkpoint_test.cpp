// The scan checkpoint: a scan stopped anywhere (in the standard-scan stage, after a batch, while
// a batch is being read, at its last batch, in the stages; once or twice), saved to a file and resumed in a new scan
// object ends with exactly what an uninterrupted scan ends with. The file's bytes are stable,
// every cut-off copy is refused, and so is the checkpoint of another source.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <span>
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

enum class StopIn { Standard, Batch, Read, Stage };

struct StopPoint {
    StopIn where;
    int at;                   // the standard scan's nth folder or record batch, the nth batch (Read: the first
                              // read at or past its nth MiB), or the nth stage
    bool lastBatch = false;   // `at` counted back from the last batch (1: the last)
};

// The image's reads, each passed to `onRead` first: a stop raised there comes while a batch is
// being read (the pass reads the next batch while it works on the one before).
class ReadHookPlatform : public platform::Platform {
public:
    explicit ReadHookPlatform(std::function<void(std::uint64_t offset)> onRead)
        : inner_(platform::makeLinuxPlatform()), onRead_(std::move(onRead)) {}

    std::vector<platform::BlockDeviceInfo> wholeDisks() override { return inner_->wholeDisks(); }
    std::vector<platform::BlockDeviceInfo> partitions() override { return inner_->partitions(); }
    std::vector<platform::DiskExtent> pathDiskExtents(const std::string& path) override { return inner_->pathDiskExtents(path); }
    std::uint32_t tickCount() override { return inner_->tickCount(); }
    platform::OpenResult openReadOnly(const std::string& path) override {
        platform::OpenResult opened = inner_->openReadOnly(path);
        if (opened.source) opened.source = std::make_unique<Source>(std::move(opened.source), onRead_);
        return opened;
    }

private:
    class Source : public platform::BlockSource {
    public:
        Source(std::unique_ptr<platform::BlockSource> inner, std::function<void(std::uint64_t)> onRead)
            : inner_(std::move(inner)), onRead_(std::move(onRead)) {}
        platform::ReadOutcome readTimed(std::span<std::byte> dst, std::uint64_t offset, platform::Millis timeout) override {
            onRead_(offset);
            return inner_->readTimed(dst, offset, timeout);
        }
        std::optional<std::uint64_t> sizeBytes() override { return inner_->sizeBytes(); }
        std::optional<platform::DiskGeometry> geometry() override { return inner_->geometry(); }
        std::optional<std::uint32_t> logicalSectorSize() override { return inner_->logicalSectorSize(); }
        bool isBlockDevice() const override { return inner_->isBlockDevice(); }

    private:
        std::unique_ptr<platform::BlockSource> inner_;
        std::function<void(std::uint64_t)> onRead_;
    };

    std::unique_ptr<platform::Platform> inner_;
    std::function<void(std::uint64_t)> onRead_;
};

// One run of the advanced scan over an image that stops at `stop` (or runs to the end) and
// saves its checkpoint; resumed from `checkpoint` when that is given.
struct ScanRun {
    // A stop while a batch is read needs the reads: `readStop` (when given) is raised by them.
    explicit ScanRun(const std::filesystem::path& image, const StopPoint* readStop = nullptr)
        : scan(image, BootSector::FirstSector, readHook(readStop)) {}

    // The result of AdvScan; `batches` counts the batches the pass read.
    int Go(const StopPoint* stop, int totalBatches) {
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
        armed = stop && stop->where == StopIn::Read;
        const int result = scan.adv.AdvScan(flag, cb);
        armed = false;
        s.FOnEnumDir = nullptr;
        return result;
    }

    std::unique_ptr<platform::Platform> readHook(const StopPoint* readStop) {
        if (!readStop || readStop->where != StopIn::Read) return nullptr;
        const std::uint64_t from = std::uint64_t{static_cast<unsigned>(readStop->at)} << 20;
        return std::make_unique<ReadHookPlatform>([this, from](std::uint64_t offset) {
            if (armed && offset >= from) flag = true;
        });
    }

    std::atomic<bool> flag{false};
    std::atomic<bool> armed{false};  // only the scan's own reads stop it, not the set-up's
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
        {"adv/deleted.img", 2048, {{StopIn::Read, 5}}},
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
        {"adv-fat/exfat-qformat.img", 0, {{StopIn::Read, 6}, {StopIn::Read, 13}}},
        {"adv-fat/fat32-qformat.img", 0, {{StopIn::Read, 3}}},
        {"adv-fat/exfat-qformat.img", 0, {{StopIn::Stage, 6}}},  // the last stage
        // Every other fixture of the advanced scan, stopped once or twice.
        {"adv/lost63.img", 0, {{StopIn::Read, 7}}},
        {"adv/qformat-1k.img", 0, {{StopIn::Read, 10}, {StopIn::Stage, 3}}},
        {"adv/repart.img", 0, {{StopIn::Batch, 2}, {StopIn::Read, 20}}},
        {"adv/wiped.img", 0, {{StopIn::Read, 12}}},
        {"adv-fat/exfat-qformat-c32768.img", 0, {{StopIn::Read, 11}}},
        {"adv-fat/exfat-wiped.img", 0, {{StopIn::Stage, 4}}},
        {"adv-fat/fat12-qformat.img", 0, {{StopIn::Stage, 4}}},  // a floppy: two batches
        {"adv-fat/fat12-qformat-c2048.img", 0, {{StopIn::Stage, 6}}},
        {"adv-fat/fat16-qformat.img", 0, {{StopIn::Read, 4}}},
        {"adv-fat/fat16-qformat-c512.img", 0, {{StopIn::Read, 15}}},
        {"adv-fat/fat32-qformat-c2048.img", 0, {{StopIn::Read, 30}, {StopIn::Stage, 5}}},
        {"adv-fat/fat32-wiped.img", 0, {{StopIn::Read, 2}}},
        {"adv-fat/sdcard.img", 0, {{StopIn::Read, 40}}},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        const std::filesystem::path image =
            c.volumeStart > 0 ? cutVolume(fixtures / c.image, c.volumeStart, dir) : fixtures / c.image;
        SCOPED_TRACE(std::string(c.image) + " stopped " + std::to_string(c.stops.size()) + " time(s), first at " +
                     std::to_string(static_cast<int>(c.stops[0].where)) + "/" + std::to_string(c.stops[0].at));
        int total = 0;
        const std::string whole = uninterrupted(image, total);
        ASSERT_GE(total, 1);
        const std::string file = dir.file("scan.qvc");
        bool pending = false;  // a checkpoint waits to be resumed
        for (const StopPoint& stop : c.stops) {
            ScanRun run(image, &stop);
            if (pending) {
                TCheckpointData data;
                std::string reason;
                ASSERT_TRUE(ValidateCheckpoint(file, &run.scan.adv, data, reason)) << reason;
                ApplyCheckpoint(data, run.scan.adv);
            }
            ASSERT_EQ(run.Go(&stop, total), kAdvStopped);
            if (stop.where != StopIn::Read) {
                EXPECT_EQ(run.scan.adv.Phase, stop.where == StopIn::Standard ? 0 : 1);
            }
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
