#include "session/move_relay.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "device/termination.h"
#include "session/number_scan.h"

namespace sorvanite {
namespace {

// Sends one command and waits for the device's answer, which comes back cut
// at its CR. A NUL from the device ends the text just as the CR does. An
// answer that never ended (the run was asked to end, or the line failed) is
// no answer: none, and nothing of it reaches the front end. A failed line
// is told to the front end, and ends the run.
std::optional<std::string_view> exchange(Session& session, const char* command, DeviceBuffer& buffer) {
    session.device.sendToDevice(command);
    ReceiveResult received = session.device.receiveFromDevice(buffer);
    if (received.end == ReceiveEnd::DeviceGone) {
        session.state.deviceGone = true;
        session.frontEnd.sendToFrontEnd(kDeviceGoneNotice);
    }
    if (received.end != ReceiveEnd::Answered) return std::nullopt;
    std::string_view answer(buffer);
    return answer.substr(0, answer.find('\r'));
}

// "%d. ... %s" with the number the device's move has in this game. Sized for
// the longest number and the longest answer the device buffer can hold.
void sendNumberedMove(Session& session, std::string_view move) {
    char line[16 + kDeviceBufferSize];
    int number = static_cast<int>(saturatingIncrement(session.state.moveNumber));
    std::snprintf(line, sizeof line, "%d. ... %.*s", number, static_cast<int>(move.size()), move.data());
    session.frontEnd.sendToFrontEnd(line);
}

// Whether the device is in step for a move: a game start that was due has
// been answered.
bool startGameIfReady(Session& session, char deviceColour) {
    SessionState& state = session.state;
    if (!state.newGamePending || !state.levelSet) return true;
    DeviceBuffer command;
    std::snprintf(command, sizeof command, "NEW %d %d %c\r", static_cast<int>(state.baseSeconds),
                  static_cast<int>(state.secondsPerMove), deviceColour);
    state.newGamePending = false;
    state.levelSet = false;
    DeviceBuffer answer;
    std::optional<std::string_view> reply = exchange(session, command, answer);
    if (reply && deviceColour == 'w') sendNumberedMove(session, *reply);
    return reply.has_value();
}

bool isAcceptableMove(std::string_view move) {
    return move.size() == 4 || (move.size() == 5 && (move[4] == 'q' || move[4] == 'Q'));
}

}  // namespace

void relayGo(Session& session) {
    if (session.state.deviceWhite) startGameIfReady(session, 'w');
}

void relayMove(Session& session, const char* line) {
    SessionState& state = session.state;
    // The game starts on the device even if the move below is then refused:
    // the device must be in a game before it sees any MOVE. A game start the
    // device never answered (the run is ending) sends no move after it.
    if (!state.deviceWhite && !startGameIfReady(session, 'b')) return;
    if (terminationRequested()) return;

    std::string_view move(line);
    if (!isAcceptableMove(move)) {
        session.frontEnd.sendToFrontEnd("Illegal move");
        return;
    }

    DeviceBuffer command;
    std::snprintf(command, sizeof command, "MOVE %s\r", line);
    DeviceBuffer buffer;
    std::optional<std::string_view> answered = exchange(session, command, buffer);
    if (!answered) return;
    std::string_view answer = *answered;
    std::size_t space = answer.find(' ');
    std::string_view head = answer.substr(0, space);
    std::string_view tail = space == std::string_view::npos ? answer : answer.substr(space + 1);

    if (answer.starts_with("Illegal move")) {
        session.frontEnd.sendToFrontEnd(answer);
    } else if (answer.substr(0, 4) == move.substr(0, 4) || answer.starts_with("DONE")) {
        state.moveNumber = saturatingIncrement(state.moveNumber);
        session.frontEnd.sendToFrontEnd(tail);
    } else {
        // The number shown is the one of the device's move: as White it is
        // counted before its line is formed, as Black after.
        if (state.deviceWhite) state.moveNumber = saturatingIncrement(state.moveNumber);
        sendNumberedMove(session, head);
        if (space != std::string_view::npos) session.frontEnd.sendToFrontEnd(tail);
        if (!state.deviceWhite) state.moveNumber = saturatingIncrement(state.moveNumber);
    }
}

}  // namespace sorvanite
