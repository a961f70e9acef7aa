// The window's commands of the advanced scan: the scan and its resume, the stop that saves,
// the statistics and the adjustment of the FAT guess.

#include <fmt/format.h>

#include "advscan/checkpoint_resume.h"
#include "advscan/fat_entry_access.h"
#include "app/advanced_scan_command.h"
#include "app/shell.h"
#include "app/statistics.h"
#include "partitions/partition.h"

namespace brenvale::app {

namespace {

inline constexpr char kStatisticsTitleFormat[] = "{} selected item(s) in \"{}\"";

}  // namespace

void Shell::acAdvScan() { runAdvancedScan(false); }

void Shell::acResumeAdvScan() {
    if (FActionInProgress) return;
    TreeNode* node = targetNode();
    if (!node || !node->Scan) {
        FUi.ShowMessage(MessageKind::Information, advscan::kCheckpointNoObject, kAppTitle);
        return;
    }
    runAdvancedScan(true);
}

void Shell::acStop1() {
    FStopSaveMode = 1;
    FAdvSaveAtStop = true;
    if (auto* drv = FCurrentDrive.load()) {
        drv->TerminateProgress();
        return;
    }
    if (auto* adv = FCurrentAdv.load()) adv->Stop = true;
    if (auto* s = FCurrentScan.load()) s->TerminateProcess();
}

void Shell::runAdvancedScan(bool resume) {
    if (FActionInProgress) return;
    TreeNode* node = targetNode();
    if (!node || !node->Scan || !node->ScanCapable() || !IsVolumeKind(node->Kind)) return;
    const partitions::TPartition* p = PartitionOf(node);
    const std::int64_t start = p ? partitions::PartitionStart(p) : 0;
    const std::int64_t sectors = p ? partitions::PartitionSize(p) : 0;
    if (start < 0 || sectors <= 0) return;
    scan::TUndelete& s = *node->Scan;

    // A new state for every run; the node's old one (and what shows it) goes once the pass
    // begins, so a cancelled range window leaves the last results in place.
    auto fresh = std::make_unique<AdvVolume>(s, FConfig.Sizes, static_cast<std::uint64_t>(start),
                                             static_cast<std::uint64_t>(sectors));
    AdvVolume& v = *fresh;
    const std::string path = NodePath(node);
    AdvScanOutcome outcome = AdvScanOutcome::Cancelled;
    bool replaced = false;
    {
        Busy busy(*this);
        FAdvSaveAtStop = false;
        FStopSaveMode = 0;
        try {
            AdvancedScanCommand command(FUi, FLog, FOs, FConfig.CheckpointPath, [this] {
                if (OnConfigChanged) OnConfigChanged();
            });
            command.BeforePass = [&] {
                // The silent standard scan replaces the entries the folder nodes point into.
                forgetBelow(node, false);
                forgetLostFilesOf(s);
                node->ClearChildren();
                node->Adv = std::move(fresh);
                replaced = true;
                FCurrentScan = &s;
                FCurrentDrive = nullptr;
                FCurrentAdv = &v;
                FUi.ProgressVisible(true);
            };
            outcome = resume ? command.Resume(v, path, FAdvSaveAtStop) : command.Run(v, path, FAdvSaveAtStop);
        } catch (const std::exception& e) {
            FUi.ShowMessage(MessageKind::Error, e.what(), kAppTitle);
        }
        FCurrentAdv = nullptr;
        FCurrentScan = nullptr;
        FUi.ProgressVisible(false);
        if (replaced) {
            node->SetState(kStateScanStarted);
            FillFolderLevels(*node, DelFilterApplies(node), listProgress());
            if (outcome == AdvScanOutcome::Completed || outcome == AdvScanOutcome::Stopped) BuildAdvancedExtra(*node);
            // Raw Recovery shows the hits of a scan that went through the whole object.
            s.FAdvScaned = outcome == AdvScanOutcome::Completed;
            node->SetState(kStateFoldersBuilt);
            node->Expanded = true;
        }
    }
    FFocus = Focus::Tree;
    SelectNode(node);
}

// ---- Statistics

bool Shell::countable(const TreeNode* node) const {
    if (!node) return false;
    if (IsVolumeKind(node->Kind)) {
        return node->Scan && (!node->Scan->ScannedFiles.empty() || (node->Adv && node->Adv->Tree));
    }
    if (IsFolderKind(node->Kind)) return node->Entry != nullptr;
    if (IsAdvNode(node)) return node->AdvIndex >= 0 && AdvVolumeOf(node);
    if (node->Kind == NodeKind::SearchResults) return !FRows.empty();
    return false;
}

void Shell::acStatistics() {
    if (FActionInProgress || !FSelected) return;
    TreeNode* node = FSelected;
    const bool listFocus = FFocus == Focus::List;
    if (!listFocus && !countable(node)) return;
    StatCounter counter;
    std::int32_t skipped = 0, counted = 0;
    const auto wholeVolume = [&](const TreeNode* volume) {
        scan::TUndelete* s = volume->Scan;
        if (!s) return false;
        std::int32_t lo = -1, hi = -1;
        if (s->GetDirBounds(s->DelRootKey(), lo, hi)) {
            counter.CountStandard(*s, nullptr, DelFilterApplies(volume));
        } else if (volume->Adv && volume->Adv->Tree) {
            counter.CountAdvanced(*volume->Adv->Tree, 0);
        } else {
            return false;
        }
        return true;
    };
    const auto countRow = [&](const ListRow& row) {
        const TreeNode* rowNode = row.Data.Node();
        if (row.AdvNode >= 0) {
            const AdvVolume* v = AdvVolumeOf(rowNode ? rowNode : node);
            if (!v || !v->Tree) return false;
            counter.CountAdvanced(*v->Tree, static_cast<std::size_t>(row.AdvNode));
            return true;
        }
        if (rowNode) return IsVolumeKind(rowNode->Kind) && wholeVolume(rowNode);
        scan::TUndelete* s = row.Scan ? row.Scan : ScanOf(node);
        if (!row.Data.Entry() || !s) return false;
        counter.CountStandard(*s, row.Data.Entry(), DelFilterApplies(node));
        return true;
    };
    std::string title;
    if (listFocus || node->Kind == NodeKind::SearchResults) {
        const auto& picked = listFocus ? FSelectedRows : std::vector<std::size_t>{};
        std::vector<std::size_t> all;
        if (!listFocus) {
            for (std::size_t i = 0; i < FRows.size(); ++i) all.push_back(i);
        }
        for (std::size_t r : listFocus ? picked : all) {
            if (countRow(FRows[r])) {
                ++counted;
            } else {
                ++skipped;
            }
        }
        if (counted == 0) {
            FUi.ShowMessage(MessageKind::Information, kNothingToCount, kAppTitle);
            return;
        }
        title = listFocus ? fmt::format(kStatisticsTitleFormat, picked.size(), NodePath(node)) : NodePath(node);
    } else {
        if (IsVolumeKind(node->Kind)) {
            wholeVolume(node);
        } else if (IsFolderKind(node->Kind)) {
            counter.CountStandard(*ScanOf(node), node->Entry, DelFilterApplies(node));
        } else if (const AdvVolume* v = AdvVolumeOf(node); v && v->Tree) {
            counter.CountAdvanced(*v->Tree, static_cast<std::size_t>(node->AdvIndex));
        }
        title = NodePath(node);
    }
    FUi.ShowMessage(MessageKind::Information, StatisticsMessage(title, counter.Totals(), skipped), kStatisticsCaption);
}

// ---- Adjustment

TreeNode* Shell::AdjustVolume() {
    if (FActionInProgress || !Commands().Adjust) return nullptr;
    return AdvVolumeNodeOf(FSelected);
}

void Shell::rebuildAdvancedNodes(TreeNode* volume, AdvKind select) {
    if (TreeNode* old = AdvFindExtraNode(*volume)) forgetBelow(old, true);
    volume->Adv->RebuildTree();
    BuildAdvancedExtra(*volume);
    TreeNode* shown = AdvContainerNode(*volume, select);
    if (shown) shown->Expanded = true;
    FFocus = Focus::Tree;
    SelectNode(shown ? shown : volume);
}

bool Shell::DoAdjust(TreeNode* volume, const scan::TScanEntry* file1, const scan::TScanEntry* file2) {
    if (FActionInProgress || !volume || !volume->Adv || !file1 || !file2) return false;
    advscan::AdvancedScan& adv = *volume->Adv->Adv;
    // Folders further on the disk have higher clusters; two files that say otherwise do not
    // come from one file system.
    const std::int64_t ds = advscan::fatentry::dirSect(file1) - advscan::fatentry::dirSect(file2);
    const std::int64_t dc = std::int64_t{advscan::fatentry::dirClus(file1)} - advscan::fatentry::dirClus(file2);
    if ((ds > 0) != (dc > 0) || (ds < 0) != (dc < 0)) {
        FUi.ShowMessage(MessageKind::Warning, advscan::kAdjustNotSameFileSystem, kAppTitle);
        return false;
    }
    advscan::AdjustResult result;
    {
        Busy busy(*this);
        result = adv.Fat.DoAdjust(file1, file2, adv.StageFDTs, adv.Lists.ExFatDirs);
    }
    switch (result) {
        case advscan::AdjustResult::Done: break;
        case advscan::AdjustResult::NoCluster: FUi.ShowMessage(MessageKind::Warning, advscan::kAdjustNoCluster, kAppTitle); return false;
        case advscan::AdjustResult::SameDirectory:
            FUi.ShowMessage(MessageKind::Warning, advscan::kAdjustSameDirectory, kAppTitle);
            return false;
        case advscan::AdjustResult::NotSameFileSystem:
            FUi.ShowMessage(MessageKind::Warning, advscan::kAdjustNotSameFileSystem, kAppTitle);
            return false;
    }
    rebuildAdvancedNodes(volume, AdvKind::FatRoot);
    FUi.ShowMessage(MessageKind::Information, advscan::kAdjustCompleted, kAppTitle);
    return true;
}

void Shell::DoChangeFsType(TreeNode* volume) {
    if (FActionInProgress || !volume || !volume->Adv) return;
    advscan::AdvancedScan& adv = *volume->Adv->Adv;
    {
        Busy busy(*this);
        // The entries the tree points at are read again.
        if (TreeNode* old = AdvFindExtraNode(*volume)) forgetBelow(old, true);
        if (TreeNode* old = AdvFindExtraNode(*volume)) {
            auto& kids = volume->Children;
            kids.erase(kids.begin() + old->Index());
        }
        volume->Adv->Tree.reset();
        adv.Fat.DoChangeFS(adv.StageFDTs, adv.Lists.ExFatDirs);
    }
    rebuildAdvancedNodes(volume, AdvKind::FatRoot);
    FUi.ShowMessage(MessageKind::Information, advscan::kChangeFsCompleted, kAppTitle);
}

}  // namespace brenvale::app
