#include "scan/dos_time.h"

#include <fmt/format.h>

#include <ctime>

namespace brenvale::scan {

namespace {

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

DosDateTime split(std::uint16_t date, std::uint16_t time) {
    return {1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2};
}

bool real(const DosDateTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= daysInMonth(t.year, t.month) && t.hour < 24 &&
           t.minute < 60 && t.second < 60;
}

}  // namespace

std::optional<DosDateTime> DecodeDosDateTime(std::uint16_t date, std::uint16_t time) {
    if (date == 0 && time == 0) return std::nullopt;
    const DosDateTime t = split(date, time);
    if (!real(t)) return std::nullopt;
    return t;
}

bool IsValidDosPair(std::uint16_t date, std::uint16_t time) {
    if (date == 0 && time == 0) return true;
    const DosDateTime t = split(date, time);
    return t.year <= 2050 && real(t);
}

std::string IsoDateTime(const DosDateTime& t) {
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

std::optional<std::string> FileTimeIso(std::uint64_t fileTime) {
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::int64_t kUnixEpochIn1601 = 11644473600;
    if (fileTime == 0) return std::nullopt;
    const std::time_t t = static_cast<std::time_t>(static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kUnixEpochIn1601);
    std::tm tm{};
    if (!localtime_r(&t, &tm) || tm.tm_year + 1900 > 9999) return std::nullopt;
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                       tm.tm_min, tm.tm_sec);
}

}  // namespace brenvale::scan
