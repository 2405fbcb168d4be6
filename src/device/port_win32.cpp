#include <windows.h>

#include <algorithm>
#include <string>

#include "device/network_port.h"
#include "device/port.h"
#include "device/termination.h"

namespace sorvanite {
namespace {

class Win32Port final : public Port {
public:
    explicit Win32Port(HANDLE handle) : handle_(handle) {}
    ~Win32Port() override { CloseHandle(handle_); }

    PortRead readByte() override {
        PortRead result;
        char byte = 0;
        DWORD count = 0;
        if (terminationRequested()) {
            result.errorCode = ERROR_OPERATION_ABORTED;
            result.interrupted = true;
            return result;
        }
        if (!ReadFile(handle_, &byte, 1, &count, nullptr)) result.errorCode = static_cast<int>(GetLastError());
        if (count == 1) {
            result.gotByte = true;
            result.byte = byte;
        }
        return result;
    }

    void takeWaitingBytes(std::string& bytes, std::size_t limit) override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_, &errors, &status)) return;
        DWORD waiting = static_cast<DWORD>(std::min<std::size_t>(status.cbInQue, limit - std::min(limit, bytes.size())));
        if (waiting == 0) return;
        std::string chunk(waiting, '\0');
        DWORD count = 0;
        // Only what the driver already holds is asked for, so this returns at once.
        if (ReadFile(handle_, chunk.data(), waiting, &count, nullptr)) bytes.append(chunk, 0, count);
    }

    void write(const char* data, std::size_t length) override {
        while (length > 0) {
            DWORD written = 0;
            if (!WriteFile(handle_, data, static_cast<DWORD>(length), &written, nullptr) || written == 0)
                return;  // not examined further: see Port::write
            data += written;
            length -= written;
        }
    }

    bool outputHeld() const override {
        DWORD errors = 0;
        COMSTAT status{};
        return ClearCommError(handle_, &errors, &status) && (status.fXoffHold || status.cbOutQue > 0);
    }

    std::string describeLine() const override {
        DCB settings{};
        settings.DCBlength = sizeof settings;
        if (!GetCommState(handle_, &settings)) return {};
        const char* parity = "NOEMS";
        std::string text = std::to_string(settings.BaudRate) + " bit/s, " + std::to_string(settings.ByteSize) +
                           (settings.Parity < 5 ? std::string(1, parity[settings.Parity]) : "?") +
                           (settings.StopBits == ONESTOPBIT ? "1" : "2");
        text += settings.fOutX ? "; XON/XOFF out" : "; no XON/XOFF out";
        text += settings.fInX ? ", in" : ", not in";
        text += settings.fOutxCtsFlow ? "; CTS flow" : "; no CTS flow";
        // The bridge holds both off. A driver that cannot tell (Wine on a
        // pseudo-terminal) may report otherwise: said beside it, not instead.
        text += "; DTR off, RTS off (as the bridge sets them)";
        if (settings.fDtrControl != DTR_CONTROL_DISABLE || settings.fRtsControl != RTS_CONTROL_DISABLE)
            text += std::string("; the driver reports DTR ") +
                    (settings.fDtrControl == DTR_CONTROL_DISABLE ? "off" : "on or handshake") + ", RTS " +
                    (settings.fRtsControl == RTS_CONTROL_DISABLE ? "off" : "on or handshake");
        return text;
    }

private:
    HANDLE handle_;
};

void applyLineSettings(HANDLE handle) {
    // Read the whole record and change only our fields: some drivers refuse
    // a record that was not first read from them.
    DCB settings{};
    settings.DCBlength = sizeof settings;
    (void)GetCommState(handle, &settings);  // results not examined
    settings.BaudRate = CBR_9600;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fOutX = TRUE;
    settings.fInX = TRUE;
    settings.fDtrControl = DTR_CONTROL_DISABLE;
    settings.fRtsControl = RTS_CONTROL_DISABLE;
    (void)SetCommState(handle, &settings);

    // A port left in return-at-once mode by another program would make our
    // one-byte reads spin for as long as the device thinks. A read waits for
    // its byte up to a quarter of a second, then comes back empty and is
    // issued again: often enough to notice that the run was asked to end,
    // rarely enough to cost no CPU. The write time-outs stay as they were.
    COMMTIMEOUTS timeouts{};
    (void)GetCommTimeouts(handle, &timeouts);
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 250;
    (void)SetCommTimeouts(handle, &timeouts);
}

}  // namespace

// COM1 to COM9 have names of their own; from COM10 up a port is reached only
// through the device namespace, as \\.\COM12.
static std::string deviceName(const char* path) {
    std::string name = path;
    bool comPort = name.size() > 3 && _strnicmp(path, "COM", 3) == 0 &&
                   name.find_first_not_of("0123456789", 3) == std::string::npos;
    return comPort && name.size() > 4 ? "\\\\.\\" + name : name;
}

PortOpenResult openSerialPort(const char* path) {
    if (isNetworkPortName(path)) return openNetworkPort(path);
    // A directory cannot be opened as a file, which Windows reports as
    // "access denied", the error of a port another program holds.
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {nullptr, kNotASerialPort};
    // Share mode 0: no other program may open the port while we hold it.
    HANDLE handle = CreateFileA(deviceName(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {nullptr, static_cast<int>(GetLastError())};
    // Only a character device with a comm state is a serial port. A file
    // would have its first bytes overwritten, NUL would swallow every
    // command, and a pipe would hand them back as answers.
    DCB state{};
    state.DCBlength = sizeof state;
    if (GetFileType(handle) != FILE_TYPE_CHAR || !GetCommState(handle, &state)) {
        CloseHandle(handle);
        return {nullptr, kNotASerialPort};
    }
    applyLineSettings(handle);
    // Whatever waits on the line now is not an answer to anything we will
    // send: a late answer to a killed bridge, a power-up banner, a stray LF.
    (void)PurgeComm(handle, PURGE_RXCLEAR);
    return {std::make_unique<Win32Port>(handle), 0};
}

bool isPortHeldError(int errorCode) {
    return errorCode == ERROR_ACCESS_DENIED || errorCode == ERROR_SHARING_VIOLATION;
}

std::string describeOpenError(const char* path, int errorCode) {
    if (std::string words = describeNetworkOpenError(errorCode); isNetworkPortName(path) && !words.empty())
        return words;
    switch (errorCode) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return "it does not exist (is the device plugged in?)";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return "another program holds it";
        case kNotASerialPort: return "it is not a serial port";
        default: return "Windows refused it (error " + std::to_string(errorCode) + ")";
    }
}

int exitStatusForOpenError(int errorCode) { return errorCode != 0 ? errorCode : 1; }

int exitStatusForDeviceGone() { return ERROR_DEVICE_NOT_CONNECTED; }

}  // namespace sorvanite
