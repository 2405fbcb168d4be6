#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvanite::emulator {

using namespace std::chrono_literals;

// A chess engine speaking UCI, run as a child process.
class UciEngine {
public:
    // Starts `command` (split on white space) and waits for the engine to say
    // it speaks UCI. A bare name that cannot be started from PATH, for any
    // reason, is tried again in /usr/games, where Debian puts engines. Null
    // with `error` set when neither works. The engine writes its errors to
    // `errors` where one is given, to ours otherwise.
    static std::unique_ptr<UciEngine> start(const std::string& command, std::string& error, int errors = -1);
    ~UciEngine();

    void send(std::string_view line);
    // Reads lines until one begins with `prefix`; returns all of them, that
    // one last. Empty when the engine went away or took longer than `timeout`.
    std::optional<std::vector<std::string>> readUntil(std::string_view prefix, std::chrono::milliseconds timeout);
    // The engine went away or stopped answering: nothing it says can be
    // trusted from then on.
    bool failed() const { return failed_; }

private:
    static std::unique_ptr<UciEngine> startOne(std::vector<std::string> words, std::string& error, int errors);
    UciEngine(pid_t pid, int toEngine, int fromEngine) : pid_(pid), toEngine_(toEngine), fromEngine_(fromEngine) {}
    std::optional<std::string> readLine(std::chrono::steady_clock::time_point deadline);

    pid_t pid_;
    int toEngine_;
    int fromEngine_;
    std::string pending_;
    bool failed_ = false;
};

}  // namespace sorvanite::emulator
