// The window's long commands: scans, recovery, partition search, images and search.

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "app/adv_recovery_backend.h"
#include "app/create_image.h"
#include "app/partition_scan.h"
#include "app/search_command.h"
#include "app/shell.h"
#include "app/standard_scan.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "storage/fs_types.h"

namespace brenvale::app {

namespace {

// The message of an exception that ended a command, for the error box.
void ShowFailure(UserInterface& ui, const std::exception& e) { ui.ShowMessage(MessageKind::Error, e.what(), kAppTitle); }

}  // namespace

void Shell::btnScan() {
    if (FActionInProgress) return;
    RunScanMode(FUi.ChooseScanMode(ScanModes()));
}

void Shell::RunScanMode(int choice) {
    if (FActionInProgress) return;
    for (const auto& c : ScanModes()) {
        if (c.Result != choice || !c.Enabled) continue;
        if (choice == kScanModeNormal) acNormalScan();
        if (choice == kScanModePartitions) acPartiScan();
        if (choice == kScanModeAdvanced) acAdvScan();
        if (choice == kScanModeResume) acResumeAdvScan();
    }
}

void Shell::acNormalScan() {
    if (FActionInProgress) return;
    TreeNode* node = targetNode();
    if (!node || !node->Scan || !node->ScanCapable() || node->Kind == NodeKind::DiskSpace) return;
    scan::TUndelete& s = *node->Scan;
    {
        Busy busy(*this);
        try {
            node->SetState(kStateScanStarted);
            FCurrentScan = &s;
            FCurrentDrive = nullptr;
            FUi.ProgressVisible(s.FileSystem() == storage::kFsNtfs);
            StandardScanCommand command(FUi, FLog);
            command.Run(s, NodePath(node));
            FCurrentScan = nullptr;

            // The old folder nodes point into the entries the scan just replaced.
            forgetBelow(node, false);
            forgetLostFilesOf(s);
            node->ClearChildren();
            FUi.ProgressVisible(false);
            FillFolderLevels(*node, DelFilterApplies(node), listProgress());
            node->SetState(kStateFoldersBuilt);
            node->Expanded = true;
        } catch (const std::exception& e) {
            FCurrentScan = nullptr;
            ShowFailure(FUi, e);
        }
    }
    FFocus = Focus::Tree;
    SelectNode(node);
    // Until something else is selected, the status bar says what the scan found.
    FStatus.Panels[1] = ScanFoundText(s);
    FUi.ShowStatusBar(FStatus.Panels);
}

void Shell::acStop() {
    FStopSaveMode = 0;
    FAdvSaveAtStop = false;
    if (auto* adv = FCurrentAdv.load()) adv->Stop = true;
    if (auto* dev = FCurrentDevice.load()) {
        dev->TerminateProgress();
    } else if (auto* drv = FCurrentDrive.load()) {
        drv->TerminateProgress();
    } else if (auto* s = FCurrentScan.load()) {
        s->TerminateProcess();
    }
}

void Shell::acRecover() {
    if (FActionInProgress || !FSelected || !Commands().Recover) return;
    TreeNode* node = FSelected;

    // What to recover, taken before any dialog: the selected rows, or the selected folder. Each
    // goes to the scan object of its own volume (search hits name theirs), in list order.
    std::vector<RecoveryJob> jobs;
    AdvRecoveryJobs advJobs;  // entries of the "!!! Advanced Extra !!!" tree
    const auto jobOf = [&](scan::TUndelete* s) -> RecoveryJob& {
        for (auto& j : jobs) {
            if (j.scan == s && !j.backend) return j;
        }
        jobs.push_back({s, {}, DelFilterApplies(node)});
        return jobs.back();
    };
    if (FFocus == Focus::List) {
        for (std::size_t r : FSelectedRows) {
            const ListRow& row = FRows[r];
            if (row.AdvNode >= 0) {
                AdvVolume* v = AdvVolumeOf(row.Data.Node() ? row.Data.Node() : node);
                if (RecoveryJob* job = v ? advJobs.JobOf(*v, jobs) : nullptr) {
                    job->targets.push_back({row.Data.Entry(), row.Caption, IsFolderRow(row.Kind), row.AdvNode});
                }
                continue;
            }
            const scan::TScanEntry* entry = row.Data.Entry();
            scan::TUndelete* s = row.Scan ? row.Scan : ScanOf(node);
            if (!entry || !s) continue;  // device rows are not entries
            jobOf(s).targets.push_back({entry, row.Caption, IsFolderRow(row.Kind)});
        }
    } else if (IsAdvNode(node)) {
        AdvVolume* v = AdvVolumeOf(node);
        if (RecoveryJob* job = v ? advJobs.JobOf(*v, jobs) : nullptr) {
            job->targets.push_back({node->Entry, node->Text, true, node->AdvIndex});
        }
    } else if (scan::TUndelete* s = ScanOf(node)) {
        jobOf(s).targets.push_back({node->Entry, node->Text, true});
    }
    if (jobs.empty()) return;

    RecoverCommand command(FUi, FLog, FOs);
    command.OnCurrentScan = [this](scan::TUndelete* s) { FCurrentScan = s; };
    try {
        for (const auto& job : jobs) {
            if (!command.DeviceOnline(*job.scan)) return;
        }
        // The picker opens where the last recovery went, else in the home folder; never in
        // whatever the program's working folder happens to be.
        std::string initialDir = FConfig.RecoverFolder.empty() ? platform::HomeDirectory() : FConfig.RecoverFolder;
        std::string destination;
        for (;;) {
            const auto chosen = FUi.ChooseFolder(kRecoverTitle, initialDir);
            if (!chosen) return;
            const bool onSource = std::any_of(jobs.begin(), jobs.end(), [&](const RecoveryJob& j) {
                return j.scan->DestInsideScannedObject(FOs, *chosen);
            });
            if (!onSource) {
                destination = *chosen;
                break;
            }
            initialDir = *chosen;
            FUi.ShowMessage(MessageKind::Warning, kDestinationOnSource, kDestinationOnSourceCaption);
        }
        {
            Busy busy(*this);
            FUi.Progress(0);
            FUi.ProgressVisible(true);
            FLastRecovery = command.Run(jobs, destination);
            FCurrentScan = nullptr;
        }
        // The next picker opens where files last went; a folder that took none is not kept.
        const RecoveryOutcome o = FLastRecovery.outcome;
        if (o != RecoveryOutcome::DestinationUnwritable && o != RecoveryOutcome::DestinationRefused &&
            FConfig.RecoverFolder != destination) {
            FConfig.RecoverFolder = destination;
            if (OnConfigChanged) OnConfigChanged();
        }
    } catch (const std::exception& e) {
        FCurrentScan = nullptr;
        ShowFailure(FUi, e);
        return;
    }
    refreshStatusBar();
    const RecoveryOutcome o = FLastRecovery.outcome;
    if (o == RecoveryOutcome::Done || o == RecoveryOutcome::Stopped) FUi.ShowRecoverySummary(FLastRecovery);
}

void Shell::acPartiScan() {
    if (FActionInProgress) return;
    TreeNode* node = targetNode();
    TreeNode* driveNode = DriveNodeOf(node);
    if (!node || !driveNode || !driveNode->Drive || !driveNode->Drive->Device) return;
    partitions::TPhysicalDrv& drv = *driveNode->Drive;

    PartitionScanTarget target{node->Text, {}};
    if (node == driveNode) {
        target.Proposed = {0, static_cast<std::int64_t>(drv.Device->Sectors())};
    } else if (const partitions::TPartition* p = PartitionOf(node); p && node->Kind != NodeKind::LostPartitions) {
        target.Proposed = {partitions::PartitionStart(p), partitions::PartitionSize(p)};
    }

    int result = 0;
    const std::string checkpointBefore = FConfig.PartiCheckpointPath;
    {
        Busy busy(*this);
        FUi.ProgressVisible(true);
        FCurrentDrive = &drv;
        try {
            PartitionScanCommand command(FUi, FLog, FConfig.PartiCheckpointPath, platform::DataDirectory());
            result = command.Run(drv, target);
        } catch (const std::exception& e) {
            result = kPartitionScanCancelled;
            ShowFailure(FUi, e);
        }
        FCurrentDrive = nullptr;
    }
    if (FConfig.PartiCheckpointPath != checkpointBefore && OnConfigChanged) OnConfigChanged();
    if (result != partitions::kSearchDone && result != partitions::kSearchStopped) return;

    // The lost partitions are rebuilt from scratch: nothing may point into the old ones.
    for (auto& child : driveNode->Children) {
        if (child->Kind == NodeKind::LostPartitions) forgetBelow(child.get(), false);
    }
    FTree->RebuildLostPartitions(driveNode);
    driveNode->Expanded = true;
    for (auto& child : driveNode->Children) {
        if (child->Kind == NodeKind::LostPartitions) child->Expanded = true;
    }
    SelectNode(FSelected);
    FStatus.Panels[1] = LostFoundText(result, drv.LostPartitionList.size());
    FUi.ShowStatusBar(FStatus.Panels);
}

void Shell::acCreateImg() {
    if (FActionInProgress) return;
    TreeNode* node = targetNode();
    if (!node) return;

    storage::TDevice* dev = nullptr;
    ImagePlan plan;
    try {
        if (node->Drive && node->Drive->Device) {
            dev = node->Drive->Device.get();
            plan = ProposeImagePlan(*dev);
        } else if (node->Scan) {
            dev = &node->Scan->Device();
            const partitions::TPartition* p = PartitionOf(node);
            if (node->OwnedDevice) {
                plan = ProposeImagePlan(*dev);  // a volume of the system: the whole of it
            } else if (node->Kind == NodeKind::DiskSpace && node->Text == kWholeDiskText) {
                plan = {0, dev->Sectors(), 0, 0, 0};
            } else if (p) {
                plan = VolumePlan(*dev, static_cast<std::uint64_t>(partitions::PartitionStart(p)),
                                  static_cast<std::uint64_t>(partitions::PartitionSize(p)));
            }
        }
        if (!dev || dev->Sectors() == 0 || plan.Blocks == 0) return;

        const auto range = FUi.ChooseRange({static_cast<std::int64_t>(plan.LBA), static_cast<std::int64_t>(plan.Blocks)},
                                           dev->BytesPerSector(), dev->Sectors());
        if (!range || range->First < 0 || range->Count <= 0 ||
            static_cast<std::uint64_t>(range->First) >= dev->Sectors()) {
            return;
        }
        const auto first = static_cast<std::uint64_t>(range->First);
        const auto count = std::min(static_cast<std::uint64_t>(range->Count), dev->Sectors() - first);
        if (plan.ImgType != 0) {
            plan = VolumePlan(*dev, first, count);
        } else {
            plan.LBA = first;
            plan.Blocks = count;
        }

        Busy busy(*this);
        std::string fileName;
        for (;;) {
            const auto chosen = FUi.ChooseSaveFile(kCreateImageTitle, kImageFilter, "dif");
            if (!chosen) return;
            if (!ImageTargetOnSource(FOs, *dev, *chosen, plan.LBA, plan.Blocks)) {
                fileName = *chosen;
                break;
            }
            FUi.ShowMessage(MessageKind::Warning, kImageOnSourceDisk, kDestinationOnSourceCaption);
        }
        FUi.Progress(0);
        FUi.ProgressVisible(true);
        dev->FOnCreateImg = [this](int percent) {
            FUi.Progress(percent);
            FUi.Pump();
        };
        FCurrentDevice = dev;
        struct Detach {
            Shell& shell;
            storage::TDevice& dev;
            ~Detach() {
                shell.FCurrentDevice = nullptr;
                dev.FOnCreateImg = nullptr;
            }
        } detach{*this, *dev};
        RunCreateImage(*dev, FLog, fileName, plan);
    } catch (const std::exception& e) {
        ShowFailure(FUi, e);
    }
}

void Shell::acLoadImg() {
    if (FActionInProgress) return;
    const auto path = FUi.ChooseOpenFile(kLoadImageTitle, kLoadImageFilter);
    if (path) LoadImageFile(*path);
}

bool Shell::LoadImageFile(const std::string& path) {
    if (FActionInProgress) return false;
    TreeNode* image = nullptr;
    try {
        Busy busy(*this);
        image = FTree->LoadImage(path);
    } catch (const storage::DeviceError& e) {
        const std::string reason = e.Code() != 0 ? platform::errorText(e.Code()) : std::string();
        const std::string text =
            reason.empty() ? fmt::format("{}\r\n\r\n\"{}\"", e.what(), path) : fmt::format(kImageFailedFormat, e.what(), path, reason);
        FLog.AddEvent(kLoadImageEvent, fmt::format("\"{}\": {}{}", path, e.what(), reason.empty() ? "" : " " + reason));
        FUi.ShowMessage(MessageKind::Error, text, kAppTitle);
        return false;
    } catch (const std::exception& e) {
        ShowFailure(FUi, e);
        return false;
    }
    FLog.AddEvent(kLoadImageEvent, fmt::format(kImageLoadedFormat, path));
    // An image of nothing we read is loaded all the same; the log says why its node is empty.
    const bool holdsSomething = std::any_of(image->Children.begin(), image->Children.end(), [](const auto& c) {
        return c->Kind == NodeKind::Volume || (c->Kind == NodeKind::LostPartitions && !c->Children.empty());
    });
    if (!holdsSomething) FLog.AddEvent(kLoadImageEvent, fmt::format(kImageHoldsNothing, image->Text));
    if (FSelected == FTree->Root()) SelectNode(FSelected);
    return true;
}

void Shell::acSearch() {
    if (FActionInProgress || !FSelected) return;
    TreeNode* node = FSelected;
    scan::TUndelete* s = ScanOf(node);
    if (!s || !ListsFolderEntries(node->Kind)) return;
    const auto criteria = FUi.AskSearch();
    if (!criteria) return;
    SearchQuery query;
    try {
        query = ToSearchQuery(*criteria);
    } catch (const std::invalid_argument& e) {
        FUi.ShowMessage(MessageKind::Error, e.what(), kAppTitle);
        return;
    }
    FSearchedNode = node;
    FSearchUnderLost = UnderLostPartitions(node);
    {
        Busy busy(*this);
        RunSearch(*s, node->Entry, query, DelFilterApplies(node));
    }
    if (s->ScannedFiles.empty()) return;
    SelectNode(FTree->SearchResultsNode());
}

void Shell::acRefresh() {
    if (FActionInProgress) return;
    if (!FTree->Refresh(FActionInProgress)) return;
    // Drives may have come and gone under the same numbers: judge them again.
    if (FHealth) FHealth->Reset();
    // Every node below the root was replaced; nothing may keep pointing into the old ones.
    FSelected = nullptr;
    FSearchedNode = nullptr;
    FPath.clear();
    showRows({}, false);
    syncLostFiles();
    SelectNode(FTree->Root());
}

}  // namespace brenvale::app
