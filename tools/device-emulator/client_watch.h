#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace sorvanite::emulator {

// A bridge sets its terminal's exclusive flag. A real port drops it at its
// last close, but the emulator keeps its terminal open to serve it, so a
// bridge that was killed would leave the flag set and lock every ordinary
// user out. This watches every client's close, even while the device thinks,
// and clears the flag once no other process has the terminal open: never
// while a live client holds it.
class ClientWatch {
public:
    // `keeper` is the emulator's own descriptor of the terminal at `terminalPath`.
    ClientWatch(const std::string& terminalPath, int keeper);
    ~ClientWatch();
    ClientWatch(const ClientWatch&) = delete;
    ClientWatch& operator=(const ClientWatch&) = delete;

private:
    void watch();
    bool anotherProcessHasItOpen() const;

    int keeper_;
    int closes_ = -1;  // inotify
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace sorvanite::emulator
