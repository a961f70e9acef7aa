// The picture signatures and their lengths, wherever a file lies relative to the batches.

#include <gtest/gtest.h>

#include "picture_bytes.h"
#include "scan_disk.h"

namespace brenvale::raw {
namespace {

using namespace testing;

ByteVec riff(std::string_view form, std::uint32_t bodyBytes) {
    ByteVec v = bytes("RIFF");
    put32(v, bodyBytes);
    put(v, form);
    v.resize(bodyBytes + 8, std::byte{0x33});
    return v;
}

ByteVec raf(std::uint32_t jpegOffset, std::uint32_t jpegLength, std::uint32_t cfaOffset, std::uint32_t cfaLength) {
    ByteVec v = bytes("FUJIFILMCCD-RAW 0201FF383501");
    v.resize(84, std::byte{0});
    putBe32(v, jpegOffset);
    putBe32(v, jpegLength);
    v.resize(100, std::byte{0});
    putBe32(v, cfaOffset);
    putBe32(v, cfaLength);
    v.resize(cfaOffset + cfaLength, std::byte{0x21});
    return v;
}

// An X3F: header, image data with a JPEG preview in it, then the section directory.
ByteVec x3f(std::uint32_t entries, const ByteVec& preview) {
    ByteVec v = bytes("FOVb");
    v.resize(28, std::byte{0});
    put32(v, 4000);
    put32(v, 3000);
    v.resize(256, std::byte{0});
    append(v, preview);
    append(v, noise(3000, 5));
    const auto dir = static_cast<std::uint32_t>(v.size());
    put(v, "SECd");
    put32(v, 0x00020000);
    put32(v, entries);
    for (std::uint32_t i = 0; i < entries; ++i) {
        put32(v, 256);
        put32(v, 100);
        put(v, "IMAG");
    }
    put32(v, dir);
    return v;
}

struct PictureCase {
    const char* name;
    ByteVec file;
    int minor;
    const char* ext;
    std::int64_t size;  // -2: the file's own length
};

std::vector<PictureCase> pictureCases() {
    ByteVec badChunk = pngOf(3000, 4);
    const std::size_t tEXt = 8 + 25;  // signature, IHDR
    badChunk[tEXt + 4 + 1] = std::byte{'3'};
    return {
        {"baseline JPEG", jpegOf(200000, 1), 2, "jpg", -2},
        {"progressive JPEG of three scans", jpegOf(150000, 2, true), 2, "jpg", -2},
        {"JPEG with restart markers", jpegOf(50000, 3, false, 100), 2, "jpg", -2},
        {"PNG", pngOf(70000, 5), 5, "png", -2},
        {"PNG of many IDAT chunks", pngOf(90000, 6, 40), 5, "png", -2},
        {"PNG with a digit in a chunk type", badChunk, 5, "png", static_cast<std::int64_t>(tEXt)},
        {"GIF89a, looping, three frames", gifOf(3, 40000, 7), 1, "gif", -2},
        {"GIF89a, one frame", gifOf(1, 100, 8), 1, "gif", -2},
        {"BMP", bmpOf(300, 200, 180054), 0, "bmp", -2},
        {"BMP whose size field is 0: unknown, not empty", bmpOf(300, 200, 0), 0, "bmp", kUnknownSize},
        {"CorelDRAW", riff("CDR9", 30000), 3, "cdr", -2},
        {"Fuji RAF", raf(148, 2000, 4096, 60000), 19, "raf", -2},
        {"Sigma X3F", x3f(3, jpegOf(2000, 9)), 17, "x3f", -2},
        {"Photoshop", [] { ByteVec v = bytes("8BPS"); v.resize(5000, std::byte{1}); return v; }(), 20, "psd", kUnknownSize},
    };
}

TEST(PictureLengths, ExactWhereverTheFileLies) {
    for (const PictureCase& c : pictureCases()) {
        SCOPED_TRACE(c.name);
        const std::int64_t expected = c.size == -2 ? static_cast<std::int64_t>(c.file.size()) : c.size;
        ExpectFoundWherever(c.file, {0, expected, 2, c.minor, c.ext}, {1, 3, 2048});
    }
}

// TIFF-structured files are measured to their farthest reference and filed by their maker.
TEST(PictureLengths, TiffFamilyByMaker) {
    const ByteVec preview = jpegOf(3000, 31);
    struct Case {
        const char* make;
        bool dng, cr;
        int minor;
        const char* ext;
    };
    const Case cases[] = {
        {"NIKON CORPORATION", false, false, 11, "nef"},
        {"Canon", false, true, 7, "cr2"},
        {"Canon", false, false, 7, "tif"},
        {"OLYMPUS IMAGING CORP.", false, false, 12, "orf"},
        {"PENTAX", true, false, 14, "dng"},
        {"PENTAX", false, false, 14, "pef"},
        {"SONY", false, false, 16, "arw"},
        {"Adobe converter", true, false, 4, "dng"},
        {"Some Scanner", false, false, 6, "tif"},
    };
    for (const auto& c : cases) {
        for (bool last : {false, true}) {
            SCOPED_TRACE(std::string(c.make) + (last ? ", directories last" : ""));
            const ByteVec tiff = tiffOf(c.make, 40000, preview, c.dng, c.cr, last);
            ByteVec disk = noiseDisk(512);
            place(disk, 33, tiff);
            // Small batches put the directories of the second layout batches after its start.
            for (std::size_t batch : {std::size_t{4}, std::size_t{2048}}) {
                const auto hit = hitAt(scanDisk(disk, batch), 33);
                ASSERT_TRUE(hit);
                EXPECT_EQ(*hit, (Found{33, static_cast<std::int64_t>(tiff.size()), 2, c.minor, c.ext})) << batch;
            }
        }
    }
}

// The full-size picture of a camera file often sits in a sub-IFD; its strips count too, and a
// directory that points back at itself is walked once.
TEST(PictureLengths, SubDirectoriesCountAndLoopsEnd) {
    auto entry = [](ByteVec& v, unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) {
        put16(v, tag);
        put16(v, type);
        put32(v, count);
        put32(v, value);
    };
    for (bool loop : {false, true}) {
        SCOPED_TRACE(loop ? "sub-IFD points back at IFD0" : "plain");
        ByteVec v = bytes(std::string_view("II*\0", 4));
        put32(v, 8);
        // IFD0 at 8: a width, a small strip, the sub-IFD list.
        put16(v, 4);
        entry(v, 256, 4, 1, 160);
        entry(v, 273, 4, 1, 100);
        entry(v, 279, 4, 1, 200);
        entry(v, 330, 4, 1, 300);
        put32(v, 0);
        v.resize(300, std::byte{0x5A});
        // The sub-IFD at 300: the full picture's strip, far beyond IFD0's.
        put16(v, loop ? 3 : 2);
        entry(v, 273, 4, 1, 1000);
        entry(v, 279, 4, 1, 30000);
        if (loop) entry(v, 330, 4, 1, 8);
        put32(v, 0);
        v.resize(31000, std::byte{0x5A});
        ByteVec disk = noiseDisk(256);
        place(disk, 20, v);
        const auto hit = hitAt(scanDisk(disk, 2048), 20);
        ASSERT_TRUE(hit);
        EXPECT_EQ(hit->size, 31000);
    }
}

TEST(PictureLengths, HeadsThatAreNotPictures) {
    const ByteVec cases[] = {
        bmpOf(11000, 200, 1000),                        // wider than any BMP taken
        bmpOf(300, 200, 20 * 1048576),                  // larger than any BMP taken
        [] { ByteVec v = bytes("RIFF"); put32(v, 60 * 1048576); put(v, "CDR9"); return v; }(),  // larger than any drawing taken
        riff("WAVE", 3000),                             // a RIFF that is no drawing
        raf(148, 2000, 0x10000000, 0x10000000),         // larger than any RAF taken
    };
    for (const auto& head : cases) {
        ByteVec disk = noiseDisk(64);
        place(disk, 5, ByteVec(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(head.size(), 20 * kSector))));
        EXPECT_FALSE(hitAt(scanDisk(disk, 8), 5).has_value());
    }
}

// A JPEG whose coded data stops being JPEG is cut where it stops, never measured on through
// another file's bytes to some later end marker.
TEST(PictureLengths, BrokenJpegEndsAtTheBreak) {
    const ByteVec first = jpegOf(60000, 11);
    const ByteVec second = jpegOf(20000, 12);
    const std::size_t keptSectors = 40;  // inside the first picture's coded data
    ByteVec garbage;
    for (int i = 0; i < 256; ++i) append(garbage, ByteVec{std::byte{0xFF}, std::byte{0x17}});

    struct Case {
        const char* name;
        ByteVec after;  // what follows the first picture's kept sectors
        std::int64_t secondAt;  // sectors after the kept ones where `second` starts, -1: nowhere
    };
    const Case cases[] = {
        {"another JPEG follows", second, 0},
        {"a PNG follows", pngOf(9000, 14), -1},
        {"bytes no coder writes follow", garbage, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ByteVec disk = noiseDisk(1024);
        place(disk, 10, ByteVec(first.begin(), first.begin() + keptSectors * kSector));
        place(disk, 10 + keptSectors, c.after);
        place(disk, 10 + keptSectors + (c.after.size() + kSector - 1) / kSector, jpegOf(500, 13));  // a later end marker
        for (std::size_t batch : {std::size_t{1}, std::size_t{16}}) {
            const auto hits = scanDisk(disk, batch);
            const auto hit = hitAt(hits, 10);
            ASSERT_TRUE(hit);
            EXPECT_EQ(hit->size, static_cast<std::int64_t>(keptSectors * kSector));
            if (c.secondAt >= 0) {
                EXPECT_EQ(hitAt(hits, static_cast<std::int64_t>(10 + keptSectors))->size, static_cast<std::int64_t>(second.size()));
            }
        }
    }
}

// Restart markers count D0 to D7 in turn: coded data of another picture that follows a
// fragment shows itself by its markers, even with no invalid byte pair in it.
TEST(PictureLengths, RestartMarkersOutOfTurnEndTheJpeg) {
    const ByteVec first = jpegOf(60000, 15, false, 100);
    const ByteVec other = jpegOf(60000, 16, false, 100);
    const std::size_t keptSectors = 30;
    // The other picture's coded data from a sector where its next restart marker is not the
    // one the first picture's data expects after its last.
    auto lastRestart = [](const ByteVec& v, std::size_t end) {
        int last = -1;
        for (std::size_t i = 0; i + 1 < end; ++i) {
            if (v[i] == std::byte{0xFF} && std::to_integer<int>(v[i + 1]) >= 0xD0 && std::to_integer<int>(v[i + 1]) <= 0xD7) last = std::to_integer<int>(v[i + 1]) - 0xD0;
        }
        return last;
    };
    const int expected = (lastRestart(first, keptSectors * kSector) + 1) % 8;
    std::size_t from = 20 * kSector;
    for (;; from += kSector) {
        std::size_t i = from;
        while (!(other[i] == std::byte{0xFF} && std::to_integer<int>(other[i + 1]) >= 0xD0 && std::to_integer<int>(other[i + 1]) <= 0xD7)) ++i;
        if (std::to_integer<int>(other[i + 1]) - 0xD0 != expected && i - from < kSector) break;
    }
    ByteVec disk = noiseDisk(512);
    place(disk, 10, ByteVec(first.begin(), first.begin() + keptSectors * kSector));
    place(disk, 10 + keptSectors, ByteVec(other.begin() + static_cast<std::ptrdiff_t>(from), other.end()));
    const auto hit = hitAt(scanDisk(disk, 8), 10);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->size, static_cast<std::int64_t>(keptSectors * kSector));
}

}  // namespace
}  // namespace brenvale::raw
