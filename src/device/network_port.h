#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "device/port.h"

namespace sorvanite {

// A port on another machine: "rfc2217://HOST:PORT" (Telnet with RFC 2217's
// line settings, as ser2net serves a serial port) or "socket://HOST:PORT"
// (the device's bytes over plain TCP). HOST may be a name, an address or an
// IPv6 address in brackets.
struct NetworkAddress {
    bool rfc2217 = false;
    std::string host;
    std::string service;
};

// Whether `name` is written as a network port at all; a plain name is not.
bool isNetworkPortName(std::string_view name);
// The address in `name`; none when it is not a well-formed network port.
std::optional<NetworkAddress> parseNetworkAddress(std::string_view name);

// What one read of a connection gave.
struct ConnectionRead {
    std::size_t count = 0;     // bytes read
    bool closed = false;       // the server closed the connection
    int errorCode = 0;         // the platform's code of a failure
    bool interrupted = false;  // the run was asked to end while waiting
};

// A TCP connection to the device's server, as the platform makes one.
class Connection {
public:
    virtual ~Connection() = default;
    // Reads what has come, up to `size` bytes. With `waitMs` 0 it does not
    // wait; with -1 it waits until something comes or the run is asked to
    // end; otherwise up to that long. Nothing come and nothing wrong: a
    // result with count 0 and no flags.
    virtual ConnectionRead read(char* buffer, std::size_t size, int waitMs) = 0;
    // Writes all of `bytes`; failures show up in the next read.
    virtual void write(std::string_view bytes) = 0;
};

// How long a server has to accept the connection.
inline constexpr int kConnectTimeoutMs = 5000;

// Connects to `address` within kConnectTimeoutMs; null with `errorCode` set
// when it cannot.
std::unique_ptr<Connection> connectTo(const NetworkAddress& address, int& errorCode);

// The platform's error codes a network port's open can fail with, beyond
// those of the connection itself.
int hostNotFoundError();
int connectionClosedError();
int malformedAddressError();
int connectionRefusedError();
int connectTimedOutError();

// Why opening a network port failed with `errorCode`, in words; empty for
// a code that needs the platform's own words.
std::string describeNetworkOpenError(int errorCode);

// Opens the network port `name`: connects, then over RFC 2217 negotiates
// the line settings the serial backends set, taking up to two seconds for
// the server's answers.
PortOpenResult openNetworkPort(std::string_view name);

}  // namespace sorvanite
