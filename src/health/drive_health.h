#pragma once
// The verdict on a drive from its pages: one row per attribute (or NVMe health field) with
// its status, the worst level and the name of the attribute that set it, and the sentences
// the health window shows.

#include <string>
#include <vector>

#include "health/attribute_status.h"
#include "health/drive_pages.h"
#include "health/smart_pages.h"

namespace brenvale::health {

inline constexpr char kPredictedFailureName[] = "the drive reports an impending failure";
inline constexpr char kNoAttributesText[] =
    "No SMART attributes read: this device or bridge chip does not return valid SMART data";
inline constexpr char kCannotOpenText[] = "Cannot open the device handle - SMART cannot be read";
inline constexpr char kNoValue[] = "-";

struct HealthRow {
    std::string Name;  // as stored, padding included; trim it outside the list
    std::string Id;    // hexadecimal
    std::string Worst, Value, Threshold;
    std::string Raw;   // 12 hexadecimal digits
    std::string Meaning;
    std::string Status;
    int Level = kLevelNormal;
    std::string Description;
};

struct HealthReport {
    DriveIdentity Identity;
    std::vector<HealthRow> Rows;
    int Level = kLevelUnreadable;  // the worst level, or unreadable
    std::string WorstName;         // trimmed name of the first row at that level
    int Predict = -1;              // the drive's own failure prediction
    std::string PowerCycles = kNoValue, PowerOnHours = kNoValue, Temperature = kNoValue;
};

HealthReport Evaluate(const DrivePages& pages);

// -1 when nothing could be read, else the worst level; `name` as in the report.
int DriveHealth(const DrivePages& pages, std::string& name);

// The status bar of the health window for a report read from a drive.
std::string StatusSentence(const HealthReport& report);
// The status bar when the report has no rows.
std::string EmptyStatusSentence(const DrivePages& pages);

}  // namespace brenvale::health
