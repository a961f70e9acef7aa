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

bool IsRealDosPair(std::uint16_t date, std::uint16_t time) {
    return (date == 0 && time == 0) || real(split(date, time));
}

std::string IsoDateTime(const DosDateTime& t) {
    // Written digit by digit: a listing asks for three times per entry, and the format call
    // was a third of a 100,000-entry scan listing. Fields a DOS pair cannot give still go
    // through it, so every value reads as before.
    const auto fits = [](int v, int most) { return v >= 0 && v <= most; };
    if (!fits(t.year, 9999) || !fits(t.month, 99) || !fits(t.day, 99) || !fits(t.hour, 99) ||
        !fits(t.minute, 99) || !fits(t.second, 99)) {
        return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", t.year, t.month, t.day, t.hour,
                           t.minute, t.second);
    }
    std::string s = "0000-00-00T00:00:00";
    const auto put = [&s](std::size_t end, int v) {
        for (std::size_t i = end; v > 0; --i, v /= 10) s[i] = static_cast<char>('0' + v % 10);
    };
    put(3, t.year);
    put(6, t.month);
    put(9, t.day);
    put(12, t.hour);
    put(15, t.minute);
    put(18, t.second);
    return s;
}

std::optional<DosDateTime> FileTimeLocal(std::uint64_t fileTime) {
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::int64_t kUnixEpochIn1601 = 11644473600;
    if (fileTime == 0) return std::nullopt;
    const std::time_t t = static_cast<std::time_t>(static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kUnixEpochIn1601);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return std::nullopt;
    return DosDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::optional<std::string> FileTimeIso(std::uint64_t fileTime) {
    const auto t = FileTimeLocal(fileTime);
    if (!t || t->year > 9999) return std::nullopt;
    // The same digits as the DOS times: a format call per time was a quarter of an NTFS listing.
    return IsoDateTime(*t);
}

std::optional<DosDateTime> FileTimeDos(std::uint64_t fileTime) {
    const auto t = FileTimeLocal(fileTime);
    if (!t || t->year < 1980) return std::nullopt;
    const auto date = static_cast<std::uint32_t>(((t->year - 1980) << 9) | (t->month << 5) | t->day);
    const auto time = static_cast<std::uint32_t>((t->hour << 11) | (t->minute << 5) | (t->second / 2));
    if (date > 0x8DFF || time >= 0xC800) return std::nullopt;
    return DecodeDosDateTime(static_cast<std::uint16_t>(date), static_cast<std::uint16_t>(time));
}

}  // namespace brenvale::scan
