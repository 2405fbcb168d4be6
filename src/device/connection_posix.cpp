#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "device/network_port.h"
#include "device/termination.h"

namespace sorvanite {
namespace {

class PosixConnection final : public Connection {
public:
    explicit PosixConnection(int fd) : fd_(fd) {}
    ~PosixConnection() override { ::close(fd_); }

    // The socket is non-blocking; every wait happens in waitUntilReady,
    // which a termination request ends at once.
    ConnectionRead read(char* buffer, std::size_t size, int waitMs) override {
        ConnectionRead result;
        for (;;) {
            ssize_t count = ::recv(fd_, buffer, size, 0);
            if (count > 0) {
                result.count = static_cast<std::size_t>(count);
            } else if (count == 0) {
                result.closed = true;
            } else if (errno == EINTR) {
                continue;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (waitMs != 0 && waitUntilReady(fd_, POLLIN, waitMs)) continue;
                if (terminationRequested()) {
                    result.errorCode = EINTR;
                    result.interrupted = true;
                }
            } else {
                result.errorCode = errno;
            }
            return result;
        }
    }

    void write(std::string_view bytes) override {
        while (!bytes.empty()) {
            ssize_t written = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (written < 0 && errno == EINTR) continue;
            if (written < 0 && errno == EAGAIN && waitUntilReady(fd_, POLLOUT)) continue;
            if (written <= 0) return;  // the next read tells
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
    }

private:
    int fd_;
};

// Connects one socket to one of the host's addresses, within the time-out.
int connectOne(const addrinfo& entry, int& errorCode) {
    int fd = ::socket(entry.ai_family, entry.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, entry.ai_protocol);
    if (fd < 0) {
        errorCode = errno;
        return -1;
    }
    if (::connect(fd, entry.ai_addr, entry.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            errorCode = errno;
            ::close(fd);
            return -1;
        }
        if (!waitUntilReady(fd, POLLOUT, kConnectTimeoutMs)) {
            errorCode = terminationRequested() ? EINTR : ETIMEDOUT;
            ::close(fd);
            return -1;
        }
        int failure = 0;
        socklen_t length = sizeof failure;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length);
        if (failure != 0) {
            errorCode = failure;
            ::close(fd);
            return -1;
        }
    }
    // Each command is one small write, which must not wait for more.
    int on = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

}  // namespace

int hostNotFoundError() { return ENXIO; }
int connectionClosedError() { return ECONNRESET; }
int malformedAddressError() { return EINVAL; }
int connectionRefusedError() { return ECONNREFUSED; }
int connectTimedOutError() { return ETIMEDOUT; }

std::unique_ptr<Connection> connectTo(const NetworkAddress& address, int& errorCode) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.host.c_str(), address.service.c_str(), &hints, &found) != 0) {
        errorCode = hostNotFoundError();
        return nullptr;
    }
    int fd = -1;
    for (addrinfo* entry = found; entry && fd < 0 && !terminationRequested(); entry = entry->ai_next)
        fd = connectOne(*entry, errorCode);
    ::freeaddrinfo(found);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixConnection>(fd);
}

}  // namespace sorvanite
