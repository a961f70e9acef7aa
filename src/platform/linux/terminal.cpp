#include "platform/terminal.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace brenvale::platform {

namespace {
std::atomic<void (*)()> gHandler{nullptr};
std::atomic<int> gInterrupts{0};

extern "C" void onSignal(int) {
    // The first interrupt asks the running operation to stop; a second one means "now".
    if (gInterrupts.fetch_add(1) >= 1) _exit(130);
    if (auto h = gHandler.load()) h();
}
}  // namespace

bool stdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

InterruptGuard::InterruptGuard(void (*onInterrupt)()) {
    gHandler = onInterrupt;
    gInterrupts = 0;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

InterruptGuard::~InterruptGuard() {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    gHandler = nullptr;
}

}  // namespace brenvale::platform
