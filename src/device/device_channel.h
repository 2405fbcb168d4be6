#pragma once

#include <cstddef>

#include "device/port.h"
#include "transcript/transcript.h"

namespace sorvanite {

// The device's replies are lines ending in CR. The buffer holds at most 30
// bytes of text, the CR and a NUL.
inline constexpr std::size_t kDeviceBufferSize = 32;
using DeviceBuffer = char[kDeviceBufferSize];

// How a receive ended.
enum class ReceiveEnd {
    Answered,     // at the device's CR
    Interrupted,  // the run was asked to end while the device thought
    DeviceGone,   // the line failed: hung up, or the device went away
};

struct ReceiveResult {
    std::size_t length = 0;  // bytes stored; the reply may contain NULs
    ReceiveEnd end = ReceiveEnd::Answered;
};

// Exchanges CR-terminated lines with the device and records each of them.
// It knows nothing of chess.
class DeviceChannel {
public:
    DeviceChannel(Port& port, Transcript& transcript) : port_(port), transcript_(transcript) {}

    // Sends `command`, which carries its own CR, in one write. The device
    // speaks only when asked: whatever it sent since its last answer is
    // taken off the line first and recorded, so that it can never be read as
    // the answer to this command.
    void sendToDevice(const char* command);

    // Blocks until the device's CR (or a read error) and stores the reply,
    // CR included, NUL-terminated. Bytes past the 30th before the CR are
    // dropped.
    ReceiveResult receiveFromDevice(DeviceBuffer& buffer);

private:
    Port& port_;
    Transcript& transcript_;
};

}  // namespace sorvanite
