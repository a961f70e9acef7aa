// NormalScan as its callers drive it: a stop requested from the message pump, the checkpoint
// reported for each finished folder, and volumes of no file system the scan knows.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/scripted_ui.h"
#include "scan/scan_harness.h"
#include "scan/volume_builder.h"
#include "storage/fs_types.h"

namespace brenvale::test {
namespace {

std::vector<std::string> ListedNames(ScanHarness& h) {
    std::vector<std::string> out;
    for (const scan::TScanEntry* e : h.scan().ScannedFiles) out.push_back(h.scan().EntryDisplayName(e));
    return out;
}

TEST(ScanControl, StopInsideAFolderKeepsWhatWasFound) {
    constexpr std::size_t kFiles = 12;
    std::vector<std::string> all;
    for (std::size_t i = 0; i < kFiles; ++i) all.push_back(NumberedName('F', i));
    for (const Fs fs : {Fs::Fat12, Fs::Fat16, Fs::Fat32}) {
        SCOPED_TRACE(FsName(fs));
        VolumeBuilder v(fs);
        v.put(v.root(), 0, NumberedFiles('F', 0, kFiles));
        ScriptedUi ui;
        ScanHarness h(std::move(v.bytes()), &ui);
        int pumps = 0;
        ui.onPump = [&] {
            if (++pumps == 6) h.scan().TerminateProcess();
        };

        EXPECT_EQ(h.scan().NormalScan(1), scan::kScanStopped);
        const auto kept = ListedNames(h);
        ASSERT_FALSE(kept.empty());
        ASSERT_LT(kept.size(), kFiles);
        // The entries before the stop, in folder order, each once.
        EXPECT_EQ(kept, std::vector<std::string>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(kept.size())));
        EXPECT_FALSE(h.scan().FTerminated);

        ui.onPump = nullptr;
        EXPECT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
        EXPECT_EQ(ListedNames(h), all);
    }
}

TEST(ScanControl, CheckpointMarksFoldersReadToTheirLastCluster) {
    struct Row {
        const char* what;
        std::vector<std::uint32_t> clusters;
        bool full;  // every slot of every cluster used; else the last ends with an unused entry
    };
    const std::vector<Row> rows = {
        {"one cluster, full", {10}, true},
        {"two clusters, full", {11, 12}, true},
        {"one cluster, ending early", {13}, false},
        {"two clusters, the second ending early", {14, 15}, false},
    };
    VolumeBuilder v(Fs::Fat16);
    std::size_t rootSlot = 0;
    char prefix = 'A';
    for (const Row& r : rows) {
        const std::uint32_t first = r.clusters.front();
        rootSlot = v.put(0, rootSlot, {FolderEntry(std::string("DIR") + prefix, first)});
        for (std::size_t i = 0; i < r.clusters.size(); ++i) {
            v.setFat(r.clusters[i], i + 1 < r.clusters.size() ? r.clusters[i + 1] : v.endOfChain());
        }
        v.makeFolder(first, 0);
        const std::size_t slots = r.clusters.size() * v.entriesPerCluster() - 2 - (r.full ? 0 : 3);
        v.put(first, 2, NumberedFiles(prefix++, 0, slots));
    }
    ScanHarness h(std::move(v.bytes()));
    std::vector<std::uint32_t> done;
    h.scan().FOnScanCheckpoint = [&](std::uint8_t fs, std::int64_t record, std::uint32_t clus, std::int32_t) {
        EXPECT_EQ(fs, storage::kFsFat16);
        EXPECT_EQ(record, -1);
        done.push_back(clus);
    };
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);

    for (const Row& r : rows) {
        EXPECT_EQ(std::count(done.begin(), done.end(), r.clusters.front()), r.full ? 1 : 0) << r.what;
    }
    // The fixed root has unused slots after its four folders.
    EXPECT_EQ(std::count(done.begin(), done.end(), 0u), 0);
}

TEST(ScanControl, UnsupportedFileSystemIsNotScannable) {
    struct Row {
        const char* what;
        std::int32_t mode;
        bool withUi;
        bool message;
    };
    const std::vector<Row> rows = {
        {"interactive", 1, true, true},
        {"silent", 2, true, false},
        {"mode 0 is silent too", 0, true, false},
        {"interactive without a ui", 1, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        // A FAT16 volume with a file, its boot sector wiped but for the signature.
        VolumeBuilder v(Fs::Fat16);
        v.put(0, 0, {FileEntry("A.TXT", 10, 1)});
        auto boot = v.bootSector();
        std::fill(boot.begin(), boot.end() - 2, std::byte{0});
        ScriptedUi ui;
        ScanHarness h(std::move(v.bytes()), r.withUi ? &ui : nullptr);
        ASSERT_EQ(h.scan().FileSystem(), storage::kFsUnknown);

        EXPECT_EQ(h.scan().NormalScan(r.mode), scan::kScanNotScannable);
        EXPECT_TRUE(h.scan().ScannedFiles.empty());
        if (r.message) {
            ASSERT_EQ(ui.messages.size(), 1u);
            EXPECT_EQ(ui.messages[0].first, storage::MessageKind::Error);
            EXPECT_EQ(ui.messages[0].second, "Unsupported file system type.");
        } else {
            EXPECT_TRUE(ui.messages.empty());
        }
    }
}

}  // namespace
}  // namespace brenvale::test
