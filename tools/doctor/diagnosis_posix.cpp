#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "device/termination.h"
#include "device/uucp_lock.h"
#include "diagnosis.h"

namespace sorvanite::doctor {
namespace {

std::vector<std::string> matching(const char* pattern) {
    std::vector<std::string> paths;
    glob_t found{};
    if (::glob(pattern, 0, nullptr, &found) == 0)
        for (std::size_t i = 0; i < found.gl_pathc; ++i) paths.emplace_back(found.gl_pathv[i]);
    ::globfree(&found);
    return paths;
}

// /dev/ttyS0 to ttyS31 always exist on Linux; only those with a UART behind
// them are ports. USB adapters appear only while plugged in.
std::string serialPortsHere() {
    std::string list;
    for (const std::string& path : matching("/dev/ttyS*")) {
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        serial_struct info{};
        bool uart = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
        ::close(fd);
        if (uart) list += "  " + path + " (UART)\n";
    }
    for (const char* pattern : {"/dev/ttyUSB*", "/dev/ttyACM*"})
        for (const std::string& path : matching(pattern)) list += "  " + path + " (USB)\n";
    return list.empty() ? "  none found: is the device or its USB adapter plugged in?\n" : list;
}

std::string processName(long pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "?" : name;
}

// Who holds the port: the bridge's lock shows in /proc/locks; any other
// program that has it open shows in /proc/PID/fd (for our own user's
// processes, or all of them as root).
std::set<long> holdersOf(const struct stat& port) {
    std::set<long> pids;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> number >> kind >> mode >> access >> pid >> where)) continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 && inode == port.st_ino &&
            makedev(major, minor) == port.st_dev)
            pids.insert(pid);
    }
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        long pid = std::atol(process.path().filename().c_str());
        if (pid <= 0 || pid == ::getpid()) continue;
        std::error_code fdError;
        for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
            struct stat target {};
            if (::stat(fd.path().c_str(), &target) == 0 && S_ISCHR(target.st_mode) && target.st_rdev == port.st_rdev)
                pids.insert(pid);
        }
    }
    return pids;
}

bool inGroup(gid_t group) {
    if (::getegid() == group) return true;
    int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(count > 0 ? count : 0));
    count = ::getgroups(count, groups.data());
    for (int i = 0; i < count; ++i)
        if (groups[static_cast<std::size_t>(i)] == group) return true;
    return false;
}

}  // namespace

std::string errorText(int errorCode) { return std::strerror(errorCode); }

std::string explainOpenFailure(const char* path, int errorCode) {
    std::string text;
    struct stat port {};
    bool exists = ::stat(path, &port) == 0;
    switch (errorCode) {
        case ENOENT:
            text += std::string("cause: ") + path + " does not exist.\n";
            text += "fix:   build the bridge for a port that exists (cmake -DSORVANITE_PORT=PATH).\n";
            text += "serial ports here:\n" + serialPortsHere();
            break;
        case EACCES:
        case EPERM: {
            text += std::string("cause: you may not open ") + path + ".\n";
            if (exists) {
                const group* owner = ::getgrgid(port.st_gid);
                std::string name = owner ? owner->gr_name : std::to_string(port.st_gid);
                text += "       It belongs to the group '" + name + "', and you are " +
                        (inGroup(port.st_gid) ? "in it (so look at its mode bits, or an ACL).\n"
                                              : "not in it.\n");
                text += "fix:   sudo usermod -aG " + name + " $USER, then log in again.\n";
            }
            break;
        }
        case EBUSY: {
            text += std::string("cause: another program holds ") + path + ".\n";
            std::set<long> pids = exists ? holdersOf(port) : std::set<long>{};
            std::string lockFile;
            pid_t locker = uucpLockHolder(path, &lockFile);
            if (locker != 0) {
                text += "       process " + std::to_string(locker) + " (" + processName(locker) + "), by its lock file " +
                        lockFile + "\n";
                pids.erase(locker);
            }
            for (long pid : pids) text += "       process " + std::to_string(pid) + " (" + processName(pid) + ")\n";
            if (pids.empty() && locker == 0)
                text += "       (no process of yours has it open: it may be another user's)\n";
            text += "fix:   end that program (a bridge left running by a front end, a terminal program).\n";
            break;
        }
        case ENOTTY:
            text += std::string("cause: ") + path + " is not a terminal, so it cannot be a serial port.\n";
            text += "fix:   build the bridge for the serial device (cmake -DSORVANITE_PORT=/dev/ttyUSB0).\n";
            break;
        default:
            text += "cause: the system refused the open; the error above says why.\n";
            break;
    }
    return text;
}

void limitAnswerWait(int seconds) {
    catchTerminationSignals({SIGALRM});
    ::alarm(static_cast<unsigned>(seconds));
}

}  // namespace sorvanite::doctor
