// The NTFS walk on small volumes built byte by byte: what becomes an entry, names, hard links,
// orphans, the record length rule, and records and run lists that lie.

#include <gmock/gmock.h>

#include <filesystem>

#include "app/scripted_ui.h"
#include "scan/ntfs_record.h"
#include "scan/ntfs_builder.h"
#include "scan/scan_harness.h"
#include "storage/le.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

constexpr std::uint16_t kInUse = 1, kFolder = 3, kDeletedFile = 0;

// A folder "Docs" (record 30) with a file, a file whose parent is missing, and one whose
// parent record holds a file.
NtfsBuilder SampleVolume() {
    NtfsBuilder b;
    auto& docs = b.record(30, kFolder);
    b.standardInformation(docs, 0);
    b.fileName(docs, 5, u"Docs", 1);
    auto& note = b.record(31, kInUse);
    b.standardInformation(note, 0);
    b.fileName(note, 30, u"note.txt", 3);
    b.residentData(note, "hello");
    auto& lost = b.record(32, kDeletedFile);
    b.standardInformation(lost, 0);
    b.fileName(lost, 1234, u"lost.txt", 3);
    b.residentData(lost, "lost");
    auto& plain = b.record(33, kInUse);
    b.standardInformation(plain, 0);
    b.fileName(plain, 5, u"plain.bin", 3);
    b.residentData(plain, "x");
    auto& child = b.record(34, kInUse);
    b.standardInformation(child, 0);
    b.fileName(child, 33, u"under a file.txt", 3);
    b.residentData(child, "y");
    return b;
}

TEST(NtfsWalk, RootChildrenAreTopLevelAndOrphansGetFolders) {
    auto b = SampleVolume();
    ScanHarness h(b.finish());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    // Record 5 is the root, never an entry; record 0 is listed as $MFT.
    EXPECT_EQ(h.count("."), 0u);
    EXPECT_THAT(h.childrenOf(nullptr), UnorderedElementsAre("!!! Orphaned Files !!!", "$MFT", "Docs", "plain.bin"));
    EXPECT_THAT(h.childrenOf(h.one("Docs")), ElementsAre("note.txt"));
    const auto* orphans = h.one("!!! Orphaned Files !!!");
    // A missing parent and a parent that is a file both become folders under the orphans.
    EXPECT_THAT(h.childrenOf(orphans), UnorderedElementsAre("Folder01234", "Folder00033"));
    EXPECT_THAT(h.childrenOf(h.one("Folder01234")), ElementsAre("lost.txt"));
    EXPECT_THAT(h.childrenOf(h.one("Folder00033")), ElementsAre("under a file.txt"));
    EXPECT_EQ(h.facts(h.one("lost.txt")).status, scan::kStatusDeleted);
}

TEST(NtfsWalk, DosNameGivesWayToTheLongNameAndHardLinksListEachFolder) {
    NtfsBuilder b;
    auto& a = b.record(30, kFolder);
    b.standardInformation(a, 0);
    b.fileName(a, 5, u"Alpha", 1);
    auto& c = b.record(31, kFolder);
    b.standardInformation(c, 0);
    b.fileName(c, 5, u"Beta", 1);
    auto& f = b.record(32, kInUse);
    b.standardInformation(f, 0);
    b.fileName(f, 30, u"REPORT~1.TXT", 2);
    b.fileName(f, 30, u"Report for the year.txt", 1);
    b.fileName(f, 31, u"Linked report.txt", 1);
    b.residentData(f, "data");
    ScanHarness h(b.finish());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    EXPECT_THAT(h.childrenOf(h.one("Alpha")), ElementsAre("Report for the year.txt"));
    EXPECT_THAT(h.childrenOf(h.one("Beta")), ElementsAre("Linked report.txt"));
    EXPECT_EQ(h.count("REPORT~1.TXT"), 0u);
}

TEST(NtfsWalk, RecordLengthRule) {
    struct Case {
        std::uint8_t clustersPerRecord;
        std::uint8_t sectorsPerCluster;
        std::uint32_t length;
    };
    for (const Case c : {Case{0xF6, 1, 1024}, Case{1, 1, 1024} /* 512 is raised */, Case{0xF4, 1, 4096},
                         Case{2, 2, 2048}, Case{0xF5, 8, 2048}}) {
        NtfsBuilder b;
        auto bytes = b.finish();
        bytes[13] = std::byte{c.sectorsPerCluster};
        bytes[64] = std::byte{c.clustersPerRecord};
        EXPECT_EQ(scan::GetNtfsRecordSize(storage::MakeBootSector(bytes), 512), c.length)
            << int(c.clustersPerRecord) << " " << int(c.sectorsPerCluster);
    }
    // 2048-byte records on 512-byte sectors: not a volume the walk reads.
    NtfsBuilder b;
    auto bytes = b.finish();
    bytes[64] = std::byte{0xF5};
    ScriptedUi ui;
    ScanHarness h(bytes, &ui);
    EXPECT_EQ(h.scan().NormalScan(1), scan::kScanNotScannable);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].second, "Unexpected NTFS record length.");
    EXPECT_EQ(h.scan().NormalScan(2), scan::kScanNotScannable);
    EXPECT_EQ(ui.messages.size(), 1u) << "the silent scan shows nothing";
}

// Damage to one record: the walk skips or reads it cleanly, the rest of the volume is listed.
struct DamageCase {
    const char* what;
    std::size_t offset;  // in record 31, after the fix-ups were written
    std::vector<std::uint8_t> bytes;
};

class NtfsDamageTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(NtfsDamageTest, TheRestOfTheVolumeIsListed) {
    auto b = SampleVolume();
    auto bytes = b.finish();
    const std::size_t rec = NtfsBuilder::RecordOffset(31);
    for (std::size_t i = 0; i < GetParam().bytes.size(); ++i) {
        bytes[rec + GetParam().offset + i] = std::byte{GetParam().bytes[i]};
    }
    ScanHarness h(bytes);
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    EXPECT_EQ(h.count("Docs"), 1u);
    EXPECT_EQ(h.count("plain.bin"), 1u);
    for (const auto* e : h.scan().ScannedFiles) {
        std::vector<std::byte> buf;
        h.scan().RecoverFileToBuf(e, h.scan().EntryDisplayName(e), buf, 4096);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, NtfsDamageTest,
    ::testing::Values(DamageCase{"attribute_length_zero", 56 + 4, {0, 0, 0, 0}},
                      DamageCase{"attribute_length_past_record", 56 + 4, {0x00, 0x10, 0, 0}},
                      DamageCase{"first_attribute_past_record", 20, {0xF0, 0x03}},
                      DamageCase{"update_sequence_count_huge", 6, {0xFF, 0xFF}},
                      DamageCase{"update_sequence_offset_past_record", 4, {0xF0, 0x03}},
                      DamageCase{"name_length_past_value", 56 + 72 + 24 + 64, {0xFF}},
                      DamageCase{"bad_signature", 0, {'B', 'A', 'A', 'D'}},
                      DamageCase{"extension_record", 32, {5, 0, 0, 0}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(NtfsWalk, RunListsOutsideTheVolumeFailThatFileOnly) {
    NtfsBuilder b(1024);
    auto& f = b.record(40, kInUse);
    b.standardInformation(f, 0);
    b.fileName(f, 5, u"far.bin", 3);
    // 4 clusters at cluster 0x7FFFFF00: far past the 1024-cluster volume.
    b.nonResidentData(f, {std::byte{0x41}, std::byte{4}, std::byte{0x00}, std::byte{0xFF}, std::byte{0xFF},
                          std::byte{0x7F}, std::byte{0}},
                      2048);
    auto& g = b.record(41, kInUse);
    b.standardInformation(g, 0);
    b.fileName(g, 5, u"negative.bin", 3);
    // A relative offset of -100 from 0.
    b.nonResidentData(g, {std::byte{0x11}, std::byte{2}, std::byte{0x9C}, std::byte{0}}, 1024);
    auto& k = b.record(42, kInUse);
    b.standardInformation(k, 0);
    b.fileName(k, 5, u"short runs.bin", 3);
    // One cluster of runs for a file of ten.
    b.nonResidentData(k, {std::byte{0x11}, std::byte{1}, std::byte{0x40}, std::byte{0}}, 10 * 512);
    ScanHarness h(b.finish());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    TempDir tmp;
    std::vector<std::pair<std::string, int>> outcomes;
    h.scan().FOnRecover = [&](const std::string& name, std::int32_t code) {
        if (code != scan::kRecoverStarting) outcomes.emplace_back(name, code);
    };
    for (const char* name : {"far.bin", "negative.bin", "short runs.bin"}) {
        EXPECT_FALSE(h.scan().RecoverFile(h.one(name), name, tmp.path().string()));
    }
    EXPECT_THAT(outcomes, ElementsAre(std::pair<std::string, int>{"far.bin", scan::kRecoverReadError},
                                      std::pair<std::string, int>{"negative.bin", scan::kRecoverReadError},
                                      std::pair<std::string, int>{"short runs.bin", scan::kRecoverRunListError}));
}

TEST(NtfsWalk, AnAttributeListPointingToItsOwnRecordEnds) {
    NtfsBuilder b;
    auto& f = b.record(40, kInUse);
    b.standardInformation(f, 0);
    // The list names this very record for the name and the data: nothing loops.
    std::vector<std::byte> list(2 * 32);
    for (int i = 0; i < 2; ++i) {
        (void)storage::putLe32(list, 32 * i, i == 0 ? 0x30 : 0x80);
        (void)storage::putLe16(list, 32 * i + 4, 32);
        (void)storage::putLe64(list, 32 * i + 16, 40);
    }
    b.resident(f, 0x20, list);
    b.fileName(f, 5, u"self.txt", 3);
    b.residentData(f, "self");
    ScanHarness h(b.finish());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    std::vector<std::byte> buf;
    ASSERT_EQ(h.count("self.txt"), 1u);
    EXPECT_TRUE(h.scan().RecoverFileToBuf(h.one("self.txt"), "self.txt", buf, 100));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.data()), buf.size()), "self");
}

TEST(NtfsWalk, NamesFromDiskNeverLeaveTheDestination) {
    NtfsBuilder b;
    const std::u16string names[] = {u"..", u".", u"../escape.txt", std::u16string(u"nul\0inside", 10), u"a/b",
                                    u"\u0001ctl"};
    std::uint32_t n = 40;
    for (const auto& name : names) {
        auto& f = b.record(n++, kInUse);
        b.standardInformation(f, 0);
        b.fileName(f, 5, name, 0);
        b.residentData(f, "payload");
    }
    ScanHarness h(b.finish());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    TempDir tmp;
    const auto dest = tmp.path() / "dest";
    std::filesystem::create_directory(dest);
    h.scan().RecoverChildren(nullptr, dest.string(), false);
    std::size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(tmp.path())) {
        if (!e.is_regular_file()) continue;
        ++files;
        // Every file is directly in the destination, under a plain name.
        EXPECT_EQ(e.path().parent_path(), dest) << e.path();
        const std::string name = e.path().filename().string();
        EXPECT_EQ(name.find_first_of(std::string("/\0\x01", 3)), std::string::npos) << name;
    }
    // The six names and $MFT.
    EXPECT_EQ(files, 7u);
    EXPECT_TRUE(std::filesystem::exists(dest / "__"));
    EXPECT_TRUE(std::filesystem::exists(dest / ".._escape.txt"));
}

}  // namespace
}  // namespace brenvale::test
