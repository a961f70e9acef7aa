// CAD files of unknown length measured again at recovery: read from the device in pieces of
// 4 MiB until their end shows, and written exactly to it; the others are written at their
// default size.

#include <gtest/gtest.h>

#include "cad_bytes.h"
#include "platform/fake/fake_platform.h"
#include "raw/raw_recover.h"
#include "scan/undelete.h"
#include "scan_disk.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "support/temp_dir.h"

namespace brenvale::raw {
namespace {

using namespace testing;

constexpr std::size_t kPiece = 4194304;

// A STEP file whose closing marker begins `markerAt` bytes from its start.
ByteVec stepEndingAt(std::size_t markerAt) {
    std::string s = "ISO-10303-21;\nHEADER;\nENDSEC;\nDATA;\n";
    s += linesOf(markerAt - s.size() - 8, "#1=CARTESIAN_POINT('',(0.,0.,0.));\n");
    s.resize(markerAt - 8, '\n');
    s += "ENDSEC;\n";
    return bytes(s + "END-ISO-10303-21;\n");
}

// A text STL whose "endsolid" begins `markerAt` bytes from its start.
ByteVec stlEndingAt(std::size_t markerAt) {
    std::string s = stlSolid("big", 1);
    s.resize(s.find("endsolid"));
    s += linesOf(markerAt - s.size(), "                                \n");
    s.resize(markerAt, ' ');
    return bytes(s + "endsolid big\n");
}

// A binary DXF: the sentinel, then groups of a 16-bit code and a NUL-terminated value.
ByteVec binaryDxf() {
    ByteVec v = bytes(std::string_view("AutoCAD Binary DXF\r\n\x1A\x00", 22));
    for (auto [code, value] : {std::pair{0u, "SECTION"}, {2u, "ENTITIES"}, {0u, "LINE"}, {8u, "0"}, {0u, "ENDSEC"}, {0u, "EOF"}}) {
        put16(v, code);
        put(v, value);
        put8(v, 0);
    }
    return v;
}

class CadRecoverTest : public ::testing::Test {
protected:
    static constexpr std::uint64_t kSectors = 44000;  // some 21 MiB
    void SetUp() override {
        storage::DeviceAborted = false;
        disk = noiseDisk(kSectors);
        ByteVec blend32 = blendOf(false, 40, 3000);
        ByteVec dwg = dwgWithHeaderCopyOf("AC1027", 0x40, 1500000);
        files = {
            {100, 5, "stp", stepEndingAt(9 * 1024 * 1024)},
            {20000, 5, "stp", stepEndingAt(kPiece - 5)},   // the marker cut by the first piece's end
            {29000, 6, "stl", stlEndingAt(kPiece - 3)},    // "endsolid" cut likewise
            {38000, 8, "dxf", bytes(dxfOf(300000, "\n", "EOF"))},  // a text "EOF" first, another DXF soon after
            {39000, 9, "dwg", dwg},
            {43500, 0, "blend", blend32},  // 20-byte block headers: the second walk finds the end
            {42000, 8, "dxf", binaryDxf()},  // ends at its "EOF" group, not at the text DXF after it
            {42010, 8, "dxf", bytes(dxfOf(1000))},
        };
        for (const auto& f : files) place(disk, f.lba, f.bytes);
        os.addDisk("cad.img", disk, kSector, false);
        device = std::make_unique<storage::TDevice>(os, "cad.img");
        record.Entry.SectCount = static_cast<std::uint32_t>(kSectors);
        scan = std::make_unique<scan::TUndelete>(*device, record);
    }
    void TearDown() override { storage::DeviceAborted = false; }

    struct File {
        std::uint64_t lba;
        std::uint16_t minor;
        const char* ext;
        ByteVec bytes;
    };
    platform::fake::FakePlatform os;
    ByteVec disk;
    std::vector<File> files;
    std::unique_ptr<storage::TDevice> device;
    partitions::TPartition record;
    std::unique_ptr<scan::TUndelete> scan;
    SizeTables sizes;
    test::TempDir dest;
};

TEST_F(CadRecoverTest, UnknownLengthsAreMeasuredFromTheDevice) {
    int n = 0;
    for (const auto& f : files) {
        SCOPED_TRACE(f.ext + std::to_string(f.lba));
        TFoundFile hit = MakeHit(5, f.minor, f.ext, static_cast<std::int64_t>(f.lba));
        hit.Size = kUnknownSize;
        const std::string name = "C" + std::to_string(n++) + "." + f.ext;
        std::int64_t expected = static_cast<std::int64_t>(f.bytes.size());
        if (f.minor == 8 && f.bytes[0] != std::byte{'A'}) --expected;  // a text DXF ends with its "EOF", the line end left out
        ASSERT_TRUE(CadRecoverFile(*scan, hit, (dest / name).string()));
        const ByteVec got = test::ReadWholeFile(dest / name);
        ASSERT_EQ(static_cast<std::int64_t>(got.size()), expected);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), f.bytes.begin()));
    }
}

// No end within what the device holds, or a type without a deeper measure: the default size.
TEST_F(CadRecoverTest, OthersAreWrittenAtTheirDefaultSize) {
    // After the last file: nothing up to the end of the device closes it.
    ByteVec noEnd = bytes("ISO-10303-21;\nHEADER;\n");
    place(disk, 43800, noEnd);
    platform::fake::FakePlatform os2;
    os2.addDisk("cad2.img", disk, kSector, false);
    storage::TDevice device2(os2, "cad2.img");
    scan::TUndelete scan2(device2, record);
    sizes.DefaultSize[SizeIndex(5, 5)] = 9 * 512;
    sizes.DefaultSize[SizeIndex(5, 1)] = 5 * 512;
    TFoundFile step = MakeHit(5, 5, "stp", 43800);
    step.Size = kUnknownSize;
    EXPECT_FALSE(CadRecoverFile(scan2, step, (dest / "x.stp").string()));
    EXPECT_FALSE(std::filesystem::exists(dest / "x.stp"));
    ASSERT_TRUE(RawRecoverFile(scan2, sizes, step, "S.stp", dest.path().string()));
    EXPECT_EQ(test::ReadWholeFile(dest / "S.stp").size(), 9u * 512);
    TFoundFile fbx = MakeHit(5, 1, "fbx", 100);
    fbx.Size = kUnknownSize;
    EXPECT_FALSE(CadRecoverFile(scan2, fbx, (dest / "y.fbx").string()));
    ASSERT_TRUE(RawRecoverFile(scan2, sizes, fbx, "F.fbx", dest.path().string()));
    EXPECT_EQ(test::ReadWholeFile(dest / "F.fbx").size(), 5u * 512);
    // Through RawRecoverFile, a STEP of unknown length that the device shows whole.
    TFoundFile whole = MakeHit(5, 5, "stp", 100);
    whole.Size = kUnknownSize;
    ASSERT_TRUE(RawRecoverFile(scan2, sizes, whole, "W.stp", dest.path().string()));
    EXPECT_EQ(test::ReadWholeFile(dest / "W.stp"), files[0].bytes);
}

}  // namespace
}  // namespace brenvale::raw
