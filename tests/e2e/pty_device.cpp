#include "e2e/pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace sorvanite::e2e {
namespace {

void makeRaw(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) throw std::runtime_error("tcgetattr on the pty failed");
    ::cfmakeraw(&settings);
    ::tcsetattr(fd, TCSANOW, &settings);
}

// Waits for `fd` to be readable; false on time-out.
bool waitReadable(int fd, std::chrono::milliseconds timeout) {
    pollfd entry{fd, POLLIN, 0};
    int ready;
    do ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

}  // namespace

PtyDevice::PtyDevice() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("cannot open a pseudo-terminal");
    portPath_ = ::ptsname(master_);
    portKeeper_ = ::open(portPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (portKeeper_ < 0) throw std::runtime_error("cannot open " + portPath_);
    makeRaw(portKeeper_);
}

PtyDevice::~PtyDevice() {
    hangUp();
    if (portKeeper_ >= 0) ::close(portKeeper_);
}

std::optional<std::string> PtyDevice::readCommand(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto cr = pending_.find('\r'); cr != std::string::npos) {
            std::string command = pending_.substr(0, cr + 1);
            pending_.erase(0, cr + 1);
            return command;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (master_ < 0 || left.count() <= 0 || !waitReadable(master_, left)) return std::nullopt;
        char chunk[256];
        ssize_t count = ::read(master_, chunk, sizeof chunk);
        if (count <= 0) return std::nullopt;
        pending_.append(chunk, static_cast<std::size_t>(count));
    }
}

std::string PtyDevice::readAvailable(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (master_ < 0 || left.count() <= 0 || !waitReadable(master_, left)) break;
        char chunk[256];
        ssize_t count = ::read(master_, chunk, sizeof chunk);
        if (count <= 0) break;
        pending_.append(chunk, static_cast<std::size_t>(count));
    }
    return std::exchange(pending_, {});
}

bool PtyDevice::waitUntilPortHolds(std::size_t count, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int waiting = 0;
        if (::ioctl(portKeeper_, FIONREAD, &waiting) == 0 && static_cast<std::size_t>(waiting) >= count) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
}

void PtyDevice::holdOutputWithXoff() {
    termios settings = portSettings();
    settings.c_iflag |= IXON;
    ::tcsetattr(portKeeper_, TCSANOW, &settings);
    send("\x13z");
    waitUntilPortHolds(1);
}

void PtyDevice::send(std::string_view bytes, const std::atomic<bool>* stop) {
    while (!bytes.empty() && master_ >= 0) {
        ssize_t written = ::write(master_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) {
            if (stop && *stop) return;
            pollfd entry{master_, POLLOUT, 0};
            ::poll(&entry, 1, 50);
            continue;
        }
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void PtyDevice::hangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

termios PtyDevice::portSettings() const {
    termios settings{};
    ::tcgetattr(portKeeper_, &settings);
    return settings;
}

ScriptedDevice::ScriptedDevice(PtyDevice& device, std::vector<Answer> answers)
    : device_(device), answers_(std::move(answers)), thread_([this] { serve(); }) {}

ScriptedDevice::~ScriptedDevice() { finish(); }

std::string ScriptedDevice::finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return received_;
}

void ScriptedDevice::serve() {
    std::size_t next = 0;
    while (!stop_) {
        if (device_.hungUp()) return;
        if (next < answers_.size()) {
            auto command = device_.readCommand(20ms);
            if (!command) continue;
            received_ += *command;
            const Answer& answer = answers_[next++];
            device_.send(answer.bytes, &stop_);
            if (answer.hangUpAfter) {
                // Let the bytes reach the bridge before the line drops, as
                // they would on a wire.
                std::this_thread::sleep_for(200ms);
                device_.hangUp();
            }
        } else {
            received_ += device_.readAvailable(20ms);
        }
    }
    if (!device_.hungUp()) received_ += device_.readAvailable(0ms);
}

}  // namespace sorvanite::e2e
