#pragma once
// Rows and levels from an NVMe SMART / health log, on the same levels and texts as ATA
// attributes.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "health/drive_health.h"

namespace brenvale::health {

// Nullopt when the log is shorter than its 512 bytes.
std::optional<std::vector<HealthRow>> NvmeHealthRows(std::span<const std::byte> log, HealthReport& report);

}  // namespace brenvale::health
