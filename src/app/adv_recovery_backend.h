#pragma once
// Recovery of nodes of the "!!! Advanced Extra !!!" tree through the recovery command: a
// target's `node` is a node of the volume's rebuilt tree, written as the tree shows it.

#include <memory>
#include <vector>

#include "advscan/adv_recover.h"
#include "advscan/adv_tree.h"
#include "app/adv_volume.h"
#include "app/recover_command.h"

namespace brenvale::app {

class AdvRecoveryBackend : public RecoveryBackend {
public:
    AdvRecoveryBackend(const advscan::AdvTree& tree, advscan::AdvRecovery& recovery) : FTree(tree), FRecovery(recovery) {}
    scan::TUndelete::RecoveryTotals Count(const RecoveryTarget& target) override {
        return FRecovery.CountNode(FTree, static_cast<std::size_t>(target.node));
    }
    void Recover(const RecoveryTarget& target, const std::string& destination) override {
        FRecovery.RecoverNode(FTree, static_cast<std::size_t>(target.node), destination);
    }

private:
    const advscan::AdvTree& FTree;
    advscan::AdvRecovery& FRecovery;
};

// The rebuilt-tree part of one recovery command: a job per volume, each with its backend,
// kept alive while the command runs.
class AdvRecoveryJobs {
public:
    // The job of `v` in `jobs`, added on first use; null when the volume has no tree yet.
    RecoveryJob* JobOf(AdvVolume& v, std::vector<RecoveryJob>& jobs);

private:
    struct Volume {
        AdvVolume* v;
        std::unique_ptr<advscan::AdvRecovery> recovery;
        std::unique_ptr<AdvRecoveryBackend> backend;
    };
    std::vector<Volume> FVolumes;
};

}  // namespace brenvale::app
