// serial-vm-probe: looks at the bridge's serial line from beside it, inside
// the virtual machine. It borrows the bridge's own descriptor (pidfd_getfd):
// opening the port anew would raise DTR and RTS again.
//   serial-vm-probe settings PID   the line settings and modem lines
//   serial-vm-probe as-nobody PROGRAM   runs PROGRAM as user and group 65534
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int borrowPortDescriptor(int pid) {
    std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(fds)) {
        std::error_code error;
        std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.rfind("/dev/ttyS0", 0) != 0 && target.rfind("/dev/ttyUSB0", 0) != 0) continue;
        int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        int fd = static_cast<int>(::syscall(SYS_pidfd_getfd, pidfd, std::stoi(entry.path().filename()), 0));
        if (fd >= 0) return fd;
    }
    return -1;
}

int settings(int pid) {
    int fd = borrowPortDescriptor(pid);
    termios t{};
    if (fd < 0 || ::tcgetattr(fd, &t) != 0) {
        std::puts("no port descriptor");
        return 1;
    }
    auto flag = [](bool on, const char* name) { return std::string(on ? " " : " -") + name; };
    std::string text = std::string("speed ") + (::cfgetospeed(&t) == B9600 ? "9600" : "other") +
                       ((t.c_cflag & CSIZE) == CS8 ? " cs8" : " not-cs8") + flag(t.c_cflag & PARENB, "parenb") +
                       flag(t.c_cflag & CSTOPB, "cstopb") + flag(t.c_iflag & IXON, "ixon") +
                       flag(t.c_iflag & IXOFF, "ixoff") + flag(t.c_iflag & IXANY, "ixany") +
                       flag(t.c_cflag & CRTSCTS, "crtscts");
    bool raw = !(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) && !(t.c_oflag & OPOST) &&
               !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP));
    text += raw ? " raw" : " not-raw";
    text += " min " + std::to_string(t.c_cc[VMIN]) + " time " + std::to_string(t.c_cc[VTIME]);
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) != 0) text += " no-modem-lines";
    else text += flag(lines & TIOCM_DTR, "dtr") + flag(lines & TIOCM_RTS, "rts");
    std::puts(text.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "settings") return settings(std::atoi(argv[2]));
    if (argc >= 3 && std::string(argv[1]) == "as-nobody") {
        // Root passes a terminal's exclusive flag; an ordinary user does not.
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) return 125;
        ::execv(argv[2], argv + 2);
        return 127;
    }
    std::fputs("usage: serial-vm-probe settings PID | as-nobody PROGRAM\n", stderr);
    return 2;
}
