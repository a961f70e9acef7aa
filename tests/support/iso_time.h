#pragma once
// "YYYY-MM-DDTHH:MM:SS" of a moment in seconds since 1970, in UTC: how the listings print the
// times the fixture manifests record.

#include <cstdint>
#include <ctime>
#include <string>

namespace brenvale::test {

inline std::string isoUtc(std::int64_t t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    return text;
}

}  // namespace brenvale::test
