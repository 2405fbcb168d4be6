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
    // Starts `command` (split on white space; a bare name is looked up in PATH
    // and then in /usr/games, where Debian puts engines) and waits for the
    // engine to say it speaks UCI. Null with `error` set when it does not.
    static std::unique_ptr<UciEngine> start(const std::string& command, std::string& error);
    ~UciEngine();

    void send(std::string_view line);
    // Reads lines until one begins with `prefix`; returns all of them, that
    // one last. Empty when the engine went away or took longer than `timeout`.
    std::optional<std::vector<std::string>> readUntil(std::string_view prefix, std::chrono::milliseconds timeout);

private:
    UciEngine(pid_t pid, int toEngine, int fromEngine) : pid_(pid), toEngine_(toEngine), fromEngine_(fromEngine) {}
    std::optional<std::string> readLine(std::chrono::steady_clock::time_point deadline);

    pid_t pid_;
    int toEngine_;
    int fromEngine_;
    std::string pending_;
};

}  // namespace sorvanite::emulator
