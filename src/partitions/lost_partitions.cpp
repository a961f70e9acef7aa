#include "partitions/lost_partitions.h"

#include <algorithm>

#include "storage/fs_detect.h"
#include "storage/fs_types.h"
#include "storage/le.h"

namespace brenvale::partitions {

namespace {

using storage::le16;
using storage::le32;
using storage::le64;
using storage::u8;

bool validSectorSize(std::uint32_t s) { return s == 512 || s == 1024 || s == 2048 || s == 4096; }
bool validClusterSize(std::uint32_t spc) { return spc >= 1 && spc <= 128 && (spc & (spc - 1)) == 0; }

// The shared FAT parameter test on the 25-byte BPB at offset 11.
bool fatParametersHold(std::span<const std::byte> b) {
    const std::uint32_t bps = le16(b, 11), spc = u8(b, 13), fats = u8(b, 16), reserved = le16(b, 14);
    return validSectorSize(bps) && validClusterSize(spc) && bps * spc <= 65536 && fats >= 1 && fats <= 4 &&
           reserved >= 1;
}

bool oemIs(std::span<const std::byte> b, const char (&name)[9]) {
    for (int i = 0; i < 8; ++i) {
        if (u8(b, 3 + i) != static_cast<std::uint8_t>(name[i])) return false;
    }
    return true;
}

bool plausibleFat1216(std::span<const std::byte> b) {
    if (!fatParametersHold(b)) return false;
    const std::uint64_t bps = le16(b, 11), rootEntries = le16(b, 17), fatSize = le16(b, 22);
    if (rootEntries < 16 || fatSize < 1) return false;
    const std::uint16_t small = le16(b, 19);
    const std::uint64_t total = small ? small : le32(b, 32);
    if (total == 0) return false;
    const std::uint64_t rootSectors = (rootEntries * 32 + bps - 1) / bps;
    return le16(b, 14) + u8(b, 16) * fatSize + rootSectors < total;
}

bool plausibleFat32(std::span<const std::byte> b) {
    if (!fatParametersHold(b)) return false;
    const std::uint64_t fatSize = le32(b, 36), rootCluster = le32(b, 44), total = le32(b, 32);
    if (fatSize < 1 || rootCluster < 2 || total == 0) return false;
    const std::uint64_t system = le16(b, 14) + u8(b, 16) * fatSize;
    return system < total && (rootCluster - 2) * u8(b, 13) + system < total;
}

bool plausibleNtfs(std::span<const std::byte> b) {
    return validSectorSize(le16(b, 11)) && validClusterSize(u8(b, 13)) && le64(b, 40) > 0 && le64(b, 48) >= 1 &&
           le64(b, 56) >= 1 && oemIs(b, "NTFS    ");
}

bool plausibleExfat(std::span<const std::byte> b) {
    const unsigned bpsShift = u8(b, 108), spcShift = u8(b, 109);
    return bpsShift >= 9 && bpsShift <= 12 && spcShift <= 25 && bpsShift + spcShift <= 25 && le64(b, 72) > 0 &&
           le32(b, 80) >= 24 && le32(b, 84) >= 1 && le32(b, 88) >= 24 && le32(b, 92) >= 1 && le32(b, 96) >= 2 &&
           oemIs(b, "EXFAT   ");
}

}  // namespace

bool IsPlausibleLostPartition(const TPartition& P, std::uint64_t DeviceSectors) {
    const std::uint8_t fs = P.BootSector.FileSystemType;
    if (fs > storage::kFsExfat || !validSectorSize(P.BytesPerSector)) return false;
    if (DeviceSectors > 0) {
        const std::int64_t start = P.SectNum64, size = PartitionSize(&P);
        if (start < 0 || static_cast<std::uint64_t>(start) >= DeviceSectors || size <= 0) return false;
        if (static_cast<std::uint64_t>(size) > DeviceSectors - static_cast<std::uint64_t>(start)) return false;
    }
    const std::span<const std::byte> b(P.BootSector.Sector);
    switch (fs) {
        case storage::kFsFat12:
        case storage::kFsFat16: return plausibleFat1216(b);
        case storage::kFsFat32: return plausibleFat32(b);
        case storage::kFsNtfs: return plausibleNtfs(b);
        default: return plausibleExfat(b);
    }
}

TPartition MakeLostPartition(std::span<const std::byte> sector, std::uint8_t fs, std::uint64_t lba,
                             std::uint32_t deviceSectorSize, std::uint64_t imageSectors) {
    TPartition p;
    p.BaseLBA = 0;
    p.SectNum64 = static_cast<std::int64_t>(lba);
    p.Entry.SectNum = static_cast<std::uint32_t>(lba);
    p.BootSector = storage::MakeBootSector(sector);
    p.BootSector.FileSystemType = fs;
    const auto b = std::span<const std::byte>(p.BootSector.Sector);
    switch (fs) {
        case storage::kFsFat12: p.Entry.SystemFlag = storage::kPartTypeFat12; break;
        case storage::kFsFat16: p.Entry.SystemFlag = storage::kPartTypeFat16; break;
        case storage::kFsFat32: p.Entry.SystemFlag = storage::kPartTypeFat32; break;
        case storage::kFsNtfs:
        case storage::kFsExfat: p.Entry.SystemFlag = storage::kPartTypeNtfs; break;
        default: break;
    }
    std::uint64_t size = storage::VolumeSectorCount(b, fs);
    // Sizes past 32 bits (NTFS and exFAT volumes of 2 TiB and more) keep their full value; a
    // size no disk can have is capped so that start + size never overflows.
    size = std::min(size, kMaxSectors);
    p.Entry.SectCount = static_cast<std::uint32_t>(size);
    if (size > 0xFFFFFFFFu || fs == storage::kFsExfat) p.SectCount64 = static_cast<std::int64_t>(size);
    p.BytesPerSector = storage::VolumeBytesPerSector(p.BootSector, deviceSectorSize);

    const std::uint64_t total = static_cast<std::uint64_t>(PartitionSize(&p));
    if (imageSectors > 0 && lba < imageSectors && total > imageSectors - lba) {
        const std::uint64_t present = imageSectors - lba;
        p.ClaimedSectCount = static_cast<std::int64_t>(total);
        p.SectCount64 = static_cast<std::int64_t>(present);
        p.Entry.SectCount = present <= 0xFFFFFFFFu ? static_cast<std::uint32_t>(present) : 0xFFFFFFFFu;
    }
    return p;
}

}  // namespace brenvale::partitions
