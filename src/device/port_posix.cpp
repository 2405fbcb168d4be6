#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "device/network_port.h"
#include "device/port.h"
#include "device/termination.h"
#include "device/uucp_lock.h"

namespace sorvanite {
namespace {

class PosixPort final : public Port {
public:
    explicit PosixPort(int fd) : fd_(fd) {}
    ~PosixPort() override {
        // The exclusive flag belongs to the terminal, not to our descriptor:
        // left set, it would keep the next bridge of an ordinary user out of
        // a port whose other side stays open (a pseudo-terminal).
        (void)::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }

    // The descriptor is non-blocking; every wait happens in waitUntilReady,
    // which a termination request ends at once.
    PortRead readByte() override {
        PortRead result;
        for (;;) {
            char byte;
            ssize_t count = ::read(fd_, &byte, 1);
            if (count == 1) {
                result.gotByte = true;
                result.byte = byte;
            } else if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
                if (errno == EINTR || waitUntilReady(fd_, POLLIN)) continue;
                result.errorCode = EINTR;  // asked to end while the device thinks
                result.interrupted = true;
            } else if (count == 0) {
                // With VMIN 1 a read only comes back empty when the line hung
                // up (the adapter was unplugged, the pty's other side closed).
                // Asking again would spin for ever, so this is an error.
                result.errorCode = EIO;
            } else {
                result.errorCode = errno;
            }
            return result;
        }
    }

    void takeWaitingBytes(std::string& bytes, std::size_t limit) override {
        char chunk[256];
        while (bytes.size() < limit) {
            ssize_t count = ::read(fd_, chunk, std::min(sizeof chunk, limit - bytes.size()));
            if (count < 0 && errno == EINTR) continue;
            // Nothing more waiting (EAGAIN), or a hung-up line: the next
            // exchange finds that out for itself.
            if (count <= 0) return;
            bytes.append(chunk, static_cast<std::size_t>(count));
        }
    }

    void write(const char* data, std::size_t length) override {
        while (length > 0) {
            ssize_t written = ::write(fd_, data, length);
            if (written < 0 && errno == EINTR) continue;
            // Held back by the device's XOFF: wait for its XON, unless the run
            // is asked to end, which abandons the command.
            if (written < 0 && errno == EAGAIN && waitUntilReady(fd_, POLLOUT)) continue;
            if (written <= 0) {
                heldBack_ = length > 0;  // for a person checking the port; the bridge goes on
                return;                  // not examined further: see Port::write
            }
            data += written;
            length -= static_cast<std::size_t>(written);
        }
    }

    std::string describeLine() const override;

    bool outputHeld() const override {
        // A UART keeps what we wrote in its output queue; a pseudo-terminal
        // refuses the write itself.
        int queued = 0;
        return heldBack_ || (::ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0);
    }

private:
    int fd_;
    bool heldBack_ = false;
};

const char* speedName(speed_t speed) {
    switch (speed) {
        case B1200: return "1200";
        case B2400: return "2400";
        case B4800: return "4800";
        case B9600: return "9600";
        case B19200: return "19200";
        case B38400: return "38400";
        case B57600: return "57600";
        case B115200: return "115200";
        default: return "other";
    }
}

std::string PosixPort::describeLine() const {
    termios settings{};
    if (::tcgetattr(fd_, &settings) != 0) return {};
    auto flag = [](tcflag_t field, tcflag_t bit, const char* name) {
        return std::string((field & bit) ? " " : " -") + name;
    };
    std::string text = speedName(::cfgetospeed(&settings));
    text += " bit/s, ";
    tcflag_t size = settings.c_cflag & CSIZE;
    text += size == CS8 ? "8" : size == CS7 ? "7" : size == CS6 ? "6" : "5";
    text += (settings.c_cflag & PARENB) ? ((settings.c_cflag & PARODD) ? "O" : "E") : "N";
    text += (settings.c_cflag & CSTOPB) ? "2" : "1";
    text += ";" + flag(settings.c_iflag, IXON, "ixon") + flag(settings.c_iflag, IXOFF, "ixoff") +
            flag(settings.c_iflag, IXANY, "ixany") + flag(settings.c_cflag, CRTSCTS, "crtscts");
    bool raw = !(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) && !(settings.c_oflag & OPOST) &&
               !(settings.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP));
    text += raw ? "; raw" : "; not raw";
    text += "; min " + std::to_string(settings.c_cc[VMIN]) + " time " + std::to_string(settings.c_cc[VTIME]);
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) == 0) {
        text += std::string("; DTR ") + ((lines & TIOCM_DTR) ? "on" : "off") + ", RTS " +
                ((lines & TIOCM_RTS) ? "on" : "off");
    } else {
        text += "; no modem lines (a pseudo-terminal)";
    }
    return text;
}

void applyLineSettings(int fd) {
    termios settings{};
    // Results not examined: a port that refuses a setting is used as it is.
    (void)::tcgetattr(fd, &settings);

    (void)::cfsetispeed(&settings, B9600);
    (void)::cfsetospeed(&settings, B9600);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;

    // Raw bytes: no echo, no line editing, no CR/LF translation either way.
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | BRKINT | IXANY);
    // Software flow control in both directions; only XON resumes output.
    settings.c_iflag |= IXON | IXOFF;

    // Each read waits for one byte, however long the device thinks.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    (void)::tcsetattr(fd, TCSANOW, &settings);

    // Hold DTR and RTS off. A pseudo-terminal has no modem lines and refuses
    // this, which is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIC, &lines);
}

}  // namespace

PortOpenResult openSerialPort(const char* path) {
    if (isNetworkPortName(path)) return openNetworkPort(path);
    // A terminal program that claimed the port with a lock file has it, even
    // though it may not keep others out by any other means.
    if (uucpLockHolder(path) != 0) return {nullptr, EBUSY};

    // O_NONBLOCK so that a port waiting for carrier cannot hang the open; it
    // stays so, and reads and writes wait in poll instead.
    int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {nullptr, errno == EISDIR ? kNotASerialPort : errno};

    // Only a terminal is a serial line. A regular file would have its first
    // bytes overwritten, /dev/zero would answer for ever, and a FIFO would
    // hand our own commands back as answers.
    if (!::isatty(fd)) {
        ::close(fd);
        return {nullptr, kNotASerialPort};
    }

    // POSIX has no share modes. A lock keeps a second bridge off the port;
    // TIOCEXCL keeps other programs out too (root is not kept out by it, hence
    // the lock as well).
    // Only "held by someone else" stops us: a port whose driver cannot lock
    // at all is still usable.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return {nullptr, EBUSY};
    }
    (void)::ioctl(fd, TIOCEXCL);  // ENOTTY/EINVAL on ports that lack it

    applyLineSettings(fd);
    // Whatever waits on the line now is not an answer to anything we will
    // send: a late answer to a killed bridge, a power-up banner, a stray LF.
    (void)::tcflush(fd, TCIFLUSH);
    return {std::make_unique<PosixPort>(fd), 0};
}

bool isPortHeldError(int errorCode) { return errorCode == EBUSY; }

// EIO: what reading a line that hung up gives.
int exitStatusForDeviceGone() { return EIO; }

std::string describeOpenError(const char* path, int errorCode) {
    if (std::string words = describeNetworkOpenError(errorCode); isNetworkPortName(path) && !words.empty())
        return words;
    switch (errorCode) {
        case ENOENT: return "it does not exist (is the device plugged in?)";
        case EACCES:
        case EPERM: return "you may not open it (is your user in its group, dialout?)";
        case EBUSY: return "another program holds it";
        case kNotASerialPort: return "it is not a serial port";
        default: return std::strerror(errorCode);
    }
}

static_assert(kNotASerialPort == ENOTTY);

int exitStatusForOpenError(int errorCode) {
    // errno values fit an exit status; anything that would not, or would read
    // as success, becomes 1.
    return (errorCode > 0 && errorCode < 256) ? errorCode : 1;
}

}  // namespace sorvanite
