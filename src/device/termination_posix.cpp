#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "device/termination.h"

namespace sorvanite {
namespace {

// Set from signal handlers and read by every thread: lock-free atomics are
// safe in both.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> requested{0};
// The signal mask while waiting: the usual one without the termination
// signals, so they are taken only where ppoll can notice them.
sigset_t waitMask;
bool haveWaitMask = false;
std::atomic<int> frontEndFd{-1};
// Written once a termination is requested and never drained, so that every
// thread's wait sees it, not only the one the signal happened to land in.
// Opened before any second thread starts.
std::atomic<int> wakeRead{-1};
std::atomic<int> wakeWrite{-1};

void onTerminationSignal(int) {
    requested = 1;
    if (wakeWrite >= 0) {
        char byte = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wakeWrite, &byte, 1);
    }
}

void openWakePipe() {
    int ends[2];
    if (wakeWrite >= 0 || ::pipe(ends) != 0) return;
    for (int end : ends) ::fcntl(end, F_SETFD, FD_CLOEXEC);
    ::fcntl(ends[1], F_SETFL, O_NONBLOCK);  // a full pipe already wakes everyone
    wakeRead = ends[0];
    wakeWrite = ends[1];
}

}  // namespace

bool terminationRequested() { return requested.load() != 0; }

void catchTerminationSignals(std::initializer_list<int> signals) {
    openWakePipe();
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

void requestTermination() {
    openWakePipe();
    onTerminationSignal(0);
}

void watchFrontEnd(int fd) { frontEndFd = fd; }

bool waitUntilReady(int fd, short events, int timeoutMs) {
    static const timespec noWait{0, 0};
    const timespec limit{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000};
    for (;;) {
        // Asking for no events still reports POLLERR (a pipe whose reader has
        // gone) and POLLHUP (a socket or terminal whose other side closed).
        int watched = frontEndFd;
        pollfd entries[3] = {{fd, events, 0}, {wakeRead, POLLIN, 0}, {watched, 0, 0}};
        nfds_t count = watched >= 0 ? 3 : 2;
        const timespec* wait = requested ? &noWait : timeoutMs >= 0 ? &limit : nullptr;
        int ready = ::ppoll(entries, count, wait, haveWaitMask ? &waitMask : nullptr);
        if (count == 3 && (entries[2].revents & (POLLERR | POLLHUP))) requestTermination();
        if (count == 3 && (entries[2].revents & POLLNVAL)) frontEndFd = -1;  // not a descriptor: nothing to watch
        if (entries[0].revents != 0) return true;
        if (ready == 0 || (ready > 0 && requested)) return false;
        if (ready > 0) continue;  // a descriptor no longer watched
        // Interrupted: by a termination request the next round only looks.
        if (errno != EINTR) return true;  // let the read or write report it
    }
}

}  // namespace sorvanite
