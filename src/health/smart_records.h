#pragma once
// The pages a drive returns about its own health, as they lie in the drive's answer: the ATA
// S.M.A.R.T. data and threshold pages, the fields of ATA IDENTIFY DEVICE we show, and the
// NVMe SMART / health information log page. All little-endian.

#include <cstddef>
#include <cstdint>

namespace brenvale::health {

inline constexpr std::size_t kSmartPageSize = 512;
inline constexpr std::size_t kSmartSlots = 30;

#pragma pack(push, 1)

// One attribute slot of the data page (ID 0: unused slot).
struct TSmartAttributeEntry {
    std::uint8_t Id;
    std::uint16_t Flags;
    std::uint8_t Value;    // current, normalised
    std::uint8_t Worst;
    std::uint8_t Raw[6];   // 48-bit little-endian
    std::uint8_t Reserved;
};
static_assert(sizeof(TSmartAttributeEntry) == 12);
static_assert(offsetof(TSmartAttributeEntry, Value) == 3);
static_assert(offsetof(TSmartAttributeEntry, Raw) == 5);

struct TSmartDataPage {
    std::uint16_t Revision;
    TSmartAttributeEntry Entries[kSmartSlots];
    std::uint8_t Rest[150];  // off-line collection status, self-test data, checksum
};
static_assert(sizeof(TSmartDataPage) == kSmartPageSize);

struct TSmartThresholdEntry {
    std::uint8_t Id;
    std::uint8_t Threshold;
    std::uint8_t Reserved[10];
};
static_assert(sizeof(TSmartThresholdEntry) == 12);

struct TSmartThresholdPage {
    std::uint16_t Revision;
    TSmartThresholdEntry Entries[kSmartSlots];
    std::uint8_t Rest[150];
};
static_assert(sizeof(TSmartThresholdPage) == kSmartPageSize);

// NVMe SMART / health information (log identifier 02h), 512 bytes. Counters are 128-bit; we
// keep their low 64 bits, more than any drive reaches.
struct TNvmeHealthLog {
    std::uint8_t CriticalWarning;
    std::uint16_t CompositeTemperature;  // kelvin
    std::uint8_t AvailableSpare;         // percent
    std::uint8_t AvailableSpareThreshold;
    std::uint8_t PercentageUsed;         // may exceed 100
    std::uint8_t EnduranceGroupWarning;
    std::uint8_t Reserved7[25];
    std::uint64_t DataUnitsRead[2];
    std::uint64_t DataUnitsWritten[2];
    std::uint64_t HostReadCommands[2];
    std::uint64_t HostWriteCommands[2];
    std::uint64_t ControllerBusyTime[2];
    std::uint64_t PowerCycles[2];
    std::uint64_t PowerOnHours[2];
    std::uint64_t UnsafeShutdowns[2];
    std::uint64_t MediaErrors[2];
    std::uint64_t ErrorLogEntries[2];
    std::uint32_t WarningTemperatureTime;
    std::uint32_t CriticalTemperatureTime;
    std::uint16_t TemperatureSensors[8];
    std::uint8_t Rest[296];
};
static_assert(sizeof(TNvmeHealthLog) == 512);
static_assert(offsetof(TNvmeHealthLog, AvailableSpare) == 3);
static_assert(offsetof(TNvmeHealthLog, PercentageUsed) == 5);
static_assert(offsetof(TNvmeHealthLog, PowerCycles) == 112);
static_assert(offsetof(TNvmeHealthLog, PowerOnHours) == 128);
static_assert(offsetof(TNvmeHealthLog, MediaErrors) == 160);
static_assert(offsetof(TNvmeHealthLog, WarningTemperatureTime) == 192);

#pragma pack(pop)

// Text fields of ATA IDENTIFY DEVICE: offset and length in bytes (two characters per 16-bit
// word, the first in the high byte).
inline constexpr std::size_t kIdentifySize = 512;
inline constexpr std::size_t kIdentifySerialOffset = 20, kIdentifySerialLength = 20;
inline constexpr std::size_t kIdentifyFirmwareOffset = 46, kIdentifyFirmwareLength = 8;
inline constexpr std::size_t kIdentifyModelOffset = 54, kIdentifyModelLength = 40;

// NVMe Identify Controller (CNS 01h): serial, model and firmware as plain ASCII.
inline constexpr std::size_t kNvmeIdentifySize = 4096;
inline constexpr std::size_t kNvmeSerialOffset = 4, kNvmeSerialLength = 20;
inline constexpr std::size_t kNvmeModelOffset = 24, kNvmeModelLength = 40;
inline constexpr std::size_t kNvmeFirmwareOffset = 64, kNvmeFirmwareLength = 8;

}  // namespace brenvale::health
