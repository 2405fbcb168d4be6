// sorvanite-uci: the chess device for GUIs that speak UCI, through the
// bridge's own core.
#include <algorithm>
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

bool isCommand(std::string_view line, std::string_view command) {
    std::vector<std::string_view> words = uci::splitWords(line);
    return !words.empty() && words[0] == command;
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
        line = std::move(lines_.front());
        lines_.pop_front();
        inHand_ = line;
        return true;
    }

    void send(const std::vector<std::string>& replies) {
        std::lock_guard<std::mutex> hold(lock_);
        for (const std::string& reply : replies) write(reply);
        output_.flush();
        inHand_.clear();
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
            std::lock_guard<std::mutex> hold(lock_);
            if (!got || stopping_) break;
            transcript_.record({"==> ", line, "\r\n"});
            // A search under way or waiting may keep the session on the
            // device for minutes: then "isready" is answered here, at once
            // (after "uciok", should a "uci" still wait).
            bool searching = ahead("go");
            if (searching && !ahead("uci") && isCommand(line, "isready")) {
                write("readyok");
                output_.flush();
                continue;
            }
            // Nothing follows "quit"; heard while the device thinks, it ends
            // the wait as SIGTERM would.
            reading = !isCommand(line, "quit");
            if (!reading && searching) requestTermination();
            lines_.push_back(line);
            changed_.notify_all();
        }
        std::lock_guard<std::mutex> hold(lock_);
        finished_ = true;
        changed_.notify_all();
    }

    // Whether a line of `command` is in the session's hands or waits for it.
    bool ahead(std::string_view command) const {
        return isCommand(inHand_, command) || std::any_of(lines_.begin(), lines_.end(), [command](const std::string& queued) {
                   return isCommand(queued, command);
               });
    }

    std::streambuf& input_;
    std::ostream& output_;
    Transcript& transcript_;

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::string> lines_;
    std::string inHand_;  // the line the session is on, until its replies are sent
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
            // Once the run is asked to end, lines are not acted on.
            if (terminationRequested()) {
                if (isCommand(line, "quit")) break;
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
    return runOnStandardStreams(port, runUci, 2000);
}
