// The drive tree: volumes with their retries, physical drives and images with their
// partition, free-space, whole-disk and lost-partition nodes, the label and suffix rules,
// "Update Drive List", and the node helpers other commands rely on.

#include <gmock/gmock.h>

#include <cerrno>
#include <set>
#include <fmt/format.h>

#include "app/drive_tree.h"
#include "app/folder_view.h"
#include "app/kind_icons.h"
#include "app/volume_texts.h"
#include "app/scripted_ui.h"
#include "partitions/disk_builder.h"
#include "platform/errors.h"
#include "platform/fake/fake_platform.h"
#include "platform/linux/linux_platform.h"
#include "scan/volume_builder.h"
#include "storage/device_events.h"
#include "storage/device_test_util.h"
#include "storage/fs_types.h"
#include "support/fixtures.h"

namespace brenvale::test {
namespace {

using app::DriveTree;
using app::TreeNode;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr char kLinuxType[] = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";
constexpr char kBasicDataType[] = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
constexpr char kUnknownType[] = "01234567-89AB-CDEF-0123-456789ABCDEF";

// A FAT12 volume whose root folder holds the label entry `label` (none when empty).
std::vector<std::byte> LabelledVolume(const std::string& label, std::uint32_t serial = 0) {
    VolumeBuilder v(Fs::Fat12);
    if (!label.empty()) v.put(v.root(), 0, {ShortEntry(label, 0x08, 0, 0)});
    EXPECT_TRUE(storage::putLe32(v.bootSector(), 39, serial));
    return v.bytes();
}

void Place(DiskBuilder& disk, std::uint64_t lba, const std::vector<std::byte>& volume) {
    ASSERT_LE(lba * 512 + volume.size(), disk.bytes().size());
    std::copy(volume.begin(), volume.end(), disk.bytes().begin() + static_cast<std::ptrdiff_t>(lba * 512));
}

std::vector<std::string> Texts(const TreeNode& node) {
    std::vector<std::string> out;
    for (const auto& c : node.Children) out.push_back(c->Text);
    return out;
}

std::vector<int> Icons(const TreeNode& node) {
    std::vector<int> out;
    for (const auto& c : node.Children) out.push_back(static_cast<int>(app::NodeIcon(c->Kind, false)));
    return out;
}

TreeNode* Child(TreeNode& node, const std::string& text) {
    for (const auto& c : node.Children) {
        if (c->Text == text) return c.get();
    }
    ADD_FAILURE() << "no child \"" << text << "\" under \"" << node.Text << "\"";
    return nullptr;
}

class DriveTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        storage::DeviceAborted = false;
        tree.Sleep = [this](unsigned ms) {
            sleeps.push_back(ms);
            if (onSleep) onSleep();
        };
    }
    void TearDown() override { storage::DeviceAborted = false; }

    // A volume "/dev/<name>", a partition of sd<x>, holding a labelled FAT12 volume.
    void AddVolumeDevice(const std::string& name, const std::string& label, const std::string& mountPoint = "") {
        os.addDisk("/dev/" + name, LabelledVolume(label));
        auto info = BlockDevice(name, name.substr(0, 3), 2048 * 512);
        info.mountPoint = mountPoint;
        os.parts.push_back(info);
    }

    // Physical drive 0x80 + n: a fixed disk "/dev/<name>" with the builder's bytes.
    void AddPhysicalDisk(const std::string& name, DiskBuilder& b, const std::string& model = "ACME Disk USB Device") {
        os.addDisk("/dev/" + name, b.bytes());
        auto info = BlockDevice(name);
        info.model = model;
        os.whole.push_back(info);
    }

    // 20000 sectors: a labelled FAT12 partition mounted at /media/data, an NTFS-typed
    // partition with nothing in it, and in the free space after them two volumes no table
    // lists any more, the second with a label no tool writes.
    void AddStandardDisk() {
        DiskBuilder b(20000);
        b.entry(0, 0, 0x06, 2048, 4096).entry(0, 1, 0x07, 8192, 4096);
        Place(b, 2048, LabelledVolume("DATA", 1));
        Place(b, 12352, LabelledVolume("LOST", 2));
        Place(b, 14400, LabelledVolume("BAD?", 3));
        AddPhysicalDisk("sdt", b);
        auto part = BlockDevice("sdt1", "sdt", 2048 * 512);
        part.mountPoint = "/media/data";
        os.parts.push_back(part);
    }

    // An image of a 16384-sector disk cut after 10000 sectors: the second partition ends
    // past the cut, the third starts past it.
    TreeNode* LoadCutImage() {
        DiskBuilder b(30000);
        b.entry(0, 0, 0x06, 2048, 4096).entry(0, 1, 0x06, 8192, 8192).entry(0, 2, 0x83, 20000, 2048);
        Place(b, 2048, LabelledVolume("PHOTOS", 1));
        b.fat16(8192, 8192, 7);
        auto bytes = b.bytes();
        bytes.resize(10000 * 512);
        os.addDisk("/img/disk.img", bytes, 512, false);
        return tree.LoadImage("/img/disk.img");
    }

    std::vector<std::string> DriveIoLines() const {
        std::vector<std::string> out;
        for (const auto& e : log.Entries()) {
            EXPECT_EQ(e.Event, app::kDriveIoEvent);
            out.push_back(e.Description);
        }
        return out;
    }
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const auto& m : ui.messages) out.push_back(m.second);
        return out;
    }

    platform::fake::FakePlatform os;
    ScriptedUi ui;
    app::EventLog log;
    partitions::TPartition extraLost;  // a lost record a test adds; outlives the tree's scan objects
    DriveTree tree{os, ui, log};
    std::vector<unsigned> sleeps;
    std::function<void()> onSleep;
};

// ---- Start-up

TEST_F(DriveTreeTest, RootHoldsVolumesThenDrivesThenImagesThenTheResultNodes) {
    AddVolumeDevice("sdb1", "CARD", "/media/card");
    AddVolumeDevice("sdc1", "");  // unlabelled, not mounted
    AddVolumeDevice("sdd1", "THIRD", "/mnt/t");
    AddStandardDisk();
    const auto volumes = storage::EnumVolumes(os);
    ASSERT_EQ(volumes.size(), 3u);
    tree.Build(volumes, storage::EnumPhysicalDrives(os));
    LoadCutImage();

    TreeNode* root = tree.Root();
    EXPECT_EQ(root->Text, "My Computer");
    EXPECT_EQ(root->Kind, app::NodeKind::Computer);
    EXPECT_TRUE(root->Expanded);
    // No colon after a mount point: it stands where the drive letter was.
    EXPECT_THAT(Texts(*root), ElementsAre("CARD (/media/card)", "--- (/dev/sdc1)", "THIRD (/mnt/t)", "ACME Disk (80h)",
                                          "disk.img", "Lost Files by Type", "Search Results"));
    // Volumes 1 and 2 are volumes like any other: only a floppy device is a floppy.
    EXPECT_THAT(Icons(*root), ElementsAre(5, 5, 5, 1, 3, 17, 16));
    EXPECT_EQ(tree.FileTypesNode(), root->Children[5].get());
    EXPECT_EQ(tree.SearchResultsNode(), root->Children[6].get());
    EXPECT_TRUE(log.Entries().empty());
    EXPECT_TRUE(ui.messages.empty());
}

// A tree without drives is explained: each disk that could not be opened, with its path and
// what the system answered; the hint about root only where rights are the cause.
TEST_F(DriveTreeTest, DisksThatCannotBeOpenedAreExplainedInTheLog) {
    os.whole = {BlockDevice("sda"), BlockDevice("sdb")};
    os.openErrors["/dev/sda"] = EPERM;
    os.openErrors["/dev/sdb"] = EACCES;
    struct Case {
        bool root;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {true, {"Cannot open /dev/sda: " + platform::errorText(EPERM), "Cannot open /dev/sdb: " + platform::errorText(EACCES)}},
        {false,
         {"Cannot open /dev/sda: " + platform::errorText(EPERM) + " (reading disks needs root)",
          "Cannot open /dev/sdb: " + platform::errorText(EACCES) + " (reading disks needs root)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root ? "as root" : "as a user");
        os.root = c.root;
        app::EventLog fresh;
        DriveTree t(os, ui, fresh);
        t.Build(storage::EnumVolumes(os), storage::EnumPhysicalDrives(os));
        t.ReportUnopenedDisks();
        EXPECT_THAT(Texts(*t.Root()), ElementsAre("Lost Files by Type", "Search Results"));
        std::vector<std::string> lines;
        for (const auto& e : fresh.Entries()) {
            EXPECT_EQ(e.Event, app::kDriveIoEvent);
            lines.push_back(e.Description);
        }
        EXPECT_EQ(lines, c.lines);
    }
}

TEST_F(DriveTreeTest, OnlyTheKernelsFloppyDevicesAreFloppies) {
    // fd0 sorts first and gets volume number 1; sdb1 gets 2, sdc1 3, fd10 4.
    const auto addWhole = [&](const std::string& name, const std::string& label) {
        os.addDisk("/dev/" + name, LabelledVolume(label));
        os.whole.push_back(BlockDevice(name));
    };
    addWhole("fd0", "FLOPPY");
    AddVolumeDevice("sdb1", "CARD", "/media/card");
    AddVolumeDevice("sdc1", "STICK");
    addWhole("fd10", "SECOND");
    addWhole("fdx", "NOTFD");
    auto volumes = storage::EnumVolumes(os);
    ASSERT_EQ(volumes.size(), 5u);
    tree.Build(volumes, {});
    struct Want {
        const char* text;
        app::NodeKind kind;
    };
    const Want want[] = {{"FLOPPY (/dev/fd0)", app::NodeKind::Floppy},
                         {"SECOND (/dev/fd10)", app::NodeKind::Floppy},
                         {"NOTFD (/dev/fdx)", app::NodeKind::Volume},
                         {"CARD (/media/card)", app::NodeKind::Volume},
                         {"STICK (/dev/sdc1)", app::NodeKind::Volume}};
    const auto rows = app::DeviceList(*tree.Root());
    for (const Want& w : want) {
        SCOPED_TRACE(w.text);
        const auto it = std::find_if(rows.begin(), rows.end(), [&](const app::ListRow& r) { return r.Caption == w.text; });
        ASSERT_NE(it, rows.end()) << ::testing::PrintToString(Texts(*tree.Root()));
        EXPECT_EQ(it->DeviceKind, w.kind);
        EXPECT_EQ(it->SubItems[0] == app::kFloppyDriveText, w.kind == app::NodeKind::Floppy);
    }
}

TEST_F(DriveTreeTest, VolumeNodeOwnsItsDeviceRecordAndScanObject) {
    AddVolumeDevice("sdb1", "CARD", "/media/card");
    // A flag left set by an earlier failure must not spoil the new attempt.
    storage::DeviceAborted = true;
    tree.Build(storage::EnumVolumes(os), {});
    TreeNode* node = tree.Root()->Children.at(0).get();
    ASSERT_EQ(node->Text, "CARD (/media/card)");
    ASSERT_TRUE(node->OwnedDevice && node->OwnedPartition && node->OwnedScan);
    EXPECT_EQ(node->Scan, node->OwnedScan.get());
    EXPECT_EQ(&node->Scan->Device(), node->OwnedDevice.get());
    EXPECT_EQ(&node->Scan->Partition(), node->OwnedPartition.get());
    EXPECT_EQ(node->OwnedDevice->DeviceType(), storage::kDeviceVolume);
    EXPECT_EQ(node->OwnedDevice->DeviceNum(), 1);
    const partitions::TPartition& rec = *node->OwnedPartition;
    EXPECT_EQ(rec.SectCount64, static_cast<std::int64_t>(node->OwnedDevice->Sectors()));
    EXPECT_EQ(rec.Entry.SectCount, node->OwnedDevice->Sectors());
    EXPECT_EQ(Value(rec.Entry.SystemFlag), 0);
    EXPECT_EQ(rec.BaseLBA, 0);
    EXPECT_EQ(rec.DriveLetter, 0);
    EXPECT_EQ(rec.VolumePath, "/media/card");
    EXPECT_EQ(rec.BootSector.FileSystemType, storage::kFsFat12);
    EXPECT_TRUE(node->ScanCapable());
    EXPECT_FALSE(node->HasState(app::kStateScanStarted));
}

TEST_F(DriveTreeTest, VolumeThatCannotBeLoadedIsSkippedWithLogLineAndMessage) {
    struct Case {
        const char* name;
        bool listed;  // the device node is still there (a card reader with its slot empty)
        int attempts;
        std::vector<unsigned> sleeps;
    };
    const Case cases[] = {
        {"empty card reader", true, 3, {500, 500}},
        {"device gone", false, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::fake::FakePlatform fresh;
        ScriptedUi freshUi;
        app::EventLog freshLog;
        DriveTree t(fresh, freshUi, freshLog);
        std::vector<unsigned> slept;
        t.Sleep = [&](unsigned ms) { slept.push_back(ms); };
        auto card = BlockDevice("sde1", "sde", 2048 * 512);
        card.mountPoint = "/media/card";
        if (c.listed) {
            auto& d = fresh.addDisk(card.path, LabelledVolume("CARD"));
            d.faults.offlineAfterReads = 0;
            d.faults.reopenFails = true;
            d.faults.offlineError = ENOMEDIUM;
            fresh.parts.push_back(card);
        }
        t.Build({storage::VolumeInfo{1, card, storage::kFsFat12}}, {});

        EXPECT_EQ(slept, c.sleeps);
        const std::string error = platform::errorText(ENODEV);
        std::vector<std::string> lines;
        for (const auto& e : freshLog.Entries()) lines.push_back(e.Event + ": " + e.Description);
        EXPECT_THAT(lines, ElementsAre(fmt::format("Drive I/O: Drive /media/card: not ready - could not be loaded after "
                                                   "{} attempt(s), skipped in the tree ({})",
                                                   c.attempts, error)));
        ASSERT_EQ(freshUi.messages.size(), 1u);
        EXPECT_EQ(freshUi.messages[0].second,
                  "Drive /media/card is not ready. To recover files from drive /media/card, you should click\r"
                  "\"Update Drive List\" menu after the drive is ready.");
        EXPECT_THAT(Texts(*t.Root()), ElementsAre("Lost Files by Type", "Search Results"));
    }
}

TEST_F(DriveTreeTest, VolumeThatBecomesReadyWhileRetryingIsAdded) {
    auto card = BlockDevice("sde1", "sde", 2048 * 512);
    os.parts.push_back(card);
    auto& d = os.addDisk(card.path, LabelledVolume("CARD"));
    d.faults.offlineAfterReads = 0;
    d.faults.reopenFails = true;
    // The card is inserted during the second wait; the abort flag is set again meanwhile.
    onSleep = [&] {
        storage::DeviceAborted = true;
        if (sleeps.size() == 2) os.addDisk(card.path, LabelledVolume("CARD"));
    };
    tree.Build({storage::VolumeInfo{1, card, storage::kFsFat12}}, {});
    EXPECT_THAT(sleeps, ElementsAre(500u, 500u));
    EXPECT_THAT(Texts(*tree.Root()), ElementsAre("CARD (/dev/sde1)", "Lost Files by Type", "Search Results"));
    EXPECT_TRUE(log.Entries().empty());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DriveTreeTest, PhysicalDriveThatCannotBeLoadedIsSkipped) {
    AddStandardDisk();
    tree.Build({}, {0x80, 0x85});
    EXPECT_THAT(Texts(*tree.Root()), ElementsAre("ACME Disk (80h)", "Lost Files by Type", "Search Results"));
    EXPECT_THAT(DriveIoLines(), ElementsAre("Failed to load physical drive 133 (85H): " + platform::errorText(ENODEV)));
    EXPECT_THAT(Messages(), ElementsAre("Physical drive 85H is not ready. To recover files from this drive, you\r"
                                        "should click \"Update Drive List\" menu after the drive is ready."));
}

// ---- Drive nodes

TEST_F(DriveTreeTest, DriveNodeListsWholeDiskPartitionsFreeSpaceAndLostPartitions) {
    AddStandardDisk();
    tree.Build({}, {0x80});
    TreeNode* drive = tree.Root()->Children.at(0).get();
    ASSERT_NE(drive->Drive, nullptr);
    EXPECT_EQ(drive->Drive, drive->OwnedDrive.get());
    EXPECT_EQ(drive->Kind, app::NodeKind::Disk);
    EXPECT_THAT(Texts(*drive),
                ElementsAre("Total Disk Space", "DATA (/media/data)", "--- (partition 2)", "Free Disk Space", "Lost Partitions"));
    EXPECT_THAT(Icons(*drive), ElementsAre(6, 5, 5, 6, 2));
    // The drive search found both lost volumes; the one labelled "BAD?" is not believable.
    ASSERT_EQ(drive->Drive->LostPartitionList.size(), 2u);
    TreeNode& lost = *drive->Children.back();
    EXPECT_THAT(Texts(lost), ElementsAre("LOST (at sector 12352)"));
    EXPECT_THAT(Icons(lost), ElementsAre(5));
}

TEST_F(DriveTreeTest, EveryScannableNodeHasItsOwnScanObjectOnTheDrive) {
    AddStandardDisk();
    std::vector<std::pair<std::string, std::int32_t>> recovered;
    tree.OnRecover = [&](const std::string& name, std::int32_t info) { recovered.emplace_back(name, info); };
    tree.Build({}, {0x80});
    TreeNode* drive = tree.Root()->Children.at(0).get();
    partitions::TPhysicalDrv& drv = *drive->Drive;

    std::vector<TreeNode*> scannable;
    for (auto& c : drive->Children) {
        if (c->Kind != app::NodeKind::LostPartitions) scannable.push_back(c.get());
    }
    for (auto& c : drive->Children.back()->Children) scannable.push_back(c.get());
    ASSERT_EQ(scannable.size(), 5u);
    std::set<const scan::TUndelete*> distinct;
    for (TreeNode* n : scannable) {
        SCOPED_TRACE(n->Text);
        ASSERT_NE(n->Scan, nullptr);
        EXPECT_EQ(n->Scan, n->OwnedScan.get());
        EXPECT_TRUE(n->ScanCapable());
        EXPECT_EQ(&n->Scan->Device(), drv.Device.get());
        EXPECT_EQ(n->Scan->FWholeDiskObject, n->Text == "Total Disk Space");
        ASSERT_TRUE(n->Scan->FOnRecover);
        n->Scan->FOnRecover(n->Text, 0);
        distinct.insert(n->Scan);
    }
    EXPECT_EQ(distinct.size(), scannable.size());
    EXPECT_EQ(recovered.size(), scannable.size());
    EXPECT_EQ(&scannable[0]->Scan->Partition(), &drv.Partition);
    EXPECT_EQ(&scannable[1]->Scan->Partition(), drv.PartitionList[1]);
    EXPECT_EQ(&scannable[4]->Scan->Partition(), drv.LostPartitionList[0]);
    // Error boxes of the scan objects reach the user interface.
    scannable[1]->Scan->ReportException(std::runtime_error("read failed"));
    EXPECT_THAT(Messages(), ElementsAre("read failed"));
    // The drive node and "Lost Partitions" carry no scan object.
    EXPECT_EQ(drive->Scan, nullptr);
    EXPECT_EQ(drive->Children.back()->Scan, nullptr);
}

TEST_F(DriveTreeTest, TotalDiskSpaceOnlyWhenAPartitionNodeWasMade) {
    struct Case {
        const char* name;
        std::function<void(DiskBuilder&)> layout;
        bool whole;
    };
    const Case cases[] = {
        {"empty extended container", [](DiskBuilder& b) { b.entry(0, 0, 0x0F, 2048, 8192); }, false},
        {"no table at all", [](DiskBuilder&) {}, false},
        {"one logical drive",
         [](DiskBuilder& b) {
             b.entry(0, 0, 0x05, 2048, 8192);
             b.entry(2048, 0, 0x06, 63, 4096);
             Place(b, 2048 + 63, LabelledVolume("LOGICAL"));
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::fake::FakePlatform fresh;
        DriveTree t(fresh, ui, log);
        DiskBuilder b(20000);
        c.layout(b);
        fresh.addDisk("/img/x.img", b.bytes(), 512, false);
        TreeNode* drive = t.LoadImage("/img/x.img");
        const auto texts = Texts(*drive);
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back(), "Lost Partitions");
        EXPECT_EQ(texts.front() == "Total Disk Space", c.whole);
        // Containers and the links of their chain never get a node of their own.
        for (std::size_t i = c.whole ? 1 : 0; i + 1 < texts.size(); ++i) {
            const TreeNode& n = *drive->Children[i];
            if (c.whole) {
                EXPECT_TRUE(n.Text == "LOGICAL (partition 5)" || n.Text == "Free Disk Space") << n.Text;
            } else {
                EXPECT_EQ(n.Text, "Free Disk Space");
                EXPECT_EQ(n.Kind, app::NodeKind::DiskSpace);
            }
            EXPECT_FALSE(partitions::IsExtendedType(PartitionOf(&n)->Entry.SystemFlag));
        }
    }
}

TEST_F(DriveTreeTest, PartitionNodeTexts) {
    struct Case {
        const char* name;
        std::function<TreeNode*()> load;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {"MBR disk: label with mount point, nothing readable",
         [this] {
             AddStandardDisk();
             tree.Build({}, {0x80});
             return tree.Root()->Children[0].get();
         },
         {"Total Disk Space", "DATA (/media/data)", "--- (partition 2)", "Free Disk Space", "Lost Partitions"}},
        {"GPT image: label, type name, unknown type",
         [this] {
             DiskBuilder b(30000);
             b.gptHeader(2, 128, 128);
             b.gptEntry(0, kBasicDataType, 2048, 6143, u"Data");
             b.gptEntry(1, kLinuxType, 6144, 10239, u"Linux Data");
             b.gptEntry(2, kUnknownType, 10240, 14335, u"Mine");
             Place(b, 2048, LabelledVolume("GDATA"));
             os.addDisk("/img/gpt.img", b.bytes(), 512, false);
             return tree.LoadImage("/img/gpt.img");
         },
         {"Total Disk Space", "GDATA (partition 1)", "Linux (partition 2)", "--- (partition 3)", "Free Disk Space",
          "Lost Partitions"}},
        {"image cut inside a partition",
         [this] { return LoadCutImage(); },
         {"Total Disk Space", "PHOTOS (partition 1)", "--- (partition 2) [partial]", "--- (partition 3) [not in image]",
          "Lost Partitions"}},
    };
    // Each case adds its own disk or image to the same platform and tree.
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TreeNode* drive = c.load();
        ASSERT_NE(drive, nullptr);
        EXPECT_EQ(Texts(*drive), c.texts);
    }
}

TEST_F(DriveTreeTest, ImageNodeShowsTheFileNameAndGoesBeforeTheResultNodes) {
    tree.Build({}, {});
    TreeNode* image = LoadCutImage();
    EXPECT_EQ(image->Text, "disk.img");
    EXPECT_EQ(image->Kind, app::NodeKind::Image);
    EXPECT_EQ(image->Drive, image->OwnedDrive.get());
    EXPECT_THAT(Texts(*tree.Root()), ElementsAre("disk.img", "Lost Files by Type", "Search Results"));
    EXPECT_TRUE(tree.Root()->Expanded);
}

TEST_F(DriveTreeTest, ImageThatCannotBeOpenedLeavesTheTreeAlone) {
    tree.Build({}, {});
    os.addDisk("/img/tiny.img", std::vector<std::byte>(100), 512, false);
    const auto before = Texts(*tree.Root());
    EXPECT_THROW(tree.LoadImage("/img/missing.img"), storage::DeviceError);
    EXPECT_THROW(tree.LoadImage("/img/tiny.img"), storage::DeviceError);
    EXPECT_EQ(Texts(*tree.Root()), before);
}

TEST_F(DriveTreeTest, RebuildLostPartitionsFollowsTheDrivesList) {
    AddStandardDisk();
    tree.Build({}, {0x80});
    TreeNode* drive = tree.Root()->Children.at(0).get();
    partitions::TPhysicalDrv& drv = *drive->Drive;
    TreeNode* lost = drive->Children.back().get();
    const auto found = drv.LostPartitionList;

    // Any node of the drive will do.
    drv.LostPartitionList.clear();
    tree.RebuildLostPartitions(Child(*drive, "DATA (/media/data)"));
    EXPECT_TRUE(lost->Children.empty());

    // A record that reaches past the end of the device fails the check.
    extraLost = *found[0];
    extraLost.SectNum64 = static_cast<std::int64_t>(drv.Device->Sectors()) - 10;
    drv.LostPartitionList = {found[0], &extraLost};
    tree.RebuildLostPartitions(drive);
    EXPECT_THAT(Texts(*lost), ElementsAre("LOST (at sector 12352)"));
    EXPECT_EQ(&lost->Children[0]->Scan->Partition(), found[0]);
}

// ---- Update Drive List

TEST_F(DriveTreeTest, RefreshDoesNothingWhileBusyOrWhenTheUserSaysNo) {
    AddStandardDisk();
    tree.Build({}, {0x80});
    const TreeNode* drive = tree.Root()->Children[0].get();

    EXPECT_FALSE(tree.Refresh(true));
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_EQ(tree.Root()->Children[0].get(), drive);

    ui.answer = false;
    EXPECT_FALSE(tree.Refresh(false));
    EXPECT_THAT(ui.questions, ElementsAre("Current scan and search results will be abandoned.\r\rAre you sure?"));
    EXPECT_EQ(tree.Root()->Children[0].get(), drive);
}

TEST_F(DriveTreeTest, RefreshRebuildsFromAFreshListAndKeepsLoadedImages) {
    AddStandardDisk();
    tree.Build(storage::EnumVolumes(os), storage::EnumPhysicalDrives(os));
    LoadCutImage();
    const TreeNode* oldDrive = tree.Root()->Children[0].get();
    AddVolumeDevice("sdb1", "NEW", "/media/new");  // plugged in after start-up

    ui.answer = true;
    ASSERT_TRUE(tree.Refresh(false));
    EXPECT_THAT(ui.questions, ElementsAre(app::kRefreshQuestion));
    EXPECT_THAT(Texts(*tree.Root()),
                ElementsAre("NEW (/media/new)", "ACME Disk (80h)", "disk.img", "Lost Files by Type", "Search Results"));
    EXPECT_NE(tree.Root()->Children[1].get(), oldDrive);
    EXPECT_EQ(tree.FileTypesNode(), tree.Root()->Children[3].get());
    EXPECT_THAT(Texts(*tree.Root()->Children[2]), ElementsAre("Total Disk Space", "PHOTOS (partition 1)",
                                                              "--- (partition 2) [partial]",
                                                              "--- (partition 3) [not in image]", "Lost Partitions"));

    // An image that can no longer be opened is reported and left out.
    os.addDisk("/img/disk.img", {}, 512, false);
    ASSERT_TRUE(tree.Refresh(false));
    EXPECT_THAT(Messages(), ElementsAre(storage::kInvalidImage));
    EXPECT_THAT(Texts(*tree.Root()),
                ElementsAre("NEW (/media/new)", "ACME Disk (80h)", "Lost Files by Type", "Search Results"));
}

// ---- Node helpers

TEST_F(DriveTreeTest, NodeHelpersOfANestedNode) {
    AddStandardDisk();
    tree.Build({}, {0x80});
    TreeNode* drive = tree.Root()->Children[0].get();
    TreeNode* part = Child(*drive, "DATA (/media/data)");
    TreeNode* folder = part->AddChild(app::NodeKind::Folder, "Photos");
    TreeNode* sub = folder->AddChild(app::NodeKind::Folder, "2024");
    TreeNode* lostNode = drive->Children.back().get();
    TreeNode* lost = lostNode->Children.at(0).get();

    EXPECT_EQ(NodePath(sub), "ACME Disk (80h)/DATA (/media/data)/Photos/2024");
    EXPECT_EQ(NodePath(lost), "ACME Disk (80h)/Lost Partitions/LOST (at sector 12352)");
    EXPECT_EQ(NodePath(tree.Root()), "My Computer");
    EXPECT_EQ(ScanOf(sub), part->Scan);
    EXPECT_EQ(ScanOf(drive), nullptr);
    EXPECT_EQ(DriveNodeOf(sub), drive);
    EXPECT_EQ(DriveNodeOf(tree.Root()), nullptr);
    EXPECT_TRUE(UnderLostPartitions(lost));
    EXPECT_FALSE(UnderLostPartitions(lostNode));
    EXPECT_FALSE(UnderLostPartitions(sub));
    EXPECT_EQ(PartitionOf(part), drive->Drive->PartitionList[1]);
    EXPECT_EQ(PartitionOf(sub), nullptr);
    EXPECT_EQ(sub->Index(), 0);
    EXPECT_EQ(part->Index(), 1);
    EXPECT_EQ(tree.Root()->Index(), -1);
}

TEST_F(DriveTreeTest, StateBitsOnlyOnScanCapableNodes) {
    AddStandardDisk();
    tree.Build({}, {0x80});
    TreeNode* drive = tree.Root()->Children[0].get();
    for (TreeNode* n : {tree.Root(), drive, drive->Children.back().get(), tree.FileTypesNode()}) {
        SCOPED_TRACE(n->Text);
        try {
            n->SetState(app::kStateScanStarted);
            ADD_FAILURE() << "SetState did not throw";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), app::kNodeStateError);
        }
        EXPECT_THROW((void)n->HasState(app::kStateFoldersBuilt), std::logic_error);
    }
    TreeNode* part = drive->Children[1].get();
    EXPECT_FALSE(part->HasState(app::kStateScanStarted));
    part->SetState(app::kStateScanStarted);
    EXPECT_TRUE(part->HasState(app::kStateScanStarted));
    EXPECT_FALSE(part->HasState(app::kStateFoldersBuilt));
    part->SetState(app::kStateFoldersBuilt);
    EXPECT_TRUE(part->HasState(app::kStateScanStarted));
    EXPECT_TRUE(part->HasState(app::kStateFoldersBuilt));
    EXPECT_TRUE(part->ScanCapable());
}

TEST(TreeNodeTest, InsertChildPlacesAndParentsTheNode) {
    TreeNode root;
    root.AddChild(app::NodeKind::Disk, "a");
    root.AddChild(app::NodeKind::Disk, "c");
    auto b = std::make_unique<TreeNode>();
    b->Text = "b";
    TreeNode* placed = root.InsertChild(1, std::move(b));
    auto d = std::make_unique<TreeNode>();
    d->Text = "d";
    root.InsertChild(99, std::move(d));
    EXPECT_THAT(Texts(root), ElementsAre("a", "b", "c", "d"));
    EXPECT_EQ(placed->Parent, &root);
    EXPECT_EQ(placed->Index(), 1);
    EXPECT_EQ(root.Children[0]->Kind, app::NodeKind::Disk);
    EXPECT_EQ(app::NodeIcon(root.Children[0]->Kind, false), app::Icon::Disk);
    EXPECT_EQ(app::NodeIcon(root.Children[0]->Kind, true), app::Icon::Disk);
}

// ---- Text rules

TEST(DriveTreeRules, PlausibleLabel) {
    struct Case {
        std::string label;
        bool plausible;
    };
    const Case cases[] = {
        {"", true},
        {"DATA", true},
        {"My Photos 2024", true},
        {std::string(32, 'A'), true},
        {std::string(33, 'A'), false},
        {[] { std::string s; for (int i = 0; i < 32; ++i) s += "\xC3\xA9"; return s; }(), true},  // é: 64 bytes
        {[] { std::string s; for (int i = 0; i < 32; ++i) s += "\xF0\x9F\x93\xB7"; return s; }(), true},  // pairs
        {[] { std::string s; for (int i = 0; i < 33; ++i) s += "\xC3\xA9"; return s; }(), false},
        {"BAD?", false},   {"A\"B", false}, {"A*B", false}, {"A/B", false},  {"A:B", false},
        {"A<B", false},    {"A>B", false},  {"A\\B", false}, {"A|B", false}, {"A\x1F" "B", false},
        {"A\x7F" "B", false}, {"A\xEF\xBF\xBD" "B", false},  // U+FFFD
        {"A\xEF\xBF\xBE" "B", false},                        // U+FFFE
        {"A\xFF" "B", false},                                // not UTF-8
        {"A B", true},     {"A\xEF\xBF\xBC" "B", true},      // U+FFFC is fine
    };
    for (const auto& c : cases) EXPECT_EQ(DriveTree::PlausibleLabel(c.label), c.plausible) << "\"" << c.label << "\"";
}

TEST(DriveTreeRules, PartitionSuffix) {
    struct Case {
        std::int64_t claimed, sectCount64;
        const char* suffix;
    };
    const Case cases[] = {
        {0, 0, ""},
        {0, 5000, ""},
        {8192, 0, " [not in image]"},
        {8192, 1808, " [partial]"},
    };
    for (const auto& c : cases) {
        partitions::TPartition p;
        p.ClaimedSectCount = c.claimed;
        p.SectCount64 = c.sectCount64;
        EXPECT_EQ(DriveTree::PartitionSuffix(p), c.suffix) << c.claimed << " / " << c.sectCount64;
    }
}

TEST(DriveTreeRules, VolumeDisplayNameIsTheMountPointOrTheDevicePath) {
    storage::VolumeInfo v;
    v.device = BlockDevice("sdb1", "sdb");
    EXPECT_EQ(DriveTree::VolumeDisplayName(v), "/dev/sdb1");
    v.device.mountPoint = "/run/media/me/CARD";
    EXPECT_EQ(DriveTree::VolumeDisplayName(v), "/run/media/me/CARD");
}

// ---- Real images

TEST(DriveTreeFixtures, PartitionNodesOfImagesMadeByTheRealTools) {
    struct Case {
        const char* image;
        std::vector<std::string> texts;
        std::vector<std::string> labels;  // of the partition nodes, as their scan objects read them
    };
    // Labels are the ones the build script gave mkfs; unlabelled partitions fall back to
    // the GPT type name or "---". No image partition has a place on this system: each is
    // named by its number on the disk, the index of the layout the script wrote.
    const Case cases[] = {
        {"demo.img",
         {"Total Disk Space", "PHOTOS (partition 1)", "CAMERA (partition 2)", "Windows (partition 3)", "Lost Partitions"},
         {"PHOTOS", "CAMERA", "Windows"}},
        {"gpt.img",
         {"Total Disk Space", "BASICDATA (partition 1)", "Linux (partition 2)", "Linux (partition 3)", "Free Disk Space",
          "Lost Partitions"},
         {"BASICDATA", "", ""}},
        {"truncated.img",
         {"Total Disk Space", "--- (partition 1)", "--- (partition 2) [partial]", "--- (partition 3) [not in image]",
          "Lost Partitions"},
         {"", "", ""}},
    };
    auto os = platform::makeLinuxPlatform();
    ScriptedUi ui;
    app::EventLog log;
    DriveTree tree(*os, ui, log);
    tree.Build({}, {});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        const auto path = fixture(c.image);
        if (!path) GTEST_SKIP() << "fixture " << c.image << " not built";
        TreeNode* node = tree.LoadImage(path->string());
        EXPECT_EQ(node->Text, c.image);
        EXPECT_EQ(Texts(*node), c.texts);
        std::vector<std::string> labels;
        for (const auto& child : node->Children) {
            if (child->Kind == app::NodeKind::Volume) labels.push_back(child->Scan->VolumeLabel());
        }
        EXPECT_EQ(labels, c.labels);
    }
    EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace brenvale::test
