#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <pwd.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "device/port.h"
#include "device/terminal_holders.h"
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

// The names udev gives a port under /dev/serial/by-id, by the kernel name
// they lead to: they name the adapter, and survive replugging.
std::map<std::string, std::string> stableNames() {
    std::map<std::string, std::string> names;
    for (const std::string& link : matching("/dev/serial/by-id/*")) {
        std::error_code error;
        std::filesystem::path target = std::filesystem::canonical(link, error);
        if (!error) names[target.string()] = link;
    }
    return names;
}

// /dev/ttyS0 to ttyS31 always exist on Linux; only those with a UART behind
// them are ports. USB adapters appear only while plugged in. Read from sysfs:
// opening a terminal to ask would raise its modem lines, or disturb the
// system console.
std::string serialPortsHere() {
    std::map<std::string, std::string> stable = stableNames();
    std::string list;
    auto add = [&](const std::string& entry, const char* kind) {
        std::string device = "/dev/" + std::filesystem::path(entry).filename().string();
        list += "  " + device + " (" + kind + ")";
        if (auto name = stable.find(device); name != stable.end()) list += " " + name->second;
        list += "\n";
    };
    for (const std::string& entry : matching("/sys/class/tty/ttyS*")) {
        std::ifstream type(entry + "/type");
        int uartType = PORT_UNKNOWN;
        if (type >> uartType && uartType != PORT_UNKNOWN) add(entry, "UART");
    }
    for (const char* pattern : {"/sys/class/tty/ttyUSB*", "/sys/class/tty/ttyACM*"})
        for (const std::string& entry : matching(pattern)) add(entry, "USB");
    return list.empty() ? "  none found: is the device or its USB adapter plugged in?\n" : list;
}

// What a udev rule matches the port at `device` (its kernel name) by: a USB
// adapter by its vendor and product, which survive replugging and a new
// number; any other port by its kernel name.
std::string udevMatchFor(const std::string& device) {
    std::string name = std::filesystem::path(device).filename().string();
    std::error_code error;
    std::filesystem::path at = std::filesystem::canonical("/sys/class/tty/" + name + "/device", error);
    for (; !error && at.has_relative_path(); at = at.parent_path()) {
        std::ifstream vendorFile(at / "idVendor"), productFile(at / "idProduct");
        std::string vendor, product;
        if (vendorFile >> vendor && productFile >> product)
            return "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" + vendor + "\", ATTRS{idProduct}==\"" + product + "\"";
    }
    return "KERNEL==\"" + name + "\"";
}

std::string processName(long pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "?" : name;
}

// The emulated device keeps its terminal open to serve it: it is no holder
// to end. (A process name is cut to 15 characters.)
bool isEmulator(long pid) { return processName(pid) == std::string("sorvanite-device").substr(0, 15); }

// A process stopped by a signal (PyChess stops its engine when a game tab
// closes) keeps the port until it is continued.
bool isStopped(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::size_t nameEnd = line.rfind(')');
    return nameEnd != std::string::npos && nameEnd + 2 < line.size() &&
           (line[nameEnd + 2] == 'T' || line[nameEnd + 2] == 't');
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
    std::set<long> holding = processesHolding(port.st_rdev);
    pids.insert(holding.begin(), holding.end());
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

// What the mode bits and groups of `port` allow, and the one fix that helps.
std::string explainPermissions(const char* path, const struct stat& port) {
    const group* owner = ::getgrgid(port.st_gid);
    const passwd* user = ::getpwuid(port.st_uid);
    std::string groupName = owner ? owner->gr_name : std::to_string(port.st_gid);
    std::string userName = user ? user->pw_name : std::to_string(port.st_uid);
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(port.st_mode & 07777));
    std::string text = "       Its mode is " + std::string(mode) + ", owner '" + userName + "', group '" + groupName + "'.\n";
    bool groupMayUse = (port.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupMayUse && !inGroup(port.st_gid)) {
        text += "       The group '" + groupName + "' may read and write it, and you are not in it.\n";
        text += "fix:   sudo usermod -aG " + groupName + " $USER, then log in again.\n";
    } else if (groupMayUse) {
        text += "       You are in the group '" + groupName + "', which may read and write it: an ACL or a\n"
                "       security module refuses you.\n";
        text += "fix:   getfacl " + std::string(path) + " shows an ACL; ask whoever set it.\n";
    } else {
        // Joining the group would not help: only the owner may open it. A
        // rule must name the device itself, not a link to it.
        std::error_code error;
        std::string device = std::filesystem::canonical(path, error).string();
        if (error) device = path;
        text += "       Only its owner may read and write it; joining a group would not help.\n";
        if (device.starts_with("/dev/pts/")) {
            // No udev rule reaches a pseudo-terminal: it belongs to whoever made it.
            text += "       It is the pseudo-terminal " + device + " (an emulated device's), which belongs to\n"
                    "       the user who started that program.\n";
            text += "fix:   start sorvanite-device as yourself, or give it to your group:\n"
                    "         sudo chgrp dialout " + device + " && sudo chmod 0660 " + device + "\n";
        } else {
            text += "fix:   give the group dialout access with a udev rule, then join dialout:\n"
                    "         echo '" + udevMatchFor(device) + ", GROUP=\"dialout\", MODE=\"0660\"' | "
                    "sudo tee /etc/udev/rules.d/60-sorvanite.rules\n"
                    "         sudo udevadm control --reload && sudo udevadm trigger\n"
                    "         sudo usermod -aG dialout $USER, then log in again.\n";
        }
    }
    return text;
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
            if (!std::string_view(path).starts_with("/dev/")) {
                // Not a device node: the link the emulated device makes while it runs.
                text += std::string("fix:   start the emulated device: sorvanite-device --link ") + path +
                        " --background\n       or, for a real device, give the bridge its port.\n";
            } else {
                text += "fix:   plug the device in, or give the bridge a port that exists.\n";
            }
            text += "serial ports here:\n" + serialPortsHere();
            break;
        case EACCES:
        case EPERM:
            text += std::string("cause: you may not open ") + path + ".\n";
            if (exists) text += explainPermissions(path, port);
            break;
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
            std::string serving;
            for (long pid : pids) {
                if (isStopped(pid))
                    text += "       process " + std::to_string(pid) + " (" + processName(pid) +
                            "), stopped: it keeps the port until continued; kill -CONT " + std::to_string(pid) +
                            " lets it end in order\n";
                else if (isEmulator(pid))
                    serving += "       process " + std::to_string(pid) +
                               " (sorvanite-device) serves the emulated device on it: leave it running\n";
                else
                    text += "       process " + std::to_string(pid) + " (" + processName(pid) + ")\n";
            }
            text += serving;
            if (pids.empty() && locker == 0)
                text += "       (no process of yours has it open: it may be another user's)\n";
            text += "fix:   end that program (a bridge left running by a front end, a terminal program).\n";
            break;
        }
        case kNotASerialPort:
            text += std::string("cause: ") + path + " is not a terminal, so it cannot be a serial port.\n";
            text += "fix:   give the programs the serial device's port: --port /dev/ttyUSB0\n";
            text += "serial ports here:\n" + serialPortsHere();
            break;
        default:
            text += "cause: the system refused the open; the error above says why.\n";
            break;
    }
    return text;
}

std::optional<std::string> readTranscriptTail(const std::string& path, std::size_t maxBytes, bool& cut,
                                              std::string& whyNot) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        whyNot = errno == ENOENT ? "there is none" : std::string("it cannot be read: ") + std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        whyNot = "it is not a regular file (a FIFO, a device or a socket), so it is not read";
        return std::nullopt;
    }
    auto size = static_cast<std::size_t>(info.st_size);
    std::size_t length = std::min(size, maxBytes);
    cut = length < size;
    std::string tail(length, '\0');
    ssize_t got = ::pread(fd, tail.data(), length, static_cast<off_t>(size - length));
    ::close(fd);
    tail.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return tail;
}

void limitAnswerWait(int seconds) {
    catchTerminationSignals({SIGALRM});
    ::alarm(static_cast<unsigned>(seconds));
}

}  // namespace sorvanite::doctor
