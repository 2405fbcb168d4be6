#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/core_session.h"

namespace sorvanite::cecp2 {

// Why the GUI's game or limit cannot be followed: a reason for the
// "Error (...)" line that programs read, and words for the person.
struct Divergence {
    const char* reason;
    const char* words;
};

// Speaks version 2 of the engine protocol (and version 1) to a GUI and keeps
// the device's game in step with the GUI's. The device only plays a game
// from the opening, one side, answering each move of the other side with its
// own; whatever the GUI asks beyond that is refused, never faked: an
// "Error (...)" line for programs, a "tellusererror" line for the person, and,
// in the middle of a game the device can no longer follow, its resignation,
// so that nobody waits for a move that cannot come.
class Protocol2 {
public:
    explicit Protocol2(Core& core) : core_(core) {}

    // Acts on one line from the GUI; returns the lines for the GUI.
    std::vector<std::string> handle(std::string_view line);
    bool quitRequested() const { return quit_; }

private:
    enum class Side { White, Black };
    static Side other(Side side) { return side == Side::White ? Side::Black : Side::White; }
    static Side moverOf(std::size_t ply) { return ply % 2 == 0 ? Side::White : Side::Black; }

    void handleCommand(std::string_view line);
    void newGame();
    void resetGame();
    void setBoard(std::string_view line);
    void userMove(const std::string& move, std::string_view line);
    void think(std::string_view line);
    void startDevice(Side deviceSide);
    void relayPendingMove();
    void takeBack(std::size_t plies, std::string_view line);
    void setTimePerMove(std::string_view seconds);
    void readReplies(const std::vector<std::string>& replies, bool deviceMoveExpected);
    void diverge(const Divergence& why, std::string_view line, bool askedToMove = false);
    void refuseLimit(bool& refusedBefore, const Divergence& why, std::string_view line);
    void resign();
    void tell(std::string text) { out_.push_back(std::move(text)); }

    Core& core_;
    std::vector<std::string> out_;
    bool quit_ = false;
    bool editing_ = false;  // inside "edit" ... "."

    // The GUI's game.
    std::vector<std::string> moves_;
    Side sideToMove_ = Side::White;
    std::optional<Side> engineSide_ = Side::Black;  // none in force mode
    bool gameOver_ = false;
    bool resigned_ = false;  // over by the device's resignation

    // The device's game, which follows the first deviceSeen_ moves of the
    // GUI's. Out of step once the GUI went where the device cannot follow.
    bool deviceStarted_ = false;
    Side deviceSide_ = Side::Black;
    std::size_t deviceSeen_ = 0;
    bool outOfStep_ = false;

    // What the next game start on the device carries.
    std::string clock_ = "level";  // the core's own default figures
    std::string time_;
    bool nodesNotSeconds_ = false;  // after "nps": the GUI's time figures are node counts
    bool refusedDepth_ = false;
    bool refusedNodes_ = false;
};

}  // namespace sorvanite::cecp2
