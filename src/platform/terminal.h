#pragma once
// Terminal and interrupt services for the command-line front end.

#include <functional>

namespace brenvale::platform {

bool stdinIsTerminal();
bool stderrIsTerminal();

// Runs `onInterrupt` (from a signal context: it must only set atomic flags) on SIGINT and
// SIGTERM until the returned guard is destroyed. A second Ctrl-C ends the process at once.
class InterruptGuard {
public:
    explicit InterruptGuard(void (*onInterrupt)());
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
};

}  // namespace brenvale::platform
