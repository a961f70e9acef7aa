// The NTFS record parser on records taken out of a built volume, with no volume walk around
// it: names, times, sizes, parent and flags, attributes found through an attribute list in
// extension records, the header's 48-bit record number, and torn records.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "scan/ntfs_builder.h"
#include "scan/ntfs_file_record.h"
#include "scan/scan_harness.h"
#include "storage/utf.h"

namespace brenvale::test {
namespace {

using ::testing::ElementsAre;

constexpr std::uint16_t kInUse = 0x0001;

// Records served by number, as an advanced scan's harvest would.
class MapSource final : public scan::NtfsRecordSource {
public:
    std::map<std::uint64_t, std::vector<std::byte>> records;
    std::vector<std::byte> clusters;
    int asked = 0;

    bool ReadRecord(std::uint64_t number, std::vector<std::byte>& out) override {
        ++asked;
        const auto it = records.find(number);
        if (it == records.end()) return false;
        out = it->second;
        return true;
    }
    std::vector<std::byte> ReadRuns(const storage::trunlist&, std::uint64_t size) override {
        return {clusters.begin(), clusters.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(size, clusters.size()))};
    }
};

// Record n of a finished volume, fixed up.
std::vector<std::byte> RecordOf(const std::vector<std::byte>& volume, std::uint32_t n) {
    const auto at = volume.begin() + static_cast<std::ptrdiff_t>(NtfsBuilder::RecordOffset(n));
    std::vector<std::byte> rec(at, at + NtfsBuilder::kRecordSize);
    EXPECT_TRUE(scan::ApplyFixups(rec));
    return rec;
}

std::string Utf8(const std::u16string& s) { return storage::Utf16ToUtf8(s); }

// One attribute-list entry (32 bytes) pointing at attribute `id` of type `type` in `record`.
void ListEntry(std::vector<std::byte>& list, std::uint32_t type, std::uint64_t record, std::uint16_t id) {
    const std::size_t at = list.size();
    list.resize(at + 32);
    (void)storage::putLe32(list, at, type);
    (void)storage::putLe16(list, at + 4, 32);
    (void)storage::putLe64(list, at + 16, record | (std::uint64_t{1} << 48));
    (void)storage::putLe16(list, at + 24, id);
}

TEST(NtfsFileRecord, ReadsTheRecordAlone) {
    NtfsBuilder b;
    auto& f = b.record(40, kInUse);
    b.standardInformation(f, 0x01D0000000000000ull, 0x20);
    b.fileName(f, 30, u"REPORT~1.TXT", 2);
    b.fileName(f, 30, u"Report for the year.txt", 1);
    b.fileName(f, 31, u"Linked report.txt", 1);
    b.nonResidentData(f, {std::byte{0x11}, std::byte{3}, std::byte{0x40}, std::byte{0}}, 1300);
    auto& d = b.record(41, kInUse | 0x0002);
    b.standardInformation(d, 0);
    b.fileName(d, 5, u"Folder", 1);
    auto& r = b.record(42, 0);
    b.standardInformation(r, 0);
    b.fileName(r, 5, u"tiny.txt", 3);
    b.residentData(r, "hello");
    const auto volume = b.finish();

    const auto file = scan::ParseFileRecord(RecordOf(volume, 40), nullptr, 4096);
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(Utf8(file->name), "REPORT~1.TXT");
    EXPECT_EQ(Utf8(file->longName), "Report for the year.txt");
    EXPECT_EQ(file->parent(), 30u);
    EXPECT_EQ(file->flags, kInUse);
    EXPECT_EQ(file->realSize, 1300u);
    EXPECT_EQ(file->allocSize, 1536u);
    const auto head = file->head();
    EXPECT_EQ(head.FileAlteredTime, 0x01D0000000000000ull) << "standard-information times";
    EXPECT_EQ(head.Flags & 0xFFFF, 0x20u);
    std::vector<std::uint64_t> otherParents;
    for (const auto& v : file->otherNames) otherParents.push_back(storage::le64(v, 0) & 0xFFFFFFFFFFFFull);
    EXPECT_THAT(otherParents, ElementsAre(30u, 31u));

    const auto folder = scan::ParseFileRecord(RecordOf(volume, 41), nullptr, 4096);
    ASSERT_TRUE(folder.has_value());
    EXPECT_EQ(folder->realSize, 0u) << "folders keep no size";

    const auto tiny = scan::ParseFileRecord(RecordOf(volume, 42), nullptr, 4096);
    ASSERT_TRUE(tiny.has_value());
    EXPECT_EQ(tiny->realSize, 5u);
    EXPECT_EQ(tiny->allocSize, 4096u) << "resident data takes one cluster";
    const auto data = scan::ParseDataStream(RecordOf(volume, 42), nullptr);
    ASSERT_TRUE(data.found && data.resident);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.value.data()), data.value.size()), "hello");
}

TEST(NtfsFileRecord, RecordsThatYieldNoEntry) {
    NtfsBuilder b;
    auto& ext = b.record(40, kInUse);
    b.fileName(ext, 5, u"extension.txt", 1);
    auto& noName = b.record(41, kInUse);
    b.standardInformation(noName, 0);
    auto volume = b.finish();
    auto extension = RecordOf(volume, 40);
    (void)storage::putLe64(extension, 32, 12);  // base record 12: an extension record
    EXPECT_FALSE(scan::ParseFileRecord(extension, nullptr, 4096));
    EXPECT_FALSE(scan::ParseFileRecord(RecordOf(volume, 41), nullptr, 4096));
    auto notFile = RecordOf(volume, 41);
    std::memcpy(notFile.data(), "BAAD", 4);
    EXPECT_FALSE(scan::ParseFileRecord(notFile, nullptr, 4096));
    EXPECT_FALSE(scan::ParseFileRecord(std::span<const std::byte>(notFile).first(40), nullptr, 4096));
}

TEST(NtfsFileRecord, NameAndDataThroughTheAttributeList) {
    NtfsBuilder b;
    auto& base = b.record(40, kInUse);
    b.standardInformation(base, 0);
    std::vector<std::byte> list;
    ListEntry(list, 0x30, 50, 0);
    ListEntry(list, 0x30, 51, 0);
    ListEntry(list, 0x80, 50, 1);
    ListEntry(list, 0x80, 51, 1);
    b.resident(base, 0x20, list);
    auto& e1 = b.record(50, kInUse);
    b.fileName(e1, 7, u"LONGFI~1.BIN", 2);
    b.nonResidentData(e1, {std::byte{0x11}, std::byte{2}, std::byte{0x40}, std::byte{0}}, 4000);
    auto& e2 = b.record(51, kInUse);
    b.fileName(e2, 7, u"long file name.bin", 1);
    b.nonResidentData(e2, {std::byte{0x11}, std::byte{6}, std::byte{0x60}, std::byte{0}}, 4000);
    const auto volume = b.finish();

    MapSource source;
    source.records[50] = RecordOf(volume, 50);
    source.records[51] = RecordOf(volume, 51);
    const auto rec = RecordOf(volume, 40);
    const auto file = scan::ParseFileRecord(rec, &source, 512);
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(Utf8(file->name), "long file name.bin") << "a Win32 name wins over a DOS one";
    EXPECT_EQ(file->parent(), 7u);
    EXPECT_EQ(file->realSize, 4000u) << "the size of the first extent's record";

    const auto data = scan::ParseDataStream(rec, &source);
    ASSERT_TRUE(data.found);
    EXPECT_FALSE(data.resident);
    EXPECT_EQ(data.runStatus, scan::RunListStatus::Whole);
    EXPECT_EQ(data.runs, (storage::trunlist{{0x40, 2}, {0x60, 6}})) << "the runs of every extent, in list order";

    // Without the extension records the record says nothing usable.
    EXPECT_FALSE(scan::ParseFileRecord(rec, nullptr, 512));
    MapSource empty;
    EXPECT_FALSE(scan::ParseFileRecord(rec, &empty, 512));
    EXPECT_GT(empty.asked, 0);
}

TEST(NtfsFileRecord, HeaderRecordNumberKeepsAll48Bits) {
    NtfsBuilder b;
    auto& f = b.record(40, kInUse);
    b.standardInformation(f, 0);
    b.fileName(f, 5, u"far.txt", 3);
    auto volume = b.finish();
    auto rec = RecordOf(volume, 40);
    (void)storage::putLe16(rec, 42, 0x0001);
    EXPECT_EQ(scan::HeaderRecordNumber(rec), std::optional<std::uint64_t>{0x100000028ull});
    (void)storage::putLe16(rec, 4, 42);  // the older layout: no number in the header
    EXPECT_EQ(scan::HeaderRecordNumber(rec), std::nullopt);

    // In a walk: the entry keeps the whole number, and a child naming it as parent (48 bits)
    // is found under it rather than under record 0x28.
    NtfsBuilder w;
    auto& folder = w.record(40, kInUse | 0x0002);
    w.standardInformation(folder, 0);
    w.fileName(folder, 5, u"high", 3);
    auto& child = w.record(41, kInUse);
    w.standardInformation(child, 0);
    w.fileName(child, 0x100000028ull, u"deep.txt", 3);
    auto& low = w.record(42, kInUse);
    w.standardInformation(low, 0);
    w.fileName(low, 0x28, u"low.txt", 3);
    auto bytes = w.finish();
    const std::size_t at = NtfsBuilder::RecordOffset(40);
    (void)storage::putLe16(bytes, at + 42, 0x0001);
    ScanHarness h(bytes);
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    ASSERT_NE(h.one("high"), nullptr);
    EXPECT_EQ(h.facts(h.one("high")).record, std::optional<std::int64_t>{0x100000028ll});
    EXPECT_THAT(h.childrenOf(h.one("high")), ElementsAre("deep.txt"));
    EXPECT_NE(h.facts(h.one("low.txt")).parent, h.one("high"));
}

struct FixupCase {
    const char* what;
    std::size_t offset;  // after the fix-ups were written
    std::vector<std::uint8_t> bytes;
    bool intact;
};

TEST(NtfsFileRecord, FixupsSayWhetherTheRecordIsWhole) {
    const FixupCase cases[] = {
        {"as written", 0, {}, true},
        {"second sector did not reach the disk", 1022, {0x08, 0x00}, false},
        {"first sector did not reach the disk", 510, {0x00, 0x00}, false},
        {"update sequence past the record", 4, {0xF0, 0x03}, false},
        {"more strides than the record has", 6, {0x09, 0x00}, false},
        {"no update sequence", 6, {0x00, 0x00}, true},
    };
    NtfsBuilder b;
    auto& f = b.record(40, kInUse);
    b.standardInformation(f, 0);
    b.fileName(f, 5, u"a.txt", 3);
    const auto volume = b.finish();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto at = volume.begin() + static_cast<std::ptrdiff_t>(NtfsBuilder::RecordOffset(40));
        std::vector<std::byte> rec(at, at + NtfsBuilder::kRecordSize);
        for (std::size_t i = 0; i < c.bytes.size(); ++i) rec[c.offset + i] = std::byte{c.bytes[i]};
        EXPECT_EQ(scan::ApplyFixups(rec), c.intact);
    }
}

TEST(NtfsFileRecord, ATornRecordIsListedAsDamaged) {
    NtfsBuilder b;
    auto& f = b.record(40, kInUse);
    b.standardInformation(f, 0);
    b.fileName(f, 5, u"torn.txt", 3);
    b.residentData(f, "half");
    auto& g = b.record(41, kInUse);
    b.standardInformation(g, 0);
    b.fileName(g, 5, u"whole.txt", 3);
    auto bytes = b.finish();
    bytes[NtfsBuilder::RecordOffset(40) + 1022] = std::byte{0x99};
    ScanHarness h(bytes);
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);
    ASSERT_NE(h.one("torn.txt"), nullptr);
    EXPECT_EQ(h.facts(h.one("torn.txt")).status, scan::kStatusDamaged);
    EXPECT_EQ(h.facts(h.one("whole.txt")).status, scan::kStatusLive);
}

}  // namespace
}  // namespace brenvale::test
