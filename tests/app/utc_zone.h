#pragma once
// Runs a test in UTC so local times read back as written, and puts the zone back afterwards.

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace brenvale::test {

class UtcZone {
public:
    UtcZone() {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    ~UtcZone() {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    UtcZone(const UtcZone&) = delete;
    UtcZone& operator=(const UtcZone&) = delete;

private:
    std::optional<std::string> saved_;
};

// The NTFS time (100-ns steps since 1601) of a moment given in seconds since 1970 (UTC).
constexpr std::uint64_t FileTimeOfUnix(std::int64_t unixSeconds) {
    return static_cast<std::uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
}

}  // namespace brenvale::test
