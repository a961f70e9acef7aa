// The CAD signatures and their lengths: Blender and binary FBX walked to their end, STEP, STL,
// CATIA and DXF to their closing text, 3DS from its main chunk, DWG by its release's
// structures, Proteus projects as the ZIP archives they are.

#include <gtest/gtest.h>

#include "cad_bytes.h"
#include "scan_disk.h"

namespace brenvale::raw {
namespace {

using namespace testing;

struct CadCase {
    const char* name;
    ByteVec file;
    int minor;
    const char* ext;
    std::int64_t size;  // -2: the file's own length
};

ByteVec textOf(const std::string& s) {
    return bytes(s);
}

std::vector<CadCase> cadCases() {
    const std::string dxf = dxfOf(20000);
    const std::string dxfCrLf = dxfOf(3000, "\r\n");
    const ByteVec fbxHeaderText = bytes(std::string_view("Kaydara FBX Binary  \x00\x1A\x00", 23));
    ZipBytes proteus;
    proteus.add("PROJECT.XML", textBytes(3000, 5)).add("ROOT.DSN", textBytes(9000, 6)).add("BOM.TXT", textBytes(700, 7));
    return {
        {"Blender, 64-bit addresses", blendOf(true, 12, 3000), 0, "blend", -2},
        {"Blender, 32-bit addresses", blendOf(false, 5, 700), 0, "blend", -2},
        {"Blender, big-endian", blendOf(true, 3, 1500, true), 0, "blend", -2},
        {"Blender, one block longer than a megabyte", blendOf(true, 1, 1100000), 0, "blend", -2},
        {"FBX 7400 (32-bit records)", fbxOf(7400, 6, 2000), 1, "fbx", -2},
        {"FBX 7500 (64-bit records)", fbxOf(7500, 9, 1500), 1, "fbx", -2},
        {"FBX, zeros before the padding", fbxOf(7500, 3, 100, true), 1, "fbx", -2},
        {"FBX holding a copy of its header text", fbxOf(7400, 4, 600, false, fbxHeaderText), 1, "fbx", -2},
        {"FBX text", textOf("Kaydara FBX ASCII\n; FBX 6.1.0 project file\n" + std::string(3000, 'x')), 1, "fbx", kUnknownSize},
        {"CATIA part", textOf("V5_CFV2" + std::string(5000, 'c') + "CB__END"), 2, "CATPart", -2},
        {"STEP", textOf(stepOf(70000)), 5, "stp", -2},
        {"STL text", textOf(stlSolid("cube", 60)), 6, "stl", -2},
        {"STL, upper-case SOLID", textOf("SOLID " + stlSolid("x", 3).substr(6)), 6, "stl", -2},
        {"STL binary with a header beginning \"solid\"", stlBinaryOf(300), 6, "stl", -2},
        {"3D Studio", studio3dsOf(20000), 7, "3ds", -2},
        {"DXF", textOf(dxf), 8, "dxf", static_cast<std::int64_t>(dxf.size()) - 1},
        {"DXF with CR LF line ends", textOf(dxfCrLf), 8, "dxf", static_cast<std::int64_t>(dxfCrLf.size()) - 2},
        {"DXF binary", [] { ByteVec v = bytes(std::string_view("AutoCAD Binary DXF\r\n\x1A\x00", 22)); padTo(v, 900, std::byte{7}); return v; }(), 8, "dxf", kUnknownSize},
        {"Proteus project", proteus.finish(), 10, "pdsprj", -2},
    };
}

TEST(CadLengths, ExactWhereverTheFileLies) {
    for (const CadCase& c : cadCases()) {
        SCOPED_TRACE(c.name);
        const std::int64_t expected = c.size == -2 ? static_cast<std::int64_t>(c.file.size()) : c.size;
        ExpectFoundWherever(c.file, {0, expected, 5, c.minor, c.ext}, {1, 3, 2048});
    }
}

// The text formats take the last closing text in what they are handed: two solids in one STL,
// several lines "EOF" in a DXF (a text entity whose value is "EOF").
TEST(CadLengths, LastClosingTextInTheBatch) {
    const std::string twoSolids = stlSolid("first", 30) + stlSolid("second", 40);
    const std::string dxf = dxfOf(2000, "\n", "EOF");
    ASSERT_NE(dxf.find("\nEOF\n"), dxf.rfind("\nEOF\n"));
    for (const auto& [file, minor, size] : {std::tuple{textOf(twoSolids), 6, static_cast<std::int64_t>(twoSolids.size())},
                                            std::tuple{textOf(dxf), 8, static_cast<std::int64_t>(dxf.size()) - 1}}) {
        ByteVec disk = noiseDisk(512);
        place(disk, 100, file);
        const auto hit = hitAt(scanDisk(disk, 512), 100);
        ASSERT_TRUE(hit);
        EXPECT_EQ(hit->minor, minor);
        EXPECT_EQ(hit->size, size);
    }
}

// A text STL whose disk ends on the line of its "endsolid": the file ends with the disk.
TEST(CadLengths, StlEndingWithTheDisk) {
    const std::string stl = stlSolid("cube", 20);
    ByteVec disk = noiseDisk(64);
    ByteVec file = textOf(stl.substr(0, stl.size() - 1));  // no line end after "endsolid cube"
    const std::size_t lba = 64 - (file.size() + kSector - 1) / kSector;
    disk.resize(lba * kSector + file.size());
    std::copy(file.begin(), file.end(), disk.begin() + static_cast<std::ptrdiff_t>(lba * kSector));
    for (std::size_t batch : {std::size_t{1}, std::size_t{64}}) {
        const auto hit = hitAt(scanDisk(disk, batch), static_cast<std::int64_t>(lba));
        ASSERT_TRUE(hit);
        EXPECT_EQ(hit->size, static_cast<std::int64_t>(file.size()));
    }
}

// DWG releases, each measured by its own structures within the batch that holds it.
std::vector<std::pair<const char*, ByteVec>> dwgCases() {
    const auto header = dwgHeaderOf;
    std::vector<std::pair<const char*, ByteVec>> out;
    {  // R2000: section records (number, start, end) from offset 21
        ByteVec v = header("AC1015");
        padTo(v, 21);
        for (auto [n, s, e] : {std::tuple{1u, 0x100u, 0x800u}, std::tuple{2u, 0x800u, 0x1400u}, std::tuple{3u, 0x1400u, 0x2000u}}) {
            put8(v, n);
            put32(v, s);
            put32(v, e);
        }
        put8(v, 0);
        padTo(v, 0x2000, std::byte{0x21});
        out.emplace_back("AC1015", v);
    }
    {  // 2004: the last system page, its address at 48
        ByteVec v = header("AC1018");
        padTo(v, 48);
        put64(v, 0x1000);
        padTo(v, 0x1000, std::byte{0x22});
        put32(v, 0x4163043B);
        put32(v, 0);
        put32(v, 0x400);  // the page's data length
        padTo(v, 0x1000 + 32 + 0x400, std::byte{0x23});
        out.emplace_back("AC1018", v);
    }
    {  // 2007: the end from the page-map values at 0xD4 and 0xDC and the key at 0x98
        ByteVec v = header("AC1021");
        const std::uint64_t end = 0x3000, value = 0x100, key = 0x5555;
        padTo(v, 0x98);
        putBe64(v, key);
        padTo(v, 0xD4);
        putBe64(v, value);
        putBe64(v, (end + value) ^ key);
        padTo(v, end, std::byte{0x24});
        out.emplace_back("AC1021", v);
    }
    for (const char* version : {"AC1024", "AC1032"}) {  // 2010 and later: the copy at the end
        out.emplace_back(version, dwgWithHeaderCopyOf(version, 0x80, 0x2800));
    }
    return out;
}

TEST(CadLengths, DwgMeasuredByRelease) {
    for (const auto& [name, file] : dwgCases()) {
        SCOPED_TRACE(name);
        ByteVec disk = noiseDisk(4096);
        place(disk, 100, file);
        place(disk, 2040, file);  // across a batch boundary: the scan cannot see its end
        const auto hits = scanDisk(disk, 2048);
        EXPECT_EQ(hitAt(hits, 100), (Found{100, static_cast<std::int64_t>(file.size()), 5, 9, "dwg"}));
        EXPECT_EQ(hitAt(hits, 2040), (Found{2040, kUnknownSize, 5, 9, "dwg"}));
    }
}

// Headers that look like a start but cannot be one make no hit, or a hit of unknown length.
TEST(CadLengths, DamagedHeaders) {
    struct Bad {
        const char* name;
        ByteVec file;
        std::optional<std::int64_t> size;  // nullopt: no hit of the CAD group at all
    };
    auto dwg = dwgCases()[0].second;
    auto dwgVersion = dwg;
    dwgVersion[5] = std::byte{'9'};  // "AC1019": no such release
    auto dwgPadding = dwg;
    dwgPadding[8] = std::byte{1};
    auto dwgPreview = dwg;
    setLe32(dwgPreview, 13, 10);
    auto dwgRecords = dwg;
    setLe32(dwgRecords, 22, 50);  // the first section starts inside the header
    ByteVec fbx = fbxOf(7400, 3, 100);
    setLe32(fbx, 27, 20);  // the first node ends before its own name
    ByteVec fbxHuge = fbxOf(7500, 3, 100);
    setLe64(fbxHuge, 27, 0x7FFFFFFFFFFFFFFFULL);
    ByteVec fbxFooter = fbxOf(7400, 3, 100);
    fbxFooter[fbxFooter.size() - 3] = std::byte{0};  // the closing magic is wrong
    ByteVec blendWidth = blendOf(true, 2, 100);
    blendWidth[7] = std::byte{'x'};
    ByteVec blendBlock = blendOf(true, 2, 100);
    setLe32(blendBlock, 12 + 4, 0x40000000);  // longer than any block may be
    ByteVec tds = studio3dsOf(100);
    setLe32(tds, 2, 11);
    ByteVec tdsChunk = studio3dsOf(100);
    setLe32(tdsChunk, 8, 0x100000);  // the first chunk is longer than the file
    const std::vector<Bad> cases = {
        {"DWG of an unknown release", dwgVersion, std::nullopt},
        {"DWG with bytes in its padding", dwgPadding, std::nullopt},
        {"DWG with a preview inside its header", dwgPreview, std::nullopt},
        {"DWG whose sections start in the header", dwgRecords, kUnknownSize},
        {"FBX node ending before its name", fbx, kUnknownSize},
        {"FBX node ending past any file", fbxHuge, kUnknownSize},
        {"FBX with a wrong footer", fbxFooter, kUnknownSize},
        {"Blender of no known address width", blendWidth, kUnknownSize},
        {"Blender block of a gigabyte", blendBlock, kUnknownSize},
        {"3DS shorter than its header", tds, std::nullopt},
        {"3DS chunk longer than the file", tdsChunk, std::nullopt},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.name);
        ByteVec disk = noiseDisk(512);
        place(disk, 100, c.file);
        for (std::size_t batch : {std::size_t{1}, std::size_t{512}}) {
            const auto hit = hitAt(scanDisk(disk, batch), 100);
            if (!c.size) {
                EXPECT_FALSE(hit && hit->major == 5) << *hit;
                continue;
            }
            ASSERT_TRUE(hit);
            EXPECT_EQ(hit->major, 5);
            EXPECT_EQ(hit->size, *c.size);
        }
    }
}

// A ZIP that names the project files only inside a member's data is a ZIP; one whose members
// are the project files is a project, whichever test made the hit.
TEST(CadLengths, ProteusByItsMembers) {
    ZipBytes named;
    named.add("notes.txt", bytes("see PROJECT.XML and ROOT.DSN"));
    const ByteVec notProject = named.finish();
    ZipBytes late;
    late.add("big.bin", noise(80000, 9)).add("PROJECT.XML", textBytes(100, 2)).add("ROOT.DSN", textBytes(100, 3));
    const ByteVec lateProject = late.finish();
    for (std::size_t batch : {std::size_t{1}, std::size_t{2048}}) {
        ByteVec disk = noiseDisk(1024);
        place(disk, 10, notProject);
        place(disk, 100, lateProject);
        const auto hits = scanDisk(disk, batch);
        EXPECT_EQ(hitAt(hits, 10), (Found{10, static_cast<std::int64_t>(notProject.size()), 0, 1, "zip"}));
        EXPECT_EQ(hitAt(hits, 100), (Found{100, static_cast<std::int64_t>(lateProject.size()), 5, 10, "pdsprj"}));
    }
}

}  // namespace
}  // namespace brenvale::raw
