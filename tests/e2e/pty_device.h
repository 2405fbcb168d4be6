#pragma once

#include <termios.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sorvanite::e2e {

using namespace std::chrono_literals;

// The device's side of a pseudo-terminal. The bridge opens the other side as
// its serial port. One descriptor of that side stays open here, so the line
// does not hang up between runs and its settings can be read back.
class PtyDevice {
public:
    PtyDevice();
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    const std::string& portPath() const { return portPath_; }

    // Reads up to and including the next CR. Empty if none came in time or
    // the line is closed.
    std::optional<std::string> readCommand(std::chrono::milliseconds timeout = 10s);
    // Everything that arrived within `timeout`, CR or not.
    std::string readAvailable(std::chrono::milliseconds timeout);

    // Waits while the line is full; with `stop`, gives up once it is set (a
    // bridge that was ended mid-answer reads no more).
    void send(std::string_view bytes, const std::atomic<bool>* stop = nullptr);
    // Waits until the bridge's side of the line holds `count` bytes that
    // nobody has read yet: everything sent before them has passed the line
    // discipline (an XOFF has taken effect). False on time-out.
    bool waitUntilPortHolds(std::size_t count, std::chrono::milliseconds timeout = 10s);
    // Sends XOFF with the line set to obey it, and waits until it has: what
    // is written to the port from then on is held back, as a device that
    // never sends XON holds it.
    void holdOutputWithXoff();
    // Closes the device's side: the bridge sees the line hang up.
    void hangUp();
    bool hungUp() const { return master_ < 0; }

    // The port's settings as the bridge left them.
    termios portSettings() const;

private:
    int master_ = -1;
    int portKeeper_ = -1;
    std::string portPath_;
    std::string pending_;  // bytes read past the last CR handed out
};

// One answer of a scripted device: bytes sent when the next command arrives,
// then optionally the line is closed.
struct Answer {
    std::string bytes;
    bool hangUpAfter = false;
};

// A device that answers each command with the next scripted answer, on its
// own thread, and keeps every byte it received. After the script it goes on
// listening without answering.
class ScriptedDevice {
public:
    ScriptedDevice(PtyDevice& device, std::vector<Answer> answers);
    ~ScriptedDevice();

    // Stops listening and returns everything the device received.
    std::string finish();

private:
    void serve();

    PtyDevice& device_;
    std::vector<Answer> answers_;
    std::atomic<bool> stop_{false};
    std::string received_;
    std::thread thread_;
};

}  // namespace sorvanite::e2e
