#include "platform/errors.h"

#include <cerrno>
#include <cstring>

namespace brenvale::platform {

bool isOfflineError(int code) {
    switch (code) {
    case ENODEV:
    case ENXIO:
    case ENOMEDIUM:
    case EBADF:
    case ENOTCONN:
    case ESHUTDOWN:
        return true;
    default:
        return false;
    }
}

std::string errorText(int code) {
    if (code == kErrTimedOut) return "Timed out";
    // strerror_r comes in two flavours (GNU returns the text, POSIX fills the buffer); this
    // overload pair accepts either without feature-test macros.
    char buf[256] = {};
    struct Pick {
        static const char* text(const char* gnu, const char*) { return gnu; }
        static const char* text(int posixResult, const char* buffer) {
            return posixResult == 0 ? buffer : "Unknown error";
        }
    };
    return Pick::text(strerror_r(code, buf, sizeof buf), buf);
}

}  // namespace brenvale::platform
