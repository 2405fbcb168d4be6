#include "device/device_channel.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace sorvanite {

namespace {

// Far more than a device that speaks out of turn sends between two of our
// commands (a minute of the line at 9600 bit/s); the bound only keeps a
// flooding line from holding the command back for ever.
constexpr std::size_t kUnaskedLimit = 64 * 1024;

}  // namespace

void DeviceChannel::sendToDevice(const char* command) {
    // A late answer to an abandoned command, or the LF after a CR LF
    // device's CR: recorded, as every byte from the device is, and dropped.
    for (const std::string& note : port_.takeNotes()) transcript_.record({"--- ", note, "\r\n"});
    std::string unasked;
    port_.takeWaitingBytes(unasked, kUnaskedLimit);
    if (!unasked.empty()) transcript_.record({" <-- ", unasked, "\n"});

    std::size_t length = std::strlen(command);
    transcript_.record({" --> ", {command, length}, "\n"});
    port_.write(command, length);
}

ReceiveResult DeviceChannel::receiveFromDevice(DeviceBuffer& buffer) {
    constexpr std::size_t textCapacity = kDeviceBufferSize - 2;  // room for CR and NUL
    std::size_t stored = 0;
    int errorCode = 0;
    bool interrupted = false;
    for (;;) {
        PortRead read = port_.readByte();
        if (read.errorCode != 0) errorCode = read.errorCode;
        interrupted = read.interrupted;
        if (read.gotByte) {
            if (read.byte == '\r') {
                buffer[stored++] = '\r';
                break;
            }
            // A reply too long for the buffer keeps its head and still ends at
            // its CR, so the next reply starts where it should.
            if (stored < textCapacity) buffer[stored++] = read.byte;
        }
        if (errorCode != 0) break;
        // Otherwise an empty read (a port time-out) or a byte: ask again.
    }
    buffer[stored] = '\0';

    if (transcript_.isOpen()) {
        char errorText[32] = "";
        if (errorCode != 0) std::snprintf(errorText, sizeof errorText, "(err: %d)", errorCode);
        transcript_.record({" <-- ", errorText, {buffer, stored}, "\n"});
    }
    if (errorCode == 0) return {stored, ReceiveEnd::Answered};
    return {stored, interrupted ? ReceiveEnd::Interrupted : ReceiveEnd::DeviceGone};
}

}  // namespace sorvanite
