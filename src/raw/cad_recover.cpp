// CAD files found without a length get a deeper measure at recovery: the file is read from the
// device in pieces of 4 MiB, up to 512 MiB, and after each piece its end is sought in what has
// been read, each search going on where the last one stopped.

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "raw/device_reads.h"
#include "raw/formats/formats.h"
#include "raw/formats/text.h"
#include "raw/raw_recover.h"
#include "scan/dest_file.h"
#include "scan/undelete.h"
#include "storage/device.h"
#include "storage/device_events.h"

namespace brenvale::raw {

namespace {

constexpr std::int64_t kPieceBytes = 4194304;
constexpr std::int64_t kMostRead = 536870912;
constexpr std::int64_t kBlendFirstBlock = 12;
constexpr std::int64_t kBlendLongHeader = 24;
constexpr std::int64_t kBlendShortHeader = 20;
constexpr std::string_view kStepStart = "ISO-10303-21;";
constexpr std::string_view kStepEnd = "END-ISO-10303-21;\n";
constexpr std::string_view kStlStart = "solid";
constexpr std::string_view kStlEnd = "endsolid";
constexpr std::size_t kDwgHeader = 256;
constexpr std::size_t kDwgCopy = 92;
constexpr std::size_t kDxfFirstEof = 4;
// A binary DXF: its sentinel, and its last group (code 0 as two zero bytes after the previous
// value's NUL, then "EOF" and its NUL).
constexpr std::string_view kDxfBinaryStart = "AutoCAD Binary DXF";
constexpr std::size_t kDxfBinaryHeader = 22;
constexpr std::string_view kDxfBinaryEnd{"\0\0EOF\0", 6};

enum class Kind { Blender, Dwg, Step, Stl, Dxf };

// Where one CAD file ends, sought again after every piece read.
class EndSearch {
public:
    explicit EndSearch(Kind kind) : kind_(kind) {
        if (kind == Kind::Step) from_ = kStepStart.size();
        if (kind == Kind::Stl) from_ = kStlStart.size();
    }

    // The end within `d` (everything read so far), or 0. `last`: no more will be read.
    std::int64_t Measure(formats::Bytes d, bool last) {
        switch (kind_) {
            case Kind::Blender: return blender(d);
            case Kind::Dwg: return dwg(d);
            case Kind::Step: return step(d);
            case Kind::Stl: return stl(d, last);
            case Kind::Dxf: return dxf(d);
        }
        return 0;
    }

private:
    // The 24-byte walk first; the 20-byte one counts while the first has found no end.
    std::int64_t blender(formats::Bytes d) {
        const bool big = d.size() > 8 && static_cast<char>(d[8]) == 'V';
        for (Walk* w : {&long_, &short_}) {
            if (w->failed) continue;
            const formats::BlendStep s = formats::BlendWalk(d, w->at, w->header, big);
            if (s.code == formats::BlendStep::kEnd) return s.at;
            w->failed = s.code == formats::BlendStep::kFailed;
            w->at = s.at;
        }
        return 0;
    }

    std::int64_t dwg(formats::Bytes d) {
        if (d.size() < kDwgHeader) return 0;
        const std::int64_t end = formats::DwgMeasure(d, from_);
        // The next search for the header's copy starts where this one could not have found it.
        from_ = d.size() > kDwgCopy ? d.size() - kDwgCopy + 1 : 0;
        return end;
    }

    // The first marker at or after the search start; a marker cut by the end of the reading
    // is found by the next search, which starts one byte short of a whole marker before it.
    std::int64_t firstFrom(formats::Bytes d, std::string_view marker) {
        const std::string_view text = formats::AsText(d);
        const std::size_t p = text.find(marker, from_);
        if (p != std::string_view::npos) return static_cast<std::int64_t>(p);
        from_ = std::max(from_, text.size() >= marker.size() - 1 ? text.size() - (marker.size() - 1) : 0);
        return -1;
    }

    std::int64_t step(formats::Bytes d) {
        const std::int64_t p = firstFrom(d, kStepEnd);
        return p < 0 ? 0 : p + static_cast<std::int64_t>(kStepEnd.size());
    }

    std::int64_t stl(formats::Bytes d, bool last) {
        const std::string_view text = formats::AsText(d);
        if (lineFrom_ == std::string_view::npos) {
            const std::int64_t p = firstFrom(d, kStlEnd);
            if (p < 0) return 0;
            lineFrom_ = static_cast<std::size_t>(p) + kStlEnd.size();
        }
        const std::size_t lf = text.find('\n', lineFrom_);
        if (lf != std::string_view::npos) return static_cast<std::int64_t>(lf + 1);
        // The line of "endsolid" runs on past what has been read: the next piece ends it, or
        // the file ends with the reading.
        lineFrom_ = text.size();
        return last ? static_cast<std::int64_t>(text.size()) : 0;
    }

    std::int64_t dxf(formats::Bytes d) {
        if (formats::AsText(d).starts_with(kDxfBinaryStart)) {
            // No line "EOF" in it: the text rule would end it at the next text DXF's end.
            from_ = std::max(from_, kDxfBinaryHeader);
            const std::int64_t p = firstFrom(d, kDxfBinaryEnd);
            return p < 0 ? 0 : p + static_cast<std::int64_t>(kDxfBinaryEnd.size());
        }
        // The first line "EOF" whose group code line before it is 0: the drawing's own end.
        // The last one in what was read would be the end of some later drawing within the same
        // 4 MiB, and a text whose value is "EOF" has another group code.
        const std::string_view text = formats::AsText(d);
        for (std::size_t p = text.find("\nEOF", from_); p != std::string_view::npos; p = text.find("\nEOF", p + 1)) {
            if (p + 1 < kDxfFirstEof) continue;
            const std::size_t lineStart = text.rfind('\n', p - 1);
            const std::size_t codeAt = lineStart == std::string_view::npos ? 0 : lineStart + 1;
            if (formats::Trimmed(text.substr(codeAt, p - codeAt), " \t\r") == "0") return static_cast<std::int64_t>(p + 4);
        }
        // "\nEO" at the end may be a marker cut by the end of the reading.
        from_ = std::max(from_, text.size() >= 3 ? text.size() - 3 : 0);
        return 0;
    }

    struct Walk {
        std::int64_t header;
        std::int64_t at = kBlendFirstBlock;
        bool failed = false;
    };

    Kind kind_;
    std::size_t from_ = 0;
    std::size_t lineFrom_ = std::string_view::npos;
    Walk long_{kBlendLongHeader};
    Walk short_{kBlendShortHeader};
};

std::optional<Kind> kindOf(const TFoundFile& hit) {
    if (hit.MajorType != 5) return std::nullopt;
    switch (hit.MinorType) {
        case 0: return Kind::Blender;
        case 5: return Kind::Step;
        case 6: return Kind::Stl;
        case 8: return Kind::Dxf;
        case 9: return Kind::Dwg;
        default: return std::nullopt;
    }
}

}  // namespace

bool CadRecoverFile(scan::TUndelete& scan, const TFoundFile& aFile, const std::string& DestFileName) {
    const auto kind = kindOf(aFile);
    if (!kind || aFile.LBA < 0) return false;
    storage::TDevice& device = scan.Device();
    const std::uint32_t bps = DeviceSectorSize(scan);
    const std::uint64_t pieceSectors = static_cast<std::uint64_t>(kPieceBytes) / bps;
    EndSearch search(*kind);
    std::vector<std::byte> reading;
    auto lba = static_cast<std::uint64_t>(aFile.LBA);
    std::int64_t end = 0;
    while (static_cast<std::int64_t>(reading.size()) < kMostRead) {
        if (storage::DeviceAborted || scan.FTerminated) return false;
        const auto piece = ReadSectorsUpTo(device, lba, pieceSectors, bps, storage::kMaxBatchSectors);
        if (piece.empty()) break;
        reading.insert(reading.end(), piece.begin(), piece.end());
        lba += pieceSectors;
        const bool last = piece.size() < pieceSectors * bps || static_cast<std::int64_t>(reading.size()) >= kMostRead;
        end = search.Measure(reading, last);
        if (end > 0 || last) break;
    }
    if (end <= 0 || end > static_cast<std::int64_t>(reading.size())) return false;
    // What was written of a file that could not be finished is removed again (DestFile): the
    // caller then writes it at its default size under the same name.
    scan::DestFile out(DestFileName);
    if (!out.IsOpen()) return false;
    if (!out.Write(std::span<const std::byte>(reading).first(static_cast<std::size_t>(end)))) return false;
    return out.Commit();
}

}  // namespace brenvale::raw
