#include "health/nvme_health.h"

#include <fmt/format.h>

#include <cstring>

#include "health/smart_records.h"

namespace brenvale::health {

namespace {

// How each critical-warning bit maps onto our levels. Bits that mean the drive is losing or
// has lost the ability to keep data (no spare left, reliability degraded, media now
// read-only) are dangerous: image it now. Bits about conditions that may pass or that do not
// touch the stored data (temperature, the volatile memory backup, the persistent memory
// region) are warnings.
struct WarningBit {
    std::uint8_t mask;
    int level;
    const char* name;
    const char* description;
};
constexpr WarningBit kWarningBits[] = {
    {0x01, kLevelDangerous, "Available Spare Below Threshold",
     "The spare capacity left for replacing worn blocks has fallen below the drive's threshold."},
    {0x02, kLevelWarning, "Temperature Threshold Exceeded",
     "The temperature is above an over-temperature or below an under-temperature threshold."},
    {0x04, kLevelDangerous, "Reliability Degraded",
     "The drive's reliability is degraded by media or internal errors."},
    {0x08, kLevelDangerous, "Media Read-Only", "The drive has placed its media in read-only mode."},
    {0x10, kLevelWarning, "Volatile Memory Backup Failed", "The volatile memory backup device has failed."},
    {0x20, kLevelWarning, "Persistent Memory Region Read-Only",
     "The persistent memory region has become read-only or unreliable."},
};

constexpr int kKelvinOffset = 273;

AttributeState stateOf(int level) {
    switch (level) {
        case kLevelDangerous: return {level, kStatusDangerous};
        case kLevelWarning: return {level, kStatusWarning};
        default: return {kLevelNormal, kStatusNormal};
    }
}

HealthRow row(std::string name, std::size_t offset, std::uint64_t raw, std::string value, std::string threshold,
              AttributeState state, std::string meaning, std::string description) {
    // Built in place: gcc 12 warns falsely (-Wrestrict) on assigning a short literal here.
    return HealthRow{std::move(name),
                     fmt::format("{:02X}", offset),  // the field's offset in the log
                     std::string(kNoValue),
                     std::move(value),
                     std::move(threshold),
                     fmt::format("{:012X}", raw & 0xFFFFFFFFFFFFull),
                     std::move(meaning),
                     std::string(state.Text),
                     state.Level,
                     std::move(description)};
}

AttributeState info() { return {kLevelNormal, kStatusAlwaysPassing}; }

}  // namespace

std::optional<std::vector<HealthRow>> NvmeHealthRows(std::span<const std::byte> bytes, HealthReport& report) {
    if (bytes.size() < sizeof(TNvmeHealthLog)) return std::nullopt;
    TNvmeHealthLog log;
    std::memcpy(&log, bytes.data(), sizeof log);
    std::vector<HealthRow> rows;

    const std::uint8_t cw = log.CriticalWarning;
    bool anyBit = false;
    for (const WarningBit& b : kWarningBits) {
        if (!(cw & b.mask)) continue;
        anyBit = true;
        rows.push_back(row(b.name, offsetof(TNvmeHealthLog, CriticalWarning), cw, fmt::format("{:02X}", cw), kNoValue,
                           stateOf(b.level), {},
                           b.description));
    }
    if (!anyBit) {
        rows.push_back(row("Critical Warning", offsetof(TNvmeHealthLog, CriticalWarning), cw,
                           fmt::format("{:02X}", cw), kNoValue, {kLevelNormal, kStatusNormal}, {},
                           "Warnings the drive raises about its own state; none is set."));
    }

    // Available spare against its threshold: the same rule as an ATA attribute's value.
    const std::uint8_t spare = log.AvailableSpare, spareLimit = log.AvailableSpareThreshold;
    rows.push_back(row("Available Spare", offsetof(TNvmeHealthLog, AvailableSpare), spare, std::to_string(spare),
                       std::to_string(spareLimit), AttributeStatus(0, spare, 0, spareLimit), fmt::format("{}%", spare),
                       "Spare capacity left, as a percentage of the spare the drive started with."));

    // Percentage used: the vendor's estimate of life used, which may pass 100. Read as the
    // life left, it is a value with a threshold of 0: worn out at 100, a warning within 10.
    const int used = log.PercentageUsed;
    const int usedLevel = used >= 100 ? kLevelDangerous : used >= 100 - kWarningMargin ? kLevelWarning : kLevelNormal;
    rows.push_back(row("Percentage Used", offsetof(TNvmeHealthLog, PercentageUsed), used, std::to_string(used), "100",
                       stateOf(usedLevel),
                       fmt::format("{}%", used),
                       "Estimate of the drive's rated life used, from the writes it has taken."));

    // Media errors count unrecovered data integrity errors: any at all is a warning, as a
    // reallocated or pending sector is on an ATA drive.
    const std::uint64_t media = log.MediaErrors[0];
    rows.push_back(row("Media and Data Integrity Errors", offsetof(TNvmeHealthLog, MediaErrors), media,
                       std::to_string(media), kNoValue,
                       media > 0 ? AttributeState{kLevelWarning, kStatusWarningRaw} : AttributeState{kLevelNormal, kStatusNormal},
                       std::to_string(media), "Count of unrecovered data integrity errors."));

    const int celsius = static_cast<int>(log.CompositeTemperature) - kKelvinOffset;
    const std::string temperature = log.CompositeTemperature == 0 ? std::string(kNoValue)
                                                                   : fmt::format("{} Deg. Celsius", celsius);
    rows.push_back(row("Temperature", offsetof(TNvmeHealthLog, CompositeTemperature), log.CompositeTemperature,
                       std::to_string(log.CompositeTemperature), kNoValue, info(), temperature,
                       "Composite temperature of the drive."));
    rows.push_back(row("Power Cycle Count", offsetof(TNvmeHealthLog, PowerCycles), log.PowerCycles[0],
                       std::to_string(log.PowerCycles[0]), kNoValue, info(),
                       fmt::format("{} Times", log.PowerCycles[0]), "Count of power cycles."));
    rows.push_back(row("Power On Hours Count", offsetof(TNvmeHealthLog, PowerOnHours), log.PowerOnHours[0],
                       std::to_string(log.PowerOnHours[0]), kNoValue, info(), std::to_string(log.PowerOnHours[0]),
                       "Count of hours in power on state."));
    rows.push_back(row("Unexpected Power Loss Count", offsetof(TNvmeHealthLog, UnsafeShutdowns),
                       log.UnsafeShutdowns[0], std::to_string(log.UnsafeShutdowns[0]), kNoValue, info(),
                       fmt::format("{} Times", log.UnsafeShutdowns[0]),
                       "Count of times the power was lost without an orderly shut-down."));
    rows.push_back(row("Error Information Log Entries", offsetof(TNvmeHealthLog, ErrorLogEntries),
                       log.ErrorLogEntries[0], std::to_string(log.ErrorLogEntries[0]), kNoValue, info(), {},
                       "Count of entries in the drive's error information log."));

    report.PowerCycles = fmt::format("{} Times", log.PowerCycles[0]);
    report.PowerOnHours = std::to_string(log.PowerOnHours[0]);
    report.Temperature = temperature;
    return rows;
}

}  // namespace brenvale::health
