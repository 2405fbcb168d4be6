#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "device/termination.h"
#include "session/console.h"

namespace sorvanite {

void prepareConsole() {
    // Started with a standard descriptor closed, the port would take it, and
    // the device would receive our output or be read as the front end.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            int null = ::open("/dev/null", O_RDWR);
            if (null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    }
    // A front end that closes its end of our output ends the run in order
    // (see watchFrontEnd below), not by a signal.
    std::signal(SIGPIPE, SIG_IGN);
    // A file-size limit makes the transcript write fail instead, which is
    // ignored like any failed transcript write.
    std::signal(SIGXFSZ, SIG_IGN);
    // XBoard interrupts an engine of this protocol generation before nearly
    // every move it passes on, so from a front end SIGINT is ignored; from a
    // person at a terminal it ends the run, as SIGTERM and SIGHUP always do
    // (XBoard sends SIGTERM right after "quit").
    if (::isatty(STDIN_FILENO)) {
        catchTerminationSignals({SIGTERM, SIGHUP, SIGINT});
    } else {
        std::signal(SIGINT, SIG_IGN);
        catchTerminationSignals({SIGTERM, SIGHUP});
    }
    // A front end that died or was killed may leave its input open in other
    // hands (a child that inherited it), but nobody reads our output any
    // more: that ends the run too, and lets go of the port.
    watchFrontEnd(STDOUT_FILENO);
}

std::size_t readStandardInput(char* buffer, std::size_t size) {
    for (;;) {
        // Waiting in poll, not in read: a non-blocking descriptor with nothing
        // yet is waited on, and a termination request ends the wait.
        if (!waitUntilReady(STDIN_FILENO, POLLIN)) return 0;
        ssize_t count = ::read(STDIN_FILENO, buffer, size);
        if (count >= 0) return static_cast<std::size_t>(count);
        if (errno != EINTR && errno != EAGAIN) return 0;  // any failure ends the input
    }
}

void writeStandardOutput(const char* data, std::size_t size) {
    while (size > 0) {
        if (!waitUntilReady(STDOUT_FILENO, POLLOUT)) return;
        // At most PIPE_BUF at a time: a pipe that poll calls writable takes
        // that much without blocking, so a termination request is never
        // stuck behind a slow reader.
        ssize_t written = ::write(STDOUT_FILENO, data, std::min<std::size_t>(size, PIPE_BUF));
        if (written < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (written <= 0) return;  // the front end has gone (EPIPE): drop the output
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

}  // namespace sorvanite
