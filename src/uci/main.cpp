// sorvanite-uci: the chess device for GUIs that speak UCI, through the
// bridge's own core.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "device/termination.h"
#include "session/bridge.h"
#include "session/core_session.h"
#include "session/program_options.h"
#include "uci/uci_protocol.h"

using namespace sorvanite;

namespace {

// The commands the GUI's reader must tell apart; the rest are the session's.
enum class Command { Uci, IsReady, Go, Quit, Other };

Command commandOf(std::string_view line) {
    std::size_t start = line.find_first_not_of(" \t");
    std::string_view word = start == std::string_view::npos ? std::string_view() : line.substr(start);
    word = word.substr(0, word.find_first_of(" \t"));
    if (word == "uci") return Command::Uci;
    if (word == "isready") return Command::IsReady;
    if (word == "go") return Command::Go;
    if (word == "quit") return Command::Quit;
    return Command::Other;
}

// Reads one line from the GUI, without its LF or a CR before it; a NUL ends
// its text. A position line carries the whole game, so lines are kept whole
// up to a length no game reaches; the rest of a longer one is dropped.
bool readGuiLine(std::streambuf& input, std::string& line) {
    constexpr std::size_t kLongestLine = 1 << 16;
    using Traits = std::streambuf::traits_type;
    line.clear();
    bool sawAny = false;
    for (Traits::int_type next = input.sbumpc(); !Traits::eq_int_type(next, Traits::eof()); next = input.sbumpc()) {
        sawAny = true;
        char c = Traits::to_char_type(next);
        if (c == '\n') break;
        if (line.size() < kLongestLine) line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line.resize(std::strlen(line.c_str()));
    return sawAny;
}

// The GUI's side. UCI wants "isready" answered at once, even while the
// device thinks, and "quit" heard then too: so the GUI's lines are read by a
// thread of their own and queued for the session, which may be waiting on
// the device. Lines go to the GUI whole, from either thread.
class Gui {
public:
    Gui(std::istream& input, std::ostream& output, Transcript& transcript)
        : input_(*input.rdbuf()), output_(output), transcript_(transcript) {
        thread_ = std::thread([this] { readLines(); });
    }

    // Ends the reading thread. One waiting for input that will never come is
    // woken by the run's end; where a wait cannot be cut short (Windows), it
    // is left to the process's exit.
    ~Gui() {
        std::unique_lock<std::mutex> hold(lock_);
        stopping_ = true;
        changed_.notify_all();
        if (!finished_) {
            requestTermination();
            changed_.wait_for(hold, std::chrono::milliseconds(500), [this] { return finished_; });
        }
        bool finished = finished_;
        hold.unlock();
        if (finished)
            thread_.join();
        else
            thread_.detach();
    }

    // The next line, waiting for it; false once the input has ended. Its
    // replies go out with send().
    bool next(std::string& line) {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [this] { return !lines_.empty() || finished_; });
        if (lines_.empty()) return false;
        Queued taken = std::move(lines_.front());
        lines_.pop_front();
        queuedBytes_ -= taken.line.size();
        --queued_[static_cast<std::size_t>(taken.command)];
        line = std::move(taken.line);
        inHand_ = taken.command;
        changed_.notify_all();  // room in the queue
        return true;
    }

    void send(const std::vector<std::string>& replies) {
        std::lock_guard<std::mutex> hold(lock_);
        for (const std::string& reply : replies) write(reply);
        output_.flush();
        inHand_ = Command::Other;
    }

private:
    void write(std::string_view reply) {
        transcript_.record({"<== ", reply, "\r\n"});
        output_.write(reply.data(), static_cast<std::streamsize>(reply.size()));
        output_.put('\n');
    }

    void readLines() {
        std::string line;
        bool reading = true;
        while (reading) {
            bool got = readGuiLine(input_, line);
            std::unique_lock<std::mutex> hold(lock_);
            if (!got || stopping_) break;
            transcript_.record({"==> ", line, "\r\n"});
            Command command = commandOf(line);
            // A search under way or waiting may keep the session on the
            // device for minutes: then "isready" is answered here, at once
            // (after "uciok", should a "uci" still wait).
            bool searching = ahead(Command::Go);
            if (searching && !ahead(Command::Uci) && command == Command::IsReady) {
                write("readyok");
                output_.flush();
                continue;
            }
            // Nothing follows "quit"; heard while the device thinks, it ends
            // the wait as SIGTERM would.
            reading = command != Command::Quit;
            if (!reading && searching) requestTermination();
            // A GUI far ahead of the device is kept waiting here, its lines
            // left in the pipe, rather than let the queue grow without end.
            changed_.wait(hold, [this] { return queuedBytes_ < kQueueBytes || stopping_; });
            queuedBytes_ += line.size();
            ++queued_[static_cast<std::size_t>(command)];
            lines_.push_back({std::move(line), command});
            changed_.notify_all();
        }
        std::lock_guard<std::mutex> hold(lock_);
        finished_ = true;
        changed_.notify_all();
    }

    // Whether a line of `command` is in the session's hands or waits for it.
    bool ahead(Command command) const {
        return inHand_ == command || queued_[static_cast<std::size_t>(command)] > 0;
    }

    struct Queued {
        std::string line;
        Command command;
    };
    // Hundreds of whole-game position lines; no GUI waiting for a move gets
    // near it.
    static constexpr std::size_t kQueueBytes = 16 << 20;

    std::streambuf& input_;
    std::ostream& output_;
    Transcript& transcript_;

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Queued> lines_;
    std::size_t queuedBytes_ = 0;
    std::array<std::size_t, 5> queued_{};  // lines waiting, by command
    Command inHand_ = Command::Other;       // the session's line, until its replies are sent
    bool stopping_ = false;
    bool finished_ = false;
    std::thread thread_;
};

int runUci(std::istream& input, std::ostream& output, Port& port, Transcript& transcript) {
    CoreSession core(port, transcript);
    int status = 0;
    {
        Gui gui(input, output, transcript);
        uci::Protocol protocol(core);
        std::string line;
        while (!protocol.quitRequested() && gui.next(line)) {
            // Once the run is asked to end, lines are not acted on; a search
            // still queued gets its one answer all the same.
            if (terminationRequested()) {
                if (commandOf(line) == Command::Quit) break;
                if (commandOf(line) == Command::Go) gui.send({"bestmove 0000"});
                continue;
            }
            gui.send(protocol.handle(line));
        }
        status = core.deviceGone() ? exitStatusForDeviceGone() : 0;
    }
    output.flush();
    return status;
}

}  // namespace

// GUIs restart their engine for each game, sometimes before the last has
// quit: give that one two seconds to let go of the port.
int main(int argc, char** argv) {
    const char* port = SORVANITE_PORT_PATH;
    if (auto status = readProgramOptions(argc, argv, {"sorvanite-uci", "The chess device on a serial port, for UCI GUIs."},
                                         port))
        return *status;
    return runOnStandardStreams(port, runUci, 2000, "info string ");
}
