#pragma once
// Error codes of the device layer: errno values as the kernel reports them, plus one code of
// our own for a read that did not complete within its time-out.

#include <string>

namespace brenvale::platform {

// A read that timed out. Deliberately outside the errno range so it never collides with one.
inline constexpr int kErrTimedOut = 1460;

// ENODEV, ENXIO, ENOMEDIUM, EBADF, ENOTCONN, ESHUTDOWN: the device is gone, not just one sector.
bool isOfflineError(int code);

// The system's text for a code ("Input/output error"), or "Timed out" for kErrTimedOut.
std::string errorText(int code);

}  // namespace brenvale::platform
