#pragma once
// What the "Raw Recovery" window shows of a hit: the bytes of a thumbnail or a picture for a
// decoder of the window's toolkit, or the first bytes as a hex view. Reads go through the scan
// object's device; nothing here decodes a picture.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "raw/found_file.h"
#include "raw/signature_scan.h"

namespace brenvale::scan {
class TUndelete;
}

namespace brenvale::app {

inline constexpr int kThumbSide = 95;
// The most of a picture read for a thumbnail or a preview.
inline constexpr std::int64_t kPictureReadLimit = 16777216;
inline constexpr std::int64_t kHexPreviewBytes = 65536;
// A camera file's head is read from 1 MiB, doubling up to 8 MiB, until its preview shows.
inline constexpr std::int64_t kRawHeadFirst = 1048576;
inline constexpr std::int64_t kRawHeadLast = 8388608;
// A preview ending beyond this byte of the file is not used.
inline constexpr std::int64_t kRawPreviewEndLimit = 25165824;

inline constexpr char kPreviewCaptionFormat[] = "Preview: {} ({}x{})";
inline constexpr char kHexPreviewCaption[] = "Hex preview: ";
inline constexpr char kCannotReadContent[] = "Cannot read the file content";
inline constexpr char kPreviewFailed[] = "Preview failed";
inline constexpr char kPreviewNothingSelected[] = "Preview: select a file in the list on the left";

// Extensions the general picture loader opens, and camera files with an embedded preview.
bool IsPictureExt(std::string_view ext);
bool IsCameraRawExt(std::string_view ext);

enum class PictureKind {
    None,     // no picture to show
    Encoded,  // a file a picture decoder opens (JPEG, PNG, BMP, ...)
    RgbStrip, // uncompressed 8-bit RGB rows, Width x Height
};

struct PictureBytes {
    PictureKind Kind = PictureKind::None;
    std::vector<std::byte> Bytes;
    bool QuarterScale = false;  // JPEG: decode at a quarter of its size
    int Width = 0;              // RgbStrip only
    int Height = 0;
    int Bits = 0;
};

// The bytes a thumbnail is made from: a picture's first bytes, a camera file's preview; None
// for the other hits and when nothing can be read.
PictureBytes ThumbnailBytes(scan::TUndelete& scan, const raw::RawScan& raw, const raw::TFoundFile& hit);
// The same for the preview panel; a camera file without a preview noted by the scan has its
// head read again until one shows.
PictureBytes PreviewPictureBytes(scan::TUndelete& scan, const raw::RawScan& raw, const raw::TFoundFile& hit);
// The first bytes of the hit for the hex view: min(Size, 65,536), 65,536 when the size is
// unknown or larger.
std::vector<std::byte> HexPreviewBytes(scan::TUndelete& scan, const raw::TFoundFile& hit);
// The hex view's caption: "Hex preview: jpg", or kCannotReadContent when nothing was read.
std::string HexPreviewCaption(const raw::TFoundFile& hit, bool anythingRead);
// Lines of 16 bytes: offset, hex bytes and their printable characters.
std::string HexDumpText(std::span<const std::byte> bytes);
// Where a side of a thumbnail lies on the 95 x 95 square: scaled by min(95/w, 95/h), each
// side at least 1 pixel.
struct ThumbPlacement {
    int X = 0, Y = 0, Width = 0, Height = 0;
};
ThumbPlacement PlaceThumbnail(int width, int height, int side = kThumbSide);

}  // namespace brenvale::app
