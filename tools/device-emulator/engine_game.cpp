#include "engine_game.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace sorvanite::emulator {
namespace {

std::vector<std::string> fenFields(std::string_view fen) {
    std::istringstream in{std::string(fen)};
    std::vector<std::string> fields;
    for (std::string field; in >> field;) fields.push_back(field);
    return fields;
}

}  // namespace

bool hasTooLittleMaterial(std::string_view fen) {
    std::vector<std::string> fields = fenFields(fen);
    if (fields.empty()) return false;
    int knights = 0, bishops = 0, rank = 7, file = 0;
    bool bishopOnLight = false, bishopOnDark = false;
    for (char c : fields[0]) {
        if (c == '/') {
            --rank;
            file = 0;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            file += c - '0';
        } else {
            char piece = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (piece == 'p' || piece == 'r' || piece == 'q') return false;
            if (piece == 'n') ++knights;
            if (piece == 'b') {
                ++bishops;
                ((rank + file) % 2 == 0 ? bishopOnDark : bishopOnLight) = true;
            }
            ++file;
        }
    }
    if (knights + bishops <= 1) return true;
    // Bishops only, all on squares of one colour.
    return knights == 0 && !(bishopOnLight && bishopOnDark);
}

std::string EngineGame::positionCommand() const {
    std::string command = startFen_.empty() ? "position startpos" : "position fen " + startFen_;
    if (!moves_.empty()) command += " moves";
    for (const std::string& move : moves_) command += " " + move;
    return command;
}

bool EngineGame::reset() {
    moves_.clear();
    positionsSeen_.clear();
    result_.reset();
    engine_.send("ucinewgame");
    judgePosition();
    for (const std::string& move : opening_)
        if (!play(move)) return false;
    return true;
}

std::optional<std::string> EngineGame::checkStart() {
    moves_.clear();
    positionsSeen_.clear();
    result_.reset();
    engine_.send("ucinewgame");
    judgePosition();
    if (engine_.failed()) return "the engine gave no answer about the starting position";
    std::vector<std::string> given = fenFields(startFen_), taken = fenFields(currentFen_);
    // An engine that cannot read a FEN may keep its last position instead.
    if (!given.empty() && (taken.empty() || taken[0] != given[0]))
        return "the engine did not take the --fen position '" + startFen_ + "'";
    if (taken.empty() || std::count(taken[0].begin(), taken[0].end(), 'K') != 1 ||
        std::count(taken[0].begin(), taken[0].end(), 'k') != 1)
        return "the --fen position needs one king of each colour";
    if (legalMoveCount_ == 0) return "nobody can move in the --fen position (mate or stalemate)";
    for (const std::string& move : opening_)
        if (!play(move)) return "the --opening move '" + move + "' is not legal there";
    return std::nullopt;
}

std::vector<std::string> EngineGame::legalMoves() {
    engine_.send(positionCommand());
    engine_.send("go perft 1");
    std::vector<std::string> moves;
    // "e2e4: 1" for each legal move, then "Nodes searched: N".
    if (auto lines = engine_.readUntil("Nodes searched", 30s)) {
        for (const std::string& line : *lines) {
            auto colon = line.find(':');
            if (colon >= 4 && colon <= 5 && line.compare(0, 5, "Nodes") != 0) moves.push_back(line.substr(0, colon));
        }
    }
    return moves;
}

bool EngineGame::play(std::string_view move) {
    if (result_) return false;
    std::string normalized(move);
    if (normalized.size() == 5) normalized[4] = static_cast<char>(std::tolower(static_cast<unsigned char>(normalized[4])));
    std::vector<std::string> legal = legalMoves();
    if (std::find(legal.begin(), legal.end(), normalized) == legal.end()) return false;
    moves_.push_back(normalized);
    judgePosition();
    return true;
}

std::string EngineGame::bestMove() {
    engine_.send(positionCommand());
    engine_.send("go movetime " + std::to_string(moveTimeMs_));
    auto lines = engine_.readUntil("bestmove", std::chrono::milliseconds(moveTimeMs_) + 30s);
    if (!lines) return {};
    std::istringstream last(lines->back());
    std::string word, move;
    last >> word >> move;
    // The device it stands for promotes only to a queen, as the bridge tells
    // GUIs; the queen's promotion on the same squares is as legal.
    if (move.size() == 5) move[4] = 'q';
    return move == "(none)" ? std::string() : move;
}

void EngineGame::judgePosition() {
    std::vector<std::string> legal = legalMoves();
    legalMoveCount_ = legal.size();
    // "d" prints the board, then "Fen: ...", "Key: ...", "Checkers: ...".
    engine_.send("d");
    std::string fen;
    bool inCheck = false;
    if (auto lines = engine_.readUntil("Checkers:", 30s)) {
        for (const std::string& line : *lines) {
            if (line.starts_with("Fen: ")) fen = line.substr(5);
            if (line.starts_with("Checkers:")) inCheck = line.find_first_not_of(' ', 9) != std::string::npos;
        }
    }
    currentFen_ = fen;
    std::vector<std::string> fields = fenFields(fen);
    bool whiteJustMoved = fields.size() >= 2 && fields[1] == "b";
    if (legal.empty() && !moves_.empty()) {
        if (inCheck)
            result_ = whiteJustMoved ? "1-0 {White mates}" : "0-1 {Black mates}";
        else
            result_ = "1/2-1/2 {Stalemate}";
        return;
    }
    if (fields.size() >= 5 && std::atoi(fields[4].c_str()) >= 100) {
        result_ = "1/2-1/2 {50-move rule}";
        return;
    }
    if (fields.size() >= 4) {
        std::string key = fields[0] + " " + fields[1] + " " + fields[2] + " " + fields[3];
        positionsSeen_.push_back(key);
        if (std::count(positionsSeen_.begin(), positionsSeen_.end(), key) >= 3) {
            result_ = "1/2-1/2 {Repetition}";
            return;
        }
    }
    if (hasTooLittleMaterial(fen)) result_ = "1/2-1/2 {No material}";
}

}  // namespace sorvanite::emulator
