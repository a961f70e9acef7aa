#pragma once
// Turning a found file into a file in a destination folder, and reading its first bytes for
// previews.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "raw/file_types.h"
#include "raw/found_file.h"
#include "raw/scan_context.h"

namespace brenvale::scan {
class TUndelete;
}

namespace brenvale::raw {

class RawScan;

// The name a hit is listed and recovered under: the upper-case extension, its number among the
// hits of its type (from 1) and the extension, as "JPG_12.jpg".
std::string RawFileName(const TFoundFile& hit, int number);

// How many bytes recovering a hit writes: its size when known and within its type's maximum,
// else its type's default size; never past the end of the device.
std::int64_t RawRecoverySize(const TFoundFile& hit, const SizeTables& sizes, std::uint64_t deviceBytes,
                             std::uint32_t bytesPerSector);

// Writes the hit's bytes to a new file named ErasedFileName (made unique) in DestPath, reading
// the device of `scan` in pieces of 1,000 sectors. Reports 10 and then the outcome through the
// scan's FOnRecover: 0, or 1 (the file could not be created), 2 (stopped), 3 (a write failed) or
// 5 (the device gave fewer bytes than asked: the file ends where the good data ends). The
// caller has checked the destination.
bool RawRecoverFile(scan::TUndelete& scan, const SizeTables& sizes, const TFoundFile& aFile,
                    const std::string& ErasedFileName, const std::string& DestPath);

// The first min(RecoverSize, known size) bytes of a hit (at most 65,536 sectors), as far as the
// device delivers them. Empty for a RecoverSize below 1.
void RecoverRawHead(scan::TUndelete& scan, const TFoundFile& aFile, std::int64_t RecoverSize,
                    std::vector<std::byte>& Output);

// A picture hit of unknown length measured again over its first megabytes read from the
// device (5,120,000 bytes for JPEG, GIF and PNG, 20,480,000 for the others), and written to
// DestFileName when that finds its length. False when it does not, when the device does not
// deliver the file, or while the scan object is busy.
bool RecoverGraphicFile(scan::TUndelete& scan, const SizeTables& sizes, const TFoundFile& aFile,
                        const std::string& DestFileName);

// A CAD hit of unknown length (Blender, STEP, STL, DXF, DWG) measured on the device: read from
// its first sector in pieces of 4 MiB, up to 512 MiB, until its end shows, and written to
// DestFileName exactly to that end. False for the other CAD types, when no end shows, or when
// the device stops delivering first.
bool CadRecoverFile(scan::TUndelete& scan, const TFoundFile& aFile, const std::string& DestFileName);

// The embedded preview of a camera file, or a JPEG itself, as bytes a decoder can open. False
// when the hit has none, it is longer than 65,536 sectors or the device does not deliver it.
bool RecoverThumbnail(scan::TUndelete& scan, const RawScan& raw, const TFoundFile& aFile, std::vector<std::byte>& Output);

// What the first bytes of a file say about its preview (TIFF family, RAF, X3F, CR3, tried in
// that order); nullopt when the first that takes the bytes finds none.
std::optional<TRawImageInfo> AnalyseRawHead(std::span<const std::byte> head);

}  // namespace brenvale::raw
