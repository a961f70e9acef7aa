// The properties panel: the rows of each node kind and of file-list rows, over small disks and
// volumes held by the fake platform.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/health_texts.h"
#include "app/properties.h"
#include "app/utc_zone.h"
#include "app/volume_texts.h"
#include "health/health_pages.h"
#include "platform/fake/fake_drive_commands.h"
#include "platform/fake/fake_platform.h"
#include "scan/ntfs_builder.h"
#include "scan/volume_builder.h"
#include "storage/device_events.h"
#include "storage/fs_detect.h"
#include "storage/le.h"

namespace brenvale::app {

void PrintTo(const PropertyRow& r, std::ostream* os) { *os << "{\"" << r.Field << "\", \"" << r.Value << "\"}"; }

namespace {

using Rows = std::vector<PropertyRow>;
using test::Fs;
using test::NtfsBuilder;
using test::RawEntry;
using test::VolumeBuilder;

// Media types as the operating system's geometry query reports them.
constexpr std::uint32_t kOsRemovableMedia = 11;
constexpr std::uint32_t kOsFixedMedia = 12;

const PropertyRow kBlank{};

bool HasField(const Rows& rows, const std::string& field) {
    return std::any_of(rows.begin(), rows.end(), [&](const PropertyRow& r) { return r.Field == field; });
}

constexpr std::uint16_t DosDate(int y, int m, int d) {
    return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d);
}
constexpr std::uint16_t DosTime(int h, int mi, int s) {
    return static_cast<std::uint16_t>((h << 11) | (mi << 5) | (s / 2));
}

struct DosTimes {
    std::uint16_t createDate, createTime, accessDate, updateDate, updateTime;
};

RawEntry WithTimes(RawEntry e, const DosTimes& t) {
    EXPECT_TRUE(storage::putLe16(e, 14, t.createTime));
    EXPECT_TRUE(storage::putLe16(e, 16, t.createDate));
    EXPECT_TRUE(storage::putLe16(e, 18, t.accessDate));
    EXPECT_TRUE(storage::putLe16(e, 22, t.updateTime));
    EXPECT_TRUE(storage::putLe16(e, 24, t.updateDate));
    return e;
}

class PropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        storage::DeviceAborted = false;
        root_.Text = kMyComputerText;
    }

    // A device over `bytes` at a path of its own: a block device reporting `media` and the
    // given geometry, or an image file when `media` is 0.
    std::unique_ptr<storage::TDevice> openDisk(std::vector<std::byte> bytes, std::uint32_t media,
                                               platform::DiskGeometry geometry = {}) {
        const std::string path = "/dev/disk" + std::to_string(disks_++);
        const std::uint64_t sectors = bytes.size() / 512;
        auto& disk = os_.addDisk(path, std::move(bytes), 512, media != 0);
        if (media != 0) {
            if (geometry.bytesPerSector == 0) geometry = {sectors / (255 * 63), media, 255, 63, 512};
            geometry.mediaType = media;
            disk.geometry = geometry;
        }
        return std::make_unique<storage::TDevice>(os_, path);
    }

    // A volume node below the root over a whole device: the partition record made from its
    // sector 0, as the tree makes it for a volume, and the scan object over both.
    TreeNode& volume(std::vector<std::byte> bytes, NodeKind kind = NodeKind::Volume, std::uint32_t media = kOsFixedMedia) {
        auto node = std::make_unique<TreeNode>();
        node->Kind = kind;
        node->Text = "volume";
        node->OwnedDevice = openDisk(std::move(bytes), media);
        storage::TDevice& dev = *node->OwnedDevice;
        auto part = std::make_unique<partitions::TPartition>();
        std::vector<std::byte> sector(512);
        EXPECT_EQ(dev.Read(0, 1, sector), 512u);
        part->BootSector = storage::MakeBootSector(sector);
        part->SectCount64 = static_cast<std::int64_t>(dev.Sectors());
        part->BytesPerSector = dev.BytesPerSector();
        node->OwnedScan = std::make_unique<scan::TUndelete>(dev, *part);
        node->OwnedPartition = std::move(part);
        node->Scan = node->OwnedScan.get();
        node->MakeScanCapable();
        return *root_.AddChild(std::move(node));
    }

    // A drive or image node below the root.
    TreeNode& drive(std::unique_ptr<partitions::TPhysicalDrv> drv, NodeKind kind, std::string text) {
        auto node = std::make_unique<TreeNode>();
        node->Kind = kind;
        node->Text = std::move(text);
        node->OwnedDrive = std::move(drv);
        node->Drive = node->OwnedDrive.get();
        return *root_.AddChild(std::move(node));
    }

    static scan::TScanEntry* entryNamed(const scan::TUndelete& s, const std::string& name) {
        for (scan::TScanEntry* e : s.ScannedFiles) {
            if (s.EntryDisplayName(e) == name) return e;
        }
        ADD_FAILURE() << name << " was not found";
        return nullptr;
    }

    static ListRow entryRow(const scan::TScanEntry* e, std::string caption, RowKind kind, RowOrigin origin,
                            std::string type) {
        ListRow row;
        row.Caption = std::move(caption);
        row.Kind = kind;
        row.Origin = origin;
        row.Data = RowData(e);
        row.SubItems = {std::move(type), "", "", "", ""};
        return row;
    }

    platform::fake::FakePlatform os_;
    TreeNode root_;
    TypeNames types_;
    int disks_ = 0;
};

TEST_F(PropertiesTest, ComputerHasItsNameAndOtherNodesWithoutObjectsHaveNothing) {
    EXPECT_EQ(NodeProperties(root_, types_), (Rows{{"Name", "My Computer"}}));
    for (const NodeKind kind : {NodeKind::LostPartitions, NodeKind::SearchResults, NodeKind::LostFiles, NodeKind::FileType}) {
        TreeNode* node = root_.AddChild(kind, "node");
        EXPECT_EQ(NodeProperties(*node, types_), Rows{}) << static_cast<int>(kind);
    }
}

TEST_F(PropertiesTest, PhysicalDriveShowsGeometryAndHealthButNoTrim) {
    struct Case {
        std::uint32_t media;
        const char* type;
    };
    for (const Case& c : {Case{kOsFixedMedia, "Physical Drive"}, Case{kOsRemovableMedia, "Removable Drive"}}) {
        SCOPED_TRACE(c.type);
        // 1000 cylinders of 16 heads: the panel shows the head count as "Heads" and the
        // cylinder count as "Tracks/Head".
        auto dev = openDisk(std::vector<std::byte>(2048 * 512), c.media, {1000, c.media, 16, 63, 512});
        dev->Model = "Test Disk";
        TreeNode& node = drive(std::make_unique<partitions::TPhysicalDrv>(os_, std::move(dev)), NodeKind::Disk,
                               "Test Disk (80h)");
        const Rows expected = {{"Device Name", "Test Disk"}, {"Device Type", c.type}, kBlank,
                               {"Health", "-"},              {"Capacity", "1 MB"},   {"Heads", "16"},
                               {"Tracks/Head", "1000"},      {"Sectors/Track", "63"}, {"Bytes/Sector", "512"},
                               {"Total Sectors", "2048"}};
        const Rows rows = NodeProperties(node, types_);
        EXPECT_EQ(rows, expected);
        EXPECT_FALSE(HasField(rows, "TRIM"));

        // The computer's device list shows the same rows for the drive's row.
        ListRow row;
        row.Caption = node.Text;
        row.Kind = RowKind::Device;
        row.Data = RowData(&node);
        EXPECT_EQ(RowProperties(root_, row, types_), expected);
    }
}

TEST_F(PropertiesTest, HealthAndTrimRowsShowWhatTheWorkerEvaluated) {
    // Disk 0x80 answers with a pending sector; its NTFS volume sits on a disk with discards.
    platform::BlockDeviceInfo info;
    info.name = "disk0";
    info.path = "/dev/disk0";
    os_.whole.push_back(info);
    platform::fake::FakeDriveCommands commands(os_);
    platform::fake::FakeDrive d;
    d.forms = {{platform::AtaForm::PassThrough16, platform::fake::FormBehaviour::Works}};
    d.identify = test::IdentifyPage("Test Disk", "SN1", "1");
    d.smartData = test::SmartDataPage({{1, 100, 100, 0}, {9, 100, 100, 5}, {197, 100, 100, 1}});
    d.smartThresholds = test::SmartThresholdPage({{1, 50}, {9, 0}, {197, 0}});
    commands.add("/dev/disk0", d);
    health::HealthCache cache(os_, commands);

    TreeNode& disk = drive(std::make_unique<partitions::TPhysicalDrv>(os_, openDisk(std::vector<std::byte>(2048 * 512), kOsFixedMedia)),
                           NodeKind::Disk, "Test Disk (80h)");
    const auto field = [](const Rows& rows, const std::string& name) {
        for (const PropertyRow& r : rows) {
            if (r.Field == name) return r.Value;
        }
        return std::string("(none)");
    };
    EXPECT_EQ(field(NodeProperties(disk, types_, &cache), "Health"), "-");
    auto work = PendingHealthWork(cache, disk);
    ASSERT_TRUE(work);
    work();
    EXPECT_EQ(field(NodeProperties(disk, types_, &cache), "Health"), "Warning - Current Pending Sector Count");
    EXPECT_FALSE(PendingHealthWork(cache, disk));

    NtfsBuilder b;
    TreeNode& vol = volume(b.finish());  // at /dev/disk1
    commands.add("/dev/disk1").trim = {true, false, true, false};
    EXPECT_EQ(field(NodeProperties(vol, types_, &cache), "TRIM"), "-");
    work = PendingHealthWork(cache, vol);
    ASSERT_TRUE(work);
    work();
    EXPECT_EQ(field(NodeProperties(vol, types_, &cache), "TRIM"), "On - deleted data on this drive may already be erased");
    EXPECT_FALSE(PendingHealthWork(cache, vol));
}

TEST_F(PropertiesTest, DriveImageIsNamedByItsNodeAndHasNoHealth) {
    os_.addDisk("/images/disk.img", std::vector<std::byte>(3000 * 512), 512, false);
    TreeNode& node = drive(std::make_unique<partitions::TPhysicalDrv>(os_, "/images/disk.img"), NodeKind::Image, "disk.img");
    // A raw image gets the usual 255-head, 63-sector translation.
    const Rows expected = {{"Device Name", "disk.img"}, {"Device Type", "Drive Image File"}, kBlank,
                           {"Capacity", "1.46 MB"},     {"Heads", "255"},                     {"Tracks/Head", "0"},
                           {"Sectors/Track", "63"},     {"Bytes/Sector", "512"},             {"Total Sectors", "3000"}};
    EXPECT_EQ(NodeProperties(node, types_), expected);
}

TEST_F(PropertiesTest, NtfsVolumeShowsItsSerialSplitAndNoHealth) {
    NtfsBuilder b;
    auto bytes = b.finish();
    ASSERT_TRUE(storage::putLe32(bytes, 72, 0x1A2B3C4D));
    TreeNode& node = volume(std::move(bytes));
    node.Scan->Partition().VolumePath = "/mnt/data";
    const Rows rows = NodeProperties(node, types_);
    const Rows expected = {{"Drive Name", "--- (/mnt/data)"}, {"Drive Type", "Fixed Drive"}, kBlank,
                           {"Capacity", "2 MB"},              {"Serial", "1A2B - 3C4D"},     {"File System", "NTFS"},
                           kBlank,                            {"TRIM", "-"}};
    EXPECT_EQ(rows, expected);
    EXPECT_FALSE(HasField(rows, "Health"));
}

TEST_F(PropertiesTest, FatVolumeWithLabelSerialZeroAndNoVolumePath) {
    VolumeBuilder v(Fs::Fat16);
    v.put(v.root(), 0, {test::ShortEntry("MYVOLUME", storage::kFatAttrVolumeLabel, 0, 0)});
    ASSERT_TRUE(storage::putLe32(v.bootSector(), 39, 0));
    TreeNode& node = volume(std::move(v.bytes()), NodeKind::Volume, kOsRemovableMedia);
    const Rows rows = NodeProperties(node, types_);
    ASSERT_EQ(rows.size(), 8u);
    // Without a place on this system or a number on its disk, the volume is named by its start.
    EXPECT_EQ(rows[0], (PropertyRow{"Drive Name", "MYVOLUME (at sector 0)"}));
    EXPECT_EQ(rows[1], (PropertyRow{"Drive Type", "Removable Drive"}));
    EXPECT_EQ(rows[4], (PropertyRow{"Serial", "0000"}));
    EXPECT_EQ(rows[5], (PropertyRow{"File System", "FAT16"}));
    // A partition of a disk is named by its number there.
    node.OwnedPartition->Number = 4;
    EXPECT_EQ(NodeProperties(node, types_)[0], (PropertyRow{"Drive Name", "MYVOLUME (partition 4)"}));
    node.OwnedPartition->VolumePath = "/media/stick";
    EXPECT_EQ(NodeProperties(node, types_)[0], (PropertyRow{"Drive Name", "MYVOLUME (/media/stick)"}));
}

TEST_F(PropertiesTest, DriveTypeByNodeKindMediaAndWholeDisk) {
    struct Case {
        const char* what;
        NodeKind kind;
        std::uint32_t media;
        bool wholeDisk;
        const char* type;
        const char* serial;
        const char* fileSystem;
        const char* listType;  // the device list's type of a whole-disk or free-space row
    };
    const std::vector<Case> cases = {
        {"floppy", NodeKind::Floppy, kOsRemovableMedia, false, "Floppy Drive", "ABCD - 1234", "FAT12", nullptr},
        {"removable volume", NodeKind::Volume, kOsRemovableMedia, false, "Removable Drive", "ABCD - 1234", "FAT12", nullptr},
        {"fixed volume", NodeKind::Volume, kOsFixedMedia, false, "Fixed Drive", "ABCD - 1234", "FAT12", nullptr},
        {"partition of a drive image", NodeKind::Volume, 0, false, "Partition in Drive Image", "ABCD - 1234", "FAT12",
         nullptr},
        {"free space", NodeKind::DiskSpace, kOsFixedMedia, false, "Fixed Drive", "ABCD - 1234", "FAT12", "Lost/Free Space"},
        {"whole disk", NodeKind::DiskSpace, kOsRemovableMedia, true, "Whole Disk", "", "", "Whole Disk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VolumeBuilder v(Fs::Fat12);
        ASSERT_TRUE(storage::putLe32(v.bootSector(), 39, 0xABCD1234));
        TreeNode& node = volume(std::move(v.bytes()), c.kind, c.media);
        node.Scan->FWholeDiskObject = c.wholeDisk;
        const Rows rows = NodeProperties(node, types_);
        ASSERT_EQ(rows.size(), 8u);
        EXPECT_EQ(rows[1], (PropertyRow{"Drive Type", c.type}));
        EXPECT_EQ(rows[4], (PropertyRow{"Serial", c.serial}));
        EXPECT_EQ(rows[5], (PropertyRow{"File System", c.fileSystem}));
        if (c.listType) {
            EXPECT_EQ(StretchTypeText(*node.Scan), c.listType);
        }
    }
}

TEST_F(PropertiesTest, CapacityOfPartitionsOfTruncatedImages) {
    struct Case {
        const char* what;
        std::int64_t sectors;
        std::int64_t claimed;
        std::uint32_t sectorSize;
        const char* capacity;
    };
    const std::vector<Case> cases = {
        {"whole partition", 2048, 0, 512, "1 MB"},
        {"partial", 2048, 8192, 512, "1 MB in image of 4 MB claimed"},
        {"partial, 4 KiB sectors", 256, 1024, 4096, "1 MB in image of 4 MB claimed"},
        {"not in image", 0, 2048, 512, "0  B in image of 1 MB claimed"},
    };
    VolumeBuilder v(Fs::Fat12);
    TreeNode& node = volume(std::move(v.bytes()));
    partitions::TPartition& p = node.Scan->Partition();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        p.SectCount64 = c.sectors;
        p.ClaimedSectCount = c.claimed;
        p.BytesPerSector = c.sectorSize;
        const Rows rows = NodeProperties(node, types_);
        ASSERT_EQ(rows.size(), 8u);
        EXPECT_EQ(rows[3], (PropertyRow{"Capacity", c.capacity}));
    }
}

TEST_F(PropertiesTest, FatEntriesShowTimesAttributesAndFileSize) {
    const DosTimes good{DosDate(2021, 3, 4), DosTime(5, 6, 8), DosDate(2023, 1, 31), DosDate(2022, 11, 12),
                        DosTime(13, 14, 16)};
    // Month 13, hour 24, no access date: every time is "-".
    const DosTimes invalid{DosDate(2021, 13, 1), DosTime(5, 6, 8), 0, DosDate(2022, 11, 12), DosTime(24, 0, 0)};
    for (const Fs fs : {Fs::Fat12, Fs::Fat16, Fs::Fat32}) {
        SCOPED_TRACE(test::FsName(fs));
        VolumeBuilder v(fs);
        v.put(v.root(), 0,
              {WithTimes(test::ShortEntry("REPORT.TXT", 0x27, 10, 1234), good),
               WithTimes(test::ShortEntry("BAD.TXT", 0x00, 12, 7), invalid),
               WithTimes(test::FolderEntry("SUB", 11), good)});
        v.makeFolder(11, v.root());
        TreeNode& node = volume(std::move(v.bytes()));
        const scan::TUndelete& s = *node.Scan;
        ASSERT_EQ(node.Scan->NormalScan(1), scan::kScanCompleted);

        const auto* report = entryNamed(s, "REPORT.TXT");
        EXPECT_EQ(RowProperties(node, entryRow(report, "REPORT.TXT", RowKind::File, RowOrigin::StandardFat, "Text Document"),
                                types_),
                  (Rows{{"Name", "REPORT.TXT"},
                        {"Type", "Text Document"},
                        kBlank,
                        {"Created", "2021/03/04 05:06"},
                        {"Modified", "2022/11/12 13:14"},
                        {"Accessed", "2023/01/31"},
                        {"Attributes", "RSAH"},
                        kBlank,
                        {"Size", "1234"}}));

        const auto* bad = entryNamed(s, "BAD.TXT");
        EXPECT_EQ(RowProperties(node, entryRow(bad, "BAD.TXT", RowKind::DeletedFile, RowOrigin::StandardFat, "Text Document"),
                                types_),
                  (Rows{{"Name", "BAD.TXT"},
                        {"Type", "Text Document"},
                        kBlank,
                        {"Created", "-"},
                        {"Modified", "-"},
                        {"Accessed", "-"},
                        {"Attributes", ""},
                        kBlank,
                        {"Size", "7"}}));

        // A folder, as a list row and as a tree node, has no size rows.
        auto* sub = entryNamed(s, "SUB");
        const Rows folderRows = {{"Name", "SUB"},
                                 {"Type", "File folder"},
                                 kBlank,
                                 {"Created", "2021/03/04 05:06"},
                                 {"Modified", "2022/11/12 13:14"},
                                 {"Accessed", "2023/01/31"},
                                 {"Attributes", ""}};
        EXPECT_EQ(RowProperties(node, entryRow(sub, "SUB", RowKind::Folder, RowOrigin::StandardFat, "File folder"), types_),
                  folderRows);
        TreeNode* folder = node.AddChild(NodeKind::Folder, "SUB");
        folder->Entry = sub;
        EXPECT_EQ(NodeProperties(*folder, types_), folderRows);
        // Its own rows come from the scan object of the volume above it.
        EXPECT_EQ(RowProperties(*folder, entryRow(report, "REPORT.TXT", RowKind::File, RowOrigin::StandardFat, "x"), types_)[3],
                  (PropertyRow{"Created", "2021/03/04 05:06"}));
    }
}

TEST_F(PropertiesTest, NtfsEntriesShowTheirNameTimesAndCompressedFlag) {
    const test::UtcZone utc;
    constexpr std::int64_t kCreated = 1577934247;   // 2020-01-02 03:04:07 UTC
    constexpr std::int64_t kModified = 1609502400;  // 2021-01-01 12:00:00 UTC
    NtfsBuilder b;
    // Lists show the standard-information times and attributes, so those are the ones set.
    constexpr std::size_t kSiValue = 56 + 24;  // the first attribute's resident value
    auto& file = b.record(30, 0x0001);
    b.standardInformation(file, 0, 0x0827);  // read-only, hidden, system, archive, compressed
    ASSERT_TRUE(storage::putLe64(file.bytes, kSiValue, test::FileTimeOfUnix(kCreated)));
    ASSERT_TRUE(storage::putLe64(file.bytes, kSiValue + 8, test::FileTimeOfUnix(kModified)));
    b.fileName(file, 5, u"packed.bin", 3);
    b.residentData(file, "hello");
    auto& plain = b.record(31, 0x0001);
    b.standardInformation(plain, 0, 0x0020);
    b.fileName(plain, 5, u"plain.txt", 3);
    b.residentData(plain, "x");

    TreeNode& node = volume(b.finish());
    ASSERT_EQ(node.Scan->NormalScan(1), scan::kScanCompleted);
    const auto* packed = entryNamed(*node.Scan, "packed.bin");
    EXPECT_EQ(RowProperties(node, entryRow(packed, "packed.bin", RowKind::File, RowOrigin::StandardNtfs, "Binary file"), types_),
              (Rows{{"Name", "packed.bin"},
                    {"Type", "Binary file"},
                    kBlank,
                    {"Created", "2020/01/02 03:04"},
                    {"Modified", "2021/01/01 12:00"},
                    {"Accessed", "-"},
                    {"Attributes", "RSAHC"},
                    kBlank,
                    {"Size", "5"}}));
    const auto* txt = entryNamed(*node.Scan, "plain.txt");
    const Rows rows = RowProperties(node, entryRow(txt, "plain.txt", RowKind::File, RowOrigin::StandardNtfs, "Text Document"), types_);
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[6], (PropertyRow{"Attributes", "A"}));
}

TEST_F(PropertiesTest, RowsWithoutAStandardEntryOfTheVolumeHaveNothing) {
    VolumeBuilder v(Fs::Fat12);
    v.put(v.root(), 0, {test::FileEntry("A.TXT", 10, 3)});
    TreeNode& node = volume(std::move(v.bytes()));
    ASSERT_EQ(node.Scan->NormalScan(1), scan::kScanCompleted);
    const auto* a = entryNamed(*node.Scan, "A.TXT");
    const Rows own = RowProperties(node, entryRow(a, "A.TXT", RowKind::File, RowOrigin::StandardFat, "Text Document"), types_);
    ASSERT_EQ(own.size(), 9u);
    // A search hit is described by the volume the row names, not by the "Search Results" node.
    TreeNode* results = root_.AddChild(NodeKind::SearchResults, kSearchResultsText);
    ListRow hit = entryRow(a, "A.TXT", RowKind::File, RowOrigin::StandardFat, "Text Document");
    hit.Scan = node.Scan;
    EXPECT_EQ(RowProperties(*results, hit, types_), own);
    // A row of the advanced scan's tree is described by its entry, whatever the volume's file
    // system; its size is the one the row lists.
    ListRow rebuilt = entryRow(a, "A.TXT", RowKind::File, RowOrigin::AdvancedFat, "Text Document");
    rebuilt.Size = node.Scan->EntryDataSize(a);
    EXPECT_EQ(RowProperties(node, rebuilt, types_), own);

    struct Case {
        const char* what;
        const TreeNode* listed;
        const scan::TScanEntry* data;
        RowOrigin origin;
    };
    const std::vector<Case> cases = {
        {"NTFS origin on a FAT volume", &node, a, RowOrigin::StandardNtfs},
        {"row without an entry", &node, nullptr, RowOrigin::StandardFat},
        {"a row that names no volume, in a list of a node without one", results, a, RowOrigin::StandardFat},
        {"device-list row without a node", &root_, nullptr, RowOrigin::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RowProperties(*c.listed, entryRow(c.data, "A.TXT", RowKind::File, c.origin, "Text Document"), types_),
                  Rows{})
            << c.what;
    }
}

}  // namespace
}  // namespace brenvale::app
