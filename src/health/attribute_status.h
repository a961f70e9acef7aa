#pragma once
// The status of one attribute against its threshold, the levels and their texts, and the
// "Meaning" column of the attributes whose raw value reads as a count or a temperature.

#include <cstdint>
#include <string>
#include <string_view>

namespace brenvale::health {

// 0 normal, 1 warning, 2 dangerous; -1 where a drive could not be read at all.
enum : int { kLevelUnreadable = -1, kLevelNormal = 0, kLevelWarning = 1, kLevelDangerous = 2 };

inline constexpr char kStatusAlwaysPassing[] = "Always Passing";
inline constexpr char kStatusDangerous[] = "Dangerous";
inline constexpr char kStatusWarning[] = "Warning";
inline constexpr char kStatusNormal[] = "Value Normal";
inline constexpr char kStatusWarningRaw[] = "Warning (raw > 0)";

// How close to its threshold a value may come before it is a warning.
inline constexpr int kWarningMargin = 10;

struct AttributeState {
    int Level = kLevelNormal;
    std::string_view Text;
    bool operator==(const AttributeState&) const = default;
};

// Attributes whose raw value counts damaged or unstable sectors or link errors: any count at
// all is worth a warning, whatever the normalised value says.
bool IsCountedDefect(std::uint8_t id);

AttributeState AttributeStatus(std::uint8_t id, std::uint8_t value, std::uint64_t raw, std::uint8_t threshold);

// "123 Times", "4567", "35 Deg. Celsius", or empty for attributes without a meaning.
std::string MeaningText(std::uint8_t id, std::uint64_t raw);

}  // namespace brenvale::health
