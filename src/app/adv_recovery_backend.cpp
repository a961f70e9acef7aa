#include "app/adv_recovery_backend.h"

#include <algorithm>

namespace brenvale::app {

RecoveryJob* AdvRecoveryJobs::JobOf(AdvVolume& v, std::vector<RecoveryJob>& jobs) {
    if (!v.Tree) return nullptr;
    auto it = std::find_if(FVolumes.begin(), FVolumes.end(), [&](const Volume& x) { return x.v == &v; });
    if (it == FVolumes.end()) {
        Volume made{&v, std::make_unique<advscan::AdvRecovery>(*v.Adv, v.Adv->Scan()), nullptr};
        made.backend = std::make_unique<AdvRecoveryBackend>(*v.Tree, *made.recovery);
        FVolumes.push_back(std::move(made));
        it = FVolumes.end() - 1;
    }
    for (auto& j : jobs) {
        if (j.backend == it->backend.get()) return &j;
    }
    jobs.push_back({&v.Adv->Scan(), {}, false, it->backend.get()});
    return &jobs.back();
}

}  // namespace brenvale::app
