#pragma once
// NTFS times, and the DOS date and time words of FAT and exFAT entries (date: year - 1980 in bits 15-9, month
// 8-5, day 4-0; time: hour 15-11, minute 10-5, seconds / 2 in 4-0).

#include <cstdint>
#include <optional>
#include <string>

namespace brenvale::scan {

struct DosDateTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The moment a date/time pair names: a real calendar day and time of day, any year the
// field can hold. nullopt for anything else, and for the unset pair (both words 0).
std::optional<DosDateTime> DecodeDosDateTime(std::uint16_t date, std::uint16_t time);

// Whether recovery may set a file time from the pair: both words 0 (the zero date-time), or
// a real date from 1980 to 2050 with a real time of day.
bool IsValidDosPair(std::uint16_t date, std::uint16_t time);
// Both words 0, or a real moment of any year the fields hold (to 2107).
bool IsRealDosPair(std::uint16_t date, std::uint16_t time);

// "YYYY-MM-DDTHH:MM:SS".
std::string IsoDateTime(const DosDateTime& t);

// An NTFS time (100-nanosecond steps since 1601-01-01 UTC) in local time, to the second;
// nullopt for 0 and for times the calendar functions do not take.
std::optional<DosDateTime> FileTimeLocal(std::uint64_t fileTime);

// An NTFS time as local "YYYY-MM-DDTHH:MM:SS";
// nullopt for 0 and for times outside what the calendar functions take.
std::optional<std::string> FileTimeIso(std::uint64_t fileTime);

// An NTFS time as the local DOS date and time recovery sets (two-second steps); nullopt for 0
// and for a time the DOS form cannot hold (after 2050 or before 1980).
std::optional<DosDateTime> FileTimeDos(std::uint64_t fileTime);

}  // namespace brenvale::scan
