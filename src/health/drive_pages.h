#pragma once
// What one reading of a drive brought back: the raw pages, kept as the drive sent them so
// they can be saved, replayed and parsed again, and why the reading stopped short.

#include <cstddef>
#include <string>
#include <vector>

#include "platform/drive_commands.h"

namespace brenvale::health {

enum class ReadState : std::uint8_t {
    Read,           // health data came back
    CannotOpen,     // the device could not be opened
    NotApplicable,  // an image: there is no drive to ask
    NotAvailable,   // the kernel, the bridge or the drive gave nothing usable
};

struct DrivePages {
    platform::DriveKind Kind = platform::DriveKind::Ata;
    ReadState State = ReadState::NotAvailable;
    std::string Detail;  // why the reading stopped short; empty when read

    std::vector<std::byte> Identify;         // ATA IDENTIFY DEVICE
    std::vector<std::byte> SmartData;        // SMART READ DATA
    std::vector<std::byte> SmartThresholds;  // SMART READ THRESHOLDS
    int Predict = -1;                        // SMART RETURN STATUS: 1 failing, 0 not, -1 unknown
    std::vector<std::byte> NvmeIdentify;     // Identify Controller
    std::vector<std::byte> NvmeHealth;       // SMART / health information log
};

}  // namespace brenvale::health
