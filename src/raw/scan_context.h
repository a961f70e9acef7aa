#pragma once
// What a signature test or a length parser may use besides the bytes it is handed: the size
// tables, the side tables for the few formats that keep more than a hit's state words, the
// sector size and the device (for the formats whose test reads beyond the batch).

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "raw/file_types.h"
#include "raw/found_file.h"

namespace brenvale::raw {

// What a ZIP hit remembers of its members: the first names (each followed by a carriage
// return, cut at the buffer's end) and the facts its classification needs from all of them,
// so a ZIP of a million members costs no more than one of three.
struct TArchiveFileInfo {
    static constexpr std::size_t kNamesBytes = 55;
    // Which of a Proteus project's two members ("PROJECT.XML", "ROOT.DSN") were met.
    static constexpr std::uint8_t kProteusXml = 1;
    static constexpr std::uint8_t kProteusDsn = 2;
    static constexpr std::uint8_t kProteusBoth = 3;
    std::array<char, kNamesBytes> FileNames{};
    std::uint8_t NamesLength = 0;
    bool AnyName = false;
    bool MetaInf = false;              // some name contains "META-INF"
    bool FirstIsContentTypes = false;  // the first name begins with "[Content_Types].xml"
    bool WordDocument = false;         // "word/document.xml"
    bool ExcelWorkbook = false;        // "xl/workbook.xml"
    bool PowerPointPresentation = false;  // "ppt/presentation.xml"
    std::uint8_t ProteusProject = 0;

    std::string_view Names() const { return {FileNames.data(), NamesLength}; }
    void AddName(std::string_view name);
};
static_assert(sizeof(TArchiveFileInfo) <= 64);

// What a picture hit knows of itself: its size in pixels, where an embedded preview lies (from
// the file's start) and, for camera files, the shot's facts. Only the formats that find more
// than their length get one.
struct TRawImageInfo {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint16_t PreviewWidth = 0;
    std::uint16_t PreviewHeight = 0;
    std::int64_t PreviewOffset = 0;
    std::int64_t PreviewLength = 0;  // 0: no preview
    std::uint8_t PreviewKind = 0;    // 0 none, 1 JPEG stream, 2 uncompressed RGB strip
    std::uint16_t PreviewBits = 0;
    std::string Make;
    std::string Model;
    std::string DateTaken;
    std::int32_t ISO = 0;
    std::uint32_t ExposureTime[2] = {0, 0};
    std::uint32_t FNumber[2] = {0, 0};
    std::uint32_t FocalLength[2] = {0, 0};
};

inline constexpr std::uint8_t kPreviewNone = 0;
inline constexpr std::uint8_t kPreviewJpeg = 1;
inline constexpr std::uint8_t kPreviewRgb = 2;

// The summary properties of a compound file (Word, Excel, ...), as UTF-8. The field name is
// spelled as the stored scan files spell it.
struct TCBFFFileInfo {
    std::string Title;
    std::string Subject;
    std::string Author;
    std::string Orgnization;
};

// A decompressor run over a gzip stream to find where it ends (formats/compressed_stream).
class StreamMeasure;

// Side tables of one scan. A hit's `Info` is a 1-based index into the table of its kind.
class SideTables {
public:
    SideTables();
    ~SideTables();
    SideTables(const SideTables&) = delete;
    SideTables& operator=(const SideTables&) = delete;

    std::uint32_t NewArchiveInfo();
    TArchiveFileInfo* Archive(std::uint32_t info);
    const TArchiveFileInfo* Archive(std::uint32_t info) const;

    std::uint32_t NewImageInfo();
    TRawImageInfo* Image(std::uint32_t info);
    const TRawImageInfo* Image(std::uint32_t info) const;

    std::uint32_t NewCompoundInfo(TCBFFFileInfo info);
    const TCBFFFileInfo* Compound(std::uint32_t info) const;

    // Decoders held by pending gzip hits. A scan keeps at most kMaxStreams at once (each holds
    // some 100 KiB); NewStream answers 0 when all are taken.
    static constexpr std::size_t kMaxStreams = 16;
    std::uint32_t NewStream();
    StreamMeasure* Stream(std::uint32_t info);
    void FreeStream(std::uint32_t info);

    void Clear();

    // The stored tables of a saved scan (the decoders are not stored).
    std::size_t ArchiveCount() const { return archives_.size(); }
    std::size_t ImageCount() const { return images_.size(); }
    std::size_t CompoundCount() const { return compounds_.size(); }
    std::size_t StreamSlots() const { return streams_.size(); }

private:
    std::deque<TArchiveFileInfo> archives_;  // a deque: growing never copies what is there
    std::deque<TRawImageInfo> images_;
    std::deque<TCBFFFileInfo> compounds_;
    std::vector<std::unique_ptr<StreamMeasure>> streams_;
};

// Ends a structure walk whose cursor stops moving: every step reports its cursor, and the 64th
// step in a row at the same place refuses.
class RepeatGuard {
public:
    static constexpr int kLimit = 64;
    [[nodiscard]] bool Step(std::int64_t cursor) {
        if (!first_ && cursor == last_) return ++repeats_ < kLimit;
        first_ = false;
        last_ = cursor;
        repeats_ = 0;
        return true;
    }

private:
    bool first_ = true;
    std::int64_t last_ = 0;
    int repeats_ = 0;
};

// Reads whole sectors from `lba` on into `into` (its size a multiple of the sector size) and
// answers the bytes delivered: for the formats whose test looks beyond the batch.
using SectorReader = std::function<std::uint32_t(std::uint64_t lba, std::span<std::byte> into)>;

struct ScanContext {
    const SizeTables& Sizes;
    SideTables& Side;
    std::uint32_t BytesPerSector = 512;
    const SectorReader* ReadSectors = nullptr;  // null: the tests that need it find nothing
    std::int64_t SectorLba = 0;                 // the sector a test looks at
    // Where a walk whose heads may start hits of their own lists the offsets of the heads it
    // steps on (in the data it was handed); null when nobody asks.
    std::vector<std::int64_t>* Heads = nullptr;

    std::int64_t MaxSize(const TFoundFile& f) const { return SlotOf(Sizes.MaxSize, f); }
    std::int64_t DefaultSize(const TFoundFile& f) const { return SlotOf(Sizes.DefaultSize, f); }

private:
    static std::int64_t SlotOf(const std::array<std::int32_t, kSizeSlots>& table, const TFoundFile& f) {
        return ValidTypePair(f.MajorType, f.MinorType) ? table[SizeIndex(f.MajorType, f.MinorType)] : 0;
    }
};

}  // namespace brenvale::raw
