#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace sorvanite::e2e {

using namespace std::chrono_literals;

// How a run of a child ended.
struct ExitStatus {
    bool exited = false;  // false: killed by a signal (or by us on time-out)
    int code = -1;        // exit status, or the signal number
};

// A program under test (the bridge, the device emulator) as a child process
// with its standard input and output on pipes (stderr is passed through) and
// its own working directory.
class ChildProcess {
public:
    // `prepare`, if given, runs in the child in its working directory just
    // before the program starts, to give it unusual standard streams.
    ChildProcess(const std::vector<std::string>& argv, const std::string& workDir, void (*prepare)() = nullptr);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Writes `input` to the bridge while collecting its output.
    void send(std::string_view input, std::chrono::milliseconds timeout = 20s);
    // Reads output until it contains `needle` at or past `from`; false on time-out or end.
    bool waitForOutput(std::string_view needle, std::chrono::milliseconds timeout = 10s, std::size_t from = 0);
    void closeInput();
    void closeOutput();  // the front end stops listening
    void signal(int number);

    // Writes the rest of the input, closes it, and waits for the bridge to
    // end; kills it if it takes longer than `timeout`.
    ExitStatus finish(std::string_view input = {}, std::chrono::milliseconds timeout = 20s);

    // What the child wrote. For a Windows program (see `textModeOutput`)
    // its CR LF line ends are turned back into LF.
    std::string output() const;
    const std::string& rawOutput() const { return output_; }
    // The child writes its output as a Windows text stream.
    void textModeOutput() { textMode_ = true; }

private:
    void pump(std::string_view& input, std::chrono::milliseconds wait);

    pid_t pid_ = -1;
    int input_ = -1;
    int outputFd_ = -1;
    std::string output_;
    bool outputEnded_ = false;
    bool textMode_ = false;
};

}  // namespace sorvanite::e2e
