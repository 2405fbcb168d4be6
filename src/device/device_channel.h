#pragma once

#include <cstddef>

#include "device/port.h"
#include "transcript/transcript.h"

namespace sorvanite {

// The device's replies are lines ending in CR. The buffer holds at most 30
// bytes of text, the CR and a NUL.
inline constexpr std::size_t kDeviceBufferSize = 32;
using DeviceBuffer = char[kDeviceBufferSize];

// Exchanges CR-terminated lines with the device and records each of them.
// It knows nothing of chess.
class DeviceChannel {
public:
    DeviceChannel(Port& port, Transcript& transcript) : port_(port), transcript_(transcript) {}

    // Sends `command`, which carries its own CR, in one write.
    void sendToDevice(const char* command);

    // Blocks until the device's CR (or a read error) and stores the reply,
    // CR included, NUL-terminated. Bytes past the 30th before the CR are
    // dropped. Returns how many bytes were stored; the reply may contain NULs.
    std::size_t receiveFromDevice(DeviceBuffer& buffer);

private:
    Port& port_;
    Transcript& transcript_;
};

}  // namespace sorvanite
