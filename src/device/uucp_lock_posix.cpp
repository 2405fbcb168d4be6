#include "device/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace sorvanite {
namespace {

std::string baseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The number in a lock file: ten ASCII digits and a LF as HDB UUCP writes
// it, or a binary int as the oldest programs did.
pid_t lockFilePid(const std::string& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[32] = {};
    ssize_t length = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (length == static_cast<ssize_t>(sizeof(std::int32_t)) &&
        std::strspn(text, " 0123456789\n") != static_cast<std::size_t>(length)) {
        std::int32_t binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        return binary;
    }
    if (length <= 0) return 0;
    long number = std::strtol(text, nullptr, 10);
    return number > 0 && number <= INT_MAX ? static_cast<pid_t>(number) : 0;
}

bool isAlive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace

pid_t uucpLockHolder(const char* portPath, std::string* lockFile) {
    std::string names[2] = {baseName(portPath), {}};
    if (char* resolved = ::realpath(portPath, nullptr)) {
        names[1] = baseName(resolved);
        std::free(resolved);
    }
    for (const char* dir : {"/run/lock/", "/var/lock/"}) {
        for (const std::string& name : names) {
            if (name.empty()) continue;
            std::string file = dir + ("LCK.." + name);
            pid_t pid = lockFilePid(file);
            if (pid != ::getpid() && isAlive(pid)) {
                if (lockFile) *lockFile = file;
                return pid;
            }
        }
    }
    return 0;
}

}  // namespace sorvanite
