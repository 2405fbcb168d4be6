#include <windows.h>

#include <string>
#include <utility>

#include "transcript/log_file.h"

namespace sorvanite {
namespace {

// Held while one record is written; released as the writer ends, even when
// it is killed. Without the lock (a file system that has none) the record
// is written all the same.
class RecordLock {
public:
    explicit RecordLock(HANDLE handle) : handle_(handle) {
        place_.Offset = 0xFFFFFFFEu;
        place_.OffsetHigh = 0x7FFFFFFFu;
        held_ = LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &place_) != 0;
    }
    ~RecordLock() {
        if (held_) UnlockFileEx(handle_, 0, 1, 0, &place_);
    }
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;

private:
    HANDLE handle_;
    OVERLAPPED place_{};
    bool held_ = false;
};

class Win32LogFile final : public LogFile {
public:
    Win32LogFile(HANDLE handle, std::string name) : handle_(handle), name_(std::move(name)) {}
    ~Win32LogFile() override { CloseHandle(handle_); }

    void append(std::span<const std::string_view> pieces) override {
        // One write per record, as on POSIX, so a reader never sees half of
        // one. Failures are ignored; the next record is still tried.
        record_.clear();
        for (std::string_view piece : pieces) record_.append(piece);
        // Append-only access appends each write whole on Windows, but Wine
        // finds the end and then writes, so two programs appending at once
        // can land on the same place. A lock on one byte far past any record
        // takes turns among our writers; readers never touch that byte.
        RecordLock turn(handle_);
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
