#include "raw/test_chain.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace brenvale::raw {

namespace {

using namespace formats;

// The order decides which format wins a sector: the CAD formats come first, a Proteus project
// before the ZIP it is stored as.
constexpr std::array<ChainRow, 36> kChain = {{
    {"Blender", TestBlender, ParseBlender, 0},
    {"FBX", TestFbx, ParseFbx, 0},
    {"CATIA V5 part", TestCatia, ParseCatia, 0},
    {"STEP", TestStep, ParseStep, 0},
    {"STL", TestStl, ParseStl, 0},
    {"3D Studio", Test3ds, Parse3ds, 0},
    {"DXF", TestDxf, ParseDxf, 0},
    {"DWG", TestDwg, ParseDwg, 0},
    {"Proteus project", TestProteus, ParseProteus, 0},
    {"RAR", TestRar, ParseRar, 0},
    {"ZIP", TestZip, ParseZip, 0},
    {"GZIP", TestGzip, ParseCompressedStream, 0},
    {"CAB", TestCab, nullptr, 0},
    {"TAR", TestTar, ParseTar, 0},
    {"BZIP2", TestBzip2, ParseBzip2, 0},
    {"Compound file", TestCompoundFile, nullptr, 0},
    {"PDF", TestPdf, ParsePdf, 0},
    {"RTF", TestRtf, ParseRtf, 0},
    {"WordPerfect", TestWordPerfect, nullptr, 0},
    {"CHM", TestChm, nullptr, 0},
    {"BMP", TestBmp, nullptr, 0},
    {"JPEG", TestJpeg, ParseJpeg, 0},
    {"GIF", TestGif, ParseGif, 0},
    {"CorelDRAW", TestCdr, nullptr, 0},
    {"Sigma X3F", TestX3f, ParseX3f, 0},
    {"PNG", TestPng, ParsePng, 8},
    {"Fuji RAF", TestRaf, nullptr, 0},
    {"TIFF and camera raw", TestTiff, ParseTiff, 0},
    {"Canon CR3", TestCr3, nullptr, 0},
    {"PST", TestPst, nullptr, 0},
    {"DBX", TestDbx, nullptr, 0},
    {"WAB", TestWab, ParseWab, 0},
    {"MBOX", TestMbox, nullptr, 0},
    {"MDB / ACCDB", TestMdb, ParseMdb, 0},
    {"Money", TestMoney, nullptr, 0},
    {"Photoshop", TestPsd, nullptr, 0},
}};

struct ContinuationRow {
    std::uint16_t Major;
    std::uint16_t Minor;
    Continuation What;
};

constexpr std::array<ContinuationRow, 25> kContinuations = {{
    {0, 0, {ParseRar, nullptr, EndMarker::None, false, false}},
    {0, 1, {ParseZip, ZipAtEnd, EndMarker::None, false, false}},
    {0, 2, {ParseCompressedStream, CompressedStreamAtEnd, EndMarker::None, false, true}},
    {0, 4, {ParseTar, TarAtEnd, EndMarker::None, false, false, true}},
    {0, 5, {ParseBzip2, Bzip2AtEnd, EndMarker::None, false, false}},
    {1, 3, {ParsePdf, nullptr, EndMarker::Pdf, false, false}},
    {1, 4, {ParseRtf, nullptr, EndMarker::None, false, false}},
    {2, 1, {ParseGif, nullptr, EndMarker::None, false, false}},
    {2, 2, {ParseJpeg, nullptr, EndMarker::None, false, false}},
    {2, 5, {ParsePng, nullptr, EndMarker::None, false, false}},
    {2, 6, {ParseTiff, nullptr, EndMarker::None, true, false}},
    {2, 17, {ParseX3f, nullptr, EndMarker::None, false, false}},
    {3, 3, {ParseWab, nullptr, EndMarker::None, false, false}},
    {4, 0, {ParseMdb, MdbAtEnd, EndMarker::None, false, false}},
    {5, 0, {ParseBlender, nullptr, EndMarker::None, false, false}},
    {5, 1, {ParseFbx, nullptr, EndMarker::None, false, false}},
    {5, 2, {ParseCatia, nullptr, EndMarker::Catia, false, false}},
    {5, 5, {ParseStep, nullptr, EndMarker::Step, false, false}},
    {5, 6, {ParseStl, StlAtEnd, EndMarker::StlText, false, false}},
    {5, 7, {Parse3ds, nullptr, EndMarker::None, false, false}},
    {5, 8, {ParseDxf, nullptr, EndMarker::Dxf, false, false}},
    {5, 9, {ParseDwg, nullptr, EndMarker::None, false, false}},
    {5, 10, {ParseProteus, ZipAtEnd, EndMarker::None, false, false}},
}};

constexpr std::array<bool, 256> firstByteSet() {
    std::array<bool, 256> set{};
    for (unsigned char c : {0x00, 0x1F, 0x21, 0x25, 0x30, 0x38, 0x41, 0x42, 0x46, 0x47, 0x49, 0x4A, 0x4B, 0x4D,
                            0x50, 0x52, 0x53, 0x56, 0x73, 0x7B, 0x89, 0x9C, 0xCF, 0xD0, 0xFF})
        set[c] = true;
    return set;
}
constexpr std::array<bool, 256> kFirstByteSet = firstByteSet();

constexpr char kStepEnd[] = "END-ISO-10303-21;\n";
constexpr char kStlEnd[] = "endsolid";
constexpr char kCatiaEnd[] = "CB__END";
constexpr char kDxfEnd[] = "\nEOF";
constexpr char kPdfEnd[] = "%%EOF";

std::span<const std::byte> bytesOf(const char* s, std::size_t n) {
    return {reinterpret_cast<const std::byte*>(s), n};
}

}  // namespace

std::span<const ChainRow> TestChain() {
    return kChain;
}

Continuation ContinuationOf(const TFoundFile& hit) {
    for (const auto& row : kContinuations) {
        if (row.Major == hit.MajorType && row.Minor == hit.MinorType) return row.What;
    }
    return {};
}

std::span<const std::byte> EndMarkerBytes(EndMarker kind) {
    switch (kind) {
        case EndMarker::Step: return bytesOf(kStepEnd, sizeof kStepEnd - 1);
        case EndMarker::StlText: return bytesOf(kStlEnd, sizeof kStlEnd - 1);
        case EndMarker::Catia: return bytesOf(kCatiaEnd, sizeof kCatiaEnd - 1);
        case EndMarker::Dxf: return bytesOf(kDxfEnd, sizeof kDxfEnd - 1);
        case EndMarker::Pdf: return bytesOf(kPdfEnd, sizeof kPdfEnd - 1);
        case EndMarker::None: break;
    }
    return {};
}

bool Admitted(Bytes sector) {
    if (sector.empty()) return false;
    if (kFirstByteSet[std::to_integer<unsigned char>(sector[0])]) return true;
    if (sector.size() >= 262 && std::memcmp(sector.data() + 257, "ustar", 5) == 0) return true;
    if (DxfHead(sector.first(std::min<std::size_t>(sector.size(), 16)))) return true;
    return LooksLikeV7Tar(sector);
}

}  // namespace brenvale::raw
