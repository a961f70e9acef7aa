#include "app/properties.h"

#include <fmt/format.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <limits>

#include "app/date_texts.h"
#include "app/health_texts.h"
#include "app/volume_texts.h"
#include "storage/format_size.h"
#include "storage/fs_types.h"

namespace brenvale::app {

namespace {

inline constexpr char kFieldName[] = "Name";
inline constexpr char kFieldDeviceName[] = "Device Name";
inline constexpr char kFieldDeviceType[] = "Device Type";
inline constexpr char kFieldHealth[] = "Health";
inline constexpr char kFieldCapacity[] = "Capacity";
inline constexpr char kFieldHeads[] = "Heads";
inline constexpr char kFieldTracksPerHead[] = "Tracks/Head";
inline constexpr char kFieldSectorsPerTrack[] = "Sectors/Track";
inline constexpr char kFieldBytesPerSector[] = "Bytes/Sector";
inline constexpr char kFieldTotalSectors[] = "Total Sectors";
inline constexpr char kFieldDriveName[] = "Drive Name";
inline constexpr char kFieldDriveType[] = "Drive Type";
inline constexpr char kFieldSerial[] = "Serial";
inline constexpr char kFieldFileSystem[] = "File System";
inline constexpr char kFieldTrim[] = "TRIM";
inline constexpr char kFieldType[] = "Type";
inline constexpr char kFieldCreated[] = "Created";
inline constexpr char kFieldModified[] = "Modified";
inline constexpr char kFieldAccessed[] = "Accessed";
inline constexpr char kFieldAttributes[] = "Attributes";
inline constexpr char kFieldSize[] = "Size";

inline constexpr char kDriveNameFormat[] = "{} ({})";
inline constexpr char kClaimedCapacityFormat[] = "{} in image of {} claimed";
inline constexpr char kNoLabel[] = "---";
inline constexpr char kNoVolumePath[] = " ";

// Attribute letters in the order shown; NTFS adds the compressed flag.
struct AttributeLetter {
    std::uint32_t bit;
    char letter;
};
constexpr AttributeLetter kAttributeLetters[] = {{0x01, 'R'}, {0x04, 'S'}, {0x20, 'A'}, {0x02, 'H'}};
constexpr AttributeLetter kNtfsCompressed{0x800, 'C'};

using Rows = std::vector<PropertyRow>;

void blank(Rows& rows) { rows.push_back({}); }

// Sectors times sector size, held at the largest size the text can show.
std::int64_t bytesOf(std::uint64_t sectors, std::uint32_t sectorSize) {
    constexpr auto kMost = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (sectorSize != 0 && sectors > kMost / sectorSize) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(sectors * sectorSize);
}

std::string attributeText(std::uint32_t flags, bool ntfs) {
    std::string s;
    for (const AttributeLetter& a : kAttributeLetters) {
        if (flags & a.bit) s += a.letter;
    }
    if (ntfs && (flags & kNtfsCompressed.bit)) s += kNtfsCompressed.letter;
    return s;
}

Rows computerRows() { return {{kFieldName, kMyComputerText}}; }

// A physical drive, or with `image` a drive image named by the node's text.
Rows driveRows(const TreeNode& node, bool image, const health::HealthCache* health) {
    if (!node.Drive || !node.Drive->Device) return {};
    const storage::TDevice& d = *node.Drive->Device;
    const storage::TDriveParams p = d.DeviceParam();
    Rows rows;
    rows.push_back({kFieldDeviceName, image ? node.Text : d.Model});
    rows.push_back({kFieldDeviceType, std::string(image ? std::string_view(kDriveImageFileText) : DiskTypeText(d))});
    blank(rows);
    if (!image) rows.push_back({kFieldHealth, HealthText(health, d.DeviceNum())});
    rows.push_back({kFieldCapacity, storage::FormatSize(bytesOf(p.TotalPhysSec, d.BytesPerSector()))});
    // The geometry query keeps the head count in TracksPerHead and the cylinders in Heads.
    rows.push_back({kFieldHeads, std::to_string(p.TracksPerHead)});
    rows.push_back({kFieldTracksPerHead, std::to_string(p.Heads)});
    rows.push_back({kFieldSectorsPerTrack, std::to_string(p.SectorsPerTrack)});
    rows.push_back({kFieldBytesPerSector, std::to_string(p.BytesPerSector)});
    rows.push_back({kFieldTotalSectors, std::to_string(p.TotalPhysSec)});
    return rows;
}

std::string capacityText(const partitions::TPartition& p) {
    const std::string size =
        storage::FormatSize(bytesOf(static_cast<std::uint64_t>(partitions::PartitionSize(&p)), p.BytesPerSector));
    if (p.ClaimedSectCount <= 0) return size;
    const std::string claimed =
        storage::FormatSize(bytesOf(static_cast<std::uint64_t>(p.ClaimedSectCount), p.BytesPerSector));
    return fmt::format(kClaimedCapacityFormat, size, claimed);
}

// A volume, partition, free-space or whole-disk node.
Rows volumeRows(const TreeNode& node, const health::HealthCache* health) {
    const scan::TUndelete* s = ScanOf(&node);
    if (!s) return {};
    const partitions::TPartition& p = s->Partition();
    const bool whole = s->FWholeDiskObject;
    const std::string& label = s->VolumeLabel();
    Rows rows;
    rows.push_back({kFieldDriveName, fmt::format(kDriveNameFormat, label.empty() ? kNoLabel : label,
                                                 whole ? std::string(kNoVolumePath) : PartitionPlace(p))});
    rows.push_back({kFieldDriveType, std::string(VolumeTypeText(node.Kind, *s))});
    blank(rows);
    rows.push_back({kFieldCapacity, capacityText(p)});
    rows.push_back({kFieldSerial, whole ? std::string{} : VolumeSerialText(p.BootSector)});
    rows.push_back(
        {kFieldFileSystem, whole ? std::string{} : std::string(FileSystemName(p.BootSector.FileSystemType))});
    blank(rows);
    rows.push_back({kFieldTrim, TrimText(health, *s)});
    return rows;
}

// FAT12/16, FAT32 and exFAT entries keep their times and attributes at the same places in
// both readings of the directory entry.
template <class Record>
void dosEntryRows(const Record& d, Rows& rows) {
    rows.push_back({kFieldCreated, DosDateTimeText(d.createdate, d.createtime)});
    rows.push_back({kFieldModified, DosDateTimeText(d.updatedate, d.updatetime)});
    rows.push_back({kFieldAccessed, DosDateText(d.accessdate)});
    rows.push_back({kFieldAttributes, attributeText(d.attribute, false)});
}

// Times, attributes and, for a file, the size of one entry of the scan.
// `size`: the file's bytes when the scan object's own records do not give them.
void entryRows(const scan::TUndelete& s, const scan::TScanEntry* e, bool file, Rows& rows,
               std::optional<std::uint64_t> size = std::nullopt) {
    switch (e->Kind()) {
        case scan::EntryKind::Ntfs: {
            const storage::TFileNameAttrHead h = scan::AsNtfs(e)->head;
            rows.push_back({kFieldCreated, FileTimeText(h.FileCreateTime)});
            rows.push_back({kFieldModified, FileTimeText(h.FileAlteredTime)});
            rows.push_back({kFieldAccessed, FileTimeText(h.FileReadTime)});
            rows.push_back({kFieldAttributes, attributeText(h.Flags, true)});
            break;
        }
        case scan::EntryKind::Fat32: {
            const storage::TFDT32Entry d = scan::AsMid32(e)->FDT32Entry;
            dosEntryRows(d, rows);
            break;
        }
        default: {
            const storage::TFDTEntry d = scan::AsMid(e)->FDTEntry;
            dosEntryRows(d, rows);
            break;
        }
    }
    if (file) {
        blank(rows);
        rows.push_back({kFieldSize, std::to_string(size ? *size : s.EntryDataSize(e))});
    }
}

Rows folderNodeRows(const TreeNode& node, TypeNames& types);

// The folders the advanced tree makes up (its roots, folders no entry names) have no times of
// their own: they show the moment they are looked at.
Rows advancedNodeRows(const TreeNode& node, TypeNames& types) {
    if (node.Entry) return folderNodeRows(node, types);
    Rows rows{{kFieldName, node.Text}, {kFieldType, types.TypeNameOf(node.Text, true)}};
    blank(rows);
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    const std::string now = ShortDateTime({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec});
    rows.push_back({kFieldCreated, now});
    rows.push_back({kFieldModified, now});
    rows.push_back({kFieldAccessed, now});
    rows.push_back({kFieldAttributes, attributeText(storage::kFatAttrDirectory, false)});
    return rows;
}

Rows folderNodeRows(const TreeNode& node, TypeNames& types) {
    Rows rows{{kFieldName, node.Text}, {kFieldType, types.TypeNameOf(node.Text, true)}};
    blank(rows);
    if (const scan::TUndelete* s = ScanOf(&node); s && node.Entry) entryRows(*s, node.Entry, false, rows);
    return rows;
}

}  // namespace

std::vector<PropertyRow> NodeProperties(const TreeNode& node, TypeNames& types, const health::HealthCache* health) {
    switch (node.Kind) {
        case NodeKind::Computer: return computerRows();
        case NodeKind::Disk: return driveRows(node, false, health);
        case NodeKind::Image: return driveRows(node, true, health);
        case NodeKind::Floppy:
        case NodeKind::Volume:
        case NodeKind::DiskSpace: return volumeRows(node, health);
        case NodeKind::Folder:
        case NodeKind::DeletedFolder:
        case NodeKind::DamagedFolder: return folderNodeRows(node, types);
        case NodeKind::AdvancedExtra: return advancedNodeRows(node, types);
        default: return {};  // "Lost Partitions" and the result nodes describe nothing
    }
}

std::vector<PropertyRow> RowProperties(const TreeNode& listedNode, const ListRow& row, TypeNames& types,
                                        const health::HealthCache* health) {
    if (ListsDevices(listedNode.Kind)) {
        // The device list: each row stands for a child node.
        const TreeNode* child = row.Data.Node();
        return child ? NodeProperties(*child, types, health) : Rows{};
    }
    // A row of the search results or the lost files comes from its own volume, not from the node.
    const scan::TUndelete* s = row.Scan ? row.Scan : ScanOf(&listedNode);
    return s ? EntryProperties(*s, row) : Rows{};
}

std::vector<PropertyRow> EntryProperties(const scan::TUndelete& scan, const ListRow& row) {
    // Only rows of the standard scan carry its records; the origin must match the volume's
    // file system, or the record would be read as the wrong kind.
    const bool ntfs = scan.FileSystem() == storage::kFsNtfs;
    const bool standard =
        (row.Origin == RowOrigin::StandardNtfs && ntfs) || (row.Origin == RowOrigin::StandardFat && !ntfs);
    const bool advanced = row.Origin == RowOrigin::AdvancedNtfs || row.Origin == RowOrigin::AdvancedFat;
    const scan::TScanEntry* entry = row.Data.Entry();
    if (!entry || !(standard || advanced)) return {};
    constexpr std::size_t kTypeItem = kColType - 1;
    Rows rows{{kFieldName, row.Caption},
              {kFieldType, row.SubItems.size() > kTypeItem ? row.SubItems[kTypeItem] : std::string{}}};
    blank(rows);
    entryRows(scan, entry, IsFileRow(row.Kind), rows, advanced ? std::optional(row.Size) : std::nullopt);
    return rows;
}

}  // namespace brenvale::app
