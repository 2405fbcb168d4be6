#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace sorvanite::emulator {

// The device's end of a pseudo-terminal, reachable through a symlink for the
// bridge to open as its serial port; or of a Unix socket that a virtual
// machine's serial line connects to.
class DeviceLine {
public:
    // Null with `error` set if the pty cannot be made or `linkPath` exists
    // and is not a symlink (a stale symlink is replaced).
    static std::optional<DeviceLine> open(const std::string& linkPath, std::string& error);
    // Listens on a Unix socket at `socketPath` (replacing a stale one); the
    // first connection becomes the line.
    static std::optional<DeviceLine> listen(const std::string& socketPath, std::string& error);
    DeviceLine(DeviceLine&& other) noexcept;
    DeviceLine& operator=(DeviceLine&&) = delete;
    ~DeviceLine();

    // The pty, or the socket.
    const std::string& portPath() const { return portPath_; }
    // The emulator's own descriptor of its terminal; -1 for a socket line.
    int terminal() const { return keeper_; }

    // The next CR-terminated command, without its CR. Empty when none has
    // come for a while, a signal arrived or the line is closed. A socket
    // line whose client has gone waits for the next client.
    std::optional<std::string> readCommand();
    // Bytes dropped since the last call: a line longer than any command.
    std::size_t takeDroppedBytes() { return std::exchange(dropped_, 0); }
    void send(std::string_view bytes);
    // Closes the device's end: the bridge sees the line drop.
    void hangUp();

private:
    DeviceLine() = default;

    int master_ = -1;
    int keeper_ = -1;  // keeps the line up while no bridge has it open
    int listener_ = -1;  // a socket line before its connection
    std::string socketPath_;
    std::string portPath_;
    std::string linkPath_;
    std::string pending_;
    std::size_t dropped_ = 0;
};

}  // namespace sorvanite::emulator
