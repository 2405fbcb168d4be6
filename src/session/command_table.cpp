#include "session/command_table.h"

#include <cstring>

#include "session/move_relay.h"
#include "session/number_scan.h"

namespace sorvanite {
namespace {

void startNewGame(Session& session, const char*) {
    session.state.newGamePending = true;
    session.state.deviceWhite = false;
    session.state.moveNumber = 0;
}

void setLevel(Session& session, const char* line) {
    SessionState& state = session.state;
    state.movesPerControl = 0;
    state.baseSeconds = 120;  // 2 minutes
    state.secondsPerMove = 12;
    // "level MPS BASE INC", where BASE is minutes or minutes:seconds (front
    // ends send "0:20" for a 20-second game). The scan stops at the first
    // field that is not there, as a "%d %d %d" scan would.
    const char* rest = scanNumber(line + std::strlen("level"), state.movesPerControl);
    if (rest) rest = scanBaseTime(rest, state.baseSeconds);
    if (rest) scanNumber(rest, state.secondsPerMove);
    if (state.movesPerControl > 0) state.secondsPerMove = state.baseSeconds / state.movesPerControl;
    state.levelSet = true;
}

void setDeviceWhite(Session& session, const char*) { session.state.deviceWhite = true; }

void setTime(Session& session, const char* line) {
    std::int32_t centiseconds = 0;
    std::int32_t* const fields[] = {&centiseconds};
    if (scanNumbers(line + std::strlen("time"), fields, 1) == 1) session.state.baseSeconds = centiseconds / 100;
}

void answerDraw(Session& session, const char*) {
    // The device never offers a draw of its own; past move 80 we accept.
    if (session.state.moveNumber > 80) session.frontEnd.sendToFrontEnd("computer offers a draw");
}

void answerBogus(Session& session, const char*) { session.frontEnd.sendToFrontEnd(""); }

void ignoreLine(Session&, const char*) {}

void requestQuit(Session& session, const char*) { session.state.quitRequested = true; }

void relayGoCommand(Session& session, const char*) { relayGo(session); }

// The rows in the order they are tried; the first match wins.
constexpr CommandRow kCommandTable[] = {
    {"new", startNewGame},
    {"level", setLevel},
    {"white", setDeviceWhite},
    {"go", relayGoCommand},
    {"time", setTime},
    {"draw", answerDraw},
    {"bogus", answerBogus},
    {"rating", ignoreLine},
    {"name", ignoreLine},
    {"quit", requestQuit},
    {"", relayMove},
};

bool inRange(char c, char low, char high) { return c >= low && c <= high; }

}  // namespace

bool hasMoveShape(const char* line) {
    return inRange(line[0], 'a', 'h') && inRange(line[1], '1', '8') && inRange(line[2], 'a', 'h') &&
           inRange(line[3], '1', '8');
}

void dispatchCommand(Session& session, const char* line) {
    std::string_view text(line);
    for (const CommandRow& row : kCommandTable) {
        bool matches = row.keyword.empty() ? hasMoveShape(line) : text.starts_with(row.keyword);
        if (matches) {
            row.handler(session, line);
            return;
        }
    }
}

}  // namespace sorvanite
