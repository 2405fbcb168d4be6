#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "device/network_port.h"
#include "device/termination.h"

namespace sorvanite {
namespace {

// Waits for `socket` to become ready (to read, or to be written) a quarter
// of a second at a time, so that the end of the run is noticed; -1 waits
// without end. False when it did not become ready.
bool waitFor(SOCKET socket, bool toWrite, int waitMs) {
    for (int waited = 0; waitMs < 0 || waited < waitMs; waited += 250) {
        if (terminationRequested()) return false;
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(socket, &ready);
        FD_SET(socket, &failed);
        int step = waitMs < 0 ? 250 : std::min(250, waitMs - waited);
        timeval limit{0, step * 1000};
        int count = select(0, toWrite ? nullptr : &ready, toWrite ? &ready : nullptr, &failed, &limit);
        if (count != 0) return true;  // ready, or an error the next call reports
    }
    return false;
}

class WinsockConnection final : public Connection {
public:
    explicit WinsockConnection(SOCKET socket) : socket_(socket) {}
    ~WinsockConnection() override { closesocket(socket_); }

    ConnectionRead read(char* buffer, std::size_t size, int waitMs) override {
        ConnectionRead result;
        if (waitMs != 0 && !waitFor(socket_, false, waitMs)) {
            if (terminationRequested()) {
                result.errorCode = ERROR_OPERATION_ABORTED;
                result.interrupted = true;
            }
            return result;
        }
        u_long waiting = 0;
        if (waitMs == 0 && (ioctlsocket(socket_, FIONREAD, &waiting) != 0 || waiting == 0)) return result;
        int count = recv(socket_, buffer, static_cast<int>(size), 0);
        if (count > 0) result.count = static_cast<std::size_t>(count);
        else if (count == 0) result.closed = true;
        else result.errorCode = WSAGetLastError();
        return result;
    }

    void write(std::string_view bytes) override {
        while (!bytes.empty()) {
            int written = send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0);
            if (written <= 0) return;  // the next read tells
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
    }

private:
    SOCKET socket_;
};

SOCKET connectOne(const addrinfo& entry, int& errorCode) {
    SOCKET socket = ::socket(entry.ai_family, entry.ai_socktype, entry.ai_protocol);
    if (socket == INVALID_SOCKET) {
        errorCode = WSAGetLastError();
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    if (connect(socket, entry.ai_addr, static_cast<int>(entry.ai_addrlen)) != 0) {
        int failure = WSAGetLastError();
        if (failure != WSAEWOULDBLOCK) {
            errorCode = failure;
            closesocket(socket);
            return INVALID_SOCKET;
        }
        if (!waitFor(socket, true, kConnectTimeoutMs)) {
            errorCode = terminationRequested() ? ERROR_OPERATION_ABORTED : WSAETIMEDOUT;
            closesocket(socket);
            return INVALID_SOCKET;
        }
        int result = 0;
        int length = sizeof result;
        getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &length);
        if (result != 0) {
            errorCode = result;
            closesocket(socket);
            return INVALID_SOCKET;
        }
    }
    u_long blocking = 0;
    ioctlsocket(socket, FIONBIO, &blocking);
    // Each command is one small write, which must not wait for more.
    BOOL on = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return socket;
}

}  // namespace

int hostNotFoundError() { return WSAHOST_NOT_FOUND; }
int connectionClosedError() { return WSAECONNRESET; }
int malformedAddressError() { return ERROR_INVALID_NAME; }
int connectionRefusedError() { return WSAECONNREFUSED; }
int connectTimedOutError() { return WSAETIMEDOUT; }

std::unique_ptr<Connection> connectTo(const NetworkAddress& address, int& errorCode) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        errorCode = WSASYSNOTREADY;
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.host.c_str(), address.service.c_str(), &hints, &found) != 0) {
        errorCode = hostNotFoundError();
        return nullptr;
    }
    SOCKET socket = INVALID_SOCKET;
    for (addrinfo* entry = found; entry && socket == INVALID_SOCKET && !terminationRequested(); entry = entry->ai_next)
        socket = connectOne(*entry, errorCode);
    freeaddrinfo(found);
    if (socket == INVALID_SOCKET) return nullptr;
    return std::make_unique<WinsockConnection>(socket);
}

}  // namespace sorvanite
