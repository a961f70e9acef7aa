#pragma once
// The health and TRIM lines of the properties page, evaluated once per drive and kept until
// the drive list is rebuilt. Evaluating talks to the drive and can take seconds; the window
// asks for cached texts only and leaves the evaluation to its worker. Safe to use from both.

#include <array>
#include <map>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "health/smart_reader.h"
#include "platform/drive_commands.h"
#include "platform/platform.h"

namespace brenvale::health {

inline constexpr char kHealthGood[] = "Good";
inline constexpr char kHealthWarningPrefix[] = "Warning - ";
inline constexpr char kHealthDangerousPrefix[] = "Dangerous - ";
inline constexpr char kHealthUnknown[] = "Unknown (SMART data could not be read)";
inline constexpr char kNotApplicableImage[] = "Not applicable (drive image)";

inline constexpr char kTrimWholeDisk[] = "Unknown (whole disk covers several volumes)";
inline constexpr char kTrimOff[] = "Off - this device does not report TRIM support";
inline constexpr char kTrimOn[] = "On - deleted data on this drive may already be erased";
inline constexpr char kTrimNotReported[] = "Unknown - the device did not report its type";
inline constexpr char kTrimFat[] = "Not used on FAT/exFAT volumes";
inline constexpr char kTrimUnknown[] = "Unknown";

// What the TRIM line needs to know of a volume's scan object.
struct TrimSubject {
    bool WholeDisk = false;
    std::uint8_t FileSystem = 255;  // file-system code of the volume
    bool HasDevice = false;
    bool Image = false;             // the device is an image file
    std::uint8_t DriveNumber = 0;
    std::string DevicePath;
};

struct TrimQuery {
    bool Ok = false;           // the disk reported its type
    bool SeekPenalty = false;  // a spinning disk
    bool TrimEnabled = false;  // the disk accepts discards
    bool Image = false;        // a loop device, backed by a file
};

// The disk's queue facts for `devicePath`, as the system reports them.
TrimQuery QueryTrim(platform::DriveCommands& commands, const std::string& devicePath);

// The text of a health level with the attribute name that set it.
std::string HealthLevelText(int level, const std::string& name);

class HealthCache {
public:
    HealthCache(platform::Platform& os, platform::DriveCommands& commands)
        : os_(os), commands_(commands), reader_(commands, os) {
        Reset();
    }

    // Forgets every verdict and what the reader learnt (the drive list was rebuilt).
    void Reset();

    // The cached health text of drive number `driveNumber`, nullopt when not evaluated yet.
    std::optional<std::string> CachedHealthText(std::uint8_t driveNumber) const;
    // The health text, evaluating the drive the first time (slow).
    std::string HealthText(std::uint8_t driveNumber);

    std::optional<std::string> CachedTrimText(const TrimSubject& s) const;
    std::string TrimText(const TrimSubject& s);

    SmartReader& Reader() { return reader_; }

private:
    static constexpr std::uint8_t kNotEvaluated = 254;
    static constexpr std::uint8_t kUnreadable = 255;
    static constexpr std::uint8_t kTrimNotAsked = 254;
    static constexpr std::uint8_t kTrimLoop = 253;  // a loop device: an image behind a drive number
    static constexpr std::uint8_t kTrimNoReport = 255;

    // The TRIM text when it needs nothing from the device; nullopt when it does.
    static std::optional<std::string> trimWithoutDevice(const TrimSubject& s);
    static std::string trimMediaText(std::uint8_t media);
    std::uint64_t currentGeneration() const;
    std::uint8_t& trimSlot(const TrimSubject& s);  // with mutex_ held

    platform::Platform& os_;
    platform::DriveCommands& commands_;
    SmartReader reader_;
    mutable std::mutex mutex_;
    std::array<std::uint8_t, 256> FHealthCache{};
    std::array<std::string, 256> FHealthText;
    std::array<std::uint8_t, 256> FTrimMedia{};
    // Devices without a drive number (a partition named by path) are kept by path.
    std::map<std::string, std::uint8_t> trimByPath_;
    // Counts resets: an evaluation that began before a reset must not fill the new cache.
    std::uint64_t generation_ = 0;
};

}  // namespace brenvale::health
