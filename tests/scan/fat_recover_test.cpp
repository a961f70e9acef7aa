// Recovery from byte-built FAT volumes: names a damaged or hostile folder holds never place a
// file outside the destination, and a deleted file whose FAT entries were cleared comes back
// from the clusters that follow its first one.

#include <gmock/gmock.h>

#include <filesystem>

#include "scan/scan_harness.h"
#include "scan/volume_builder.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

namespace fs = std::filesystem;

// A file entry with a long name, its data one byte "P" in cluster `c`.
std::vector<RawEntry> LongNamedFile(VolumeBuilder& v, std::u16string_view longName, std::string_view shortName,
                                    std::uint32_t c) {
    const RawEntry shortEntry = FileEntry(shortName, c, 1);
    auto entries = LongNameEntries(longName, LongNameChecksum(shortEntry));
    entries.push_back(shortEntry);
    v.cluster(c)[0] = std::byte{'P'};
    v.setFat(c, v.endOfChain());
    return entries;
}

TEST(FatRecover, NamesFromDiskNeverLeaveTheDestination) {
    VolumeBuilder v(Fs::Fat16);
    std::vector<RawEntry> all;
    const std::u16string names[] = {u"..", u"../../escape.txt", u"a/b.txt", u"ctl\u0001.txt", u"."};
    const char* shorts[] = {"A1.TXT", "A2.TXT", "A3.TXT", "A4.TXT", "A5.TXT"};
    for (int i = 0; i < 5; ++i) {
        const auto e = LongNamedFile(v, names[i], shorts[i], 10 + i);
        all.insert(all.end(), e.begin(), e.end());
    }
    v.put(v.root(), 0, all);
    ScanHarness h(v.bytes());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    TempDir tmp;
    const auto dest = tmp.path() / "dest";
    fs::create_directory(dest);
    h.scan().RecoverChildren(nullptr, dest.string(), false);
    std::vector<std::string> written;
    for (const auto& e : fs::recursive_directory_iterator(tmp.path())) {
        if (!e.is_regular_file()) continue;
        EXPECT_EQ(e.path().parent_path(), dest) << e.path();
        written.push_back(e.path().filename().string());
    }
    EXPECT_THAT(written, ::testing::UnorderedElementsAre("__", ".._.._escape.txt", "a_b.txt", "ctl_.txt", "_"));
}

TEST(FatRecover, ClearedChainContinuesInTheFollowingClusters) {
    VolumeBuilder v(Fs::Fat16);
    // Three clusters of data, the FAT says nothing of them (as after a deletion).
    for (int i = 0; i < 3; ++i) v.cluster(20 + i)[0] = static_cast<std::byte>('a' + i);
    v.put(v.root(), 0, {Deleted(FileEntry("GONE.BIN", 20, 3 * 512))});
    ScanHarness h(v.bytes());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    std::vector<std::byte> data;
    ASSERT_TRUE(h.scan().RecoverFileToBuf(h.one("_ONE.BIN"), "_ONE.BIN", data, 3 * 512));
    ASSERT_EQ(data.size(), 3u * 512);
    EXPECT_EQ(data[0], std::byte{'a'});
    EXPECT_EQ(data[512], std::byte{'b'});
    EXPECT_EQ(data[1024], std::byte{'c'});
    // The last 100 bytes come from the third cluster.
    std::vector<std::byte> tail;
    EXPECT_EQ(h.scan().RecoverFileTailToBuf(h.one("_ONE.BIN"), "_ONE.BIN", tail, 600), 3 * 512);
    ASSERT_EQ(tail.size(), 600u);
    EXPECT_EQ(tail[600 - 512], std::byte{'c'});
    EXPECT_EQ(h.scan().RecoverFileTailToBuf(h.one("_ONE.BIN"), "_ONE.BIN", tail, 0), 0);
}

}  // namespace
}  // namespace brenvale::test
