#include "storage/image_descriptor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "storage/fs_types.h"
#include "storage/le.h"
#include "storage/partition_table.h"

namespace brenvale::storage {
namespace {

std::vector<std::byte> ascii(std::string_view s) {
    std::vector<std::byte> out;
    for (char c : s) out.push_back(static_cast<std::byte>(c));
    return out;
}

// Bit by bit, without a table: the reference the table-driven CRC must agree with.
std::uint32_t bitwiseCrc(std::span<const std::byte> data) {
    std::uint32_t crc = 0;
    for (std::byte b : data) {
        crc ^= std::to_integer<std::uint32_t>(b);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
    }
    return crc;
}

TEST(ImageDescriptor, Checksum) {
    EXPECT_EQ(ImageDescriptorCrc(ascii("abc")), 0xCA6598D0u);
    EXPECT_EQ(ImageDescriptorCrc({}), 0u);
    for (std::string_view text : {std::string_view("a"), std::string_view("123456789"),
                                  std::string_view("\xFF\x00\x80", 3)}) {
        const auto data = ascii(text);
        EXPECT_EQ(ImageDescriptorCrc(data), bitwiseCrc(data)) << text;
    }
}

TDriveParams sampleParams() {
    TDriveParams p{};
    p.MediaType = kMediaFixed;
    p.MediaAttr = 0;
    p.Heads = 1023;
    p.TracksPerHead = 255;
    p.SectorsPerTrack = 63;
    p.BytesPerSector = 4096;
    p.TotalPhysSec = 0x0000'0123'4567'89ABull;
    return p;
}

TEST(ImageDescriptor, BytesOnDisk) {
    const TImageDescriptor d = MakeImageDescriptor(sampleParams(), kImageSourceVolume,
                                                   0x1122'3344'5566ull, 63 + 1000, 4096);
    const auto raw = recordBytes(d);

    const std::u16string_view version = u"DSKIMG0101";
    for (std::size_t i = 0; i < version.size(); ++i)
        EXPECT_EQ(le16(raw, 2 * i), std::uint16_t{version[i]}) << i;
    EXPECT_EQ(le16(raw, 20), kMediaFixed);
    EXPECT_EQ(le32(raw, 24), 1023u);
    EXPECT_EQ(le32(raw, 28), 255u);
    EXPECT_EQ(le32(raw, 32), 63u);
    EXPECT_EQ(le32(raw, 36), 4096u);
    EXPECT_EQ(le64(raw, 40), 0x0000'0123'4567'89ABull);
    EXPECT_EQ(u8(raw, 48), kImageSourceVolume);
    EXPECT_EQ(le64(raw, 49), 0x1122'3344'5566ull);
    EXPECT_EQ(le64(raw, 57), 1063u);
    EXPECT_EQ(u8(raw, 65), 0u);
    EXPECT_EQ(le32(raw, 66), 4096u);
    EXPECT_EQ(le32(raw, 70), bitwiseCrc(raw.first(70)));
    EXPECT_TRUE(
        std::all_of(raw.begin() + 74, raw.end(), [](std::byte b) { return b == std::byte{0}; }));
}

TEST(ImageDescriptor, RoundTripAndTamperDetection) {
    const TImageDescriptor made =
        MakeImageDescriptor(sampleParams(), kImageSourcePhysicalDrive, 0, 2000, 512);
    std::array<std::byte, kImageDescriptorSize> file{};
    ASSERT_TRUE(writeRecord(file, 0, made));

    const auto back = readRecord<TImageDescriptor>(file, 0);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(descriptorCrcMatches(*back));
    const std::uint64_t sectors = back->Sectors, total = back->Params.TotalPhysSec;
    EXPECT_EQ(sectors, 2000u);
    EXPECT_EQ(total, 0x0000'0123'4567'89ABull);
    EXPECT_EQ(back->Version, kImageVersion);

    // Every byte the checksum covers is guarded; the CRC field and the reserved bytes are not.
    for (std::size_t i = 0; i < kImageDescriptorSize; ++i) {
        auto changed = file;
        changed[i] ^= std::byte{0x01};
        const auto d = readRecord<TImageDescriptor>(changed, 0).value();
        const bool covered = i < kDescriptorCrcSpan;
        const bool crcField = i >= 70 && i < 74;
        EXPECT_EQ(descriptorCrcMatches(d), !covered && !crcField) << "byte " << i;
    }
}

TEST(ImageDescriptor, PrefixSectors) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {512, 63}, {1024, 32}, {2048, 16}, {4096, 8}, {0, 63}, {32256, 1}, {65536, 1},
    };
    for (const auto& [size, sectors] : cases) EXPECT_EQ(ImagePrefixSectors(size), sectors) << size;
}

TEST(ImageDescriptor, MbrTypeFor) {
    struct Case {
        std::uint8_t fileSystem, mbrType, expected;
    } cases[] = {
        {kFsFat12, 0, 0x01},   {kFsFat16, 0, 0x06},    {kFsFat32, 0, 0x0B},
        {kFsNtfs, 0, 0x07},    {kFsExfat, 0, 0x07},    {5, 0, 0x05},
        {6, 0, 0x00},          {kFsUnknown, 0, 0x00},  {kFsUnknown, 0x83, 0x83},
        {kFsNtfs, 0x83, 0x83}, {kFsFat12, 0x07, 0x07},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MbrTypeFor(c.fileSystem, c.mbrType), c.expected)
            << int(c.fileSystem) << " " << int(c.mbrType);
    }
}

TEST(ImageDescriptor, SyntheticMbr) {
    struct Case {
        std::uint8_t type;
        std::uint32_t prefix;
        std::uint64_t copied;
        std::uint32_t count;
    } cases[] = {
        {0x07, 63, 204800, 204800},
        {0x0B, 8, 0x1'0000'0005ull, 5},  // only the low 32 bits fit the entry
        {0x83, 16, 0, 0},
    };
    for (const auto& c : cases) {
        const auto mbr = SyntheticMbr(c.type, c.prefix, c.copied);
        std::array<std::byte, 512> expected{};
        expected[446 + 4] = std::byte{c.type};
        ASSERT_TRUE(putLe32(expected, 446 + 8, c.prefix));
        ASSERT_TRUE(putLe32(expected, 446 + 12, c.count));
        expected[510] = std::byte{0x55};
        expected[511] = std::byte{0xAA};
        EXPECT_EQ(mbr, expected) << int(c.type);
    }
}

TEST(ImageDescriptor, NtfsVolumeImagePrefix) {
    // An NTFS volume image with 512-byte sectors: 63 prefix sectors, a type 0x07 entry at 63.
    const std::uint64_t copied = 1000;
    const std::uint32_t prefix = ImagePrefixSectors(512);
    const auto mbr = SyntheticMbr(MbrTypeFor(kFsNtfs, 0), prefix, copied);
    const auto entry = readRecord<TPartitionEntry>(mbr, kMbrEntriesOffset);
    ASSERT_TRUE(entry.has_value());
    const std::uint32_t first = entry->SectNum, count = entry->SectCount;
    EXPECT_EQ(entry->PartiActive, 0);
    EXPECT_EQ(entry->SystemFlag, kPartTypeNtfs);
    EXPECT_EQ(first, 63u);
    EXPECT_EQ(count, copied);
    EXPECT_EQ(le16(mbr, kMbrSignatureOffset), kMbrSignature);
    const auto d = MakeImageDescriptor(TDriveParams{}, kImageSourceVolume, 0, prefix + copied, 512);
    const std::uint64_t sectors = d.Sectors;
    EXPECT_EQ(sectors, 1063u);
    EXPECT_TRUE(descriptorCrcMatches(d));
}

}  // namespace
}  // namespace brenvale::storage
