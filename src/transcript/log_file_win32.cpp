#include <windows.h>

#include <string>
#include <utility>

#include "transcript/log_file.h"

namespace sorvanite {
namespace {

class Win32LogFile final : public LogFile {
public:
    Win32LogFile(HANDLE handle, std::string name) : handle_(handle), name_(std::move(name)) {}
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
    // Our handle may only append; taking back needs one that may write.
    void cutBack(LONG length) {
        if (length == 0) return;
        HANDLE writer = CreateFileA(name_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (writer == INVALID_HANDLE_VALUE) return;
        if (SetFilePointer(writer, -length, nullptr, FILE_END) != INVALID_SET_FILE_POINTER) SetEndOfFile(writer);
        CloseHandle(writer);
    }

    HANDLE handle_;
    std::string name_;
    std::string record_;
};

}  // namespace

std::unique_ptr<LogFile> openLogFile(const char* name) {
    // Append-only access puts every write at the end of the file, as
    // O_APPEND does: two programs started in one folder (a GUI's match of
    // two engines) both record every run, each record whole. Others may
    // read the file, and write to it, while we run.
    HANDLE handle = CreateFileA(name, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32LogFile>(handle, name);
}

}  // namespace sorvanite
