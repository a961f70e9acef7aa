// NTFS geometry from patched boot sectors of a built volume: sane ones give the numbers the
// walk reads with, damaged ones no geometry, and a volume without one is never read as NTFS.

#include <gtest/gtest.h>

#include "scan/ntfs_builder.h"
#include "scan/ntfs_geometry.h"
#include "scan/scan_harness.h"
#include "storage/fs_detect.h"
#include "storage/fs_types.h"

namespace brenvale::test {
namespace {

struct Patch {
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
};

std::vector<std::byte> Patched(const std::vector<Patch>& patches) {
    NtfsBuilder b;
    auto bytes = b.finish();
    for (const auto& p : patches) {
        for (std::size_t i = 0; i < p.bytes.size(); ++i) bytes[p.offset + i] = std::byte{p.bytes[i]};
    }
    return bytes;
}

struct GoodCase {
    const char* what;
    std::vector<Patch> patches;
    std::uint32_t deviceBps;
    scan::NtfsGeometry expected;
};

TEST(NtfsGeometry, SaneBootSectors) {
    const GoodCase cases[] = {
        {"as built", {}, 512, {512, 1, 512, 1024, 16, 16 * 512}},
        {"4 KiB clusters", {{13, {8}}}, 512, {512, 8, 4096, 1024, 16, 16 * 4096}},
        {"64 KiB clusters as 2^(256 - 0xF9)", {{13, {0xF9}}}, 512, {512, 128, 65536, 1024, 16, 16 * 65536}},
        {"4 KiB sectors and records", {{11, {0x00, 0x10}}, {64, {0xF4}}}, 4096, {4096, 1, 4096, 4096, 16, 16 * 4096}},
        {"sector size 0 takes the device's", {{11, {0, 0}}}, 512, {512, 1, 512, 1024, 16, 16 * 512}},
        {"a sector size of 768 takes the device's", {{11, {0x00, 0x03}}}, 512, {512, 1, 512, 1024, 16, 16 * 512}},
        {"records counted in clusters", {{13, {2}}, {64, {2}}}, 512, {512, 2, 1024, 2048, 16, 16 * 1024}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto g = scan::MakeNtfsGeometry(storage::MakeBootSector(Patched(c.patches)), c.deviceBps);
        ASSERT_TRUE(g.has_value());
        EXPECT_EQ(*g, c.expected);
    }
}

struct BadCase {
    const char* what;
    std::vector<Patch> patches;
};

const BadCase kBadBootSectors[] = {
    {"no sectors per cluster", {{13, {0}}}},
    {"sectors per cluster not a power of two", {{13, {3}}}},
    {"a cluster over 2 MiB", {{13, {0xF0}}}},
    {"a shift of 2^31 sectors", {{13, {0xE1}}}},
    {"a record of 127 clusters of 64 KiB", {{13, {0x80}}, {64, {0x7F}}}},
    {"a record of 2 GiB", {{64, {0xE1}}}},
    {"8 KiB records", {{64, {0xF3}}}},
    {"records of 3 clusters", {{64, {3}}}},
    {"the MFT past 2^63 bytes", {{48, {0, 0, 0, 0, 0, 0, 0, 0x40}}}},
};

TEST(NtfsGeometry, DamagedBootSectorsGiveNone) {
    for (const auto& c : kBadBootSectors) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(scan::MakeNtfsGeometry(storage::MakeBootSector(Patched(c.patches)), 512).has_value());
    }
}

TEST(NtfsGeometry, AVolumeWithoutGeometryIsNeverReadAsNtfs) {
    for (const auto& c : kBadBootSectors) {
        SCOPED_TRACE(c.what);
        ScanHarness h(Patched(c.patches));
        ASSERT_EQ(h.partition().BootSector.FileSystemType, storage::kFsNtfs) << "still detected as NTFS";
        EXPECT_EQ(h.scan().NormalScan(2), scan::kScanNotScannable);
        // Only the image's descriptor check at its end, and the probe of the volume's first
        // sector that every new operation makes: no label, no table.
        const std::uint64_t descriptor = h.disk().data.size() - 512;
        for (const auto& [offset, length] : h.disk().log) {
            EXPECT_TRUE(offset == 0 || offset == descriptor) << offset << " " << length;
        }
        EXPECT_TRUE(h.scan().ScannedFiles.empty());
        EXPECT_EQ(h.scan().NtfsRecordByteOfs(0), -1);
    }
}

// The master file table's own run list: a damaged one is said in the event log, and the
// walk reads what it could decode.
TEST(NtfsGeometry, ADamagedTableRunListIsReported) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> runs;
        bool listed;
        const char* logged;
    };
    const Case cases[] = {
        {"whole", {0x11, 128, 16, 0x00}, true, nullptr},
        // The attribute ends 8 bytes into the list: the second run's offset does not fit.
        {"cut short", {0x11, 128, 16, 0x41, 1, 0, 0, 0}, true, "(cut short); the scan reads the 1 extents"},
        {"invalid: a 9-byte length", {0x19, 128, 16, 0x00}, false, "(invalid); the scan reads the 0 extents"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        NtfsBuilder b;
        auto& f = b.record(40, 0x0001);
        b.standardInformation(f, 0);
        b.fileName(f, 5, u"kept.txt", 3);
        auto bytes = b.finish();
        // Record 0's run list, where its data attribute says it starts (inside the first
        // sector, so the fix-ups are not touched).
        const std::size_t rec = NtfsBuilder::RecordOffset(0);
        std::size_t at = 0;
        for (std::size_t off = 56; off + 8 < NtfsBuilder::kRecordSize;) {
            const auto type = storage::le32(bytes, rec + off);
            const auto len = storage::le32(bytes, rec + off + 4);
            if (type == 0x80) {
                at = rec + off + storage::le16(bytes, rec + off + 32);
                break;
            }
            if (len == 0 || type == 0xFFFFFFFF) break;
            off += len;
        }
        ASSERT_NE(at, 0u);
        for (std::size_t i = 0; i < c.runs.size(); ++i) bytes[at + i] = std::byte{c.runs[i]};
        std::vector<std::string> events;
        storage::SetOnDeviceEvent([&](const std::string& m) { events.push_back(m); });
        ScanHarness h(bytes);
        const auto result = h.scan().NormalScan(1);
        storage::SetOnDeviceEvent({});
        EXPECT_EQ(result, scan::kScanCompleted);
        EXPECT_EQ(h.count("kept.txt"), c.listed ? 1u : 0u);
        if (c.logged) {
            ASSERT_EQ(events.size(), 1u);
            EXPECT_NE(events[0].find(c.logged), std::string::npos) << events[0];
        } else {
            EXPECT_TRUE(events.empty());
        }
    }
}

}  // namespace
}  // namespace brenvale::test
