#include "storage/image_descriptor.h"

#include "storage/fs_types.h"
#include "storage/le.h"
#include "storage/partition_table.h"

namespace brenvale::storage {

namespace {

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[i] = c;
    }
    return table;
}

constexpr auto kCrcTable = makeCrcTable();

// Not a file system: callers pass it to ask for an extended-partition entry.
constexpr std::uint8_t kFsExtendedContainer = 5;

}  // namespace

std::uint32_t ImageDescriptorCrc(std::span<const std::byte> data) {
    std::uint32_t crc = 0;
    for (std::byte b : data) {
        crc = kCrcTable[(crc ^ std::to_integer<std::uint32_t>(b)) & 0xFF] ^ (crc >> 8);
    }
    return crc;
}

std::uint32_t descriptorCrc(const TImageDescriptor& desc) {
    return ImageDescriptorCrc(recordBytes(desc).first<kDescriptorCrcSpan>());
}

bool descriptorCrcMatches(const TImageDescriptor& desc) {
    return descriptorCrc(desc) == desc.CRC;
}

TImageDescriptor MakeImageDescriptor(const TDriveParams& params, std::uint8_t sourceType,
                                     std::uint64_t lba0, std::uint64_t sectors,
                                     std::uint32_t bytesPerSector) {
    TImageDescriptor d{};
    d.Version = kImageVersion;
    d.Params = params;
    d.SourceType = sourceType;
    d.LBA0 = lba0;
    d.Sectors = sectors;
    d.Compressed = 0;
    d.BytesPerSector = bytesPerSector;
    d.CRC = descriptorCrc(d);
    return d;
}

std::uint32_t ImagePrefixSectors(std::uint32_t bytesPerSector) {
    const std::uint64_t s = bytesPerSector == 0 ? 512 : bytesPerSector;
    return static_cast<std::uint32_t>((s + 32255) / s);
}

std::array<std::byte, 512> SyntheticMbr(std::uint8_t systemFlag, std::uint32_t prefixSectors,
                                        std::uint64_t copiedSectors) {
    std::array<std::byte, 512> mbr{};
    TPartitionEntry entry{};
    entry.SystemFlag = systemFlag;
    entry.SectNum = prefixSectors;
    entry.SectCount = static_cast<std::uint32_t>(copiedSectors);
    static_assert(kMbrEntriesOffset + sizeof(entry) <= kMbrSignatureOffset &&
                  kMbrSignatureOffset + 2 == sizeof(mbr));
    (void)writeRecord(std::span(mbr), kMbrEntriesOffset, entry);
    (void)putLe16(mbr, kMbrSignatureOffset, kMbrSignature);
    return mbr;
}

std::uint8_t MbrTypeFor(std::uint8_t fileSystem, std::uint8_t mbrType) {
    if (mbrType != 0) return mbrType;
    switch (fileSystem) {
        case kFsFat12:
            return kPartTypeFat12;
        case kFsFat16:
            return kPartTypeFat16;
        case kFsFat32:
            return kPartTypeFat32;
        case kFsNtfs:
        case kFsExfat:
            return kPartTypeNtfs;
        case kFsExtendedContainer:
            return kPartTypeExtended;
        default:
            return kPartTypeEmpty;
    }
}

}  // namespace brenvale::storage
