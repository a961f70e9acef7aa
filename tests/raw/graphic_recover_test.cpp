// Pictures of unknown length measured again at recovery, thumbnails of camera files, and the
// analysis of a file's first bytes for its preview.

#include <gtest/gtest.h>

#include "picture_bytes.h"
#include "platform/fake/fake_platform.h"
#include "raw/raw_recover.h"
#include "raw/scan_range.h"
#include "scan/undelete.h"
#include "scan_disk.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "support/temp_dir.h"

namespace brenvale::raw {
namespace {

using namespace testing;

class GraphicRecoverTest : public ::testing::Test {
protected:
    static constexpr std::uint64_t kSectors = 4096;
    void SetUp() override {
        storage::DeviceAborted = false;
        disk = noiseDisk(kSectors);
        pictures = {
            {10, jpegOf(80000, 41)},
            {400, gifOf(2, 30000, 42)},
            {600, pngOf(50000, 43)},
            {900, tiffOf("NIKON CORPORATION", 100000, jpegOf(5000, 44))},
            {1500, [] { ByteVec v = bytes("8BPS"); v.resize(3000, std::byte{1}); return v; }()},
            {1600, cr3Of(jpegOf(3000, 45), 150000)},
        };
        for (const auto& [lba, bytes] : pictures) place(disk, lba, bytes);
        os.addDisk("pictures.img", disk, kSector, false);
        device = std::make_unique<storage::TDevice>(os, "pictures.img");
        record.Entry.SectCount = static_cast<std::uint32_t>(kSectors);
        scan = std::make_unique<scan::TUndelete>(*device, record);
        scan->FOnRecover = [this](const std::string&, std::int32_t code) { codes.push_back(code); };
    }
    void TearDown() override { storage::DeviceAborted = false; }

    platform::fake::FakePlatform os;
    ByteVec disk;
    std::vector<std::pair<std::uint64_t, ByteVec>> pictures;
    std::unique_ptr<storage::TDevice> device;
    partitions::TPartition record;
    std::unique_ptr<scan::TUndelete> scan;
    std::vector<std::int32_t> codes;
    SizeTables sizes;
    test::TempDir dest;
};

// Hits whose length the scan could not learn (a batch ended, a checkpoint lost it) are written
// at their exact length when their first megabytes show it.
TEST_F(GraphicRecoverTest, UnknownLengthsAreMeasuredFromTheDevice) {
    struct Case {
        std::uint16_t minor;
        const char* ext;
        std::size_t picture;
        std::int64_t size;  // the hit's size before the measure
    };
    const Case cases[] = {
        {2, "jpg", 0, kUnknownSize}, {1, "gif", 1, kUnknownSize}, {5, "png", 2, kUnknownSize}, {11, "nef", 3, 0},
        {21, "cr3", 5, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ext);
        TFoundFile hit = MakeHit(2, c.minor, c.ext, static_cast<std::int64_t>(pictures[c.picture].first));
        hit.Size = c.size;
        const std::string name = std::string("P.") + c.ext;
        ASSERT_TRUE(RawRecoverFile(*scan, sizes, hit, name, dest.path().string()));
        EXPECT_EQ(test::ReadWholeFile(dest / name), pictures[c.picture].second);
        EXPECT_EQ(codes.back(), scan::kRecoverSuccessful);
    }
    // A Photoshop file has no structure to measure: its default size is written.
    sizes.DefaultSize[SizeIndex(2, 20)] = 7 * 512;
    TFoundFile psd = MakeHit(2, 20, "psd", 1500);
    psd.Size = kUnknownSize;
    ASSERT_TRUE(RawRecoverFile(*scan, sizes, psd, "P.psd", dest.path().string()));
    EXPECT_EQ(test::ReadWholeFile(dest / "P.psd").size(), 7u * 512);
}

TEST_F(GraphicRecoverTest, ThumbnailsAreTheEmbeddedPreviewOrThePictureItself) {
    RawScan raw(sizes, kSector, DeviceSectors(*device));
    std::atomic<bool> stop{false};
    (void)ScanRange(raw, *device, {0, kSectors}, 0, kSectors, {}, stop);
    raw.FinishPending();
    auto hitOf = [&](std::uint64_t lba) -> const TFoundFile& {
        for (const auto& h : raw.RawFiles) {
            if (h.LBA == static_cast<std::int64_t>(lba)) return h;
        }
        ADD_FAILURE() << "no hit at " << lba;
        return raw.RawFiles.front();
    };
    std::vector<std::byte> thumb;
    ASSERT_TRUE(RecoverThumbnail(*scan, raw, hitOf(900), thumb));
    EXPECT_EQ(thumb, jpegOf(5000, 44));
    ASSERT_TRUE(RecoverThumbnail(*scan, raw, hitOf(1600), thumb));
    EXPECT_EQ(thumb, jpegOf(3000, 45));
    ASSERT_TRUE(RecoverThumbnail(*scan, raw, hitOf(10), thumb));
    EXPECT_EQ(thumb, pictures[0].second);
    EXPECT_FALSE(RecoverThumbnail(*scan, raw, hitOf(600), thumb));  // a PNG has no preview of its own
    EXPECT_TRUE(thumb.empty());
}

TEST(RawHead, PreviewOfACameraFile) {
    const ByteVec preview = jpegOf(4000, 51);
    const ByteVec nef = tiffOf("NIKON CORPORATION", 30000, preview);
    const auto info = AnalyseRawHead(nef);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Make, "NIKON CORPORATION");
    EXPECT_EQ(info->Width, 4000);
    EXPECT_EQ(info->ISO, 400);  // the first IFD's own, met after the Exif IFD it points to
    EXPECT_EQ(info->PreviewKind, kPreviewJpeg);
    ASSERT_EQ(info->PreviewLength, static_cast<std::int64_t>(preview.size()));
    EXPECT_TRUE(std::equal(preview.begin(), preview.end(), nef.begin() + info->PreviewOffset));
    // A picture with no preview in it, and bytes that are no camera file.
    EXPECT_FALSE(AnalyseRawHead(pngOf(1000, 52)));
    EXPECT_FALSE(AnalyseRawHead(noise(4096, 53)));
}

}  // namespace
}  // namespace brenvale::raw
