#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace sorvanite {

// What one blocking one-byte read of the port gave. A failing read may still
// have delivered a byte, so the two are reported separately.
struct PortRead {
    bool gotByte = false;
    char byte = 0;
    int errorCode = 0;  // the platform's error code; 0 when the read succeeded
    // The read gave up because the run was asked to end, not because the
    // line failed. errorCode then says so in the platform's own terms.
    bool interrupted = false;
};

// The serial line to the device, configured for 9600 bit/s 8N1 with XON/XOFF
// flow control and raw bytes in both directions.
class Port {
public:
    virtual ~Port() = default;
    // Waits for one byte. May come back empty (a port read time-out); the
    // caller simply asks again.
    virtual PortRead readByte() = 0;
    // Appends to `bytes` whatever the device has sent that is already
    // waiting, up to `limit` bytes, without waiting for more.
    virtual void takeWaitingBytes(std::string& bytes, std::size_t limit) = 0;
    // Writes all of `data`, blocking. Failures are not reported: the device
    // protocol has no way to recover from them anyway.
    virtual void write(const char* data, std::size_t length) = 0;
    // The line settings and modem lines as the driver now has them, in words
    // ("9600 8N1 ..."), for a person checking the port. Empty where unknown.
    virtual std::string describeLine() const { return {}; }
    // Whether what we wrote is still held back by the device's XOFF.
    virtual bool outputHeld() const { return false; }
    // What a port on another machine learnt of its line since last asked (a
    // line setting its server refused), a line each, for the transcript.
    virtual std::vector<std::string> takeNotes() { return {}; }
};

// The error code, and exit status, of a path that names no serial port (a
// regular file, a directory, a pipe, NUL): 25 on every platform, POSIX's
// ENOTTY.
constexpr int kNotASerialPort = 25;

struct PortOpenResult {
    std::unique_ptr<Port> port;  // null when the open failed
    int errorCode = 0;           // the platform's error code of the failure
};

// Opens the port at `path` for this process alone and applies the line
// settings. Settings the driver refuses are not an error: we carry on with
// what it accepted.
PortOpenResult openSerialPort(const char* path);

// Whether `errorCode` says that another program holds the port.
bool isPortHeldError(int errorCode);

// Why opening `path` failed with `errorCode`, in words for a person, such
// as "it does not exist".
std::string describeOpenError(const char* path, int errorCode);

// The exit status that reports a failed open with `errorCode`; never 0.
int exitStatusForOpenError(int errorCode);

// The exit status of a run whose device went away (the line hung up, or its
// adapter was unplugged) in the middle of it.
int exitStatusForDeviceGone();

}  // namespace sorvanite
