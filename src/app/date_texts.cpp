#include "app/date_texts.h"

#include <fmt/format.h>

#include "scan/undelete.h"

namespace brenvale::app {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// The moment both words 0 of a FAT pair stand for in the file list.
constexpr scan::DosDateTime kZeroDateTime{1899, 12, 30, 0, 0, 0};

bool fitsDigits(const scan::DosDateTime& t) {
    const auto in = [](int v, int most) { return v >= 0 && v <= most; };
    return in(t.year, 9999) && in(t.month, 99) && in(t.day, 99) && in(t.hour, 99) && in(t.minute, 99);
}

// Digits written by hand: a listing formats a time per row, and a format call per row is a
// noticeable share of a 100,000-row listing.
void put(std::string& s, std::size_t end, int v) {
    for (std::size_t i = end; v > 0; --i, v /= 10) s[i] = static_cast<char>('0' + v % 10);
}

}  // namespace

std::string ShortDate(const scan::DosDateTime& t) {
    if (!fitsDigits(t)) return fmt::format("{:04}/{:02}/{:02}", t.year, t.month, t.day);
    std::string s = "0000/00/00";
    put(s, 3, t.year);
    put(s, 6, t.month);
    put(s, 9, t.day);
    return s;
}

std::string ShortDateTime(const scan::DosDateTime& t) {
    if (!fitsDigits(t)) {
        return fmt::format("{:04}/{:02}/{:02} {:02}:{:02}", t.year, t.month, t.day, t.hour, t.minute);
    }
    std::string s = ShortDate(t) + " 00:00";
    put(s, 12, t.hour);
    put(s, 15, t.minute);
    return s;
}

double DayNumber(const scan::DosDateTime& t) {
    return scan::SearchDayNumber(t.year, t.month, t.day) + (t.hour * 3600 + t.minute * 60 + t.second) / kSecondsPerDay;
}

std::string DosDateTimeText(std::uint16_t date, std::uint16_t time) {
    const auto t = scan::DecodeDosDateTime(date, time);
    return t ? ShortDateTime(*t) : kNoDateText;
}

std::string DosDateText(std::uint16_t date) {
    const auto t = scan::DecodeDosDateTime(date, 0);
    return t ? ShortDate(*t) : kNoDateText;
}

std::string FileTimeText(std::uint64_t fileTime) {
    const auto t = scan::FileTimeLocal(fileTime);
    return t ? ShortDateTime(*t) : kNoDateText;
}

std::optional<scan::DosDateTime> ModifiedDosTime(std::uint16_t date, std::uint16_t time) {
    if (!scan::IsValidDosPair(date, time)) return std::nullopt;
    if (date == 0 && time == 0) return kZeroDateTime;
    return scan::DecodeDosDateTime(date, time);
}

std::optional<scan::DosDateTime> ModifiedFileTime(std::uint64_t fileTime) {
    auto t = scan::FileTimeLocal(fileTime);
    if (t) t->second = t->second / 2 * 2;
    return t;
}

std::string ModifiedText(const std::optional<scan::DosDateTime>& t) { return t ? ShortDateTime(*t) : std::string{}; }

double ModifiedDay(const std::optional<scan::DosDateTime>& t) { return t ? DayNumber(*t) : -1.0; }

}  // namespace brenvale::app
