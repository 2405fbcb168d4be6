#include "uci_engine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace sorvanite::emulator {
namespace {

std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// In the child: exec the engine. Only async-signal-safe calls from here on.
[[noreturn]] void execEngine(char* const argv[], int errorPipe) {
    ::execvp(argv[0], argv);
    int error = errno;
    (void)!::write(errorPipe, &error, sizeof error);
    ::_exit(127);
}

}  // namespace

std::unique_ptr<UciEngine> UciEngine::start(const std::string& command, std::string& error, int errors) {
    std::vector<std::string> words = splitWords(command);
    if (words.empty()) {
        error = "empty engine command";
        return nullptr;
    }
    std::unique_ptr<UciEngine> engine = startOne(words, error, errors);
    if (engine || words[0].find('/') != std::string::npos) return engine;
    // Root's PATH lacks /usr/games; and a stockfish found first elsewhere may
    // be one that does not run here.
    std::string firstError = error;
    words[0] = "/usr/games/" + words[0];
    if (::access(words[0].c_str(), X_OK) != 0) return nullptr;
    engine = startOne(words, error, errors);
    if (!engine) error = firstError + "; " + error;
    return engine;
}

std::unique_ptr<UciEngine> UciEngine::startOne(std::vector<std::string> words, std::string& error, int errors) {
    std::string command = words[0];
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int toEngine[2], fromEngine[2], execError[2];
    if (::pipe2(toEngine, O_CLOEXEC) || ::pipe2(fromEngine, O_CLOEXEC) || ::pipe2(execError, O_CLOEXEC)) {
        error = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return nullptr;
    }
    if (pid == 0) {
        ::dup2(toEngine[0], STDIN_FILENO);
        ::dup2(fromEngine[1], STDOUT_FILENO);
        if (errors >= 0) ::dup2(errors, STDERR_FILENO);
        ::signal(SIGINT, SIG_IGN);  // Ctrl-C is for the emulator, which then ends the engine
        execEngine(argv.data(), execError[1]);
    }
    ::close(toEngine[0]);
    ::close(fromEngine[1]);
    ::close(execError[1]);
    int execErrno = 0;
    ssize_t got = ::read(execError[0], &execErrno, sizeof execErrno);
    ::close(execError[0]);
    std::unique_ptr<UciEngine> engine(new UciEngine(pid, toEngine[1], fromEngine[0]));
    if (got == static_cast<ssize_t>(sizeof execErrno)) {
        error = "cannot start engine '" + words[0] + "': " + std::strerror(execErrno);
        return nullptr;
    }
    engine->send("uci");
    if (!engine->readUntil("uciok", 10s)) {
        error = "engine '" + command + "' does not speak UCI";
        return nullptr;
    }
    return engine;
}

UciEngine::~UciEngine() {
    send("quit");
    ::close(toEngine_);
    ::close(fromEngine_);
    // Give it a moment to leave on its own, then make sure.
    for (int i = 0; i < 50; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        ::usleep(10000);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

void UciEngine::send(std::string_view line) {
    std::string text(line);
    text += '\n';
    std::string_view rest = text;
    while (!rest.empty()) {
        ssize_t written = ::write(toEngine_, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // the engine is gone; the next read says so
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::optional<std::string> UciEngine::readLine(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (auto end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd entry{fromEngine_, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) return std::nullopt;  // a signal: let the caller look at it
        if (ready <= 0) return std::nullopt;
        char chunk[4096];
        ssize_t count = ::read(fromEngine_, chunk, sizeof chunk);
        if (count <= 0) return std::nullopt;
        pending_.append(chunk, static_cast<std::size_t>(count));
    }
}

std::optional<std::vector<std::string>> UciEngine::readUntil(std::string_view prefix,
                                                             std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::string> lines;
    while (auto line = readLine(deadline)) {
        lines.push_back(*line);
        if (line->starts_with(prefix)) return lines;
    }
    failed_ = true;
    return std::nullopt;
}

}  // namespace sorvanite::emulator
