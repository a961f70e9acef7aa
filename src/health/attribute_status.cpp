#include "health/attribute_status.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

namespace brenvale::health {

namespace {

constexpr std::array<std::uint8_t, 5> kCountedDefects{5, 187, 197, 198, 199};
constexpr std::uint8_t kStartStopCount = 4, kPowerCycleCount = 12, kPowerOffRetract = 192;
constexpr std::uint8_t kPowerOnHours = 9, kTemperature = 194;

}  // namespace

bool IsCountedDefect(std::uint8_t id) {
    return std::find(kCountedDefects.begin(), kCountedDefects.end(), id) != kCountedDefects.end();
}

AttributeState AttributeStatus(std::uint8_t id, std::uint8_t value, std::uint64_t raw, std::uint8_t threshold) {
    AttributeState s{kLevelNormal, kStatusNormal};
    if (threshold == 0) {
        // The vendor gives the attribute no failure point; a defect count still speaks.
        s = {kLevelNormal, kStatusAlwaysPassing};
    } else if (value <= threshold) {
        s = {kLevelDangerous, kStatusDangerous};
    } else if (int{value} <= int{threshold} + kWarningMargin) {
        s = {kLevelWarning, kStatusWarning};
    }
    if (s.Level == kLevelNormal && IsCountedDefect(id) && raw > 0) s = {kLevelWarning, kStatusWarningRaw};
    return s;
}

std::string MeaningText(std::uint8_t id, std::uint64_t raw) {
    const auto low32 = static_cast<std::uint32_t>(raw);
    switch (id) {
        case kStartStopCount:
        case kPowerCycleCount:
        case kPowerOffRetract: return fmt::format("{} Times", low32);
        case kPowerOnHours: return std::to_string(low32);
        case kTemperature: return fmt::format("{} Deg. Celsius", raw & 0xFFFF);
        default: return {};
    }
}

}  // namespace brenvale::health
