#pragma once
// Dates and times as every list and panel of the program shows them: "YYYY/MM/DD" and
// "YYYY/MM/DD HH:MM" in local time, and the day numbers (days since 1899-12-30, the time of day
// as the fraction) that lists sort by.

#include <cstdint>
#include <optional>
#include <string>

#include "scan/dos_time.h"

namespace brenvale::app {

inline constexpr char kNoDateText[] = "-";  // what the properties panel shows for a missing time

std::string ShortDate(const scan::DosDateTime& t);
std::string ShortDateTime(const scan::DosDateTime& t);
double DayNumber(const scan::DosDateTime& t);

// The properties panel's times of FAT and exFAT entries: "-" unless the words name a real
// moment (both words 0 do not). The access time has a date only.
std::string DosDateTimeText(std::uint16_t date, std::uint16_t time);
std::string DosDateText(std::uint16_t date);
// An NTFS time in local time; "-" for 0 and for times the calendar functions do not take.
std::string FileTimeText(std::uint64_t fileTime);

// The file list's "Modified" moment of a FAT or exFAT entry: a pair recovery would accept,
// where both words 0 stand for the zero date-time (1899/12/30 00:00); nullopt otherwise.
std::optional<scan::DosDateTime> ModifiedDosTime(std::uint16_t date, std::uint16_t time);
// The same of an NTFS time: local time in two-second steps; nullopt for 0.
std::optional<scan::DosDateTime> ModifiedFileTime(std::uint64_t fileTime);
// The "Modified" cell of such a moment (empty without one) and its sort key (-1 without one).
std::string ModifiedText(const std::optional<scan::DosDateTime>& t);
double ModifiedDay(const std::optional<scan::DosDateTime>& t);

}  // namespace brenvale::app
