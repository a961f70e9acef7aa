#include "app/drive_tree.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <string_view>
#include <thread>

#include <fmt/printf.h>

#include "app/volume_texts.h"
#include "partitions/lost_partitions.h"
#include "storage/device_events.h"
#include "storage/fs_detect.h"
#include "storage/fs_types.h"
#include "storage/utf.h"

namespace brenvale::app {

namespace {

constexpr std::size_t kBootSectorBytes = 512;
// The kernel names its floppy drives fd0, fd1, ...: only those are floppies, whatever number
// their volume got.
bool isFloppyDevice(const platform::BlockDeviceInfo& device) {
    const std::string_view name = device.name;
    return name.size() > 2 && name.starts_with("fd") &&
           std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}
constexpr std::u16string_view kLabelForbidden = u"\"*/:<>?\\|";

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void defaultSleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// An image's own name: the part after the last "/".
std::string fileNameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

DriveTree::DriveTree(platform::Platform& os, UserInterface& ui, EventLog& log)
    : Sleep(defaultSleep), FOs(os), FUi(ui), FLog(log) {
    FRoot.Kind = NodeKind::Computer;
    FRoot.Text = kMyComputerText;
}

std::string DriveTree::VolumeDisplayName(const storage::VolumeInfo& volume) {
    return volume.device.mountPoint.empty() ? volume.device.path : volume.device.mountPoint;
}

bool DriveTree::PlausibleLabel(const std::string& utf8) {
    // Invalid UTF-8 converts to U+FFFD, which is refused below.
    const std::u16string text = storage::Utf8ToUtf16(utf8);
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        ++chars;
        if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            ++i;  // one character beyond the basic plane
            continue;
        }
        if (c < 0x20 || c == 0x7F || c == 0xFFFD || c == 0xFFFE) return false;
        if (kLabelForbidden.find(c) != std::u16string_view::npos) return false;
    }
    return chars <= kMaxLabelChars;
}

std::string DriveTree::PartitionSuffix(const partitions::TPartition& p) {
    if (p.ClaimedSectCount <= 0) return {};
    return p.SectCount64 == 0 ? kNotInImageSuffix : kPartialSuffix;
}

std::unique_ptr<TreeNode> DriveTree::newNode(NodeKind kind, std::string text) const {
    auto node = std::make_unique<TreeNode>();
    node->Kind = kind;
    node->Text = std::move(text);
    return node;
}

scan::TUndelete& DriveTree::attachScan(TreeNode& node, storage::TDevice& device, partitions::TPartition& record) {
    node.OwnedScan = std::make_unique<scan::TUndelete>(device, record, &FUi);
    node.Scan = node.OwnedScan.get();
    node.MakeScanCapable();
    if (OnRecover) node.Scan->FOnRecover = OnRecover;
    if (OnRecoverProgress) node.Scan->FOnRecoverProgress = OnRecoverProgress;
    return *node.Scan;
}

// ---- Build and refresh

void DriveTree::Build(const std::vector<storage::VolumeInfo>& volumes, const std::vector<std::uint8_t>& physicalDrives) {
    FRoot.ClearChildren();
    FRoot.Expanded = false;
    FFileTypes = FSearchResults = nullptr;
    for (const auto& volume : volumes) addVolumeWithRetries(volume);
    for (const std::uint8_t number : physicalDrives) addPhysicalDrive(number);
    FFileTypes = FRoot.AddChild(NodeKind::LostFiles, kLostFilesText);
    FSearchResults = FRoot.AddChild(NodeKind::SearchResults, kSearchResultsText);
}

void DriveTree::ReportUnopenedDisks() {
    const bool root = FOs.runningAsRoot();
    for (const auto& unopened : storage::UnopenedDisks(FOs)) {
        FLog.AddEvent(kDriveIoEvent, storage::UnopenedDiskText(unopened, root));
    }
}

bool DriveTree::deviceListed(const storage::VolumeInfo& volume) const {
    const auto same = [&](const platform::BlockDeviceInfo& d) { return d.path == volume.device.path; };
    const auto disks = FOs.wholeDisks();
    const auto parts = FOs.partitions();
    return std::any_of(disks.begin(), disks.end(), same) || std::any_of(parts.begin(), parts.end(), same);
}

void DriveTree::addVolumeWithRetries(const storage::VolumeInfo& volume) {
    std::string error;
    int attempts = 0;
    while (attempts < kVolumeAttempts) {
        ++attempts;
        storage::DeviceAborted = false;
        try {
            AddVolume(volume);
            return;
        } catch (const std::exception& e) {
            error = e.what();
        }
        // A device node that is gone will not come back within a second: no point waiting.
        if (attempts >= kVolumeAttempts || !deviceListed(volume)) break;
        if (Sleep) Sleep(kVolumeRetryMs);
    }
    const std::string where = VolumeDisplayName(volume);
    FLog.AddEvent(kDriveIoEvent, fmt::sprintf(kVolumeNotReadyEvent, where, attempts, error));
    FUi.ShowMessage(MessageKind::Warning, fmt::sprintf(kVolumeNotReadyMessage, where, where), kAppTitle);
}

void DriveTree::addPhysicalDrive(std::uint8_t number) {
    try {
        AddDrive(std::make_unique<partitions::TPhysicalDrv>(FOs, number), false, {});
    } catch (const std::exception& e) {
        FLog.AddEvent(kDriveIoEvent, fmt::sprintf(kDriveLoadFailedEvent, number, number, e.what()));
        FUi.ShowMessage(MessageKind::Warning, fmt::sprintf(kDriveNotReadyMessage, number), kAppTitle);
    }
}

bool DriveTree::Refresh(bool actionInProgress) {
    if (actionInProgress) return false;
    if (!FUi.AskYesNo(kRefreshQuestion)) return false;

    // Images were opened by the user, not found by the enumeration: open them again.
    struct LoadedImage {
        std::string path;
        std::uint32_t rawSectorSize;
    };
    std::vector<LoadedImage> images;
    for (const auto& child : FRoot.Children) {
        if (child->Kind != NodeKind::Image || !child->Drive) continue;
        const storage::TDevice& dev = *child->Drive->Device;
        images.push_back({dev.Path(), dev.IsRawImage() ? dev.BytesPerSector() : 0});
    }
    FRoot.ClearChildren();  // every device closes before the enumeration opens them again

    const auto volumes = storage::EnumVolumes(FOs);
    const auto drives = storage::EnumPhysicalDrives(FOs);
    Build(volumes, drives);
    ReportUnopenedDisks();
    for (const auto& image : images) {
        try {
            LoadImage(image.path, image.rawSectorSize);
        } catch (const std::exception& e) {
            FUi.ShowMessage(MessageKind::Error, e.what(), kAppTitle);
        }
    }
    return true;
}

// ---- Volumes

TreeNode* DriveTree::AddVolume(const storage::VolumeInfo& volume) {
    auto device = std::make_unique<storage::TDevice>(FOs, volume.number);
    auto record = std::make_unique<partitions::TPartition>();
    const std::uint64_t sectors = device->Sectors();
    record->Entry.SectCount = static_cast<std::uint32_t>(sectors);
    record->SectCount64 = static_cast<std::int64_t>(sectors);
    record->BytesPerSector = device->BytesPerSector();
    // DriveLetter stays 0 on Linux; the volume's place on the system stands in for it.
    record->VolumePath = VolumeDisplayName(volume);

    std::vector<std::byte> sector(std::max<std::size_t>(device->BytesPerSector(), kBootSectorBytes));
    if (device->Read(0, 1, sector) >= kBootSectorBytes) {
        record->BootSector = storage::MakeBootSector(std::span<const std::byte>(sector).first(kBootSectorBytes));
    } else {
        record->BootSector = storage::TBootSector{storage::kFsUnknown, {}};
    }

    auto node = newNode(isFloppyDevice(volume.device) ? NodeKind::Floppy : NodeKind::Volume, {});
    const scan::TUndelete& scan = attachScan(*node, *device, *record);
    // "%s (%s:)" with a drive letter: a mount point or device path takes the letter's place,
    // and a colon after a path would read as part of it.
    node->Text = fmt::sprintf("%s (%s)", scan.VolumeLabel().empty() ? kNoLabelText : scan.VolumeLabel(),
                              VolumeDisplayName(volume));
    node->OwnedDevice = std::move(device);
    node->OwnedPartition = std::move(record);
    return FRoot.AddChild(std::move(node));
}

// ---- Drives and images

std::string DriveTree::partitionText(const partitions::TPhysicalDrv& drv, partitions::TPartition& record,
                                     const scan::TUndelete& scan) const {
    std::string label = scan.VolumeLabel();
    if (label.empty()) label = drv.GptTypeName(&record);
    if (label.empty()) label = kNoLabelText;
    return fmt::sprintf("%s (%s)", label, PartitionPlace(record)) + PartitionSuffix(record);
}

TreeNode* DriveTree::AddDrive(std::unique_ptr<partitions::TPhysicalDrv> drv, bool image, const std::string& imageName) {
    storage::TDevice& device = *drv->Device;
    auto node = image ? newNode(NodeKind::Image, fileNameOf(imageName))
                      : newNode(NodeKind::Disk, fmt::sprintf("%s (%xh)", device.Model, device.DeviceNum()));

    bool partitionMade = false;
    for (std::size_t i = 1; i < drv->PartitionList.size(); ++i) {
        partitions::TPartition& record = *drv->PartitionList[i];
        const std::uint8_t type = record.Entry.SystemFlag;
        if (partitions::IsExtendedType(type)) continue;  // containers and the links of their chain
        if (type == storage::kPartTypeEmpty) {
            attachScan(*node->AddChild(NodeKind::DiskSpace, kFreeSpaceText), device, record);
            continue;
        }
        TreeNode* child = node->AddChild(NodeKind::Volume, {});
        child->Text = partitionText(*drv, record, attachScan(*child, device, record));
        partitionMade = true;
    }
    if (partitionMade) {
        auto whole = newNode(NodeKind::DiskSpace, kWholeDiskText);
        attachScan(*whole, device, drv->Partition).FWholeDiskObject = true;
        node->InsertChild(0, std::move(whole));
    }
    TreeNode* lost = node->AddChild(NodeKind::LostPartitions, kLostPartitionsText);
    fillLostPartitions(*lost, *drv);

    node->Drive = drv.get();
    node->OwnedDrive = std::move(drv);
    const int before = FFileTypes ? FFileTypes->Index() : -1;
    TreeNode* added = before >= 0 ? FRoot.InsertChild(static_cast<std::size_t>(before), std::move(node))
                                  : FRoot.AddChild(std::move(node));
    FRoot.Expanded = true;
    return added;
}

TreeNode* DriveTree::LoadImage(const std::string& path, std::uint32_t rawSectorSize) {
    return AddDrive(std::make_unique<partitions::TPhysicalDrv>(FOs, path, rawSectorSize), true, path);
}

// ---- Lost partitions

void DriveTree::fillLostPartitions(TreeNode& lostNode, partitions::TPhysicalDrv& drv) {
    lostNode.ClearChildren();
    storage::TDevice& device = *drv.Device;
    for (partitions::TPartition* record : drv.LostPartitionList) {
        if (!record || !partitions::IsPlausibleLostPartition(*record, device.Sectors())) continue;
        auto node = newNode(NodeKind::Volume, {});
        const scan::TUndelete& scan = attachScan(*node, device, *record);
        // A label that no formatting tool writes means the boot sector is not what it seems.
        if (!PlausibleLabel(scan.VolumeLabel())) continue;
        const std::string& label = scan.VolumeLabel();
        node->Text = fmt::sprintf("%s (%s)", label.empty() ? kNoLabelText : label, PartitionPlace(*record)) +
                     PartitionSuffix(*record);
        lostNode.AddChild(std::move(node));
    }
}

void DriveTree::RebuildLostPartitions(TreeNode* node) {
    TreeNode* driveNode = DriveNodeOf(node);
    if (!driveNode) return;
    auto& children = driveNode->Children;
    const auto it = std::find_if(children.begin(), children.end(),
                                 [](const auto& c) { return c->Kind == NodeKind::LostPartitions; });
    TreeNode* lost = it != children.end() ? it->get() : driveNode->AddChild(NodeKind::LostPartitions, kLostPartitionsText);
    fillLostPartitions(*lost, *driveNode->Drive);
}

}  // namespace brenvale::app
