#include "partitions/physical_drv.h"

#include <algorithm>

#include "storage/aligned_buffer.h"
#include "storage/drive_enum.h"
#include "storage/fs_detect.h"
#include "storage/fs_types.h"
#include "storage/le.h"
#include "storage/utf.h"

namespace brenvale::partitions {

namespace {

constexpr std::uint32_t kMaxGptEntries = 128;
constexpr std::uint32_t kMinGptEntrySize = 128;
constexpr std::uint32_t kMaxGptEntrySize = 4096;
// An extended chain longer than this is corrupt; the guard against revisited tables already
// stops loops, this bounds the recursion of a long but acyclic forged chain.
constexpr int kMaxChainDepth = 1024;
std::int64_t capSectors(std::uint64_t v) { return static_cast<std::int64_t>(std::min(v, kMaxSectors)); }

bool byStart(const TPartition* a, const TPartition* b) { return PartitionStart(a) < PartitionStart(b); }

bool noFileSystemType(std::uint8_t t) { return t == storage::kPartTypeEmpty || IsExtendedType(t); }

}  // namespace

TPhysicalDrv::TPhysicalDrv(platform::Platform& os, std::uint8_t DrvNum)
    : Device(std::make_unique<storage::TDevice>(os, DrvNum)), FOs(os) {
    build();
}

TPhysicalDrv::TPhysicalDrv(platform::Platform& os, const std::string& DrvImg, std::uint32_t rawSectorSize)
    : Device(std::make_unique<storage::TDevice>(os, DrvImg, rawSectorSize)), FOs(os) {
    build();
}

TPhysicalDrv::TPhysicalDrv(platform::Platform& os, std::unique_ptr<storage::TDevice> device)
    : Device(std::move(device)), FOs(os) {
    build();
}

TPhysicalDrv::~TPhysicalDrv() = default;

TPartition* TPhysicalDrv::newRecord() {
    FRecords.push_back(std::make_unique<TPartition>());
    return FRecords.back().get();
}

bool TPhysicalDrv::IsInnerExtParti(const TPartition* Parti) const {
    return Parti && IsExtendedType(Parti->Entry.SystemFlag) && Parti != &Partition && Parti->Parent != &Partition;
}

std::string TPhysicalDrv::GptTypeName(const TPartition* P) const {
    if (!P || P->Entry.SystemFlag != storage::kPartTypeGptProtective) return {};
    return std::string(storage::GptTypeName(P->GptTypeGuid));
}

void TPhysicalDrv::build() {
    Partition = TPartition{};
    Partition.Entry.SystemFlag = storage::kPartTypeExtended;
    Partition.Entry.SectCount = static_cast<std::uint32_t>(Device->DeviceParam().TotalPhysSec);
    Partition.BytesPerSector = Device->BytesPerSector();
    PartitionList = {&Partition};

    // Where this disk's partitions are on the system (mount point or device name).
    if (Device->DeviceType() == storage::kDevicePhysical && Device->DeviceNum() >= storage::kFirstPhysicalDrive) {
        const auto disks = FOs.wholeDisks();
        const std::size_t n = Device->DeviceNum() - storage::kFirstPhysicalDrive;
        if (n < disks.size()) {
            FDiskVolumePath = disks[n].mountPoint.empty() ? disks[n].path : disks[n].mountPoint;
            for (auto& p : FOs.partitions()) {
                if (p.parent == disks[n].name) FSystemParts.push_back(std::move(p));
            }
        }
    }

    readTopLevelTable();
    // Removable media, a volume opened on its own and images may hold a file system in sector
    // 0; so may any other block device (USB sticks and cards formatted without a table often
    // say they are fixed disks), when sector 0 is a boot sector.
    if (Partition.Children.empty() &&
        (Device->DeviceParam().MediaAttr == 1 || Device->DeviceType() == storage::kDeviceVolume ||
         sectorZeroHoldsVolume())) {
        addSuperfloppy();
    }
    std::stable_sort(Partition.Children.begin(), Partition.Children.end(), byStart);
    sortList();
    if (Device->DeviceType() == storage::kDeviceImage) clipToImage();
    addFreeSpace();
    sortList();

    const std::vector<TPartition*> records(PartitionList.begin() + 1, PartitionList.end());
    for (TPartition* r : records) {
        if (r->Entry.SystemFlag == storage::kPartTypeEmpty) quickProbe(r);
    }
}

void TPhysicalDrv::sortList() { std::stable_sort(PartitionList.begin() + 1, PartitionList.end(), byStart); }

void TPhysicalDrv::readBootSector(TPartition* rec, std::int64_t lba) {
    const std::uint32_t s = Device->BytesPerSector();
    storage::AlignedBuffer buf;
    buf.reserve(std::max<std::size_t>(s, 512));
    std::fill_n(buf.data(), buf.size(), std::byte{0});
    // Whatever the read returns, the buffer is classified: zeros give an unknown file system.
    if (lba >= 0) Device->Read(static_cast<std::uint64_t>(lba), 1, buf.data());
    rec->BootSector = storage::MakeBootSector(std::span<const std::byte>(buf.data(), 512));
    rec->BytesPerSector = storage::VolumeBytesPerSector(rec->BootSector, s);
}

void TPhysicalDrv::fillRecord(TPartition* rec, const storage::TPartitionEntry& entry, TPartition* parent) {
    *rec = TPartition{};
    rec->Entry = entry;
    rec->Parent = parent;
    rec->BaseLBA = IsInnerExtParti(rec) ? ExtParti_SectNum : PartitionStart(parent);
    rec->BytesPerSector = Device->BytesPerSector();
    if (!noFileSystemType(entry.SystemFlag)) readBootSector(rec, rec->BaseLBA + std::int64_t{entry.SectNum});
}

void TPhysicalDrv::readTopLevelTable() {
    const std::uint64_t sectors = Device->Sectors();
    if (sectors == 0) return;
    std::vector<std::byte> sector(std::max<std::size_t>(Device->BytesPerSector(), 512));
    if (Device->Read(0, 1, sector.data()) < 512 || storage::le16(sector, 510) != storage::kMbrSignature) return;
    if (storage::u8(sector, storage::kMbrEntriesOffset + 4) == storage::kPartTypeGptProtective) {
        readGpt();
    } else {
        readMbrChain(&Partition, 0);
    }
}

void TPhysicalDrv::readMbrChain(TPartition* P, int depth) {
    const std::int64_t table = IsInnerExtParti(P) ? ExtParti_SectNum + std::int64_t{P->Entry.SectNum} : PartitionStart(P);
    const auto sectors = static_cast<std::int64_t>(Device->Sectors());
    if (table < 0 || table >= sectors - 1 || depth > kMaxChainDepth) return;
    // A link that points back to a table already read would loop for ever.
    if (!FTablesRead.insert(table).second) return;

    std::vector<std::byte> sector(std::max<std::size_t>(Device->BytesPerSector(), 512));
    if (Device->Read(static_cast<std::uint64_t>(table), 1, sector.data()) < 512) return;
    if (storage::le16(sector, storage::kMbrSignatureOffset) != storage::kMbrSignature) return;
    std::array<storage::TPartitionEntry, storage::kMbrEntryCount> entries{};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i] = *storage::readRecord<storage::TPartitionEntry>(sector, storage::kMbrEntriesOffset + i * storage::kMbrEntrySize);
        const std::uint8_t active = entries[i].PartiActive;
        if (active != storage::kPartiInactive && active != storage::kPartiActive) return;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        const std::uint8_t type = e.SystemFlag;
        if (IsExtendedType(type) && P->Parent == nullptr && P == &Partition) ExtParti_SectNum = e.SectNum;
        if (type == storage::kPartTypeEmpty) continue;
        TPartition* rec = newRecord();
        fillRecord(rec, e, P);
        // The main table's slots keep their numbers, empty or not; logical ones count on from 5.
        if (P == &Partition) {
            rec->Number = static_cast<std::int32_t>(i + 1);
        } else if (!IsExtendedType(type)) {
            rec->Number = FNextLogical++;
        }
        P->Children.push_back(rec);
        if (!IsExtendedType(type)) GetDriveLetter(rec);
        PartitionList.push_back(rec);
        if (IsExtendedType(type)) {
            readMbrChain(rec, depth + 1);
        } else {
            ++PartitionCount;
        }
    }
}

void TPhysicalDrv::readGpt() {
    const std::uint32_t s = Device->BytesPerSector();
    std::vector<std::byte> header(std::max<std::size_t>(s, 512));
    if (Device->Read(1, 1, header.data()) < 512) return;
    if (!std::equal(storage::kGptSignature.begin(), storage::kGptSignature.end(), header.begin(),
                    [](char c, std::byte b) { return static_cast<std::byte>(c) == b; })) {
        return;
    }
    std::uint32_t n = storage::le32(header, storage::kGptEntryCountOffset);
    if (n == 0) return;
    n = std::min(n, kMaxGptEntries);
    std::uint32_t e = storage::le32(header, storage::kGptEntrySizeOffset);
    if (e < kMinGptEntrySize || e > kMaxGptEntrySize) e = kMinGptEntrySize;
    const std::uint64_t base = static_cast<std::uint64_t>(PartitionStart(&Partition));
    const std::uint64_t array = storage::le64(header, storage::kGptEntryArrayLbaOffset) + base;

    const std::uint64_t want = std::uint64_t{n} * e;
    const auto blocks = static_cast<std::uint32_t>((want + s - 1) / s);
    std::vector<std::byte> buf(std::size_t{blocks} * s);
    std::uint32_t got = Device->Read(array, blocks, buf.data());
    if (got < want) {
        got = Device->Read(array, blocks, buf.data());
        if (got == 0) return;
    }
    const std::span<const std::byte> entries(buf.data(), std::min<std::size_t>(got, buf.size()));
    for (std::uint32_t i = 0; i < n; ++i) {
        const auto entry = storage::readRecord<storage::TGptEntry>(entries, std::size_t{i} * e);
        if (!entry) break;
        const std::uint64_t first = entry->FirstLba, last = entry->LastLba;
        if (first == 0) continue;
        // A reversed or impossible entry is no partition.
        if (last < first || first < base || last >= kMaxSectors) continue;
        TPartition* rec = newRecord();
        rec->Entry.SystemFlag = storage::kPartTypeGptProtective;
        rec->SectNum64 = static_cast<std::int64_t>(first - base);
        rec->Entry.SectNum = static_cast<std::uint32_t>(first - base);
        rec->SectCount64 = static_cast<std::int64_t>(last - first + 1);
        rec->Entry.SectCount = static_cast<std::uint32_t>(last - first + 1);
        rec->BaseLBA = static_cast<std::int64_t>(base);
        rec->Parent = &Partition;
        rec->Primary = true;
        rec->Active = false;
        rec->Attributes = entry->Attributes;
        rec->GptTypeGuid = entry->TypeGuid;
        rec->Number = static_cast<std::int32_t>(i + 1);
        const std::u16string name = storage::gptEntryName(*entry);
        rec->VolLabel = storage::Utf16ToUtf8(name);
        readBootSector(rec, static_cast<std::int64_t>(first));
        GetDriveLetter(rec);
        Partition.Children.push_back(rec);
        PartitionList.push_back(rec);
        ++PartitionCount;
    }
}

bool TPhysicalDrv::sectorZeroHoldsVolume() {
    if (Device->Sectors() == 0) return false;
    std::vector<std::byte> sector(std::max<std::size_t>(Device->BytesPerSector(), 512));
    if (Device->Read(0, 1, sector.data()) < 512) return false;
    return storage::DetectFileSystem(sector) != storage::kFsUnknown;
}

void TPhysicalDrv::addSuperfloppy() {
    storage::TPartitionEntry entry{};
    entry.SystemFlag = storage::kPartTypeFat12;
    TPartition* rec = newRecord();
    fillRecord(rec, entry, &Partition);
    const auto b = std::span<const std::byte>(rec->BootSector.Sector);
    const std::uint8_t fs = rec->BootSector.FileSystemType;
    switch (fs) {
        case storage::kFsFat12:
        case storage::kFsFat16: rec->Entry.SectCount = std::max<std::uint32_t>(storage::le16(b, 19), storage::le32(b, 32)); break;
        case storage::kFsFat32: rec->Entry.SectCount = storage::le32(b, 32); break;
        case storage::kFsNtfs: {
            const std::int64_t total = capSectors(storage::le64(b, 40));
            rec->Entry.SectCount = static_cast<std::uint32_t>(total);
            if (total > 0xFFFFFFFF) rec->SectCount64 = total;
            break;
        }
        case storage::kFsExfat: {
            const std::int64_t length = capSectors(storage::le64(b, 72));
            rec->Entry.SectCount = static_cast<std::uint32_t>(length);
            rec->SectCount64 = length;
            break;
        }
        default: {
            const std::uint64_t sectors = Device->Sectors();
            rec->Entry.SystemFlag = storage::kPartTypeEmpty;
            rec->Entry.SectNum = 0;
            rec->Entry.SectCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0xFFFFFFFFu));
            rec->SectCount64 = static_cast<std::int64_t>(sectors);
            break;
        }
    }
    Partition.Children.push_back(rec);
    PartitionList.push_back(rec);
    if (Device->DeviceType() == storage::kDevicePhysical && fs != storage::kFsUnknown) GetDriveLetter(rec);
}

void TPhysicalDrv::clipToImage() {
    const auto N = static_cast<std::int64_t>(Device->Sectors());
    if (N <= 0) return;
    for (std::size_t i = 1; i < PartitionList.size(); ++i) {
        TPartition* r = PartitionList[i];
        const std::int64_t s = PartitionStart(r), z = PartitionSize(r);
        if (z <= 0) continue;
        if (s >= N) {
            r->ClaimedSectCount = z;
            r->SectCount64 = 0;
            r->Entry.SectCount = 0;
        } else if (z > N - s) {
            r->ClaimedSectCount = z;
            r->SectCount64 = N - s;
            r->Entry.SectCount = N - s <= 0xFFFFFFFF ? static_cast<std::uint32_t>(N - s) : 0xFFFFFFFFu;
        }
    }
}

void TPhysicalDrv::addFreeRecord(TPartition* parent, std::int64_t from, std::int64_t to) {
    TPartition* rec = newRecord();
    storage::TPartitionEntry entry{};
    entry.SystemFlag = storage::kPartTypeEmpty;
    const std::int64_t rel = from - PartitionStart(parent);
    entry.SectNum = static_cast<std::uint32_t>(rel);
    entry.SectCount = static_cast<std::uint32_t>(to - from);
    fillRecord(rec, entry, parent);
    // Free space is always relative to its container, even inside the extended partition.
    rec->BaseLBA = PartitionStart(parent);
    rec->SectNum64 = rel;
    rec->SectCount64 = to - from;
    parent->Children.push_back(rec);
    PartitionList.push_back(rec);
    ++PartitionCount;
}

void TPhysicalDrv::addFreeSpace() {
    const auto sectors = static_cast<std::int64_t>(Device->Sectors());
    const std::int64_t track = Device->DeviceParam().SectorsPerTrack;

    std::int64_t k = track;
    const std::vector<TPartition*> top = Partition.Children;
    for (TPartition* child : top) {
        const std::int64_t s = std::min(PartitionStart(child), sectors);
        if (s - k > kMinFreeSpaceSectors) addFreeRecord(&Partition, k, s);
        k = std::max(k, s + PartitionSize(child));
    }
    if ((sectors - 1) - k > kMinFreeSpaceSectors) addFreeRecord(&Partition, k, sectors - 1);

    const auto ext = std::find_if(top.begin(), top.end(), [](const TPartition* c) { return IsExtendedType(c->Entry.SystemFlag); });
    if (ext == top.end()) return;
    TPartition* extended = *ext;
    std::vector<TPartition*> inner;
    for (std::size_t i = 1; i < PartitionList.size(); ++i) {
        if (PartitionList[i]->Parent != &Partition) inner.push_back(PartitionList[i]);
    }
    std::stable_sort(inner.begin(), inner.end(), byStart);
    k = PartitionStart(extended) + track;
    for (TPartition* r : inner) {
        const std::int64_t s = std::min(PartitionStart(r), sectors);
        if (s - k > kMinFreeSpaceSectors) addFreeRecord(extended, k, s);
        k = IsExtendedType(r->Entry.SystemFlag) ? s + track : s + PartitionSize(r);
    }
    const std::int64_t extEnd = PartitionStart(extended) + PartitionSize(extended);
    if (extEnd - k > kMinFreeSpaceSectors) addFreeRecord(extended, k, extEnd);
    std::stable_sort(extended->Children.begin(), extended->Children.end(), byStart);
}

void TPhysicalDrv::GetDriveLetter(TPartition* Parti) {
    Parti->DriveLetter = 0;
    Parti->VolumePath.clear();
    if (noFileSystemType(Parti->Entry.SystemFlag)) return;
    if (Device->DeviceType() != storage::kDevicePhysical) return;
    const std::int64_t start = PartitionStart(Parti);
    if (start == 0 && Parti->Parent == &Partition && Parti->Entry.SectNum == 0) {
        Parti->VolumePath = FDiskVolumePath;  // a volume without a partition table
        return;
    }
    const std::uint64_t s = Device->BytesPerSector();
    for (const auto& p : FSystemParts) {
        if (p.startByte / s == static_cast<std::uint64_t>(start)) {
            Parti->VolumePath = p.mountPoint.empty() ? p.path : p.mountPoint;
            return;
        }
    }
}

}  // namespace brenvale::partitions
