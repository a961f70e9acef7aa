#include "partitions/partition.h"

namespace brenvale::partitions {

std::int64_t PartitionStart(const TPartition* p) {
    if (!p) return 0;
    return p->BaseLBA + (p->SectNum64 != 0 ? p->SectNum64 : std::int64_t{p->Entry.SectNum});
}

std::int64_t PartitionSize(const TPartition* p) {
    if (!p) return 0;
    return p->SectCount64 > 0 ? p->SectCount64 : std::int64_t{p->Entry.SectCount};
}

bool PartitionHidden(const TPartition* p) {
    if (!p) return false;
    constexpr std::uint64_t kGptHidden = std::uint64_t{1} << 62;
    constexpr std::uint64_t kGptNoDriveLetter = std::uint64_t{1} << 63;
    return (p->Entry.SystemFlag & 0x10) != 0 || (p->Attributes & (kGptHidden | kGptNoDriveLetter)) != 0;
}

bool IsExtendedType(std::uint8_t systemFlag) {
    return systemFlag == storage::kPartTypeExtended || systemFlag == storage::kPartTypeExtendedLba;
}

}  // namespace brenvale::partitions
