#pragma once

#include <initializer_list>
#include <memory>
#include <mutex>
#include <string_view>

#include "transcript/log_file.h"

namespace sorvanite {

// The record of one run's traffic, appended to "zormlog.txt". It is either
// open for the whole run or absent for the whole run; when absent every record
// is dropped silently. Records may come from more than one thread: each
// is written whole.
class Transcript {
public:
    Transcript() = default;  // absent
    // Takes over an open file and marks the start of the run in it.
    explicit Transcript(std::unique_ptr<LogFile> file);
    Transcript(Transcript&&) = default;
    Transcript& operator=(Transcript&&) = default;
    ~Transcript();

    bool isOpen() const { return file_ != nullptr; }

    // Appends one record made of `pieces`, written as they are: the caller
    // supplies the line ends.
    void record(std::initializer_list<std::string_view> pieces);

    // Marks the end of the run and closes the file.
    void close();

private:
    std::unique_ptr<LogFile> file_;
    std::unique_ptr<std::mutex> writing_ = std::make_unique<std::mutex>();
};

inline constexpr const char* kTranscriptName = "zormlog.txt";

// Opens "zormlog.txt" in the working directory; absent if it cannot be opened.
Transcript openTranscript();

}  // namespace sorvanite
