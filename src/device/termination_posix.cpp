#include <poll.h>
#include <signal.h>

#include <cerrno>

#include "device/termination.h"

namespace sorvanite {
namespace {

volatile sig_atomic_t requested = 0;
// The signal mask while waiting: the usual one without the termination
// signals, so they are taken only where ppoll can notice them.
sigset_t waitMask;
bool haveWaitMask = false;

void onTerminationSignal(int) { requested = 1; }

}  // namespace

bool terminationRequested() { return requested != 0; }

void catchTerminationSignals(std::initializer_list<int> signals) {
    sigset_t blocked;
    sigemptyset(&blocked);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (int number : signals) {
        sigaddset(&blocked, number);
        sigaction(number, &action, nullptr);
    }
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    for (int number : signals) sigdelset(&waitMask, number);
    haveWaitMask = true;
}

bool waitUntilReady(int fd, short events) {
    static const timespec noWait{0, 0};
    for (;;) {
        pollfd entry{fd, events, 0};
        int ready = ::ppoll(&entry, 1, requested ? &noWait : nullptr, haveWaitMask ? &waitMask : nullptr);
        if (ready > 0) return true;
        if (ready == 0) return false;
        // Interrupted: by a termination request the next round only looks.
        if (errno != EINTR) return true;  // let the read or write report it
    }
}

}  // namespace sorvanite
