#pragma once
// Boot sectors of FAT12/16, FAT32, NTFS and exFAT volumes, byte for byte as on disk, and the
// in-memory boot-sector copy that carries its detected file-system code.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "storage/le.h"

namespace brenvale::storage {

inline constexpr std::size_t kBootSectorSize = 512;
inline constexpr std::uint16_t kBootSignature = 0xAA55;
inline constexpr std::size_t kBootSignatureOffset = 510;

#pragma pack(push, 1)

using TArray8 = std::array<char, 8>;

struct TFat16BPB {
    std::uint16_t BytesPerSector;
    std::uint8_t SectorsPerCluster;
    std::uint16_t ReservedSectors;
    std::uint8_t NumberofFATs;
    std::uint16_t RootEntries;
    std::uint16_t SmallSectors;
    std::uint8_t MediaDescriptor;
    std::uint16_t SectorsPerFAT;
    std::uint16_t SectorsPerTrack;
    std::uint16_t NumberofHeads;
    std::uint32_t HiddenSectors;
    std::uint32_t LargeSectors;
};

struct TFat16ExtBPB {
    std::uint8_t PhysicalDriveNumber;
    std::uint8_t Reserved;
    std::uint8_t ExtendedBootSignature;
    std::uint32_t VolumeSerialNumber;
    std::array<char, 11> VolumeLabel;
    TArray8 FileSystemType;  // type label, not the file-system code
};

struct TFat16BootSector {
    std::array<std::uint8_t, 3> JumpInstruction;
    TArray8 OEMID;
    TFat16BPB BPB;
    TFat16ExtBPB ExtBPB;
    std::array<std::uint8_t, 448> BootstrapCode;
    std::uint16_t EndofSectorMarker;
};

// The FAT12/16 block repeated field by field, then the FAT32 fields.
struct TFat32BPB {
    std::uint16_t BytesPerSector;
    std::uint8_t SectorsPerCluster;
    std::uint16_t ReservedSectors;
    std::uint8_t NumberofFATs;
    std::uint16_t RootEntries;
    std::uint16_t SmallSectors;
    std::uint8_t MediaDescriptor;
    std::uint16_t SectorsPerFAT;
    std::uint16_t SectorsPerTrack;
    std::uint16_t NumberofHeads;
    std::uint32_t HiddenSectors;
    std::uint32_t LargeSectors;
    std::uint32_t SectorsPerFAT32;
    std::uint16_t ExtendedFlags;
    std::uint16_t FileSystemVersion;
    std::uint32_t RootClusterNumber;
    std::uint16_t FileSystemInformationSectorNumber;
    std::uint16_t BackupBootSector;
    std::array<std::uint8_t, 12> Reserved;
};

// Same layout as the FAT12/16 extended block, 28 bytes further into the sector.
using TFat32ExtBPB = TFat16ExtBPB;

struct TFat32BootSector {
    std::array<std::uint8_t, 3> JumpInstruction;
    TArray8 OEMID;
    TFat32BPB BPB;
    TFat32ExtBPB ExtBPB;
    std::array<std::uint8_t, 420> BootstrapCode;
    std::uint16_t EndofSectorMarker;
};

struct TNtfsBPB {
    std::uint16_t BytesPerSector;
    std::uint8_t SectorsPerCluster;
    std::uint16_t ReservedSectors;
    std::array<std::uint8_t, 3> reserved1;
    std::uint16_t reserved2;
    std::uint8_t MediaDescriptor;
    std::uint16_t reserved3;
    std::uint16_t SectorsPerTrack;
    std::uint16_t NumberofHeads;
    std::uint32_t HiddenSectors;
    std::uint32_t reserved4;
    std::uint32_t reserved5;
    std::uint64_t TotalSectors;
};

struct TNtfsExtBPB {
    std::uint64_t MFTLogicalClusterNumber;
    std::uint64_t MFTMirrLogicalClusterNumber;
    std::uint32_t ClustersPerFileRecord;  // low byte: clusters, or 2^-n bytes when negative
    std::uint32_t ClustersPerIndexBlock;  // same encoding
    std::uint32_t VolumeSerialNumber;
    std::uint32_t Unknown;
    std::uint32_t Checksum;
};

struct TNtfsBootSector {
    std::array<std::uint8_t, 3> JumpInstruction;
    TArray8 OEMID;
    TNtfsBPB BPB;
    TNtfsExtBPB ExtBPB;
    std::array<std::uint8_t, 426> BootstrapCode;
    std::uint16_t EndofSectorMarker;
};

struct TExfatBPB {
    std::uint64_t PartitionOffset;
    std::uint64_t VolumeLength;
    std::uint32_t FATOffset;
    std::uint32_t FATLength;
    std::uint32_t ClusterHeapOffset;
    std::uint32_t ClusterCount;
    std::uint32_t RootDirectoryFirstCluster;
    std::uint32_t VolumeSerialNumber;
    std::uint16_t FileSystemRevision;
    std::uint16_t VolumeFlags;
    std::uint8_t BytesPerSectorShift;
    std::uint8_t SectorsPerClusterShift;
    std::uint8_t NumberOfFATs;
    std::uint8_t DriveSelect;
    std::uint8_t PercentInUse;
    std::array<std::uint8_t, 7> Reserved;
};

struct TExfatBootSector {
    std::array<std::uint8_t, 3> JumpInstruction;
    TArray8 OEMID;
    std::array<std::uint8_t, 53> MustBeZero;
    TExfatBPB BPB;
    std::array<std::uint8_t, 390> BootstrapCode;
    std::uint16_t EndofSectorMarker;
};

// A boot-sector copy and its file-system code (513 bytes, saved as is in checkpoints). The four
// views copy the bytes out instead of overlaying them, which a union could not do without
// reading an inactive member.
struct TBootSector {
    std::uint8_t FileSystemType;
    std::array<std::byte, kBootSectorSize> Sector;

    TFat16BootSector Fat16BootSect() const { return view<TFat16BootSector>(); }
    TFat32BootSector Fat32BootSect() const { return view<TFat32BootSector>(); }
    TNtfsBootSector NtfsBootSect() const { return view<TNtfsBootSector>(); }
    TExfatBootSector ExfatBootSect() const { return view<TExfatBootSector>(); }

private:
    template <class T>
    T view() const {
        T v;
        std::memcpy(&v, Sector.data(), sizeof(T));
        return v;
    }
};

#pragma pack(pop)

static_assert(sizeof(TFat16BPB) == 25);
static_assert(sizeof(TFat16ExtBPB) == 26);
static_assert(sizeof(TFat16BootSector) == kBootSectorSize);
static_assert(sizeof(TFat32BPB) == 53);
static_assert(sizeof(TFat32BootSector) == kBootSectorSize);
static_assert(sizeof(TNtfsBPB) == 37);
static_assert(sizeof(TNtfsExtBPB) == 36);
static_assert(sizeof(TNtfsBootSector) == kBootSectorSize);
static_assert(sizeof(TExfatBPB) == 56);
static_assert(sizeof(TExfatBootSector) == kBootSectorSize);
static_assert(sizeof(TBootSector) == 1 + kBootSectorSize);

static_assert(offsetof(TFat16BootSector, OEMID) == 3);
static_assert(offsetof(TFat16BootSector, BPB) == 11);
static_assert(offsetof(TFat16BootSector, ExtBPB) == 36);
static_assert(offsetof(TFat16BootSector, ExtBPB) + offsetof(TFat16ExtBPB, FileSystemType) == 54);
static_assert(offsetof(TFat16BootSector, EndofSectorMarker) == kBootSignatureOffset);
static_assert(offsetof(TFat16BPB, SectorsPerFAT) == 22 - 11);
static_assert(offsetof(TFat16BPB, LargeSectors) == 32 - 11);
static_assert(offsetof(TFat32BootSector, ExtBPB) == 64);
static_assert(offsetof(TFat32BPB, SectorsPerFAT32) == 36 - 11);
static_assert(offsetof(TFat32BPB, RootClusterNumber) == 44 - 11);
static_assert(offsetof(TFat32BPB, BackupBootSector) == 50 - 11);
static_assert(offsetof(TFat32BootSector, ExtBPB) + offsetof(TFat32ExtBPB, FileSystemType) == 82);
static_assert(offsetof(TFat32BootSector, EndofSectorMarker) == kBootSignatureOffset);
static_assert(offsetof(TNtfsBPB, TotalSectors) == 40 - 11);
static_assert(offsetof(TNtfsBootSector, ExtBPB) == 48);
static_assert(offsetof(TNtfsExtBPB, ClustersPerFileRecord) == 64 - 48);
static_assert(offsetof(TNtfsBootSector, EndofSectorMarker) == kBootSignatureOffset);
static_assert(offsetof(TExfatBootSector, BPB) == 64);
static_assert(offsetof(TExfatBPB, ClusterHeapOffset) == 88 - 64);
static_assert(offsetof(TExfatBPB, BytesPerSectorShift) == 108 - 64);
static_assert(offsetof(TExfatBootSector, EndofSectorMarker) == kBootSignatureOffset);

}  // namespace brenvale::storage
