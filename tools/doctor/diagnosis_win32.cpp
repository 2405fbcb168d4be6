#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "device/port.h"
#include "diagnosis.h"

namespace sorvanite::doctor {
namespace {

// The COM ports Windows knows of now: its DOS device names, the serial
// ports its drivers list in the registry (USB adapters among them) and,
// under Wine, the COM links of the prefix's dosdevices folder, where Wine
// maps them (none of them opened).
std::set<int> serialPortsHere() {
    std::set<int> numbers;
    auto take = [&numbers](const char* name) {
        if (_strnicmp(name, "COM", 3) == 0 && std::isdigit(static_cast<unsigned char>(name[3])))
            numbers.insert(std::atoi(name + 3));
    };
    std::string names(1 << 16, '\0');
    DWORD length = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    for (const char* name = names.data(); length > 0 && *name; name += std::strlen(name) + 1) take(name);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (DWORD index = 0;; ++index) {
            char valueName[256], value[256];
            DWORD nameLength = sizeof valueName, valueLength = sizeof value, type = 0;
            if (RegEnumValueA(key, index, valueName, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(value),
                              &valueLength) != ERROR_SUCCESS)
                break;
            if (type == REG_SZ && valueLength > 0) {
                value[std::min<DWORD>(valueLength, sizeof value - 1)] = '\0';
                take(value);
            }
        }
        RegCloseKey(key);
    }
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll && GetProcAddress(ntdll, "wine_get_version")) {
        // The prefix's Unix path, through Wine's drive Z:, which is "/".
        const char* prefix = std::getenv("WINEPREFIX");
        const char* home = std::getenv("HOME");
        std::string folder = prefix ? prefix : home ? std::string(home) + "/.wine" : "";
        for (char& c : folder)
            if (c == '/') c = '\\';
        // Listed, not looked up: Wine takes COM1 to COM9 for devices in any folder.
        WIN32_FIND_DATAA entry;
        HANDLE found = folder.empty() ? INVALID_HANDLE_VALUE
                                      : FindFirstFileA(("Z:" + folder + "\\dosdevices\\com*").c_str(), &entry);
        for (bool more = found != INVALID_HANDLE_VALUE; more; more = FindNextFileA(found, &entry)) take(entry.cFileName);
        if (found != INVALID_HANDLE_VALUE) FindClose(found);
    }
    return numbers;
}

// The advice, naming a port that is there (COM4 where none is), then the
// ports there are.
std::string portAdvice(const std::string& fix) {
    std::set<int> ports = serialPortsHere();
    std::string text = fix + "--port COM" + std::to_string(ports.empty() ? 4 : *ports.begin()) + "\n";
    text += "serial ports here:\n";
    for (int number : ports) text += "  COM" + std::to_string(number) + "\n";
    if (ports.empty()) text += "  none found: is the device or its USB adapter plugged in?\n";
    return text;
}

}  // namespace

std::string errorText(int errorCode) {
    char text[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(errorCode), 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
        text[--length] = '\0';
    return length > 0 ? text : "error " + std::to_string(errorCode);
}

std::string explainOpenFailure(const char* path, int errorCode) {
    std::string text;
    switch (errorCode) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            text += std::string("cause: there is no ") + path + ".\n";
            text += portAdvice("fix:   plug the device in, or give the programs a port that exists: ");
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            text += std::string("cause: another program holds ") + path + " (Windows opens a port for one program).\n";
            text += "fix:   end that program (a bridge left running by a front end, a terminal program).\n";
            break;
        case kNotASerialPort:
            text += std::string("cause: ") + path + " is not a serial port (a file, a folder, a pipe or NUL).\n";
            text += portAdvice("fix:   give the programs the device's COM port: ");
            break;
        default:
            text += "cause: the system refused the open; the error above says why.\n";
            break;
    }
    return text;
}

std::optional<std::string> readTranscriptTail(const std::string& path, std::size_t maxBytes, bool& cut,
                                              std::string& whyNot) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        whyNot = error == ERROR_FILE_NOT_FOUND ? "there is none" : "it cannot be read: " + errorText(static_cast<int>(error));
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        whyNot = "it is not a regular file, so it is not read";
        return std::nullopt;
    }
    auto total = static_cast<unsigned long long>(size.QuadPart);
    std::size_t length = static_cast<std::size_t>(std::min<unsigned long long>(total, maxBytes));
    cut = length < total;
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(total - length);
    std::string tail(length, '\0');
    DWORD got = 0;
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
        !ReadFile(file, tail.data(), static_cast<DWORD>(length), &got, nullptr))
        got = 0;
    CloseHandle(file);
    tail.resize(got);
    return tail;
}

void limitAnswerWait(int seconds) {
    // A read of the port waits until its byte arrives; nothing here can cut
    // it short, so the program ends instead.
    std::thread([seconds] {
        Sleep(static_cast<DWORD>(seconds) * 1000);
        std::printf("answer:  none within %d s: check power, cable and speed (9600 8N1)\n", seconds);
        std::printf("verdict:    the port opens, but the device gave no answer to NEW 120 12 b\n");
        std::fflush(stdout);
        ExitProcess(1);
    }).detach();
}

}  // namespace sorvanite::doctor
