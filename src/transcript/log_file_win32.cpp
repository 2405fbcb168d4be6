#include <windows.h>

#include <string>

#include "transcript/log_file.h"

namespace sorvanite {
namespace {

class Win32LogFile final : public LogFile {
public:
    explicit Win32LogFile(HANDLE handle) : handle_(handle) {}
    ~Win32LogFile() override { CloseHandle(handle_); }

    void append(std::span<const std::string_view> pieces) override {
        // One write per record, as on POSIX, so a reader never sees half of
        // one. Failures are ignored; the next record is still tried.
        record_.clear();
        for (std::string_view piece : pieces) record_.append(piece);
        // A write cut short (a full disk) is taken back, so the file never
        // holds half a record.
        std::string_view rest = record_;
        while (!rest.empty()) {
            DWORD written = 0;
            if (!WriteFile(handle_, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr) || written == 0) {
                cutBack(static_cast<LONG>(record_.size() - rest.size()));
                return;
            }
            rest.remove_prefix(written);
        }
    }

private:
    void cutBack(LONG length) {
        if (length == 0) return;
        if (SetFilePointer(handle_, -length, nullptr, FILE_END) != INVALID_SET_FILE_POINTER) SetEndOfFile(handle_);
        SetFilePointer(handle_, 0, nullptr, FILE_END);
    }

    HANDLE handle_;
    std::string record_;
};

}  // namespace

std::unique_ptr<LogFile> openLogFile(const char* name) {
    // Others may read the file while we run, but not write to it.
    HANDLE handle =
        CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    SetFilePointer(handle, 0, nullptr, FILE_END);
    return std::make_unique<Win32LogFile>(handle);
}

}  // namespace sorvanite
