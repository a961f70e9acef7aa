#pragma once
// The signature tests and length parsers of the formats, each family in its own file. A test
// looks at the start of a sector (`s` runs from there to the end of the batch) and fills in a
// new hit when the bytes are its format's start; a parser measures the file from the data it
// is handed and answers kParseEnd, kParseMore or kParseBroken. A parser resumed on a later
// batch is handed the data from `hit.Size` on: the next byte it has not accounted for.

#include <cstddef>
#include <span>

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

}  // namespace brenvale::raw::formats
