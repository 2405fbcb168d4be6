#include "cecp2/protocol2.h"

#include <cstdio>
#include <cstdlib>

namespace sorvanite::cecp2 {
namespace {

constexpr const char* kFeatures =
    "feature myname=\"Sorvanite chess device\" setboard=0 usermove=1 sigint=0 sigterm=0 ping=1 colors=0 "
    "analyze=0 pause=0 playother=1 draw=1 reuse=1 variants=\"normal\"";

bool inRange(char c, char low, char high) { return c >= low && c <= high; }

// A move in coordinate notation: e2e4, or e7e8q.
bool isMove(std::string_view text) {
    if (text.size() != 4 && text.size() != 5) return false;
    if (!inRange(text[0], 'a', 'h') || !inRange(text[1], '1', '8') || !inRange(text[2], 'a', 'h') ||
        !inRange(text[3], '1', '8'))
        return false;
    return text.size() == 4 || std::string_view("qrbnQRBN").find(text[4]) != std::string_view::npos;
}

bool isResult(std::string_view text) {
    return text.starts_with("1-0") || text.starts_with("0-1") || text.starts_with("1/2-1/2");
}

std::string_view firstWord(std::string_view line) { return line.substr(0, line.find(' ')); }

std::string_view argument(std::string_view line) {
    std::size_t space = line.find(' ');
    return space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
}

// "N. ... move" as the core numbers the device's moves: the text after it.
std::optional<std::string_view> numberedMove(std::string_view line) {
    std::size_t dot = line.find(". ... ");
    if (dot == 0 || dot == std::string_view::npos) return std::nullopt;
    for (std::size_t i = 0; i < dot; ++i)
        if (!inRange(line[i], '0', '9')) return std::nullopt;
    return line.substr(dot + 6);
}

}  // namespace

std::vector<std::string> Protocol2::handle(std::string_view line) {
    out_.clear();
    if (editing_) {
        // Pieces placed in edit mode, up to its ".": the position is already refused.
        if (line == ".") editing_ = false;
        return std::move(out_);
    }
    std::string_view command = firstWord(line);
    if (command == "protover") {
        tell(kFeatures);
        tell("feature done=1");
    } else if (command == "new") {
        newGame();
    } else if (command == "force") {
        engineSide_.reset();
    } else if (command == "go") {
        engineSide_ = sideToMove_;
        think(line);
    } else if (command == "playother") {
        engineSide_ = other(sideToMove_);
    } else if (command == "white" || command == "black") {
        // The first generation's colour commands: that side to move, the
        // engine playing the other.
        sideToMove_ = command == "white" ? Side::White : Side::Black;
        engineSide_ = other(sideToMove_);
    } else if (command == "usermove") {
        userMove(std::string(argument(line)), line);
    } else if (isMove(line)) {
        userMove(std::string(line), line);
    } else if (command == "level") {
        clock_ = std::string(line);
    } else if (command == "st") {
        // Seconds per move: a 40-move period of that many moves' time, so
        // the device gets the figure itself as its time per move.
        long seconds = std::strtol(std::string(argument(line)).c_str(), nullptr, 10);
        if (seconds > 0 && seconds <= 86400) {
            char text[48];
            std::snprintf(text, sizeof text, "level 40 %ld:%02ld 0", seconds * 40 / 60, seconds * 40 % 60);
            clock_ = text;
        }
    } else if (command == "time") {
        time_ = std::string(line);
    } else if (command == "ping") {
        // Everything before it is done: each line is settled before the next is read.
        tell("pong " + std::string(argument(line)));
    } else if (command == "draw") {
        if (deviceStarted_ && !outOfStep_ && !gameOver_) readReplies(core_.send("draw"), false);
    } else if (command == "result") {
        gameOver_ = true;
        engineSide_.reset();
    } else if (command == "setboard") {
        refuse(line);
        outOfStep_ = true;
    } else if (command == "edit") {
        refuse(line);
        outOfStep_ = true;
        editing_ = true;
    } else if (command == "undo") {
        takeBack(1, line);
    } else if (command == "remove") {
        takeBack(2, line);
    } else if (command == "quit") {
        core_.send("quit");
        quit_ = true;
    }
    // The device's line failed: the GUI has been told, and nothing more can
    // be played.
    if (core_.deviceGone()) quit_ = true;
    // Everything else (xboard, accepted, random, post, hard, easy, otim, sd,
    // name, rating, computer, variant normal, ...) changes nothing here.
    return std::move(out_);
}

void Protocol2::newGame() {
    moves_.clear();
    sideToMove_ = Side::White;
    engineSide_ = Side::Black;
    gameOver_ = false;
    deviceStarted_ = false;
    deviceSeen_ = 0;
    outOfStep_ = false;
    time_.clear();
}

void Protocol2::userMove(const std::string& move, std::string_view line) {
    moves_.push_back(move);
    sideToMove_ = other(sideToMove_);
    if (outOfStep_ || gameOver_) return;
    if (engineSide_ == sideToMove_) {
        think(line);
        return;
    }
    // A move the device has not seen, in force mode: it can follow only one
    // move of its opponent's, the one it will answer.
    std::size_t pending = moves_.size() - deviceSeen_;
    Side mover = moverOf(moves_.size() - 1);
    bool deviceCanFollow = pending == 1 && (deviceStarted_ ? mover != deviceSide_ : mover == Side::White);
    if (!deviceCanFollow) {
        refuse(line);
        outOfStep_ = true;
    }
}

void Protocol2::think(std::string_view line) {
    if (outOfStep_ || gameOver_) return;
    std::size_t pending = moves_.size() - deviceSeen_;
    if (!deviceStarted_ && moves_.empty() && sideToMove_ == Side::White) {
        startDevice(Side::White);
    } else if (!deviceStarted_ && moves_.size() == 1 && sideToMove_ == Side::Black) {
        startDevice(Side::Black);
        relayPendingMove();
    } else if (deviceStarted_ && sideToMove_ == deviceSide_ && pending == 1) {
        relayPendingMove();
    } else {
        refuse(line);
        outOfStep_ = true;
    }
}

void Protocol2::startDevice(Side deviceSide) {
    deviceStarted_ = true;
    deviceSide_ = deviceSide;
    deviceSeen_ = 0;
    core_.send("new");
    core_.send(clock_);
    if (!time_.empty()) core_.send(time_);
    if (deviceSide == Side::White) {
        core_.send("white");
        readReplies(core_.send("go"), true);
    }
}

void Protocol2::relayPendingMove() { readReplies(core_.send(moves_.back()), true); }

void Protocol2::takeBack(std::size_t plies, std::string_view line) {
    if (plies > moves_.size()) return;
    if (moves_.size() - plies < deviceSeen_ && !outOfStep_) {
        // The device has played on from there and cannot go back.
        refuse(line);
        outOfStep_ = true;
    }
    moves_.resize(moves_.size() - plies);
    if (plies % 2 == 1) sideToMove_ = other(sideToMove_);
    gameOver_ = false;
}

void Protocol2::readReplies(const std::vector<std::string>& replies, bool deviceMoveExpected) {
    for (std::size_t i = 0; i < replies.size(); ++i) {
        std::string_view reply = replies[i];
        if (reply.starts_with("tellusererror ")) {
            tell(std::string(reply));  // already in the GUI's terms
        } else if (auto numbered = numberedMove(reply); numbered && i == 0 && deviceMoveExpected) {
            // The device's move; its first move as White carries any text
            // after it on the same line.
            std::string_view move = firstWord(*numbered);
            if (!isMove(move)) {
                tell("telluser the device answered \"" + std::string(*numbered) + "\", which is not a move");
                outOfStep_ = true;
                continue;
            }
            moves_.emplace_back(move);
            sideToMove_ = other(sideToMove_);
            deviceSeen_ = moves_.size();
            tell("move " + std::string(move));
            if (std::string_view rest = argument(*numbered); !rest.empty()) {
                if (isResult(rest)) gameOver_ = true;
                tell(isResult(rest) ? std::string(rest) : "telluser " + std::string(rest));
            }
        } else if (reply.starts_with("Illegal move") && i == 0 && deviceMoveExpected) {
            // The GUI takes its move back; the device never made it.
            tell("Illegal move: " + moves_.back());
            moves_.pop_back();
            sideToMove_ = other(sideToMove_);
        } else if (isResult(reply)) {
            if (i == 0 && deviceMoveExpected) deviceSeen_ = moves_.size();  // acknowledged: the game is over
            gameOver_ = true;
            tell(std::string(reply));
        } else if (reply == "computer offers a draw") {
            tell("offer draw");
        } else {
            if (i == 0 && deviceMoveExpected) deviceSeen_ = moves_.size();  // an acknowledgement
            tell("telluser " + std::string(reply));
        }
    }
}

void Protocol2::refuse(std::string_view line) {
    if (outOfStep_) return;  // said once; the device's game is already left behind
    tell("Error (the device cannot set up positions): " + std::string(line));
}

}  // namespace sorvanite::cecp2
