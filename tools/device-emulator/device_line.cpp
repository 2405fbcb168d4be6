#include "device_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace sorvanite::emulator {

std::optional<DeviceLine> DeviceLine::open(const std::string& linkPath, std::string& error) {
    struct stat existing {};
    if (::lstat(linkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        error = linkPath + " exists and is not a symlink; not replacing it";
        return std::nullopt;
    }
    DeviceLine line;
    line.master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.master_ < 0 || ::grantpt(line.master_) != 0 || ::unlockpt(line.master_) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return std::nullopt;
    }
    line.portPath_ = ::ptsname(line.master_);
    line.keeper_ = ::open(line.portPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.keeper_ < 0) {
        error = "cannot open " + line.portPath_ + ": " + std::strerror(errno);
        return std::nullopt;
    }
    // Raw until the bridge applies its own settings: no echo, no translation.
    termios settings{};
    ::tcgetattr(line.keeper_, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(line.keeper_, TCSANOW, &settings);

    std::string temporary = linkPath + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(line.portPath_.c_str(), temporary.c_str()) != 0 ||
        ::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        error = "cannot link " + linkPath + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return std::nullopt;
    }
    line.linkPath_ = linkPath;
    return line;
}

std::optional<DeviceLine> DeviceLine::listen(const std::string& socketPath, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        error = "socket path too long: " + socketPath;
        return std::nullopt;
    }
    std::strcpy(address.sun_path, socketPath.c_str());
    struct stat existing {};
    if (::lstat(socketPath.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            error = socketPath + " exists and is not a socket; not replacing it";
            return std::nullopt;
        }
        ::unlink(socketPath.c_str());
    }
    DeviceLine line;
    line.listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (line.listener_ < 0 || ::bind(line.listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(line.listener_, 1) != 0) {
        error = "cannot listen on " + socketPath + ": " + std::strerror(errno);
        return std::nullopt;
    }
    line.portPath_ = socketPath;
    line.socketPath_ = socketPath;
    return line;
}

DeviceLine::DeviceLine(DeviceLine&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      keeper_(std::exchange(other.keeper_, -1)),
      listener_(std::exchange(other.listener_, -1)),
      socketPath_(std::exchange(other.socketPath_, {})),
      portPath_(std::move(other.portPath_)),
      linkPath_(std::exchange(other.linkPath_, {})),
      pending_(std::move(other.pending_)) {}

DeviceLine::~DeviceLine() {
    // Remove the link only while it still points at our pty: a newer
    // emulator may have taken the name over.
    if (!linkPath_.empty()) {
        char target[4096];
        ssize_t length = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (length >= 0 && portPath_ == std::string_view(target, static_cast<std::size_t>(length)))
            ::unlink(linkPath_.c_str());
    }
    hangUp();
    if (keeper_ >= 0) ::close(keeper_);
    if (listener_ >= 0) ::close(listener_);
    if (!socketPath_.empty()) ::unlink(socketPath_.c_str());
}

std::optional<std::string> DeviceLine::readCommand() {
    for (;;) {
        if (auto cr = pending_.find('\r'); cr != std::string::npos) {
            std::string command = pending_.substr(0, cr);
            pending_.erase(0, cr + 1);
            return command;
        }
        if (master_ < 0 && listener_ >= 0) {
            // A socket line: one client at a time is the line.
            pollfd waiting{listener_, POLLIN, 0};
            if (::poll(&waiting, 1, 200) <= 0) return std::nullopt;
            master_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            pending_.clear();
        }
        if (master_ < 0) return std::nullopt;
        // Wake up now and then so a stop request is never missed for long.
        pollfd entry{master_, POLLIN, 0};
        if (::poll(&entry, 1, 200) <= 0) return std::nullopt;
        char chunk[256];
        ssize_t count = ::read(master_, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) return std::nullopt;
        if (count <= 0) {
            // The socket's client has gone: wait for the next one rather than
            // read the closed connection over and over.
            if (!socketPath_.empty()) hangUp();
            return std::nullopt;
        }
        for (ssize_t i = 0; i < count; ++i) {
            // XON/XOFF from the bridge's side is flow control, not text.
            if (chunk[i] != '\x11' && chunk[i] != '\x13') pending_ += chunk[i];
        }
        // No command of the device's protocol comes near this: a line that
        // grows past it without a CR is noise, and must not grow without end.
        constexpr std::size_t kLongestLine = 256;
        if (pending_.size() > kLongestLine && pending_.find('\r') == std::string::npos) {
            dropped_ += pending_.size();
            pending_.clear();
        }
    }
}

void DeviceLine::send(std::string_view bytes) {
    while (!bytes.empty() && master_ >= 0) {
        ssize_t written = ::write(master_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void DeviceLine::hangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

}  // namespace sorvanite::emulator
