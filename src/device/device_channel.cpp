#include "device/device_channel.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace sorvanite {

void DeviceChannel::sendToDevice(const char* command) {
    std::size_t length = std::strlen(command);
    transcript_.record({" --> ", {command, length}, "\n"});
    port_.write(command, length);
}

std::size_t DeviceChannel::receiveFromDevice(DeviceBuffer& buffer) {
    constexpr std::size_t textCapacity = kDeviceBufferSize - 2;  // room for CR and NUL
    std::size_t stored = 0;
    int errorCode = 0;
    for (;;) {
        PortRead read = port_.readByte();
        if (read.errorCode != 0) errorCode = read.errorCode;
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
    return stored;
}

}  // namespace sorvanite
