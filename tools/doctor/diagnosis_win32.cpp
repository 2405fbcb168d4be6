#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "device/port.h"
#include "diagnosis.h"

namespace sorvanite::doctor {
namespace {

// The COM ports Windows knows of now: each name asked for by itself, since
// the whole list of DOS device names leaves out ports some drivers (and
// Wine's mapped ports) add.
std::string serialPortsHere() {
    std::string list;
    for (int number = 1; number <= 256; ++number) {
        std::string name = "COM" + std::to_string(number);
        char target[1024];
        if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) list += "  " + name + "\n";
    }
    return list.empty() ? "  none found: is the device or its USB adapter plugged in?\n" : list;
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
            text += "fix:   plug the device in, or give the programs a port that exists: --port COM4\n";
            text += "serial ports here:\n" + serialPortsHere();
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            text += std::string("cause: another program holds ") + path + " (Windows opens a port for one program).\n";
            text += "fix:   end that program (a bridge left running by a front end, a terminal program).\n";
            break;
        case kNotASerialPort:
            text += std::string("cause: ") + path + " is not a serial port (a file, a folder, a pipe or NUL).\n";
            text += "fix:   give the programs the device's COM port: --port COM4\n";
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
