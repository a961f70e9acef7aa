#pragma once
// One file found by its content: where it starts, how long it is (once known) and the state its
// length parser carries from one batch to the next. Millions of these are kept, so the record is
// small and fixed-size; what a few formats need beyond it lives in side tables (`Info`).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brenvale::raw {

// `Size` of a hit whose length could not be worked out: recovery extracts the Default Size.
inline constexpr std::int64_t kUnknownSize = -1;
// `MinorType` of a hit not classified yet.
inline constexpr std::uint16_t kUnclassified = 0xFFFF;

// Results of a length parser.
inline constexpr int kParseEnd = 0;     // the end was found; `Size` is final
inline constexpr int kParseMore = 1;    // the file goes on past the data handed over
inline constexpr int kParseBroken = 2;  // the structure broke; `Size` is what was reached

struct TFoundFile {
    // First sector, in the scanned device's numbering.
    std::int64_t LBA = 0;
    // Length in bytes once known, kUnknownSize when it cannot be known; while the hit is
    // pending, the bytes accounted for so far (so LBA * sector size + Size is where its parser
    // continues).
    std::int64_t Size = 0;
    // Parser state carried between batches; the meaning of each word is the format's own.
    std::int32_t ParsePoint = 0;
    std::int32_t ExtraData1 = 0;
    std::int32_t ExtraData2 = 0;
    // 1-based index into the side table of the hit's kind (ZIP names, picture facts, stream
    // decoders), 0: none.
    std::uint32_t Info = 0;
    std::uint16_t MajorType = 0;
    std::uint16_t MinorType = 0;
    // A picture's size in pixels when its parser saw it (0: not known; larger sides are cut).
    std::uint16_t Width = 0;
    std::uint16_t Height = 0;
    // Extension given to the recovered file, without the dot; NUL-terminated.
    std::array<char, 8> ExtName{};

    std::string_view Ext() const { return {ExtName.data()}; }
    // Longer extensions are cut to 7 characters (the longest in the catalogue is "CATPart").
    void SetPixels(std::int64_t width, std::int64_t height) {
        auto side = [](std::int64_t v) { return static_cast<std::uint16_t>(v < 0 ? 0 : v > 65535 ? 65535 : v); };
        Width = side(width);
        Height = side(height);
    }
    void SetExt(std::string_view ext) {
        ExtName.fill('\0');
        const std::size_t n = ext.size() < ExtName.size() ? ext.size() : ExtName.size() - 1;
        for (std::size_t i = 0; i < n; ++i) ExtName[i] = ext[i];
    }
};
static_assert(sizeof(TFoundFile) == 48);

// A new hit of type (major, minor) at `lba` with the extension `ext`, every counter at zero.
inline TFoundFile MakeHit(std::uint16_t major, std::uint16_t minor, std::string_view ext, std::int64_t lba = 0) {
    TFoundFile f;
    f.MajorType = major;
    f.MinorType = minor;
    f.LBA = lba;
    f.SetExt(ext);
    return f;
}

}  // namespace brenvale::raw
