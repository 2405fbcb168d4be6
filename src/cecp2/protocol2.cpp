#include "cecp2/protocol2.h"

#include "session/command_table.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sorvanite::cecp2 {
namespace {

// No sigterm=0: a run ends in order on SIGTERM. nps=0: the device plays on
// its clock only. setboard=1: strict clients require it; only the opening
// position is then accepted.
constexpr const char* kFeatures =
    "feature myname=\"Sorvanite chess device\" setboard=1 usermove=1 sigint=0 ping=1 colors=0 analyze=0 pause=0 "
    "playother=1 draw=1 reuse=1 nps=0 variants=\"normal\"";

constexpr const char* kStartPosition = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

constexpr Divergence kPosition{"the device plays only from the opening position",
                                "The chess device can play only from the opening position."};
constexpr Divergence kTakeBack{"the device cannot take moves back",
                                "The chess device cannot take moves back."};
constexpr Divergence kUnseenMoves{
    "the device cannot follow moves it has not answered",
    "The chess device answers its opponent's moves one at a time and cannot follow moves entered for both sides."};
constexpr Divergence kDepth{"the device cannot limit its search depth",
                                "The chess device cannot limit its search depth; it plays on its clock."};
constexpr Divergence kNodes{"the device cannot play on a node count",
                                "The chess device cannot play on a node count; it plays on its clock."};

bool inRange(char c, char low, char high) { return c >= low && c <= high; }

// The core's own test, on a NUL-terminated copy.
bool hasMoveShape(std::string_view text) { return sorvanite::hasMoveShape(std::string(text).c_str()); }

bool isPromotionPiece(char c) { return std::string_view("qrbnQRBN").find(c) != std::string_view::npos; }

// A move in coordinate notation: e2e4, or e7e8q.
bool isMove(std::string_view text) {
    return hasMoveShape(text) && (text.size() == 4 || (text.size() == 5 && isPromotionPiece(text[4])));
}

bool isUnderPromotion(std::string_view text) { return isMove(text) && text.size() == 5 && text[4] != 'q' && text[4] != 'Q'; }

// What edit mode takes: "#", "c", "." and placements such as "Pe4" or "xe4".
bool isEditLine(std::string_view line) {
    if (line == "#" || line == "c" || line == ".") return true;
    return line.size() == 3 && std::string_view("PNBRQKpnbrqkx").find(line[0]) != std::string_view::npos &&
           inRange(line[1], 'a', 'h') && inRange(line[2], '1', '8');
}

bool isResult(std::string_view text) {
    return text.starts_with("1-0") || text.starts_with("0-1") || text.starts_with("1/2-1/2");
}

std::string_view firstWord(std::string_view line) { return line.substr(0, line.find(' ')); }

std::string_view argument(std::string_view line) {
    std::size_t space = line.find(' ');
    return space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
}

// A FEN's placement, side to move, castling and en-passant fields: the
// move counters do not make another position.
std::string_view positionFields(std::string_view fen) {
    std::size_t end = fen.find(' ');
    for (int field = 1; field < 4 && end != std::string_view::npos; ++field) end = fen.find(' ', end + 1);
    return fen.substr(0, end);
}

}  // namespace

std::vector<std::string> Protocol2::handle(std::string_view line) {
    out_.clear();
    // Edit mode takes only edit lines, up to its "."; anything else ends it
    // (a GUI that never sends the "." must still be able to quit or ping).
    if (editing_ && isEditLine(line)) {
        if (line == ".") editing_ = false;
        return std::move(out_);
    }
    editing_ = false;
    handleCommand(line);
    // The device's line failed: the GUI has been told, and nothing more can
    // be played.
    if (core_.deviceGone()) quit_ = true;
    return std::move(out_);
}

void Protocol2::handleCommand(std::string_view line) {
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
    } else if (hasMoveShape(line)) {
        userMove(std::string(line), line);
    } else if (command == "level") {
        if (!nodesNotSeconds_) clock_ = std::string(line);
    } else if (command == "st") {
        if (!nodesNotSeconds_) setTimePerMove(argument(line));
    } else if (command == "time") {
        if (!nodesNotSeconds_) time_ = std::string(line);
    } else if (command == "sd") {
        refuseLimit(refusedDepth_, kDepth, line);
    } else if (command == "nps") {
        refuseLimit(refusedNodes_, kNodes, line);
        // From now on the GUI's time figures count nodes: never seconds.
        nodesNotSeconds_ = std::strtol(std::string(argument(line)).c_str(), nullptr, 10) != 0;
    } else if (command == "ping") {
        // Everything before it is done: each line is settled before the next is read.
        tell("pong " + std::string(argument(line)));
    } else if (command == "draw") {
        if (deviceStarted_ && !outOfStep_ && !gameOver_) readReplies(core_.send("draw"), false);
    } else if (command == "result") {
        gameOver_ = true;
        engineSide_.reset();
    } else if (command == "setboard") {
        setBoard(line);
    } else if (command == "edit") {
        diverge(kPosition, line);
        editing_ = true;
    } else if (command == "undo") {
        takeBack(1, line);
    } else if (command == "remove") {
        takeBack(2, line);
    } else if (command == "quit") {
        core_.send("quit");
        quit_ = true;
    }
    // Everything else (xboard, accepted, rejected, random, post, nopost,
    // hard, easy, otim, name, rating, computer, variant normal, ...) changes
    // nothing here.
}

void Protocol2::newGame() {
    resetGame();
    engineSide_ = Side::Black;
}

// A fresh game from the opening; the engine's side is left as it was.
void Protocol2::resetGame() {
    moves_.clear();
    sideToMove_ = Side::White;
    gameOver_ = false;
    resigned_ = false;
    deviceStarted_ = false;
    deviceSeen_ = 0;
    outOfStep_ = false;
    time_.clear();
}

void Protocol2::setBoard(std::string_view line) {
    if (positionFields(argument(line)) == kStartPosition) {
        resetGame();
        return;
    }
    diverge(kPosition, line);
}

void Protocol2::userMove(const std::string& move, std::string_view line) {
    // Not a move, or one the device cannot make: the GUI takes it back, and
    // neither the core nor the device ever sees it.
    if (isUnderPromotion(move)) {
        // Many GUIs show nothing of "Illegal move" and wait for ever with the
        // device's clock running: the reason in words, and in a game under
        // way the device gives it up.
        tell("Illegal move (the device promotes only to a queen): " + move);
        bool resigning = !gameOver_ && deviceStarted_;
        tell(std::string("tellusererror The chess device promotes only to a queen.") +
             (resigning ? " It resigns this game; start a new game to play on." : ""));
        if (resigning) resign();
        return;
    }
    if (!isMove(move)) {
        tell("Illegal move: " + move);
        return;
    }
    moves_.push_back(move);
    sideToMove_ = other(sideToMove_);
    if (engineSide_ == sideToMove_) {
        think(line);
        return;
    }
    if (outOfStep_ || gameOver_) return;
    // A move the device has not seen, in force mode: it can follow only one
    // move of its opponent's, the one it will answer.
    std::size_t pending = moves_.size() - deviceSeen_;
    Side mover = moverOf(moves_.size() - 1);
    bool deviceCanFollow = pending == 1 && (deviceStarted_ ? mover != deviceSide_ : mover == Side::White);
    if (!deviceCanFollow) diverge(kUnseenMoves, line);
}

void Protocol2::think(std::string_view line) {
    // Asked to move once the device has resigned (Knights asks on): said
    // again, rather than leave the GUI waiting.
    if (gameOver_ && resigned_) {
        tell("resign");
        return;
    }
    if (gameOver_) return;
    if (outOfStep_) {
        // Asked to move in a game it cannot follow: rather than leave the GUI
        // waiting, the device gives that game up.
        resign();
        return;
    }
    std::size_t pending = moves_.size() - deviceSeen_;
    if (!deviceStarted_ && moves_.empty() && sideToMove_ == Side::White) {
        startDevice(Side::White);
    } else if (!deviceStarted_ && moves_.size() == 1 && sideToMove_ == Side::Black) {
        startDevice(Side::Black);
        relayPendingMove();
    } else if (deviceStarted_ && sideToMove_ == deviceSide_ && pending == 1) {
        relayPendingMove();
    } else {
        diverge(kUnseenMoves, line, true);
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
    // The device has played on from there and cannot go back.
    if (moves_.size() - plies < deviceSeen_) diverge(kTakeBack, line);
    moves_.resize(moves_.size() - plies);
    if (plies % 2 == 1) sideToMove_ = other(sideToMove_);
}

void Protocol2::setTimePerMove(std::string_view seconds) {
    // Seconds per move, a fraction rounded up to a whole second: a 40-move
    // period of that many moves' time, so the device gets the figure itself
    // as its time per move.
    double asked = std::strtod(std::string(seconds).c_str(), nullptr);
    if (!(asked > 0) || asked > 86400) return;
    long whole = static_cast<long>(std::ceil(asked));
    char text[48];
    std::snprintf(text, sizeof text, "level 40 %ld:%02ld 0", whole * 40 / 60, whole * 40 % 60);
    clock_ = text;
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

void Protocol2::diverge(const Divergence& why, std::string_view line, bool askedToMove) {
    if (outOfStep_) return;  // said once; the device's game is already left behind
    outOfStep_ = true;
    // In the middle of a game, or asked for a move it cannot make, the
    // device gives the game up; otherwise it gives it up when asked to move.
    bool resigning = !gameOver_ && (askedToMove || deviceStarted_);
    tell("Error (" + std::string(why.reason) + "): " + std::string(line));
    tell(std::string("tellusererror ") + why.words +
         (resigning ? " It resigns this game; start a new game to play on."
                    : " It cannot play this game; start a new game to play on."));
    if (resigning) resign();
}

void Protocol2::refuseLimit(bool& refusedBefore, const Divergence& why, std::string_view line) {
    if (refusedBefore) return;
    refusedBefore = true;
    tell("Error (" + std::string(why.reason) + "): " + std::string(line));
    tell(std::string("tellusererror ") + why.words);
}

void Protocol2::resign() {
    tell("resign");
    gameOver_ = true;
    resigned_ = true;
}

}  // namespace sorvanite::cecp2
