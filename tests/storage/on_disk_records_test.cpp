// Each packed record is read from a byte pattern in which every position holds a different
// value, so a field at the wrong offset or of the wrong width reads something else than the
// little-endian value found at its documented offset.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "storage/boot_sectors.h"
#include "storage/drive_params.h"
#include "storage/fat_dir_entry.h"
#include "storage/image_descriptor.h"
#include "storage/le.h"
#include "storage/ntfs_records.h"
#include "storage/partition_table.h"

namespace brenvale::storage {
namespace {

using Bytes = std::span<const std::byte>;

std::array<std::byte, 512> pattern() {
    std::array<std::byte, 512> p{};
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::byte>(i * 37 + i / 256 + 1);
    return p;
}

template <class T>
T rec(Bytes s) {
    return readRecord<T>(s, 0).value();
}

std::uint64_t readWidth(Bytes s, std::size_t off, std::size_t width) {
    switch (width) {
        case 1:
            return u8(s, off);
        case 2:
            return le16(s, off);
        case 4:
            return le32(s, off);
        default:
            return le64(s, off);
    }
}

struct FieldCase {
    const char* name;
    std::size_t offset;
    std::size_t width;
    std::uint64_t (*read)(Bytes);
};

struct ArrayCase {
    const char* name;
    std::size_t offset;
    std::size_t width;
    std::vector<std::byte> (*read)(Bytes);
};

#define FIELD(T, member, off, width)                                                          \
    FieldCase {                                                                               \
#T "." #member, off, width, [](Bytes s) -> std::uint64_t { return rec<T>(s).member; } \
    }

template <class A>
std::vector<std::byte> arrayBytes(const A& a) {
    const auto b = recordBytes(a);
    return {b.begin(), b.end()};
}

#define ARRAY(T, member, off, width)                                                     \
    ArrayCase {                                                                          \
#T "." #member, off, width, [](Bytes s) { return arrayBytes(rec<T>(s).member); } \
    }

void checkFields(const std::vector<FieldCase>& cases) {
    const auto p = pattern();
    for (const auto& c : cases) {
        EXPECT_EQ(c.read(p), readWidth(p, c.offset, c.width)) << c.name;
    }
}

void checkArrays(const std::vector<ArrayCase>& cases) {
    const auto p = pattern();
    for (const auto& c : cases) {
        const auto expected = Bytes(p).subspan(c.offset, c.width);
        const auto got = c.read(p);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin(), expected.end())) << c.name;
    }
}

TEST(OnDiskRecords, BootSectorFieldsSitAtTheirOffsets) {
    checkFields({
        FIELD(TFat16BootSector, BPB.BytesPerSector, 11, 2),
        FIELD(TFat16BootSector, BPB.SectorsPerCluster, 13, 1),
        FIELD(TFat16BootSector, BPB.ReservedSectors, 14, 2),
        FIELD(TFat16BootSector, BPB.NumberofFATs, 16, 1),
        FIELD(TFat16BootSector, BPB.RootEntries, 17, 2),
        FIELD(TFat16BootSector, BPB.SmallSectors, 19, 2),
        FIELD(TFat16BootSector, BPB.MediaDescriptor, 21, 1),
        FIELD(TFat16BootSector, BPB.SectorsPerFAT, 22, 2),
        FIELD(TFat16BootSector, BPB.SectorsPerTrack, 24, 2),
        FIELD(TFat16BootSector, BPB.NumberofHeads, 26, 2),
        FIELD(TFat16BootSector, BPB.HiddenSectors, 28, 4),
        FIELD(TFat16BootSector, BPB.LargeSectors, 32, 4),
        FIELD(TFat16BootSector, ExtBPB.PhysicalDriveNumber, 36, 1),
        FIELD(TFat16BootSector, ExtBPB.ExtendedBootSignature, 38, 1),
        FIELD(TFat16BootSector, ExtBPB.VolumeSerialNumber, 39, 4),
        FIELD(TFat16BootSector, EndofSectorMarker, 510, 2),

        FIELD(TFat32BootSector, BPB.BytesPerSector, 11, 2),
        FIELD(TFat32BootSector, BPB.LargeSectors, 32, 4),
        FIELD(TFat32BootSector, BPB.SectorsPerFAT32, 36, 4),
        FIELD(TFat32BootSector, BPB.ExtendedFlags, 40, 2),
        FIELD(TFat32BootSector, BPB.FileSystemVersion, 42, 2),
        FIELD(TFat32BootSector, BPB.RootClusterNumber, 44, 4),
        FIELD(TFat32BootSector, BPB.FileSystemInformationSectorNumber, 48, 2),
        FIELD(TFat32BootSector, BPB.BackupBootSector, 50, 2),
        FIELD(TFat32BootSector, ExtBPB.PhysicalDriveNumber, 64, 1),
        FIELD(TFat32BootSector, ExtBPB.ExtendedBootSignature, 66, 1),
        FIELD(TFat32BootSector, ExtBPB.VolumeSerialNumber, 67, 4),
        FIELD(TFat32BootSector, EndofSectorMarker, 510, 2),

        FIELD(TNtfsBootSector, BPB.BytesPerSector, 11, 2),
        FIELD(TNtfsBootSector, BPB.SectorsPerCluster, 13, 1),
        FIELD(TNtfsBootSector, BPB.ReservedSectors, 14, 2),
        FIELD(TNtfsBootSector, BPB.MediaDescriptor, 21, 1),
        FIELD(TNtfsBootSector, BPB.HiddenSectors, 28, 4),
        FIELD(TNtfsBootSector, BPB.TotalSectors, 40, 8),
        FIELD(TNtfsBootSector, ExtBPB.MFTLogicalClusterNumber, 48, 8),
        FIELD(TNtfsBootSector, ExtBPB.MFTMirrLogicalClusterNumber, 56, 8),
        FIELD(TNtfsBootSector, ExtBPB.ClustersPerFileRecord, 64, 4),
        FIELD(TNtfsBootSector, ExtBPB.ClustersPerIndexBlock, 68, 4),
        FIELD(TNtfsBootSector, ExtBPB.VolumeSerialNumber, 72, 4),
        FIELD(TNtfsBootSector, ExtBPB.Unknown, 76, 4),
        FIELD(TNtfsBootSector, ExtBPB.Checksum, 80, 4),
        FIELD(TNtfsBootSector, EndofSectorMarker, 510, 2),

        FIELD(TExfatBootSector, BPB.PartitionOffset, 64, 8),
        FIELD(TExfatBootSector, BPB.VolumeLength, 72, 8),
        FIELD(TExfatBootSector, BPB.FATOffset, 80, 4),
        FIELD(TExfatBootSector, BPB.FATLength, 84, 4),
        FIELD(TExfatBootSector, BPB.ClusterHeapOffset, 88, 4),
        FIELD(TExfatBootSector, BPB.ClusterCount, 92, 4),
        FIELD(TExfatBootSector, BPB.RootDirectoryFirstCluster, 96, 4),
        FIELD(TExfatBootSector, BPB.VolumeSerialNumber, 100, 4),
        FIELD(TExfatBootSector, BPB.FileSystemRevision, 104, 2),
        FIELD(TExfatBootSector, BPB.VolumeFlags, 106, 2),
        FIELD(TExfatBootSector, BPB.BytesPerSectorShift, 108, 1),
        FIELD(TExfatBootSector, BPB.SectorsPerClusterShift, 109, 1),
        FIELD(TExfatBootSector, BPB.NumberOfFATs, 110, 1),
        FIELD(TExfatBootSector, BPB.DriveSelect, 111, 1),
        FIELD(TExfatBootSector, BPB.PercentInUse, 112, 1),
        FIELD(TExfatBootSector, EndofSectorMarker, 510, 2),
    });
    checkArrays({
        ARRAY(TFat16BootSector, JumpInstruction, 0, 3),
        ARRAY(TFat16BootSector, OEMID, 3, 8),
        ARRAY(TFat16BootSector, ExtBPB.VolumeLabel, 43, 11),
        ARRAY(TFat16BootSector, ExtBPB.FileSystemType, 54, 8),
        ARRAY(TFat16BootSector, BootstrapCode, 62, 448),
        ARRAY(TFat32BootSector, ExtBPB.VolumeLabel, 71, 11),
        ARRAY(TFat32BootSector, ExtBPB.FileSystemType, 82, 8),
        ARRAY(TFat32BootSector, BootstrapCode, 90, 420),
        ARRAY(TNtfsBootSector, OEMID, 3, 8),
        ARRAY(TNtfsBootSector, BootstrapCode, 84, 426),
        ARRAY(TExfatBootSector, MustBeZero, 11, 53),
        ARRAY(TExfatBootSector, BPB.Reserved, 113, 7),
        ARRAY(TExfatBootSector, BootstrapCode, 120, 390),
    });
}

TEST(OnDiskRecords, BootSectorViewsReadTheSameBytes) {
    TBootSector boot{};
    boot.Sector = pattern();
    const Bytes p = boot.Sector;
    // Packed fields are copied out before comparing: gtest binds references to its arguments.
    const std::uint16_t fat16 = boot.Fat16BootSect().BPB.SectorsPerFAT;
    const std::uint32_t fat32 = boot.Fat32BootSect().BPB.SectorsPerFAT32;
    const std::uint64_t mft = boot.NtfsBootSect().ExtBPB.MFTLogicalClusterNumber;
    const std::uint32_t heap = boot.ExfatBootSect().BPB.ClusterHeapOffset;
    EXPECT_EQ(fat16, le16(p, 22));
    EXPECT_EQ(fat32, le32(p, 36));
    EXPECT_EQ(mft, le64(p, 48));
    EXPECT_EQ(heap, le32(p, 88));
}

TEST(OnDiskRecords, DirectoryEntryFieldsSitAtTheirOffsets) {
    checkFields({
        FIELD(TFDTEntry, attribute, 11, 1),
        FIELD(TFDTEntry, reserved, 12, 2),
        FIELD(TFDTEntry, createtime, 14, 2),
        FIELD(TFDTEntry, createdate, 16, 2),
        FIELD(TFDTEntry, accessdate, 18, 2),
        FIELD(TFDTEntry, reserved1, 20, 2),
        FIELD(TFDTEntry, updatetime, 22, 2),
        FIELD(TFDTEntry, updatedate, 24, 2),
        FIELD(TFDTEntry, firstclusternumber, 26, 2),
        FIELD(TFDTEntry, filesize, 28, 4),
        FIELD(TFDT32Entry, hi1stclusternumber, 20, 2),
        FIELD(TFDT32Entry, lo1stclusternumber, 26, 2),
        FIELD(TFDT32Entry, filesize, 28, 4),
    });
    checkArrays({
        ARRAY(TFDTEntry, filename, 0, 8),
        ARRAY(TFDTEntry, fileext, 8, 3),
    });
    const auto p = pattern();
    EXPECT_EQ(rec<TFDT32Entry>(p).firstCluster(), (std::uint32_t{le16(p, 20)} << 16) | le16(p, 26));
}

TEST(OnDiskRecords, NtfsHeaderFieldsSitAtTheirOffsets) {
    checkFields({
        FIELD(TFileRecordHeader, updateSequenceOffset, 4, 2),
        FIELD(TFileRecordHeader, updateSequenceCount, 6, 2),
        FIELD(TFileRecordHeader, sequenceNumber, 16, 2),
        FIELD(TFileRecordHeader, firstAttributeOffset, 20, 2),
        FIELD(TFileRecordHeader, flags, 22, 2),
        FIELD(TFileRecordHeader, bytesInUse, 24, 4),
        FIELD(TFileRecordHeader, bytesAllocated, 28, 4),
        FIELD(TFileRecordHeader, baseRecord.SequenceNumber, 38, 2),
        FIELD(TFileRecordHeader, recordNumber, 44, 4),

        FIELD(TStdHead, AttributeType, 0, 4),
        FIELD(TStdHead, length, 4, 4),
        FIELD(TStdHead, NonResidentFlag, 8, 1),
        FIELD(TStdHead, NameLength, 9, 1),
        FIELD(TStdHead, OffsetToTheContentPart, 10, 2),
        FIELD(TStdHead, CompressedFlag, 12, 2),
        FIELD(TStdHead, Identificator, 14, 2),

        // The resident and non-resident headers follow TStdHead at attribute offset 16.
        FIELD(TResidentHead, LengthOfTheStream, 16 - 16, 4),
        FIELD(TResidentHead, OffsetToTheStream, 20 - 16, 2),
        FIELD(TResidentHead, IndexedFlag, 22 - 16, 2),
        FIELD(TNonResidentHead, StartingVCN, 16 - 16, 8),
        FIELD(TNonResidentHead, LastVCN, 24 - 16, 8),
        FIELD(TNonResidentHead, OffsetToTheDataRuns, 32 - 16, 2),
        FIELD(TNonResidentHead, CompressionEngine, 34 - 16, 2),
        FIELD(TNonResidentHead, Padding, 36 - 16, 4),
        FIELD(TNonResidentHead, AllocatedSizeOfTheAttribute, 40 - 16, 8),
        FIELD(TNonResidentHead, RealSizeOfTheAttribute, 48 - 16, 8),
        FIELD(TNonResidentHead, InitializedDataSizeOfTheStream, 56 - 16, 8),

        FIELD(TFileNameAttrHead, FileReferenceOfParentDir.SequenceNumber, 6, 2),
        FIELD(TFileNameAttrHead, FileCreateTime, 8, 8),
        FIELD(TFileNameAttrHead, FileAlteredTime, 16, 8),
        FIELD(TFileNameAttrHead, MFTChangedTime, 24, 8),
        FIELD(TFileNameAttrHead, FileReadTime, 32, 8),
        FIELD(TFileNameAttrHead, AllocatedSizeOfTheFile, 40, 8),
        FIELD(TFileNameAttrHead, RealSizeOfTheFile, 48, 8),
        FIELD(TFileNameAttrHead, Flags, 56, 4),
        FIELD(TFileNameAttrHead, UsedbyEAsandReparse, 60, 4),
        FIELD(TFileNameAttrHead, LengthOfFileName, 64, 1),
        FIELD(TFileNameAttrHead, FileNameSpace, 65, 1),
    });
    checkArrays({ARRAY(TFileRecordHeader, signature, 0, 4)});

    const auto p = pattern();
    const std::uint64_t low48 = 0xFFFF'FFFF'FFFFull;
    EXPECT_EQ(rec<TFileRecordHeader>(p).baseRecord.recordNumber(), le64(p, 32) & low48);
    EXPECT_EQ(rec<TFileNameAttrHead>(p).FileReferenceOfParentDir.recordNumber(),
              le64(p, 0) & low48);
}

TEST(OnDiskRecords, FileReferenceKeepsFortyEightBits) {
    struct Case {
        std::uint64_t number;
        std::uint16_t sequence;
        std::uint64_t expected;
    } cases[] = {
        {0, 0, 0},
        {5, 1, 5},
        {0x1234'5678'9ABCull, 0xFFFF, 0x1234'5678'9ABCull},
        {0xFFFF'FFFF'FFFFull, 7, 0xFFFF'FFFF'FFFFull},
        {0xABCD'0000'0000'0001ull, 2, 1},  // bits above 48 cannot be stored
    };
    for (const auto& c : cases) {
        const Tfilereference ref = makeFileReference(c.number, c.sequence);
        std::array<std::byte, 8> raw{};
        ASSERT_TRUE(writeRecord(raw, 0, ref));
        EXPECT_EQ(le64(raw, 0) & 0xFFFF'FFFF'FFFFull, c.expected) << c.number;
        EXPECT_EQ(le16(raw, 6), c.sequence) << c.number;
        EXPECT_EQ(rec<Tfilereference>(raw).recordNumber(), c.expected) << c.number;
    }
}

TEST(OnDiskRecords, PartitionAndDeviceRecordFieldsSitAtTheirOffsets) {
    checkFields({
        FIELD(TPartitionEntry, PartiActive, 0, 1),
        FIELD(TPartitionEntry, Header0, 1, 1),
        FIELD(TPartitionEntry, SectCylin0, 2, 2),
        FIELD(TPartitionEntry, SystemFlag, 4, 1),
        FIELD(TPartitionEntry, Header1, 5, 1),
        FIELD(TPartitionEntry, SectCylin1, 6, 2),
        FIELD(TPartitionEntry, SectNum, 8, 4),
        FIELD(TPartitionEntry, SectCount, 12, 4),

        FIELD(TGptEntry, FirstLba, 32, 8),
        FIELD(TGptEntry, LastLba, 40, 8),
        FIELD(TGptEntry, Attributes, 48, 8),

        FIELD(TDriveParams, MediaType, 0, 2),
        FIELD(TDriveParams, MediaAttr, 2, 2),
        FIELD(TDriveParams, Heads, 4, 4),
        FIELD(TDriveParams, TracksPerHead, 8, 4),
        FIELD(TDriveParams, SectorsPerTrack, 12, 4),
        FIELD(TDriveParams, BytesPerSector, 16, 4),
        FIELD(TDriveParams, TotalPhysSec, 20, 8),

        FIELD(TImageDescriptor, Params.MediaType, 20, 2),
        FIELD(TImageDescriptor, Params.TotalPhysSec, 40, 8),
        FIELD(TImageDescriptor, SourceType, 48, 1),
        FIELD(TImageDescriptor, LBA0, 49, 8),
        FIELD(TImageDescriptor, Sectors, 57, 8),
        FIELD(TImageDescriptor, Compressed, 65, 1),
        FIELD(TImageDescriptor, BytesPerSector, 66, 4),
        FIELD(TImageDescriptor, CRC, 70, 4),
    });
    checkArrays({
        ARRAY(TGptEntry, TypeGuid, 0, 16),
        ARRAY(TGptEntry, UniqueGuid, 16, 16),
        ARRAY(TGptEntry, Name, 56, 72),
        ARRAY(TImageDescriptor, Version, 0, 20),
        ARRAY(TImageDescriptor, Reserved, 74, 438),
    });
}

TEST(OnDiskRecords, PartitionTableSectorLayout) {
    // A table sector with a FAT32 entry in the second slot.
    std::array<std::byte, kMbrSectorSize> sector{};
    const std::size_t slot = 446 + 16;
    sector[slot] = std::byte{0x80};
    sector[slot + 4] = std::byte{0x0B};
    ASSERT_TRUE(putLe32(sector, slot + 8, 2048));
    ASSERT_TRUE(putLe32(sector, slot + 12, 0x0010'0000));
    ASSERT_TRUE(putLe16(sector, 510, 0xAA55));

    EXPECT_EQ(le16(sector, kMbrSignatureOffset), kMbrSignature);
    const auto e = readRecord<TPartitionEntry>(sector, kMbrEntriesOffset + 1 * kMbrEntrySize);
    ASSERT_TRUE(e.has_value());
    const std::uint32_t first = e->SectNum, count = e->SectCount;
    EXPECT_EQ(e->PartiActive, kPartiActive);
    EXPECT_EQ(e->SystemFlag, kPartTypeFat32);
    EXPECT_EQ(first, 2048u);
    EXPECT_EQ(count, 0x0010'0000u);
    const auto last = readRecord<TPartitionEntry>(sector, kMbrEntriesOffset + 3 * kMbrEntrySize);
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(last->SystemFlag, kPartTypeEmpty);
    EXPECT_FALSE(readRecord<TPartitionEntry>(sector, kMbrSignatureOffset).has_value());
}

}  // namespace
}  // namespace brenvale::storage
