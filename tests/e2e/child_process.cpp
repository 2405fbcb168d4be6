#include "e2e/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace sorvanite::e2e {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& workDir, void (*prepare)()) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::dup2(toChild[0], STDIN_FILENO);
        ::dup2(fromChild[1], STDOUT_FILENO);
        // Start as a front end would start us: default signal handling.
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
        if (::chdir(workDir.c_str()) != 0) ::_exit(126);
        if (prepare) prepare();
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    input_ = toChild[1];
    outputFd_ = fromChild[0];
    ::fcntl(input_, F_SETFL, ::fcntl(input_, F_GETFL) | O_NONBLOCK);
    ::signal(SIGPIPE, SIG_IGN);  // the bridge may end before reading all input
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    closeInput();
    closeOutput();
}

void ChildProcess::pump(std::string_view& input, std::chrono::milliseconds wait) {
    pollfd entries[2];
    nfds_t count = 0;
    if (outputFd_ >= 0 && !outputEnded_) entries[count++] = {outputFd_, POLLIN, 0};
    if (input_ >= 0 && !input.empty()) entries[count++] = {input_, POLLOUT, 0};
    if (count == 0) return;
    if (::poll(entries, count, static_cast<int>(wait.count())) <= 0) return;
    for (nfds_t i = 0; i < count; ++i) {
        if (entries[i].fd == outputFd_ && entries[i].revents != 0) {
            char chunk[4096];
            ssize_t got = ::read(outputFd_, chunk, sizeof chunk);
            if (got > 0) output_.append(chunk, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR) outputEnded_ = true;
        } else if (entries[i].fd == input_ && entries[i].revents != 0) {
            ssize_t sent = ::write(input_, input.data(), input.size());
            if (sent > 0) input.remove_prefix(static_cast<std::size_t>(sent));
            else if (sent < 0 && errno != EAGAIN && errno != EINTR) input = {};  // the bridge stopped reading
        }
    }
}

void ChildProcess::send(std::string_view input, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!input.empty() && input_ >= 0 && std::chrono::steady_clock::now() < deadline) pump(input, 50ms);
}

bool ChildProcess::waitForOutput(std::string_view needle, std::chrono::milliseconds timeout, std::size_t from) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string_view noInput;
    while (output().find(needle, from) == std::string::npos) {
        if (outputEnded_ || outputFd_ < 0 || std::chrono::steady_clock::now() >= deadline) return false;
        pump(noInput, 50ms);
    }
    return true;
}

std::string ChildProcess::output() const {
    if (!textMode_) return output_;
    std::string lines;
    for (std::size_t i = 0; i < output_.size(); ++i)
        if (!(output_[i] == '\r' && i + 1 < output_.size() && output_[i + 1] == '\n')) lines += output_[i];
    return lines;
}

void ChildProcess::closeInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
}

void ChildProcess::closeOutput() {
    if (outputFd_ >= 0) ::close(outputFd_);
    outputFd_ = -1;
}

void ChildProcess::signal(int number) { ::kill(pid_, number); }

ExitStatus ChildProcess::finish(std::string_view input, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!input.empty() && input_ >= 0 && std::chrono::steady_clock::now() < deadline) pump(input, 50ms);
    closeInput();
    ExitStatus status;
    for (;;) {
        int raw = 0;
        pid_t done = ::waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status.exited = WIFEXITED(raw);
            status.code = status.exited ? WEXITSTATUS(raw) : WTERMSIG(raw);
            pid_ = -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
            status.code = -1;  // neither exited nor a signal of its own
            break;
        }
        std::string_view none;
        if (outputFd_ >= 0 && !outputEnded_) pump(none, 20ms);
        else ::usleep(5000);
    }
    // Whatever is still in the pipe after the exit.
    std::string_view none;
    for (int tries = 0; tries < 50 && outputFd_ >= 0 && !outputEnded_; ++tries) pump(none, 100ms);
    return status;
}

}  // namespace sorvanite::e2e
