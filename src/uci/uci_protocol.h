#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/core_session.h"
#include "uci/board.h"

namespace sorvanite::uci {

// Speaks UCI to a GUI over the bridge's core. A UCI GUI sends whole
// positions; the device plays one game from the opening, answering its
// opponent's moves one at a time. So each "go" is matched against the
// device's game: the device is asked only when the position is its game plus
// one move of its opponent's (or the opening, for a new game), and every
// other search is answered with the reason in words and "bestmove 0000",
// never with a move the device did not make.
class Protocol {
public:
    explicit Protocol(Core& core) : core_(core) {}

    // Acts on one line from the GUI; returns the lines for the GUI.
    std::vector<std::string> handle(std::string_view line);
    bool quitRequested() const { return quit_; }

private:
    // The position of the GUI's last "position" command.
    struct GuiPosition {
        Board board;
        bool fromStart = false;          // "startpos", then `moves`
        std::vector<std::string> moves;  // as given after "moves"
    };

    void setPosition(std::string_view arguments);
    void go(std::string_view arguments);
    void startDevice(bool deviceWhite, const std::string& clock, const std::string& firstMove);
    void relay(const std::string& move);
    void readReplies(const std::vector<std::string>& replies);
    void refuse(const std::string& why);
    void releaseHeldAnswer();
    void tell(std::string text) { out_.push_back(std::move(text)); }

    Core& core_;
    std::vector<std::string> out_;
    bool quit_ = false;

    std::optional<GuiPosition> gui_ = GuiPosition{Board::start(), true, {}};
    std::string unreadable_;  // why the last position could not be read

    // The device's game: the position it last moved into (or its opening
    // position, before its first move as Black) and the moves that led there.
    bool started_ = false;
    bool deviceWhite_ = false;
    Board deviceBoard_ = Board::start();
    std::vector<std::string> history_;

    // The last position the device was asked about, and its answer: asked
    // again (a GUI that searches again, an analysis), the answer is known.
    std::optional<Board> asked_;
    std::string answer_;
    // A search of infinite or ponder kind whose known answer waits for "stop".
    std::optional<std::string> heldAnswer_;
};

// The NEW figures a "go" gives, as the core's "level" line that gives them:
// the device's own clock and increment, moves per period, or a fixed time per
// move (rounded up to whole seconds); without a clock the core's default.
std::string levelFor(std::string_view goArguments, bool deviceWhite);

}  // namespace sorvanite::uci
