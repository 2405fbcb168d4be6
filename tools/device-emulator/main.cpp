// sorvanite-device: a chess device on a pseudo-terminal, for trying and
// testing the bridge without hardware.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "answer_script.h"
#include "chess_device.h"
#include "client_watch.h"
#include "device_line.h"
#include "engine_game.h"
#include "uci_engine.h"

namespace sorvanite::emulator {
namespace {

const char* const kUsage =
    "usage: sorvanite-device (--link PATH | --socket PATH) [--engine CMD] [--movetime MS] [--skill N]\n"
    "                        [--fen FEN] [--opening \"MOVE ...\"] [--script FILE] [--log]\n"
    "                        [--background] [--log-file FILE]\n";

const char* const kHelp =
    "An emulated chess device for sorvanite: it opens a pseudo-terminal, links\n"
    "PATH to it, and answers the bridge's commands there as a device on a serial\n"
    "port would, one CR-terminated line per command:\n"
    "  NEW base perMove w  ->  its first move as White, e.g. e2e4\n"
    "  NEW base perMove b  ->  OK\n"
    "  MOVE e2e4           ->  its reply move, or \"Illegal move\"; when a move ends\n"
    "                          the game the result follows: \"e7e5 1-0 {White mates}\"\n"
    "\n"
    "Options:\n"
    "  --link PATH        where to put the link to its terminal; an old link there\n"
    "                     is replaced, any other file is left alone. --port PATH\n"
    "                     is the same: the port the other programs are given\n"
    "  --socket PATH      instead of a terminal, a Unix socket to listen on, for a\n"
    "                     virtual machine's serial line (QEMU: -chardev socket)\n"
    "  --engine CMD       the UCI engine that plays (default stockfish, also found\n"
    "                     in /usr/games)\n"
    "  --movetime MS      thinking time per move, 1 to 3600000 (default 100)\n"
    "  --skill N          the engine's Skill Level, 0 to 20\n"
    "  --fen FEN          every game starts from this position\n"
    "  --opening \"M ...\"  ...and after these moves\n"
    "  --script FILE      answer from FILE instead of playing: one answer a line,\n"
    "                     used in order; after the last the device stays silent\n"
    "  --log              show the traffic on stderr, with seconds since the start\n"
    "  --background       return once the device is served, and go on serving in\n"
    "                     the background (end it with the kill command it prints);\n"
    "                     from then on it writes nothing to the terminal or pipes\n"
    "                     it was started from\n"
    "  --log-file FILE    once the device is served, its messages (and --log's\n"
    "                     traffic) are appended to FILE instead of stderr\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "In a script line, \\r \\n \\t \\0 \\\\ \\{ and \\xNN are bytes (\\x13 XOFF, \\x11 XON),\n"
    "and a CR is added at the end unless the line has {nocr}. Directives:\n"
    "  {pause MS}     wait MS milliseconds before what follows\n"
    "  {trickle MS}   send what follows one byte every MS milliseconds\n"
    "  {hangup}       close the line, as an unplugged device would\n"
    "  {nocr}         no CR at the end of this answer\n"
    "\n"
    "Example: a device that thinks for a second, then answers in two pieces:\n"
    "  printf 'OK\\n{pause 1000}e7{trickle 50}e5\\n' >answers.txt\n"
    "  sorvanite-device --link /tmp/com1 --script answers.txt\n"
    "\n"
    "It runs until SIGINT, SIGTERM or SIGHUP, and then removes its link. Exit\n"
    "status 2 on a bad option, an engine that cannot be started, or a link that\n"
    "cannot be made. See sorvanite-device(1).\n";

struct Options {
    std::string link;
    std::string socket;
    std::string engine = "stockfish";
    int moveTimeMs = 100;
    std::optional<int> skill;
    std::string fen;
    std::string opening;
    std::string script;
    bool log = false;
    bool background = false;
    std::string logFile;
};

volatile sig_atomic_t stopRequested = 0;
const auto kStart = std::chrono::steady_clock::now();

void requestStop(int) { stopRequested = 1; }

// No SA_RESTART: a blocked read comes back with EINTR so we can clean up.
void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "sorvanite-device: %s\n", message.c_str());
    std::exit(2);
}

[[noreturn]] void failUsage(const std::string& message) {
    std::fprintf(stderr, "sorvanite-device: %s\n%sTry 'sorvanite-device --help' for more.\n", message.c_str(), kUsage);
    std::exit(2);
}

int parseNumber(const std::string& option, const char* text, int low, int high) {
    int value = 0;
    const char* end = text + std::strlen(text);
    auto [stop, status] = std::from_chars(text, end, value);
    if (status != std::errc() || stop != end || value < low || value > high)
        fail(option + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
             ", not '" + text + "'");
    return value;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            std::exit(0);
        }
        if (option == "--version") {
            std::printf("sorvanite-device %s\n", SORVANITE_VERSION);
            std::exit(0);
        }
        if (option == "--log") {
            options.log = true;
            continue;
        }
        if (option == "--background") {
            options.background = true;
            continue;
        }
        if (i + 1 >= argc) failUsage("unknown option or missing value: " + option);
        const char* value = argv[++i];
        if (option == "--link" || option == "--port") options.link = value;
        else if (option == "--socket") options.socket = value;
        else if (option == "--engine") options.engine = value;
        else if (option == "--movetime") options.moveTimeMs = parseNumber(option, value, 1, 3600000);
        else if (option == "--skill") options.skill = parseNumber(option, value, 0, 20);
        else if (option == "--script") options.script = value;
        else if (option == "--opening") options.opening = value;
        else if (option == "--fen") options.fen = value;
        else if (option == "--log-file") options.logFile = value;
        else failUsage("unknown option: " + option);
    }
    if (options.link.empty() == options.socket.empty()) failUsage("give one of --link PATH and --socket PATH");
    return options;
}

// Shows the traffic on stderr, with CR, LF and other control bytes visible.
void logLine(bool enabled, const char* direction, const std::string& bytes) {
    if (!enabled) return;
    std::string shown;
    for (unsigned char c : bytes) {
        if (c == '\r') shown += "\\r";
        else if (c == '\n') shown += "\\n";
        else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        } else shown += static_cast<char>(c);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - kStart).count();
    std::fprintf(stderr, "%.3f %s %s\n", seconds, direction, shown.c_str());
}

void sleepUnlessStopped(int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopRequested && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 10)));
}

// Plays one scripted answer; false once the line has been hung up.
bool playAnswer(DeviceLine& line, const ScriptedAnswer& answer, bool log) {
    for (const ScriptStep& step : answer) {
        switch (step.kind) {
            case ScriptStep::Kind::Pause: sleepUnlessStopped(step.delayMs); break;
            case ScriptStep::Kind::HangUp:
                // Let what was sent reach the bridge before the line drops.
                sleepUnlessStopped(100);
                logLine(log, "--", "hang-up");
                line.hangUp();
                return false;
            case ScriptStep::Kind::Bytes:
                logLine(log, "->", step.bytes);
                if (step.delayMs == 0) {
                    line.send(step.bytes);
                } else {
                    for (char byte : step.bytes) {
                        sleepUnlessStopped(step.delayMs);
                        line.send(std::string_view(&byte, 1));
                    }
                }
                break;
        }
    }
    return true;
}

// --background: the command returns once its child serves the device, so
// that a front end started right after it finds the link. Returns, in the
// child, the descriptor to report readiness on; the parent only waits.
int goToBackground() {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) fail(std::string("pipe: ") + std::strerror(errno));
    pid_t child = ::fork();
    if (child < 0) fail(std::string("fork: ") + std::strerror(errno));
    if (child > 0) {
        ::close(ready[1]);
        char byte = 0;
        if (::read(ready[0], &byte, 1) == 1) std::exit(0);
        // It failed before serving, and has said why on stderr.
        int status = 0;
        ::waitpid(child, &status, 0);
        std::exit(WIFEXITED(status) && WEXITSTATUS(status) != 0 ? WEXITSTATUS(status) : 2);
    }
    ::close(ready[0]);
    ::setsid();  // closing the terminal it was started from must not end it
    return ready[1];
}

// Tells the waiting parent that the device is served, and lets go of the
// terminal and pipes it was started from: a caller reading its output, as
// `$(...)` does, is waiting for every writer to close them.
void reportReady(int ready) {
    (void)!::write(ready, "1", 1);
    ::close(ready);
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::close(null);
}

// The file for --log-file, opened before serving so that a caller hears
// when it cannot be written; -1 without one.
int openMessageFile(const std::string& path) {
    if (path.empty()) return -1;
    int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (file < 0) fail("cannot write " + path + ": " + std::strerror(errno));
    return file;
}

int run(const Options& options) {
    int messages = openMessageFile(options.logFile);
    int ready = options.background ? goToBackground() : -1;
    // An engine that died must show up as a failed read, not kill us.
    signal(SIGPIPE, SIG_IGN);
    std::optional<std::vector<ScriptedAnswer>> script;
    if (!options.script.empty()) {
        std::ifstream in(options.script);
        if (!in) fail("cannot read script " + options.script);
        std::string error;
        script = parseScript(in, error);
        if (!script) fail(options.script + ": " + error);
    }

    std::unique_ptr<UciEngine> engine;
    std::unique_ptr<EngineGame> game;
    std::unique_ptr<ChessDevice> chess;
    if (!script) {
        std::string error;
        // In the background the engine, too, must let go of the caller's
        // stderr: its messages go where ours will.
        int engineErrors = ready < 0 ? -1 : messages >= 0 ? messages : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        engine = UciEngine::start(options.engine, error, engineErrors);
        if (engineErrors >= 0 && engineErrors != messages) ::close(engineErrors);
        if (!engine) fail(error);
        if (options.skill) engine->send("setoption name Skill Level value " + std::to_string(*options.skill));
        engine->send("isready");
        if (!engine->readUntil("readyok", 10s)) fail("engine '" + options.engine + "' is not ready");
        game = std::make_unique<EngineGame>(*engine, options.moveTimeMs);
        std::istringstream openingMoves(options.opening);
        std::vector<std::string> opening;
        for (std::string move; openingMoves >> move;) opening.push_back(move);
        game->setStart(options.fen, opening);
        if (auto problem = game->checkStart()) fail(*problem);
        chess = std::make_unique<ChessDevice>(*game);
    }

    installStopHandlers();
    std::string error;
    std::optional<DeviceLine> line =
        options.socket.empty() ? DeviceLine::open(options.link, error) : DeviceLine::listen(options.socket, error);
    if (!line) fail(error);
    std::printf("sorvanite-device: serving %s at %s\n", line->portPath().c_str(),
                options.socket.empty() ? options.link.c_str() : options.socket.c_str());
    if (ready >= 0) std::printf("sorvanite-device: in the background; end it with: kill %d\n", static_cast<int>(::getpid()));
    std::fflush(stdout);
    if (ready >= 0) reportReady(ready);
    if (messages >= 0) {
        ::dup2(messages, STDERR_FILENO);
        ::close(messages);
    }
    std::optional<ClientWatch> clients;
    if (line->terminal() >= 0) clients.emplace(line->portPath(), line->terminal());

    std::size_t nextAnswer = 0;
    while (!stopRequested) {
        std::optional<std::string> command = line->readCommand();
        if (std::size_t dropped = line->takeDroppedBytes())
            std::fprintf(stderr, "sorvanite-device: dropped %zu bytes without a CR: longer than a device line\n",
                         dropped);
        if (!command) continue;  // a signal; the loop condition decides
        logLine(options.log, "<-", *command + "\r");
        if (script) {
            // After the last scripted answer the device stays silent.
            if (nextAnswer >= script->size()) continue;
            if (!playAnswer(*line, (*script)[nextAnswer++], options.log)) break;
        } else {
            std::string answer = chess->answer(*command) + "\r";
            if (stopRequested) break;
            // Without its engine the device would refuse every move as
            // illegal: better no device than a lying one.
            if (engine->failed()) {
                std::fprintf(stderr, "sorvanite-device: the engine '%s' has ended or stopped answering\n",
                             options.engine.c_str());
                return 2;  // the line closes and the link goes: the bridge is told its device has gone
            }
            logLine(options.log, "->", answer);
            line->send(answer);
        }
    }
    return 0;
}

}  // namespace
}  // namespace sorvanite::emulator

int main(int argc, char** argv) {
    using namespace sorvanite::emulator;
    return run(parseOptions(argc, argv));
}
