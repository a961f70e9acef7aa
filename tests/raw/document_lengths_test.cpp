// The document signatures and their lengths: PDF to its last revision's "%%EOF", RTF to its
// last brace, WordPerfect and CHM from their headers.

#include <gtest/gtest.h>

#include "archive_bytes.h"
#include "scan_disk.h"

namespace brenvale::raw {
namespace {

using namespace testing;

// A PDF revision: some objects, a cross-reference table, a trailer, "startxref" with the
// table's offset (or `xref`) and "%%EOF" on a line of its own.
std::string revision(const std::string& objects, const std::string& xref = "") {
    std::string r = objects;
    const std::size_t table = r.size();
    r += "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 >>\nstartxref\n";
    r += xref.empty() ? std::to_string(table + 100) : xref;
    r += "\n%%EOF\n";
    return r;
}

std::string filler(std::size_t n, char seed) {
    std::string s;
    while (s.size() < n) s += std::string("1 0 obj << /Length 44 >> stream ") + seed + "BT /F1 12 Tf (text) Tj ET endstream endobj\n";
    return s.substr(0, n);
}

ByteVec asBytes(const std::string& s) {
    return bytes(s);
}

struct DocumentCase {
    const char* name;
    ByteVec file;
    int minor;
    const char* ext;
    std::int64_t size;  // -2: the file's own length
};

std::vector<DocumentCase> documentCases() {
    const std::string first = "%PDF-1.4\n" + revision(filler(60000, 'a'));
    const std::string update = revision(filler(3000, 'b') + "5 0 obj << /Type /Page >> endobj\n");
    ByteVec wpd = bytes(std::string_view("\xFFWPC", 4));
    wpd.resize(20, std::byte{0});
    wpd[10] = std::byte{2};  // version 6 and later keep the size
    put32(wpd, 4000);
    wpd.resize(4000, std::byte{0x20});
    ByteVec wp5 = wpd;
    wp5[10] = std::byte{0};  // version 5: those bytes are no size
    return {
        {"PDF", asBytes(first), 3, "pdf", -2},
        {"PDF with an incremental update", asBytes(first + update), 3, "pdf", -2},
        {"linearized PDF (first trailer points nowhere)", asBytes("%PDF-1.5\n" + revision(filler(2000, 'c'), "0") + revision(filler(40000, 'd'))), 3, "pdf", -2},
        {"PDF ending without a line end", [&] { ByteVec v = asBytes(first); v.pop_back(); return v; }(), 3, "pdf", -2},
        {"RTF", asBytes("{\\rtf1\\ansi {\\fonttbl {\\f0 Times;}} " + std::string(30000, 'x') + "\\par}\r\n"), 4, "rtf", -2},
        {"RTF with escaped braces", asBytes("{\\rtf1 a \\{ b \\} c \\\\}"), 4, "rtf", -2},
        {"the eleven bytes {\\rtf1 {a}}", asBytes("{\\rtf1 {a}}"), 4, "rtf", 11},
        {"RTF without a version", asBytes("{\\rtf\\ansi {\\b bold}\\par}\n"), 4, "rtf", -2},
        {"WordPerfect", wpd, 5, "wpd", 4000},
        {"WordPerfect 5", wp5, 5, "wpd", kUnknownSize},
    };
}

TEST(DocumentLengths, ExactWhereverTheFileLies) {
    for (const DocumentCase& c : documentCases()) {
        SCOPED_TRACE(c.name);
        const std::int64_t expected = c.size == -2 ? static_cast<std::int64_t>(c.file.size()) : c.size;
        ExpectFoundWherever(c.file, {0, expected, 1, c.minor, c.ext}, {1, 3, 2048});
    }
}

// What follows the end decides nothing when it is not an update: zeros, another file, noise.
TEST(DocumentLengths, PdfEndsBeforeWhatFollows) {
    const std::string pdf = "%PDF-1.4\n" + revision(filler(5000, 'e'));
    for (const std::string& after : {std::string(2000, '\0'), std::string("PK\x03\x04", 4), std::string("\xEE\x01\x02", 3)}) {
        ByteVec disk = noiseDisk(256);
        ByteVec file = asBytes(pdf + after);
        place(disk, 10, file);
        for (std::size_t batch : {std::size_t{1}, std::size_t{64}}) {
            const auto hit = hitAt(scanDisk(disk, batch), 10);
            ASSERT_TRUE(hit);
            EXPECT_EQ(hit->size, static_cast<std::int64_t>(pdf.size()));
        }
    }
}

TEST(DocumentLengths, NoEndWithinTheMaximumIsUnknownAndListed) {
    SizeTables sizes;
    sizes.MaxSize[SizeIndex(1, 3)] = 64 * 1024;
    sizes.MaxSize[SizeIndex(1, 4)] = 64 * 1024;
    ByteVec disk = noiseDisk(1024);
    place(disk, 10, asBytes("%PDF-1.4\n" + filler(200000, 'f')));
    place(disk, 500, asBytes("{\\rtf1 {" + std::string(200000, 'y')));
    const auto hits = scanDisk(disk, 16, sizes);
    ASSERT_TRUE(hitAt(hits, 10));
    EXPECT_EQ(hitAt(hits, 10)->size, kUnknownSize);
    ASSERT_TRUE(hitAt(hits, 500));
    EXPECT_EQ(hitAt(hits, 500)->size, kUnknownSize);
}

TEST(DocumentLengths, HeadersThatAreNotDocuments) {
    ByteVec wpd = bytes(std::string_view("\xFFWPC", 4));
    wpd.resize(20, std::byte{0});
    wpd[10] = std::byte{2};
    put32(wpd, 512);  // no WordPerfect file is this small
    ByteVec disk = noiseDisk(64);
    place(disk, 5, wpd);
    place(disk, 20, asBytes("{\\rtfx is no control word of a document {a}}"));
    const auto hits = scanDisk(disk, 8);
    EXPECT_FALSE(hitAt(hits, 5).has_value());
    EXPECT_FALSE(hitAt(hits, 20).has_value());
}

}  // namespace
}  // namespace brenvale::raw
