#include "client_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/terminal_holders.h"

namespace sorvanite::emulator {

ClientWatch::ClientWatch(const std::string& terminalPath, int keeper) : keeper_(keeper) {
    closes_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (closes_ >= 0 && ::inotify_add_watch(closes_, terminalPath.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        ::close(closes_);
        closes_ = -1;
    }
    if (closes_ >= 0) thread_ = std::thread([this] { watch(); });
}

ClientWatch::~ClientWatch() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (closes_ >= 0) ::close(closes_);
}

void ClientWatch::watch() {
    while (!stopping_) {
        // Wakes now and then to notice the end of the run.
        pollfd entry{closes_, POLLIN, 0};
        if (::poll(&entry, 1, 200) <= 0) continue;
        char events[4096];
        while (::read(closes_, events, sizeof events) > 0) {
        }
        if (anotherProcessHasItOpen()) continue;
        (void)::ioctl(keeper_, TIOCNXCL);
        // A client that opened it between the look and the clearing had set
        // the flag: set it again for that client.
        if (anotherProcessHasItOpen()) (void)::ioctl(keeper_, TIOCEXCL);
    }
}

// Our own descriptors (the keeper) do not count.
bool ClientWatch::anotherProcessHasItOpen() const {
    struct stat terminal {};
    return ::fstat(keeper_, &terminal) == 0 && !processesHolding(terminal.st_rdev).empty();
}

}  // namespace sorvanite::emulator
