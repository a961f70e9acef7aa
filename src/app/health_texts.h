#pragma once
// The health and TRIM texts of the properties panel. The drive-health subsystem fills these in
// later; until it exists every drive and volume shows "-".

#include <cstdint>
#include <string>

namespace brenvale::scan {
class TUndelete;
}

namespace brenvale::app {

inline constexpr char kHealthUnknownText[] = "-";

// The health verdict of drive number `driveNumber`.
std::string HealthText(std::uint8_t driveNumber);
// The TRIM state of the disk a scan object reads.
std::string TrimText(const scan::TUndelete& scan);

}  // namespace brenvale::app
