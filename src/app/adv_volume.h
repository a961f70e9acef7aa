#pragma once
// What the advanced scan of one volume node keeps between commands: the scan state, the
// signature scan that runs in the same pass, and the rebuilt tree the "!!! Advanced Extra !!!"
// nodes, their rows, recovery and statistics read. The volume node owns it.

#include <atomic>
#include <cstdint>
#include <memory>

#include "advscan/adv_tree.h"
#include "advscan/advanced_scan.h"
#include "raw/signature_scan.h"

namespace brenvale::scan {
class TUndelete;
}

namespace brenvale::app {

struct AdvVolume {
    // The object is `sectors` device sectors from absolute sector `start`.
    AdvVolume(scan::TUndelete& scan, const raw::SizeTables& sizes, std::uint64_t start, std::uint64_t sectors);
    ~AdvVolume();
    AdvVolume(const AdvVolume&) = delete;
    AdvVolume& operator=(const AdvVolume&) = delete;

    // The tree again from the scan's lists (after a scan or a correction of the FAT guess).
    // Every node index taken from the old tree is void afterwards.
    void RebuildTree();

    std::unique_ptr<raw::RawScan> Raw;
    std::unique_ptr<advscan::AdvancedScan> Adv;
    std::unique_ptr<advscan::AdvTree> Tree;  // null until a scan ended
    // Set by Stop; the pass tests it once per batch.
    std::atomic<bool> Stop{false};
};

}  // namespace brenvale::app
