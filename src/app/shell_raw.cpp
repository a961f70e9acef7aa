// The main window's "Raw Recovery" command and the "Lost Files by Type" node.

#include <algorithm>

#include "app/adv_extra.h"
#include "app/adv_volume.h"
#include "app/raw_recovery_model.h"
#include "app/raw_recovery_session.h"
#include "app/shell.h"

namespace brenvale::app {

bool Shell::acRawRecovery() {
    if (FActionInProgress || !FSelected) return false;
    scan::TUndelete* s = ScanOf(FSelected);
    raw::RawScan* hits = nullptr;
    if (s && s->FAdvScaned) {
        // The hits of the advanced scan the volume node keeps, unless a lookup was given.
        AdvVolume* adv = AdvVolumeOf(FSelected);
        hits = RawScanOf ? RawScanOf(*s) : adv && adv->Raw && &adv->Adv->Scan() == s ? adv->Raw.get() : nullptr;
    }
    if (!hits) {
        FUi.ShowMessage(MessageKind::Information, kRawNeedsAdvancedScan, kAppTitle);
        return false;
    }
    RawRecoverySession session{*s, *hits, FConfig, FLog, FOs, OnConfigChanged};
    FUi.ShowRawRecovery(session);
    return true;
}

void Shell::syncLostFiles() {
    TreeNode* node = FTree->FileTypesNode();
    if (!node) return;
    FLostFiles.Forget();
    FLostFiles.Sync(*node, FConfig.LostFileExtensions);
    node->Expanded = FConfig.ExpandLostFilesNode;
}

void Shell::forgetLostFilesOf(const scan::TUndelete& s) {
    if (FLostFiles.Scan() != &s) return;
    FLostFiles.Forget();
    const TreeNode* node = FTree->FileTypesNode();
    if (node && FSelected && (FSelected == node || FSelected->Parent == node)) {
        FRows.clear();
        FSelectedRows.clear();
        FFilter.Reset();
    }
}

void Shell::LostFileTypesChanged() {
    TreeNode* node = FTree->FileTypesNode();
    if (!node) return;
    // A selected child that goes away leaves the selection on the node itself.
    if (FSelected && FSelected->Parent == node) {
        const std::string ext = LostFileExtensionOf(*FSelected);
        const auto& exts = FConfig.LostFileExtensions;
        if (std::find(exts.begin(), exts.end(), ext) == exts.end()) FSelected = node;
    }
    scan::TUndelete* filled = FLostFiles.Scan();
    FLostFiles.Sync(*node, FConfig.LostFileExtensions);
    if (filled) FLostFiles.Fill(*node, *filled, FUi);
    if (FSelected == node || (FSelected && FSelected->Parent == node)) SelectNode(FSelected);
}

void Shell::openLostFiles(TreeNode* from, TreeNode* node) {
    TreeNode* lost = FTree->FileTypesNode();
    if (!lost || (node != lost && node->Parent != lost)) return;
    scan::TUndelete* s = from ? ScanOf(from) : nullptr;
    if (!s || s->ScannedFiles.empty() || s == FLostFiles.Scan()) return;
    FLostFiles.Fill(*lost, *s, FUi);
}

}  // namespace brenvale::app
