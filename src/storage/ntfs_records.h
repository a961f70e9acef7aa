#pragma once
// NTFS file record and attribute headers as on disk, and the in-memory attribute and run list
// the walkers build from them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brenvale::storage {

inline constexpr std::array<char, 4> kFileRecordSignature{'F', 'I', 'L', 'E'};
inline constexpr std::uint32_t kMinFileRecordSize = 1024;
inline constexpr std::uint16_t kFileRecordInUse = 0x0001;
inline constexpr std::uint16_t kFileRecordDirectory = 0x0002;
inline constexpr std::size_t kUpdateSequenceStride = 512;

inline constexpr std::uint32_t kAttrStandardInformation = 0x10;
inline constexpr std::uint32_t kAttrFileName = 0x30;
inline constexpr std::uint32_t kAttrData = 0x80;
inline constexpr std::uint32_t kAttrIndexRoot = 0x90;
inline constexpr std::uint32_t kAttrIndexAllocation = 0xA0;
inline constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;
inline constexpr std::uint16_t kAttrFlagCompressed = 0x0001;

// Where the attribute name starts, behind the fixed headers.
inline constexpr std::size_t kResidentNameOffset = 24;
inline constexpr std::size_t kNonResidentNameOffset = 64;
// Where the name starts inside a $FILE_NAME value.
inline constexpr std::size_t kFileNameOffset = 66;

#pragma pack(push, 1)

using TFilerecordnumber = std::array<std::uint8_t, 6>;

struct Tfilereference {
    TFilerecordnumber FileRecordNumber;
    std::uint16_t SequenceNumber;

    // The 48-bit little-endian record number.
    std::uint64_t recordNumber() const {
        std::uint64_t n = 0;
        for (std::size_t i = FileRecordNumber.size(); i-- > 0;) n = (n << 8) | FileRecordNumber[i];
        return n;
    }
};

// Bits above 48 of `recordNumber` are dropped, as the field cannot hold them.
inline Tfilereference makeFileReference(std::uint64_t recordNumber, std::uint16_t sequence) {
    Tfilereference ref{};
    for (auto& b : ref.FileRecordNumber) {
        b = static_cast<std::uint8_t>(recordNumber & 0xFF);
        recordNumber >>= 8;
    }
    ref.SequenceNumber = sequence;
    return ref;
}

// 100-nanosecond intervals since 1601-01-01 UTC.
using TNtfsTime = std::uint64_t;

struct TFileRecordHeader {
    std::array<char, 4> signature;  // "FILE"
    std::uint16_t updateSequenceOffset;
    std::uint16_t updateSequenceCount;  // 1 + number of 512-byte strides
    std::uint64_t logSequenceNumber;
    std::uint16_t sequenceNumber;
    std::uint16_t hardLinkCount;
    std::uint16_t firstAttributeOffset;
    std::uint16_t flags;
    std::uint32_t bytesInUse;
    std::uint32_t bytesAllocated;
    Tfilereference baseRecord;
    std::uint16_t nextAttributeId;
    std::uint16_t recordNumberHigh;  // bits 32-47 of the record number
    std::uint32_t recordNumber;      // bits 0-31; both only where the update sequence starts at 48
};

struct TStdHead {
    std::uint32_t AttributeType;
    std::uint32_t length;
    std::uint8_t NonResidentFlag;
    std::uint8_t NameLength;
    std::uint16_t OffsetToTheContentPart;  // offset of the attribute name
    std::uint16_t CompressedFlag;
    std::uint16_t Identificator;
};

struct TResidentHead {
    std::uint32_t LengthOfTheStream;
    std::uint16_t OffsetToTheStream;
    std::uint16_t IndexedFlag;
};

struct TNonResidentHead {
    std::uint64_t StartingVCN;
    std::uint64_t LastVCN;
    std::uint16_t OffsetToTheDataRuns;
    std::uint16_t CompressionEngine;
    std::uint32_t Padding;
    std::uint64_t AllocatedSizeOfTheAttribute;
    std::uint64_t RealSizeOfTheAttribute;
    std::uint64_t InitializedDataSizeOfTheStream;
};

struct TFileNameAttrHead {
    Tfilereference FileReferenceOfParentDir;
    TNtfsTime FileCreateTime;
    TNtfsTime FileAlteredTime;
    TNtfsTime MFTChangedTime;
    TNtfsTime FileReadTime;
    std::uint64_t AllocatedSizeOfTheFile;
    std::uint64_t RealSizeOfTheFile;
    std::uint32_t Flags;
    std::uint32_t UsedbyEAsandReparse;
    std::uint8_t LengthOfFileName;
    std::uint8_t FileNameSpace;  // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
};

#pragma pack(pop)

static_assert(sizeof(Tfilereference) == 8);
static_assert(sizeof(TNtfsTime) == 8);
static_assert(sizeof(TFileRecordHeader) == 48);
static_assert(offsetof(TFileRecordHeader, updateSequenceOffset) == 4);
static_assert(offsetof(TFileRecordHeader, sequenceNumber) == 16);
static_assert(offsetof(TFileRecordHeader, firstAttributeOffset) == 20);
static_assert(offsetof(TFileRecordHeader, flags) == 22);
static_assert(offsetof(TFileRecordHeader, bytesAllocated) == 28);
static_assert(offsetof(TFileRecordHeader, baseRecord) == 32);
static_assert(offsetof(TFileRecordHeader, recordNumberHigh) == 42);
static_assert(offsetof(TFileRecordHeader, recordNumber) == 44);
static_assert(sizeof(TStdHead) == 16);
static_assert(offsetof(TStdHead, NonResidentFlag) == 8);
static_assert(offsetof(TStdHead, Identificator) == 14);
static_assert(sizeof(TResidentHead) == 8);
static_assert(sizeof(TNonResidentHead) == 48);
static_assert(offsetof(TNonResidentHead, OffsetToTheDataRuns) == 32 - 16);
static_assert(offsetof(TNonResidentHead, RealSizeOfTheAttribute) == 48 - 16);
static_assert(sizeof(TFileNameAttrHead) == kFileNameOffset);
static_assert(offsetof(TFileNameAttrHead, AllocatedSizeOfTheFile) == 40);
static_assert(offsetof(TFileNameAttrHead, Flags) == 56);
static_assert(offsetof(TFileNameAttrHead, LengthOfFileName) == 64);

// One decoded run: absolute first cluster (sum of the relative offsets) and length in clusters.
struct TRun {
    std::int64_t offset = 0;
    std::int64_t clusnum = 0;
    bool operator==(const TRun&) const = default;
};
using trunlist = std::vector<TRun>;

// One attribute as extracted from a file record; the optional headers stand in for the
// separately allocated copies, so exactly one of them is set for a well-formed attribute.
struct TAttribute {
    TStdHead StdHead{};
    std::optional<TResidentHead> residenthead;
    std::optional<TNonResidentHead> nonresidenthead;
    std::u16string attributename;
    std::vector<std::byte> attributebody;  // resident value, or the raw run list
};

}  // namespace brenvale::storage
