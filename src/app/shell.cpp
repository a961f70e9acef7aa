#include "app/shell.h"

#include <algorithm>

#include "app/health_texts.h"
#include "storage/drive_enum.h"

namespace brenvale::app {

Shell::Busy::Busy(Shell& s) : shell(s) { shell.FActionInProgress = true; }

Shell::Busy::~Busy() {
    shell.FUi.ProgressVisible(false);
    shell.FActionInProgress = false;
}

Shell::Shell(platform::Platform& os, UserInterface& ui, EventLog& log, Config& config, platform::DriveCommands* drives)
    : FOs(os), FUi(ui), FLog(log), FConfig(config), FTree(std::make_unique<DriveTree>(os, ui, log)) {
    if (drives) FHealth = std::make_unique<health::HealthCache>(os, *drives);
    // Every scan object reads the switch when it scans.
    scan::ShowOnlyDeleted = config.ShowOnlyDeleted;
}

Shell::~Shell() = default;

void Shell::Start() {
    Start(storage::EnumVolumes(FOs), storage::EnumPhysicalDrives(FOs));
    FTree->ReportUnopenedDisks();
}

void Shell::Start(const std::vector<storage::VolumeInfo>& volumes, const std::vector<std::uint8_t>& drives) {
    FSelected = nullptr;
    FSearchedNode = nullptr;
    if (FHealth) FHealth->Reset();
    FTree->Build(volumes, drives);
    syncLostFiles();
    SelectNode(FTree->Root());
}

// ---- Selection and listing

bool Shell::SelectNode(TreeNode* node) {
    if (FActionInProgress || !node) return false;
    openLostFiles(FSelected, node);
    FSelected = node;
    FSelectedRows.clear();
    FFilter.Reset();
    FFilter.ClearSort();
    FFilterText.clear();
    const bool devices = ListsDevices(node->Kind);
    FFilterBarVisible = !devices;
    FPath = devices ? std::vector<TreeNode*>{} : ShowPathOf(node);
    listNode(node);
    refreshStatusBar();
    return true;
}

void Shell::listNode(TreeNode* node) {
    const NodeKind kind = node->Kind;
    if (ListsDevices(kind)) {
        showRows(DeviceList(*node), false);
    } else if (ListsFolderEntries(kind)) {
        auto rows = ListFolderEntries(*node, FTypes, DelFilterApplies(node), listProgress());
        if (const TreeNode* extra = IsVolumeKind(kind) ? AdvFindExtraNode(*node) : nullptr) {
            rows.insert(rows.begin(), AdvExtraRow(*extra, FTypes));
        }
        showRows(std::move(rows), false);
    } else if (kind == NodeKind::AdvancedExtra) {
        showRows(ListAdvancedRows(*node, FTypes, listProgress()), false);
    } else if (kind == NodeKind::SearchResults) {
        scan::TUndelete* s = FSearchedNode ? ScanOf(FSearchedNode) : nullptr;
        showRows(s ? ListSearchHits(*s, s->FoundFiles, FTypes, listProgress()) : std::vector<ListRow>{}, true);
    } else if (kind == NodeKind::FileType && FLostFiles.Scan()) {
        showRows(ListSearchHits(*FLostFiles.Scan(), FLostFiles.Entries(node), FTypes, listProgress()), true);
    } else {
        // The advanced views and the lost files by type come with the scans that fill them.
        showRows({}, false);
    }
}

void Shell::showRows(std::vector<ListRow> rows, bool searchList) {
    FSearchList = searchList;
    FRows = rows;
    FFilter.SetSnapshot(std::move(rows));
    FSelectedRows.clear();
}

ViewProgress Shell::listProgress() {
    return [this](int percent) {
        if (percent < 0) {
            FUi.ProgressVisible(false);
            return;
        }
        FUi.ProgressVisible(true);
        FUi.Progress(percent);
        FUi.Pump();
    };
}

void Shell::refreshStatusBar() {
    if (!FSelected) return;
    const TreeNode* related = FSelected->Kind == NodeKind::SearchResults ? FSearchedNode : nullptr;
    FStatus = UpdateStatusBar(*FSelected, FRows.size(), related);
    FUi.ShowStatusBar(FStatus.Panels);
}

bool Shell::SelectRows(const std::vector<std::size_t>& rows) {
    if (FActionInProgress) return false;
    std::vector<std::size_t> picked;
    for (std::size_t r : rows) {
        if (r < FRows.size()) picked.push_back(r);
    }
    std::sort(picked.begin(), picked.end());
    picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
    FSelectedRows = std::move(picked);
    return true;
}

std::vector<std::string> Shell::ColumnCaptions() const {
    auto captions = ListColumnCaptions(FSelected ? FSelected->Kind : NodeKind::Computer);
    MarkSortColumn(captions, FFilter.SortColumn(), FFilter.SortAscending());
    return captions;
}

RowLess Shell::sortComparison(int column) const {
    const bool searchList = FSearchList;
    return [column, searchList](const ListRow& a, const ListRow& b) {
        return CompareRows(column, searchList, a, b) < 0;
    };
}

void Shell::ColumnClick(int column) {
    if (FActionInProgress || column < 0 || column > kColLast) return;
    FFilter.SortClick(column);
    FFilter.SetSortCompare(sortComparison(column));
    applyFilter();
}

void Shell::SetFilterText(const std::string& text) {
    if (FActionInProgress) return;
    FFilterText = text;
    FFilter.SetText(text);
    applyFilter();
}

void Shell::applyFilter() {
    RowSet selected;
    for (std::size_t r : FSelectedRows) selected.insert(FRows[r].Data);
    const auto result = FFilter.Apply(selected);
    if (!result) return;
    const auto& snapshot = FFilter.Snapshot();
    std::vector<ListRow> rows;
    rows.reserve(result->Rows.size());
    for (std::size_t i : result->Rows) rows.push_back(snapshot[i]);
    FRows = std::move(rows);
    FSelectedRows = result->Selected;
    refreshStatusBar();
}

// ---- Tree structure

bool Shell::DelFilterApplies(const TreeNode* node) const {
    if (!node) return false;
    if (node->Kind == NodeKind::SearchResults) {
        if (FSearchUnderLost || !FSearchedNode) return false;
        node = FSearchedNode;
    }
    if (UnderLostPartitions(node)) return false;
    const scan::TUndelete* s = ScanOf(node);
    return s && s->FDelFilterOn;
}

void Shell::ExpandNode(TreeNode* node) {
    if (!node) return;
    node->Expanded = true;
    ensureLevels(node);
}

void Shell::ensureLevels(TreeNode* node) {
    // A damaged folder lists nothing of its own; "Open Directory" builds it as a deleted one.
    const NodeKind kind = node->Kind;
    if (!ListsFolderEntries(kind) || kind == NodeKind::DamagedFolder || !node->ScanCapable()) return;
    if (node->HasState(kStateFoldersBuilt)) return;
    node->SetState(kStateFoldersBuilt);
    const bool deletedOnly = DelFilterApplies(node);
    for (auto& child : node->Children) {
        if (child->Kind != NodeKind::Folder && child->Kind != NodeKind::DeletedFolder) continue;
        forgetBelow(child.get(), false);
        FillFolderNodes(*child, deletedOnly, listProgress());
    }
}

namespace {

bool IsBelow(const TreeNode* node, const TreeNode* top) {
    for (; node; node = node->Parent) {
        if (node == top) return true;
    }
    return false;
}

}  // namespace

void Shell::forgetBelow(const TreeNode* node, bool includingNode) {
    auto gone = [&](const TreeNode* n) { return n && IsBelow(n, node) && (includingNode || n != node); };
    TreeNode* const replacement = includingNode ? node->Parent : const_cast<TreeNode*>(node);
    if (gone(FSelected)) {
        FSelected = replacement;
        FRows.clear();
        FSelectedRows.clear();
        FFilter.Reset();
    }
    // The search results stay with the scan object; only the node they name moves up.
    if (gone(FSearchedNode)) FSearchedNode = replacement;
    if (std::any_of(FPath.begin(), FPath.end(), gone)) FPath.clear();
}

TreeNode* Shell::childForData(TreeNode* node, const RowData& data) const {
    if (!node || data.Empty()) return nullptr;
    for (auto& child : node->Children) {
        if (child.get() == data.Node() || (child->Entry && child->Entry == data.Entry())) return child.get();
    }
    return nullptr;
}

TreeNode* Shell::targetNode() {
    if (FFocus == Focus::Tree || FSelectedRows.empty()) return FSelected;
    return childForData(FSelected, FRows[FSelectedRows.front()].Data);
}

// ---- Command state

CommandState Shell::Commands() const {
    CommandState c;
    c.Stop = FActionInProgress;
    c.StopSave = FActionInProgress && FCurrentAdv.load() != nullptr;
    if (FActionInProgress || !FSelected) return c;
    if (const auto k = AdvKindOfNode(FSelected)) {
        c.Adjust = *k == AdvKind::FatFolder || *k == AdvKind::Fat32Folder || *k == AdvKind::FatRoot || *k == AdvKind::FatOrphan;
    }

    const bool listFocus = FFocus == Focus::List;
    const ListRow* row = listFocus && !FSelectedRows.empty() ? &FRows[FSelectedRows.front()] : nullptr;
    // A device row stands for its node; any other row for its entry, a folder or a file.
    const TreeNode* node = row ? row->Data.Node() : FSelected;
    c.Statistics = listFocus ? !FSelectedRows.empty() : countable(FSelected);

    c.Preview = row && !node && IsFileRow(row->Kind);
    // The search looks below the selected tree node, whatever the list shows.
    const scan::TUndelete* selectedScan = ScanOf(FSelected);
    c.Search = ListsFolderEntries(FSelected->Kind) && selectedScan && !selectedScan->ScannedFiles.empty();
    if (node) {
        const NodeKind kind = node->Kind;
        if (kind == NodeKind::Computer || ListsResults(kind)) return c;
        const bool hasData = node->Drive || node->Scan || PartitionOf(node);
        if (kind == NodeKind::LostPartitions && !hasData) return c;
        if (kind == NodeKind::Disk || kind == NodeKind::Image || kind == NodeKind::LostPartitions) {
            c.PartiScan = c.CreateImage = c.ScanButton = true;
            return c;
        }
        if (IsVolumeKind(kind)) {
            const partitions::TPartition* p = PartitionOf(node);
            if (p && p->ClaimedSectCount > 0 && partitions::PartitionSize(p) == 0) return c;
            c.SimpleScan = kind != NodeKind::DiskSpace;
            c.AdvancedScan = kAdvancedScanBuilt;
            c.RawRecovery = kRawRecoveryBuilt;
            if (const scan::TUndelete* s = node->Scan) {
                const storage::TDevice& dev = s->Device();
                c.PartiScan = dev.DeviceType() == storage::kDevicePhysical ||
                              (dev.DeviceType() == storage::kDeviceImage &&
                               (dev.IsRawImage() || dev.Desc().SourceType != storage::kImageSourceVolume));
            }
            c.CreateImage = c.ScanButton = true;
            return c;
        }
    }
    // Folders, files and the advanced views.
    c.Recover = !(listFocus && FSelectedRows.empty());
    c.RawRecovery = kRawRecoveryBuilt;
    return c;
}

std::vector<ScanModeChoice> Shell::ScanModes() const {
    const CommandState c = Commands();
    return {
        {kScanModeNormal, "Standard Scan:",
         "Reads the file system and lists what it contains, including deleted entries. Quick, and the right place to "
         "start.",
         c.SimpleScan},
        {kScanModeAdvanced, "Advanced Scan:",
         "Searches for files in the raw records on the disk. Use it for formatted or damaged volumes, for lost "
         "partitions, and before Raw Recovery.",
         c.AdvancedScan},
        {kScanModePartitions, "Search for Lost Partitions:",
         "Searches for volumes that are no longer listed. Standard Scan and Advanced Scan can then be run on each "
         "partition it finds.",
         c.PartiScan},
        {kScanModeResume, "Resume Advanced Scan:",
         "Continues an Advanced Scan from a checkpoint saved earlier, instead of starting again from the beginning.",
         c.AdvancedScan},
    };
}

std::vector<PropertyRow> Shell::Properties() {
    if (!FSelected) return {};
    if (FFocus == Focus::List && !FSelectedRows.empty()) {
        return RowProperties(*FSelected, FRows[FSelectedRows.front()], FTypes, FHealth.get());
    }
    return NodeProperties(*FSelected, FTypes, FHealth.get());
}

TreeNode* Shell::describedNode() {
    if (!FSelected) return nullptr;
    if (FFocus == Focus::List && !FSelectedRows.empty()) {
        // Only the device list's rows stand for nodes; entries of a volume are files.
        if (!ListsDevices(FSelected->Kind)) return nullptr;
        return childForData(FSelected, FRows[FSelectedRows.front()].Data);
    }
    return FSelected;
}

std::function<void()> Shell::HealthWork() {
    TreeNode* node = describedNode();
    if (!FHealth || !node) return {};
    return PendingHealthWork(*FHealth, *node);
}

// ---- Navigation

void Shell::acUp() {
    if (FActionInProgress || !FSelected || !FSelected->Parent) return;
    SelectNode(FSelected->Parent);
}

bool Shell::qualifiesForScanDialog(const TreeNode* node) const {
    if (!node || !(ListsDevices(node->Kind) || IsVolumeKind(node->Kind)) || !(node->Drive || node->Scan)) return false;
    if (node->ScanCapable() && node->HasState(kStateScanStarted)) return false;
    return Commands().ScanButton;
}

bool Shell::DoubleClickNode(TreeNode* node) {
    if (FActionInProgress || !node) return false;
    FFocus = Focus::Tree;
    if (node != FSelected && !SelectNode(node)) return false;
    return qualifiesForScanDialog(node);
}

bool Shell::DoubleClickRow(std::size_t row) {
    if (FActionInProgress || row >= FRows.size()) return false;
    const ListRow picked = FRows[row];
    FFocus = Focus::Tree;
    if (!openFolderRow(picked)) return false;
    return qualifiesForScanDialog(FSelected);
}

bool Shell::openFolderRow(const ListRow& row) {
    if (FOpening || !FSelected) return false;
    TreeNode* parent = FSelected;
    ExpandNode(parent);
    TreeNode* child = childForData(parent, row.Data);
    if (!child) return false;
    FOpening = true;
    const std::string saved = FStatus.Panels[1];
    FStatus.Panels[1] = kOpeningDirectoryText;
    FUi.ShowStatusBar(FStatus.Panels);
    FUi.Pump();
    SelectNode(child);
    ExpandNode(child);
    if (FStatus.Panels[1] == kOpeningDirectoryText) {
        FStatus.Panels[1] = saved;
        FUi.ShowStatusBar(FStatus.Panels);
    }
    FOpening = false;
    return true;
}

void Shell::acOpenDirectory() {
    if (FActionInProgress || FOpening || !FSelected || FSelected->Kind != NodeKind::SearchResults ||
        FSelectedRows.empty() || !FSearchedNode) {
        return;
    }
    scan::TUndelete* s = ScanOf(FSearchedNode);
    const scan::TScanEntry* hit = FRows[FSelectedRows.front()].Data.Entry();
    if (!s || !hit) return;

    // The hit's folders from the searched node down; a damaged tree may loop, so the walk is bounded.
    std::vector<const scan::TScanEntry*> folders;
    for (const scan::TScanEntry* p = s->EntryParent(hit); p && p != FSearchedNode->Entry; p = s->EntryParent(p)) {
        if (folders.size() >= kMaxOpenDepth) break;
        folders.push_back(p);
    }
    FOpening = true;
    const std::string saved = FStatus.Panels[1];
    FStatus.Panels[1] = kOpeningDirectoryText;
    FUi.ShowStatusBar(FStatus.Panels);
    FUi.Pump();

    TreeNode* node = FSearchedNode;
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        ExpandNode(node);
        if (node->Children.empty() && node->Entry) FillFolderNodes(*node, DelFilterApplies(node), listProgress());
        TreeNode* child = childForData(node, RowData(*it));
        if (!child) break;
        node = child;
    }
    if (node->Kind == NodeKind::DamagedFolder) {
        node->Kind = NodeKind::DeletedFolder;
        forgetBelow(node, false);
        FillFolderNodes(*node, DelFilterApplies(node), listProgress());
    }
    node->Expanded = true;
    SelectNode(node);
    for (std::size_t i = 0; i < FRows.size(); ++i) {
        if (FRows[i].Data.Entry() == hit) {
            FSelectedRows = {i};
            FFocus = Focus::List;
            break;
        }
    }
    if (FStatus.Panels[1] == kOpeningDirectoryText) {
        FStatus.Panels[1] = saved;
        FUi.ShowStatusBar(FStatus.Panels);
    }
    FOpening = false;
}

}  // namespace brenvale::app
