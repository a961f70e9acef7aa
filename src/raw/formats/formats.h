#pragma once
// The signature tests and length parsers of the formats, each family in its own file. A test
// looks at the start of a sector (`s` runs from there to the end of the batch) and fills in a
// new hit when the bytes are its format's start; a parser measures the file from the data it
// is handed and answers kParseEnd, kParseMore or kParseBroken. A parser resumed on a later
// batch is handed the data from `hit.Size` on: the next byte it has not accounted for.

#include <cstddef>
#include <span>
#include <string_view>

#include "raw/found_file.h"
#include "raw/scan_context.h"

namespace brenvale::raw::formats {

using Bytes = std::span<const std::byte>;

// A bit of `ExtraData1` by which a hit of an end-marker kind asks to be offered every batch
// like a structure walk, marker or not (a PDF deciding whether an update follows its end).
inline constexpr std::int32_t kWalkEveryBatch = 1 << 30;

// RAR 4 (rar.cpp).
bool TestRar(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseRar(ScanContext& ctx, Bytes data, TFoundFile& hit);

// ZIP and the formats stored as ZIP (zip.cpp).
bool TestZip(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseZip(ScanContext& ctx, Bytes data, TFoundFile& hit);
void ZipAtEnd(ScanContext& ctx, TFoundFile& hit);

// TAR (tar.cpp). LooksLikeV7Tar is the cheap look at a sector without the "ustar" mark that
// lets an old-style header into the test chain.
bool TestTar(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseTar(ScanContext& ctx, Bytes data, TFoundFile& hit);
void TarAtEnd(ScanContext& ctx, TFoundFile& hit);
bool LooksLikeV7Tar(Bytes sector);

// GZIP, measured by decompressing (compressed_stream.cpp), and BZIP2, by finding its end mark
// (bzip2.cpp).
bool TestGzip(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseCompressedStream(ScanContext& ctx, Bytes data, TFoundFile& hit);
void CompressedStreamAtEnd(ScanContext& ctx, TFoundFile& hit);
bool TestBzip2(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseBzip2(ScanContext& ctx, Bytes data, TFoundFile& hit);
void Bzip2AtEnd(ScanContext& ctx, TFoundFile& hit);

// Cabinet (cab.cpp).
bool TestCab(ScanContext& ctx, Bytes s, TFoundFile& hit);

// Documents (documents.cpp): PDF (an end-marker kind), RTF (braces counted across batches),
// WordPerfect and compiled HTML Help (lengths from their headers).
bool TestPdf(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParsePdf(ScanContext& ctx, Bytes data, TFoundFile& hit);
bool TestRtf(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseRtf(ScanContext& ctx, Bytes data, TFoundFile& hit);
bool TestWordPerfect(ScanContext& ctx, Bytes s, TFoundFile& hit);
bool TestChm(ScanContext& ctx, Bytes s, TFoundFile& hit);

// Compound files (compound_file.cpp): the test measures the file by its own allocation table,
// reading the sectors that lie beyond the batch, and names it by its streams (doc, xls, ppt,
// vsd, msg, adp, sldprt, ipt); a hit keeps the summary properties it found in the side table.
bool TestCompoundFile(ScanContext& ctx, Bytes s, TFoundFile& hit);
bool IsCompoundFileType(const TFoundFile& hit);

// JPEG, PNG and GIF walks (jpeg.cpp, png.cpp, gif.cpp). A PNG hit is handed its chunks, from
// byte 8 on.
bool TestJpeg(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseJpeg(ScanContext& ctx, Bytes data, TFoundFile& hit);
bool TestPng(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParsePng(ScanContext& ctx, Bytes data, TFoundFile& hit);
bool TestGif(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseGif(ScanContext& ctx, Bytes data, TFoundFile& hit);

// Pictures whose header is all there is to read (picture_heads.cpp).
bool TestBmp(ScanContext& ctx, Bytes s, TFoundFile& hit);
bool TestCdr(ScanContext& ctx, Bytes s, TFoundFile& hit);
bool TestRaf(ScanContext& ctx, Bytes s, TFoundFile& hit);
bool TestPsd(ScanContext& ctx, Bytes s, TFoundFile& hit);

// Sigma X3F (x3f.cpp) and Canon CR3 (iso_media.cpp). IsoMediaLength: the end of the last
// whole box of an ISO base-media file, 0 when the first box is not one.
bool TestX3f(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseX3f(ScanContext& ctx, Bytes data, TFoundFile& hit);
bool TestCr3(ScanContext& ctx, Bytes s, TFoundFile& hit);
std::int64_t IsoMediaLength(Bytes data);

// TIFF and the camera raw files built on it (tiff.cpp): a test that walks the directories over
// the data it is handed and files the hit by the maker. A Canon CRW makes a "crw" hit, which
// the scan does not keep.
bool TestTiff(ScanContext& ctx, Bytes s, TFoundFile& hit);
// A TIFF whose first directory lies past the batch that began it is walked when the scan
// reaches that directory; every other TIFF hit is measured by its test.
int ParseTiff(ScanContext& ctx, Bytes data, TFoundFile& hit);

// Outlook personal folders and Outlook Express folders (lengths from their headers), Windows
// address books (a size field at 2,216) and mbox files (mail.cpp). MailAddressValid: the
// check of an mbox file's sender address.
bool TestPst(ScanContext& ctx, Bytes s, TFoundFile& hit);
bool TestDbx(ScanContext& ctx, Bytes s, TFoundFile& hit);
bool TestWab(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseWab(ScanContext& ctx, Bytes data, TFoundFile& hit);
bool TestMbox(ScanContext& ctx, Bytes s, TFoundFile& hit);
bool MailAddressValid(std::string_view text);

// Access databases, walked page by page, and Money files (database.cpp).
bool TestMdb(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseMdb(ScanContext& ctx, Bytes data, TFoundFile& hit);
void MdbAtEnd(ScanContext& ctx, TFoundFile& hit);
bool TestMoney(ScanContext& ctx, Bytes s, TFoundFile& hit);

// Blender files, walked block by block (blender.cpp). BlendWalk steps over the blocks of
// `data` from the header at `from` with headers of `header` bytes: to the end of "ENDB", to a
// block that cannot be one, or to the first header the data does not hold whole.
struct BlendStep {
    enum Code { kEnd, kFailed, kMore } code;
    std::int64_t at;  // kEnd: the file's end; kMore: the next header; kFailed: the bad block
};
BlendStep BlendWalk(Bytes data, std::int64_t from, std::int64_t header, bool bigEndian);
bool TestBlender(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseBlender(ScanContext& ctx, Bytes data, TFoundFile& hit);

// FBX: binary files walked over their top-level nodes to the end of the footer; text files
// have no known length (fbx.cpp).
bool TestFbx(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseFbx(ScanContext& ctx, Bytes data, TFoundFile& hit);

// Files that end with a closing text (cad_text.cpp): CATIA V5 parts, STEP, STL (a binary STL
// whose header begins with "solid" is measured by its triangle count) and DXF. DxfHead: the
// start of a text DXF, also what lets a sector into the test chain. DxfLastEof: where the
// last line "EOF" of `data` begins, 0 when there is none.
bool TestCatia(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseCatia(ScanContext& ctx, Bytes data, TFoundFile& hit);
bool TestStep(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseStep(ScanContext& ctx, Bytes data, TFoundFile& hit);
bool TestStl(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseStl(ScanContext& ctx, Bytes data, TFoundFile& hit);
void StlAtEnd(ScanContext& ctx, TFoundFile& hit);
bool DxfHead(Bytes head);
bool TestDxf(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseDxf(ScanContext& ctx, Bytes data, TFoundFile& hit);
std::size_t DxfLastEof(Bytes data);

// 3D Studio (studio3d.cpp): the main chunk's length.
bool Test3ds(ScanContext& ctx, Bytes s, TFoundFile& hit);
int Parse3ds(ScanContext& ctx, Bytes data, TFoundFile& hit);

// AutoCAD drawings (dwg.cpp). DwgMeasure: where the drawing in `data` ends by the structures
// of its release, 0 when they do not show it within `data`; the copy of the 2010 header is
// sought from `copySearchFrom` on (a later call need not search again what an earlier one did).
bool DwgHeaderValid(Bytes data);
std::int64_t DwgMeasure(Bytes data, std::size_t copySearchFrom);
bool TestDwg(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseDwg(ScanContext& ctx, Bytes data, TFoundFile& hit);

// Proteus projects: ZIP archives that hold "PROJECT.XML" and "ROOT.DSN" (zip.cpp).
bool TestProteus(ScanContext& ctx, Bytes s, TFoundFile& hit);
int ParseProteus(ScanContext& ctx, Bytes data, TFoundFile& hit);

}  // namespace brenvale::raw::formats
