#pragma once
// The health and TRIM texts of the properties panel. Evaluating them talks to the drive and
// can take seconds, so the panel shows what the cache holds ("-" until then) and the window
// runs the pending evaluation on its worker, then shows the panel again.

#include <cstdint>
#include <functional>
#include <string>

#include "health/health_cache.h"

namespace brenvale::scan {
class TUndelete;
}

namespace brenvale::app {

struct TreeNode;

inline constexpr char kHealthUnknownText[] = "-";

// The health verdict of drive number `driveNumber`, from the cache only.
std::string HealthText(const health::HealthCache* cache, std::uint8_t driveNumber);
// The TRIM state of the disk a scan object reads, from the cache only.
std::string TrimText(const health::HealthCache* cache, const scan::TUndelete& scan);

health::TrimSubject TrimSubjectOf(const scan::TUndelete& scan);

// The evaluation that the properties of `node` (a physical drive or a volume) still wait
// for; empty when their texts are cached or the node has none. The job holds copies of what
// it needs, never the node, which a rebuilt tree may delete while the job runs.
std::function<void()> PendingHealthWork(health::HealthCache& cache, const TreeNode& node);

}  // namespace brenvale::app
