#include "uci/uci_protocol.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace sorvanite::uci {
namespace {

const std::string kNoAnalysis =
    "The chess device does not analyse: it moves only in its own game, when it is its turn";
const std::string kUnreachable =
    "The chess device's game cannot reach this position: it plays one game from the opening, "
    "answering its opponent's moves one at a time";
const std::string kQueenOnly = "The chess device promotes only to a queen";

// The text after the first token.
std::string_view rest(std::string_view line) {
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) return {};
    std::size_t end = line.find_first_of(" \t", start);
    return end == std::string_view::npos ? std::string_view() : line.substr(end + 1);
}

// The number after `name` among a "go" line's tokens, in milliseconds or
// moves; none when absent or not a number. Figures past any real clock, and
// negative ones (a GUI's clock that has run out), saturate. Given twice, the
// last counts: gnome-chess always sends "wtime 30000 btime 30000", then the
// figures its engines.conf adds.
std::optional<long long> goValue(const std::vector<std::string_view>& words, std::string_view name) {
    constexpr long long kLargest = 1'000'000'000'000LL;  // over 30 years in milliseconds
    for (std::size_t next = words.size(); next-- > 1;) {
        if (words[next - 1] != name) continue;
        std::string_view text = words[next];
        long long value = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (end != text.data() + text.size() || (error != std::errc() && error != std::errc::result_out_of_range))
            return std::nullopt;
        if (error == std::errc::result_out_of_range) value = text.starts_with('-') ? 0 : kLargest;
        return std::clamp(value, 0LL, kLargest);
    }
    return std::nullopt;
}

bool has(const std::vector<std::string_view>& words, std::string_view word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

std::string sideName(bool white) { return white ? "White" : "Black"; }

}  // namespace

std::string levelFor(std::string_view goArguments, bool deviceWhite) {
    std::vector<std::string_view> words = splitWords(goArguments);
    constexpr long long kDay = 86400;
    char text[80];
    if (auto perMove = goValue(words, "movetime")) {
        // A 40-move period of 40 times that, so the device's time per move is
        // the figure itself.
        long long seconds = std::clamp((*perMove + 999) / 1000, 1LL, kDay);
        std::snprintf(text, sizeof text, "level 40 %lld:%02lld 0", seconds * 40 / 60, seconds * 40 % 60);
        return text;
    }
    if (auto clock = goValue(words, deviceWhite ? "wtime" : "btime")) {
        long long base = std::clamp(*clock / 1000, 1LL, kDay);
        long long increment = std::min(goValue(words, deviceWhite ? "winc" : "binc").value_or(0) / 1000, kDay);
        long long moves = std::min(goValue(words, "movestogo").value_or(0), 1000LL);
        std::snprintf(text, sizeof text, "level %lld %lld:%02lld %lld", moves, base / 60, base % 60, increment);
        return text;
    }
    return "level";  // the core's own default figures
}

std::vector<std::string> Protocol::handle(std::string_view line) {
    out_.clear();
    std::vector<std::string_view> words = splitWords(line);
    std::string_view command = words.empty() ? std::string_view() : words[0];
    if (command == "uci") {
        // No options: the device has none a GUI could set (no pondering, no
        // hash, no strength), and unknown "setoption" lines are ignored.
        tell("id name Sorvanite chess device");
        tell("id author The Sorvanite authors");
        tell("uciok");
    } else if (command == "isready") {
        tell("readyok");
    } else if (command == "ucinewgame") {
        // The device's game ends here; the next search starts a new one.
        releaseHeldAnswer();
        started_ = false;
        asked_.reset();
    } else if (command == "position") {
        releaseHeldAnswer();
        setPosition(rest(line));
    } else if (command == "go") {
        releaseHeldAnswer();
        go(rest(line));
    } else if (command == "stop" || command == "ponderhit") {
        releaseHeldAnswer();
    } else if (command == "quit") {
        core_.send("quit");
        quit_ = true;
    }
    // Everything else (setoption, debug, register, unknown lines) changes
    // nothing, as UCI asks.
    if (core_.deviceGone()) quit_ = true;
    return std::move(out_);
}

void Protocol::setPosition(std::string_view arguments) {
    std::vector<std::string_view> words = splitWords(arguments);
    auto movesAt = std::find(words.begin(), words.end(), "moves");
    GuiPosition position;
    if (!words.empty() && words[0] == "startpos") {
        position.board = Board::start();
        position.fromStart = true;
    } else if (!words.empty() && words[0] == "fen") {
        std::string fen;
        for (auto word = words.begin() + 1; word != movesAt; ++word) fen.append(*word).append(" ");
        std::optional<Board> board = Board::fromFen(fen);
        if (!board) {
            gui_.reset();
            unreadable_ = "The position's FEN could not be read: " + fen;
            return;
        }
        position.board = *board;
    } else {
        gui_.reset();
        unreadable_ = "The position could not be read: position " + std::string(arguments);
        return;
    }
    for (auto word = movesAt == words.end() ? movesAt : movesAt + 1; word != words.end(); ++word) {
        std::optional<Board> next = position.board.after(*word);
        if (!next) {
            gui_.reset();
            unreadable_ = "The move " + std::string(*word) + " cannot be made in the position given";
            return;
        }
        position.moves.push_back(position.board.spelled(*word));
        position.board = *next;
    }
    gui_ = std::move(position);
}

// Every "go" gets exactly one "bestmove": a search waiting for "stop" is
// answered once the GUI moves on without one too.
void Protocol::releaseHeldAnswer() {
    if (heldAnswer_) tell("bestmove " + *heldAnswer_);
    heldAnswer_.reset();
}

void Protocol::go(std::string_view arguments) {
    std::vector<std::string_view> words = splitWords(arguments);
    bool waitsForStop = has(words, "infinite") || has(words, "ponder");
    if (!gui_) {
        refuse(unreadable_);
        return;
    }
    const GuiPosition& gui = *gui_;

    // The device's game and one move of its opponent's: the device's turn.
    if (started_ && gui.board.whiteToMove == deviceWhite_) {
        // Given from the start, the moves must be the device's game's: a
        // shorter game that merely reaches the same squares is a new one.
        bool sameGame = !gui.fromStart || (gui.moves.size() == history_.size() + 1 &&
                                           std::equal(history_.begin(), history_.end(), gui.moves.begin()));
        std::optional<std::string> move = sameGame ? deviceBoard_.moveTo(gui.board) : std::nullopt;
        if (move) {
            if (waitsForStop) {
                refuse(kNoAnalysis);
            } else if (move->size() == 5 && (*move)[4] != 'q') {
                refuse(kQueenOnly);
            } else {
                asked_ = gui.board;
                relay(*move);
            }
            return;
        }
    }
    // Asked about again: the device's answer is known.
    if (asked_ && asked_->samePosition(gui.board) && !answer_.empty()) {
        if (waitsForStop)
            heldAnswer_ = answer_;
        else
            tell("bestmove " + answer_);
        return;
    }
    if (waitsForStop) {
        refuse(kNoAnalysis);
        return;
    }
    // Where the device has just moved its opponent is to move, even if that
    // is the opening and one move (ChessX asks for a search in every
    // position): not a new game.
    bool deviceJustMoved = started_ && gui.board.samePosition(deviceBoard_);
    // The opening, or the opening and White's first move: a new game, with
    // or without "ucinewgame" before it.
    Board opening = Board::start();
    if (gui.board.samePosition(opening)) {
        asked_ = gui.board;
        startDevice(true, levelFor(arguments, true), "");
        return;
    }
    std::optional<std::string> first = deviceJustMoved ? std::nullopt : opening.moveTo(gui.board);
    if (first) {
        asked_ = gui.board;
        startDevice(false, levelFor(arguments, false), *first);
        return;
    }
    // The side to move is worth telling only in the device's own game (ChessX
    // asks in every position of it); any other position it cannot reach.
    bool inItsGame = deviceJustMoved || (gui.fromStart && gui.moves.size() <= history_.size() &&
                                         std::equal(gui.moves.begin(), gui.moves.end(), history_.begin()));
    if (started_ && inItsGame && gui.board.whiteToMove != deviceWhite_) {
        refuse("The chess device plays " + sideName(deviceWhite_) + " in its game, and here it is " +
               sideName(gui.board.whiteToMove) + " to move");
        return;
    }
    refuse(kUnreachable);
}

void Protocol::startDevice(bool deviceWhite, const std::string& clock, const std::string& firstMove) {
    started_ = true;
    deviceWhite_ = deviceWhite;
    deviceBoard_ = Board::start();
    history_.clear();
    core_.send("new");
    core_.send(clock);
    if (deviceWhite) {
        core_.send("white");
        readReplies(core_.send("go"));
    } else {
        relay(firstMove);
    }
}

void Protocol::relay(const std::string& move) {
    // Found by the board, so it applies; provisional until the device answers.
    Board before = deviceBoard_;
    deviceBoard_ = *deviceBoard_.after(move);
    history_.push_back(move);
    std::size_t played = history_.size();
    readReplies(core_.send(move));
    if (history_.size() < played) deviceBoard_ = before;  // refused: the device never made it
}

void Protocol::readReplies(const std::vector<std::string>& replies) {
    answer_.clear();
    for (std::size_t i = 0; i < replies.size(); ++i) {
        std::string_view reply = replies[i];
        if (reply.starts_with("tellusererror ")) {
            tell("info string " + std::string(reply.substr(14)));
        } else if (auto numbered = numberedMove(reply); numbered && i == 0) {
            std::string move = deviceBoard_.spelled(numbered->substr(0, numbered->find(' ')));
            std::optional<Board> next = deviceBoard_.after(move);
            if (next) {
                answer_ = move;
                deviceBoard_ = *next;
                history_.push_back(answer_);
            } else {
                // Not a move we can follow: the device's game is lost from view.
                tell("info string The chess device answered \"" + std::string(*numbered) + "\", which is not a move here");
                started_ = false;
            }
            // Its first move as White carries any text after it on the same line.
            if (std::size_t space = numbered->find(' '); next && space != std::string_view::npos)
                tell("info string " + std::string(numbered->substr(space + 1)));
        } else if (reply.starts_with("Illegal move") && i == 0 && !history_.empty()) {
            tell("info string The chess device refused " + history_.back() + " as an illegal move");
            history_.pop_back();
        } else if (!reply.empty()) {
            tell("info string " + std::string(reply));
        }
    }
    tell("bestmove " + (answer_.empty() ? std::string("0000") : answer_));
}

void Protocol::refuse(const std::string& why) {
    tell("info string " + why);
    tell("bestmove 0000");
}

}  // namespace sorvanite::uci
