// Arbitrary bytes as a stretch of disk for the signature scan, and as the data a length parser
// is handed in any state a pending hit may carry. The scan must give the same hits whatever the
// batch size (TIFF-structured files and the CAD kinds that measure within their batch aside,
// see below), every known length must stay within its type's maximum and inside sane bounds,
// and no parser may read outside what it is handed (ASan) or overflow (UBSan).
//
// The first byte chooses: even, the scan in batches of 1 + (byte / 2 % 8) sectors against
// batches of 64; odd, one parser (byte / 2 % 16) over the rest after 24 bytes of hit state:
// 0 to 6 archives, documents and pictures, 7 the tests that walk structures at once (pictures,
// compound files), 8 to 14 the mail, database and CAD parsers, 15 their signature tests.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <tuple>
#include <vector>

#include "raw/formats/formats.h"
#include "raw/signature_scan.h"

namespace {

using namespace brenvale::raw;

constexpr std::uint32_t kSector = 512;

bool isTiffFamily(std::uint16_t minor) {
    return minor == 4 || minor == 6 || minor == 7 || (minor >= 11 && minor <= 16);
}

// The disk's sectors for the tests that read beyond their batch (compound files).
SectorReader readerOf(std::span<const std::byte> disk) {
    return [disk](std::uint64_t lba, std::span<std::byte> into) -> std::uint32_t {
        if (lba >= disk.size() / kSector) return 0;
        const std::size_t n = std::min(into.size(), disk.size() - lba * kSector);
        std::memcpy(into.data(), disk.data() + lba * kSector, n);
        return static_cast<std::uint32_t>(n);
    };
}

// CATIA, STEP, text STL and DXF end at the last closing text in the data handed, and a DWG is
// measured only within it: where a batch ends decides what they see.
bool measuredWithinBatch(std::uint16_t major, std::uint16_t minor) {
    return major == 5 && (minor == 2 || minor == 5 || minor == 6 || minor == 8 || minor == 9);
}

std::vector<std::tuple<std::int64_t, std::int64_t, int, int>> scanIn(std::span<const std::byte> disk, std::size_t sectors,
                                                                     const SizeTables& sizes) {
    RawScan scan(sizes, kSector, readerOf(disk));
    const std::size_t batch = sectors * kSector;
    for (std::size_t at = 0; at < disk.size(); at += batch) {
        scan.RawSignatureScan(disk.subspan(at, std::min(batch, disk.size() - at)), static_cast<std::int64_t>(at / kSector));
    }
    scan.FinishPending();
    if (!scan.PendingRawFiles.empty()) std::abort();
    std::vector<std::tuple<std::int64_t, std::int64_t, int, int>> hits;
    for (const auto& f : scan.RawFiles) {
        // The TIFF test walks the directories within the bytes its batch holds: where a batch
        // ends decides what it can see, so those hits are not compared across batch sizes.
        if (f.MajorType == 2 && isTiffFamily(f.MinorType)) continue;
        if (measuredWithinBatch(f.MajorType, f.MinorType)) continue;
        if (f.LBA < 0 || static_cast<std::size_t>(f.LBA) * kSector >= disk.size()) std::abort();
        if (f.Size < kUnknownSize) std::abort();
        if (f.Size > 0 && ValidTypePair(f.MajorType, f.MinorType) && f.MajorType == 0 && f.MinorType != 3 &&
            f.Size > sizes.MaxSize[SizeIndex(f.MajorType, f.MinorType)])
            std::abort();
        hits.emplace_back(f.LBA, f.Size, f.MajorType, f.MinorType);
    }
    std::sort(hits.begin(), hits.end());
    return hits;
}

void parseWithState(int which, std::span<const std::byte> data) {
    if (data.size() < 24) return;
    SizeTables sizes;
    SideTables side;
    ScanContext ctx{sizes, side, kSector, nullptr};
    TFoundFile hit;
    std::memcpy(&hit.Size, data.data(), 8);
    std::memcpy(&hit.ParsePoint, data.data() + 8, 4);
    std::memcpy(&hit.ExtraData1, data.data() + 16, 4);
    std::memcpy(&hit.ExtraData2, data.data() + 20, 4);
    hit.Size &= 0x7FFFFFFF;  // a pending hit's accounted bytes are below its maximum
    data = data.subspan(24);
    int r = kParseBroken;
    switch (which) {
        case 0:
            hit.MajorType = 0, hit.MinorType = 1;
            hit.Info = side.NewArchiveInfo();
            r = formats::ParseZip(ctx, data, hit);
            break;
        case 1:
            if (hit.ExtraData2 & 1) {
                hit.MajorType = 1, hit.MinorType = 3;
                hit.ExtraData1 &= formats::kWalkEveryBatch;
                r = formats::ParsePdf(ctx, data, hit);
            } else {
                hit.MajorType = 0, hit.MinorType = 0;
                r = formats::ParseRar(ctx, data, hit);
            }
            break;
        case 2:
            if (hit.ExtraData2 & 1) {
                hit.MajorType = 1, hit.MinorType = 4;
                hit.ExtraData1 &= 0xFFFF;
                hit.ExtraData2 &= 0xFFFF;
                hit.ParsePoint &= 1;
                r = formats::ParseRtf(ctx, data, hit);
            } else {
                hit.MajorType = 0, hit.MinorType = 4;
                r = formats::ParseTar(ctx, data, hit);
            }
            break;
        case 3:
            if (hit.ExtraData2 & 1) {
                hit.MajorType = 0, hit.MinorType = 5;
                hit.ExtraData1 %= 3;
                r = formats::ParseBzip2(ctx, data, hit);
            } else {
                hit.MajorType = 0, hit.MinorType = 2;
                hit.Info = side.NewStream();
                r = formats::ParseCompressedStream(ctx, data, hit);
            }
            break;
        case 4:
            hit.MajorType = 2, hit.MinorType = 2;
            hit.ExtraData1 &= 1;
            r = formats::ParseJpeg(ctx, data, hit);
            break;
        case 5:
            hit.MajorType = 2, hit.MinorType = 5;
            r = formats::ParsePng(ctx, data, hit);
            break;
        case 6:
            hit.MajorType = 2, hit.MinorType = 1;
            hit.ExtraData1 %= 3;
            r = formats::ParseGif(ctx, data, hit);
            break;
        case 8:
            hit.MajorType = 3, hit.MinorType = 3;
            hit.ParsePoint &= 0xFFFF;
            r = formats::ParseWab(ctx, data, hit);
            break;
        case 9:
            hit.MajorType = 4, hit.MinorType = 0;
            hit.SetExt(hit.ExtraData2 & 2 ? "accdb" : "mdb");
            hit.ExtraData1 = hit.ExtraData2 & 1 ? 4096 : 2048;
            r = formats::ParseMdb(ctx, data, hit);
            break;
        case 10:
            hit.MajorType = 5, hit.MinorType = 0;
            hit.ExtraData1 &= 0x1FF;
            hit.ParsePoint &= 0xFFFF;
            r = formats::ParseBlender(ctx, data, hit);
            for (std::int64_t header : {20, 24}) (void)formats::BlendWalk(data, hit.ExtraData2 & 0xFFFF, header, header == 20);
            break;
        case 11:
            hit.MajorType = 5, hit.MinorType = 1;
            hit.ExtraData2 &= 1;
            r = formats::ParseFbx(ctx, data, hit);
            break;
        case 12:
            hit.ExtraData1 &= 1;
            if (hit.ExtraData2 & 1) {
                hit.MajorType = 5, hit.MinorType = 5;
                r = formats::ParseStep(ctx, data, hit);
            } else {
                hit.MajorType = 5, hit.MinorType = 2;
                r = formats::ParseCatia(ctx, data, hit);
            }
            break;
        case 13:
            if (hit.ExtraData2 & 1) {
                hit.MajorType = 5, hit.MinorType = 6;
                hit.ExtraData1 &= 1 | formats::kWalkEveryBatch;
                r = formats::ParseStl(ctx, data, hit);
            } else {
                hit.MajorType = 5, hit.MinorType = 8;
                hit.ExtraData1 &= 1;
                r = formats::ParseDxf(ctx, data, hit);
            }
            break;
        case 14: {
            hit.MajorType = 5, hit.MinorType = 9;
            hit.Size = 0;
            r = formats::ParseDwg(ctx, data, hit);
            const std::int64_t end = formats::DwgMeasure(data, static_cast<std::size_t>(hit.ParsePoint & 0xFFFF));
            if (end < 0 || end > static_cast<std::int64_t>(data.size())) std::abort();
            break;
        }
        case 15: {
            using Test = bool (*)(ScanContext&, formats::Bytes, TFoundFile&);
            for (Test test : {formats::TestPst, formats::TestDbx, formats::TestWab, formats::TestMbox, formats::TestMdb,
                              formats::TestMoney, formats::TestBlender, formats::TestFbx, formats::TestCatia,
                              formats::TestStep, formats::TestStl, formats::Test3ds, formats::TestDxf, formats::TestDwg,
                              formats::TestProteus}) {
                TFoundFile h;
                if (test(ctx, data, h) && h.Size < kUnknownSize) std::abort();
            }
            (void)formats::MailAddressValid(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
            (void)formats::DxfHead(data);
            r = kParseEnd;
            break;
        }
        default: {
            hit.MajorType = 2, hit.MinorType = 17;
            r = formats::ParseX3f(ctx, data, hit);
            for (auto test : {formats::TestTiff, formats::TestX3f, formats::TestCr3, formats::TestRaf}) {
                TFoundFile h;
                if (test(ctx, data, h) && h.Size > 262144000) std::abort();
            }
            // A compound file whose sectors past the first 1,024 bytes come from the "device".
            const SectorReader reader = readerOf(data);
            ScanContext beside{sizes, side, kSector, &reader, 0};
            TFoundFile h;
            if (formats::TestCompoundFile(beside, data.first(std::min<std::size_t>(data.size(), 1024)), h) &&
                (h.Size <= 0 || !formats::IsCompoundFileType(h)))
                std::abort();
            (void)formats::IsoMediaLength(data);
            break;
        }
    }
    if (r < kParseEnd || r > kParseBroken) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = bytes[0];
    const std::span<const std::byte> data(reinterpret_cast<const std::byte*>(bytes + 1), size - 1);
    if (mode & 1) {
        parseWithState(mode / 2 % 16, data);
        return 0;
    }
    // Small maximum sizes, so the limits are met within the input.
    SizeTables sizes;
    for (auto& m : sizes.MaxSize) m = 64 * 1024;
    const std::size_t disk = data.size() / kSector * kSector;
    if (disk == 0) return 0;
    if (scanIn(data.first(disk), 1 + mode / 2 % 8, sizes) != scanIn(data.first(disk), 64, sizes)) std::abort();
    return 0;
}
