#pragma once

#include <memory>
#include <span>
#include <string_view>

namespace sorvanite {

// An append-only file on the platform. Each call appends one record made of
// several pieces; the pieces go out together so a record is never torn by a
// reader looking at the file in between.
class LogFile {
public:
    virtual ~LogFile() = default;
    // Failures (a full disk, say) are ignored: the next record is still tried.
    virtual void append(std::span<const std::string_view> pieces) = 0;
};

// Opens or creates `name` for appending; other programs may go on reading it.
// Returns null when the file cannot be opened.
std::unique_ptr<LogFile> openLogFile(const char* name);

}  // namespace sorvanite
