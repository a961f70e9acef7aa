// Loading ".dif" and raw images, and creating images.

#include <gmock/gmock.h>

#include <functional>

#include "storage/device_test_util.h"
#include "storage/fs_types.h"
#include "storage/image_descriptor.h"
#include "storage/le.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using storage::TImageDescriptor;

// `sectors` sectors of pattern followed by a descriptor claiming `claimed` sectors.
std::vector<std::byte> DifFile(std::uint64_t sectors, std::uint64_t claimed, std::uint32_t s = 512,
                               std::size_t extraBytes = 0) {
    auto data = PatternedSectors(sectors, s);
    data.resize(data.size() + extraBytes, std::byte{0x5A});
    storage::TDriveParams params{};
    params.MediaType = 3;
    params.Heads = 7;
    params.TracksPerHead = 255;
    params.SectorsPerTrack = 63;
    params.BytesPerSector = s;
    params.TotalPhysSec = 999999;
    const auto desc = storage::MakeImageDescriptor(params, storage::kImageSourcePhysicalDrive, 0, claimed, s);
    const auto bytes = storage::recordBytes(desc);
    data.insert(data.end(), bytes.begin(), bytes.end());
    return data;
}

struct LoadCase {
    std::string name;
    std::string path;
    std::function<std::vector<std::byte>()> content;
    std::uint32_t rawSectorSize = 0;
    std::string error;  // empty: loads
    std::uint64_t sectors = 0;
    bool raw = false;
    std::uint32_t sectorSize = 512;
};

class ImageLoadTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(ImageLoadTest, Loads) {
    const auto& c = GetParam();
    platform::fake::FakePlatform os;
    os.addDisk(c.path, c.content(), 512, false);
    if (!c.error.empty()) {
        try {
            storage::TDevice dev(os, c.path, c.rawSectorSize);
            FAIL() << "loaded";
        } catch (const storage::DeviceError& e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
        return;
    }
    storage::TDevice dev(os, c.path, c.rawSectorSize);
    EXPECT_EQ(dev.DeviceType(), storage::kDeviceImage);
    EXPECT_EQ(dev.DeviceNum(), 0);
    EXPECT_EQ(dev.IsRawImage(), c.raw);
    EXPECT_EQ(dev.Sectors(), c.sectors);
    EXPECT_EQ(dev.BytesPerSector(), c.sectorSize);
    EXPECT_EQ(Value(dev.DeviceParam().TotalPhysSec), c.sectors);
    if (!c.raw) {
        EXPECT_EQ(Value(dev.DeviceParam().Heads), 7u) << "geometry comes from the descriptor";
    }
    std::vector<std::byte> buf(c.sectorSize);
    ASSERT_EQ(dev.Read(c.sectors - 1, 1, buf.data()), c.sectorSize);
    EXPECT_TRUE(SectorMatches(buf, c.sectors - 1, c.sectorSize));
}

const std::string kInvalid = storage::kInvalidImage;

INSTANTIATE_TEST_SUITE_P(
    Rules, ImageLoadTest,
    ::testing::Values(
        LoadCase{"OneSectorDif", "/i/one.dif", [] { return DifFile(1, 1); }, 0, "", 1},
        LoadCase{"TooSmallDif", "/i/small.dif", [] { auto d = DifFile(1, 1); d.pop_back(); return d; }, 0, kInvalid},
        LoadCase{"RoundsDownOddTail", "/i/tail.dif", [] { return DifFile(3, 3, 512, 100); }, 0, "", 3},
        LoadCase{"SectorCountMismatch", "/i/count.dif", [] { return DifFile(3, 4); }, 0, kInvalid},
        LoadCase{"LargeSectors", "/i/big.dif", [] { return DifFile(5, 5, 4096); }, 0, "", 5, false, 4096},
        LoadCase{"DescriptorInsideRawName", "/i/disk.img", [] { return DifFile(6, 6); }, 0, "", 6},
        LoadCase{"RawImage", "/i/disk.img", [] { return PatternedSectors(9); }, 0, "", 9, true},
        LoadCase{"RawImageOddTail", "/i/disk.raw", [] { auto d = PatternedSectors(2); d.resize(1500); return d; }, 0,
                 "", 2, true},
        LoadCase{"RawImageLargeSectors", "/i/disk.bin", [] { return PatternedSectors(3, 4096); }, 4096, "", 3, true,
                 4096},
        LoadCase{"EmptyRawImage", "/i/empty.img", [] { return std::vector<std::byte>{}; }, 0, kInvalid},
        LoadCase{"RawShorterThanASector", "/i/short.dd", [] { return std::vector<std::byte>(511); }, 0, kInvalid},
        LoadCase{"CorruptDifIsNotTakenAsRaw", "/i/bad.DIF", [] { auto d = DifFile(4, 4); d[d.size() - 500] ^= std::byte{1}; return d; },
                 0, kInvalid}),
    [](const auto& p) { return p.param.name; });

TEST(ImageLoad, MissingFileCannotBeOpened) {
    platform::fake::FakePlatform os;
    try {
        storage::TDevice dev(os, "/nowhere.dif");
        FAIL();
    } catch (const storage::DeviceError& e) {
        EXPECT_STREQ(e.what(), storage::kCannotOpenImage);
    }
}

TEST(ImageLoad, EveryChecksummedByteMattersAndReservedBytesDoNot) {
    const auto good = DifFile(2, 2);
    const std::size_t descAt = good.size() - 512;
    for (std::size_t i = 0; i < 512; ++i) {
        platform::fake::FakePlatform os;
        auto bytes = good;
        bytes[descAt + i] ^= std::byte{0x40};
        os.addDisk("/x.dif", std::move(bytes), 512, false);
        const bool covered = i < storage::kDescriptorCrcSpan + 4;  // the bytes summed and the CRC itself
        bool loaded = true;
        try {
            storage::TDevice dev(os, "/x.dif");
        } catch (const storage::DeviceError&) {
            loaded = false;
        }
        EXPECT_EQ(loaded, !covered) << "descriptor byte " << i;
    }
}

TEST(ImageLoad, ZeroSectorSizeInTheDescriptorMeans512) {
    auto bytes = DifFile(2, 2);
    auto desc = *storage::readRecord<TImageDescriptor>(bytes, bytes.size() - 512);
    desc.BytesPerSector = 0;
    desc.CRC = storage::descriptorCrc(desc);
    ASSERT_TRUE(storage::writeRecord(std::span(bytes), bytes.size() - 512, desc));
    platform::fake::FakePlatform os;
    os.addDisk("/z.dif", bytes, 512, false);
    storage::TDevice dev(os, "/z.dif");
    EXPECT_EQ(dev.BytesPerSector(), 512u);
    EXPECT_EQ(dev.Sectors(), 2u);
}

TEST(ImageLoad, ImplausibleSectorSizeIsCorruption) {
    for (std::uint32_t s : {1u, 3u, 500u, 1u << 20}) {
        auto bytes = DifFile(2, 2);
        auto desc = *storage::readRecord<TImageDescriptor>(bytes, bytes.size() - 512);
        desc.BytesPerSector = s;
        desc.Sectors = (bytes.size() - 512) / s;
        desc.CRC = storage::descriptorCrc(desc);
        ASSERT_TRUE(storage::writeRecord(std::span(bytes), bytes.size() - 512, desc));
        platform::fake::FakePlatform os;
        os.addDisk("/s.dif", bytes, 512, false);
        EXPECT_THROW(storage::TDevice(os, "/s.dif"), storage::DeviceError) << s;
    }
}

class CreateImageTest : public FakeDiskTest {
protected:
    TImageDescriptor DescriptorOf(const std::vector<std::byte>& file) {
        return *storage::readRecord<TImageDescriptor>(file, file.size() - 512);
    }
    TempDir tmp;
};

TEST_F(CreateImageTest, VolumeImageHasAPrefixWithASyntheticMbr) {
    auto dev = Open();
    const auto out = tmp.file("vol.dif");
    ASSERT_TRUE(dev->CreateImage(out, 100, 1000, 1, storage::kFsNtfs, 0));
    const auto file = ReadWholeFile(out);
    ASSERT_EQ(file.size(), (63u + 1000u) * 512 + 512);
    // The MBR: one entry of type 0x07 at sector 63 covering the copy, then the signature.
    EXPECT_EQ(std::to_integer<int>(file[446 + 4]), 0x07);
    EXPECT_EQ(storage::le32(file, 446 + 8), 63u);
    EXPECT_EQ(storage::le32(file, 446 + 12), 1000u);
    EXPECT_EQ(storage::le16(file, 510), 0xAA55);
    EXPECT_TRUE(AllZero(std::span(file).subspan(512, 62 * 512)));
    for (std::uint64_t i = 0; i < 1000; i += 37) {
        EXPECT_TRUE(SectorMatches(std::span(file).subspan((63 + i) * 512, 512), 100 + i)) << i;
    }
    const auto d = DescriptorOf(file);
    EXPECT_TRUE(storage::descriptorCrcMatches(d));
    EXPECT_EQ(Value(d.Sectors), 1063u);
    EXPECT_EQ(Value(d.LBA0), 100u);
    EXPECT_EQ(Value(d.SourceType), storage::kImageSourcePhysicalDrive);
    EXPECT_EQ(Value(d.BytesPerSector), 512u);
    EXPECT_EQ(Value(d.Params.TotalPhysSec), kSectors);

    // And it loads back as a drive whose sector 63 is the first copied sector.
    platform::fake::FakePlatform os2;
    os2.addDisk(out, file, 512, false);
    storage::TDevice img(os2, out);
    EXPECT_EQ(img.Sectors(), 1063u);
    std::vector<std::byte> buf(512);
    ASSERT_EQ(img.Read(63, 1, buf.data()), 512u);
    EXPECT_TRUE(SectorMatches(buf, 100));
}

TEST_F(CreateImageTest, DiskImageCopiesTheRangeAndReportsProgress) {
    auto dev = Open();
    std::vector<int> percents;
    dev->FOnCreateImg = [&](int p) { percents.push_back(p); };
    const auto out = tmp.file("disk.dif");
    ASSERT_TRUE(dev->CreateImage(out, 0, 2000, 0, 0, 0));
    EXPECT_THAT(percents, ::testing::ElementsAre(25, 50, 75, 100));
    const auto file = ReadWholeFile(out);
    ASSERT_EQ(file.size(), 2000u * 512 + 512);
    EXPECT_TRUE(SectorMatches(std::span(file).first(512), 0));
    EXPECT_TRUE(SectorMatches(std::span(file).subspan(1999 * 512, 512), 1999));
    EXPECT_EQ(Value(DescriptorOf(file).Sectors), 2000u);
}

TEST_F(CreateImageTest, StoppingKeepsAPartialImageWithAValidDescriptor) {
    auto dev = Open();
    int chunks = 0;
    dev->FOnPump = [&] {
        if (++chunks == 3) dev->TerminateProgress();
    };
    const auto out = tmp.file("stop.dif");
    EXPECT_FALSE(dev->CreateImage(out, 0, 2000, 0, 0, 0));
    EXPECT_TRUE(dev->Terminated());
    const auto file = ReadWholeFile(out);
    ASSERT_EQ(file.size(), 1500u * 512 + 512);
    const auto d = DescriptorOf(file);
    EXPECT_TRUE(storage::descriptorCrcMatches(d));
    EXPECT_EQ(Value(d.Sectors), 1500u);
}

TEST_F(CreateImageTest, AbortingDeviceEndsTheCopyEarly) {
    auto dev = Open();
    disk->faults.offlineAfterReads = 2;
    const auto out = tmp.file("early.dif");
    EXPECT_FALSE(dev->CreateImage(out, 0, 2000, 0, 0, 0));
    EXPECT_FALSE(dev->Terminated());
    EXPECT_TRUE(dev->CreateError().empty());
    const auto file = ReadWholeFile(out);
    EXPECT_EQ(Value(DescriptorOf(file).Sectors), 1000u);
    EXPECT_EQ(file.size(), 1000u * 512 + 512);
}

TEST_F(CreateImageTest, BadSectorsAreCopiedAsZeros) {
    disk->faults.bad = {10, 11};
    auto dev = Open();
    const auto out = tmp.file("bad.dif");
    ASSERT_TRUE(dev->CreateImage(out, 0, 20, 0, 0, 0));
    const auto file = ReadWholeFile(out);
    EXPECT_TRUE(AllZero(std::span(file).subspan(10 * 512, 2 * 512)));
    EXPECT_TRUE(SectorMatches(std::span(file).subspan(12 * 512, 512), 12));
    EXPECT_THAT(events.messages, ::testing::Contains("Bad sectors 10 - 11 (2 sectors): skipped and zero-filled"));
}

TEST(CreateImageSafety, RefusesToOverwriteTheSourceImage) {
    TempDir tmp;
    const auto path = tmp.file("source.img");
    const auto original = PatternedSectors(64);
    WriteWholeFile(path, original);
    platform::fake::FakePlatform os;
    os.addDisk(path, original, 512, false);
    storage::TDevice dev(os, path);
    EXPECT_FALSE(dev.CreateImage(path, 0, 64, 0, 0, 0));
    EXPECT_FALSE(dev.CreateError().empty());
    EXPECT_EQ(ReadWholeFile(path), original);
}

TEST(CreateImageSafety, UnwritableTargetIsReported) {
    platform::fake::FakePlatform os;
    os.addDisk("/src.img", PatternedSectors(8), 512, false);
    storage::TDevice dev(os, "/src.img");
    EXPECT_FALSE(dev.CreateImage("/nonexistent-folder/x.dif", 0, 8, 0, 0, 0));
    EXPECT_EQ(dev.CreateError(), "Cannot create the image file.");
}

TEST(ProbeLinuxType, FindsTheExtSuperblockMagic) {
    struct Case {
        std::uint32_t sectorSize;
        std::uint64_t lba;
        bool magic;
        std::uint8_t expected;
    };
    for (const auto& c : {Case{512, 0, true, 0x83}, Case{512, 0, false, 0x07}, Case{512, 10, true, 0x83},
                          Case{4096, 0, true, 0x83}, Case{512, 15, true, 0x07} /* the read is cut short by the end */}) {
        std::vector<std::byte> data(16 * c.sectorSize);
        if (c.magic && c.lba * c.sectorSize + 1081 < data.size()) {
            data[c.lba * c.sectorSize + 1080] = std::byte{0x53};
            data[c.lba * c.sectorSize + 1081] = std::byte{0xEF};
        }
        platform::fake::FakePlatform os;
        os.addDisk("/p.img", std::move(data), c.sectorSize, false);
        storage::TDevice dev(os, "/p.img", c.sectorSize);
        EXPECT_EQ(dev.ProbeLinuxType(c.lba), c.expected) << c.sectorSize << "/" << c.lba;
    }
}

}  // namespace
}  // namespace brenvale::test
