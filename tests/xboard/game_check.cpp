// Checks a game that XBoard played through the bridge: every move in the
// bridge's transcript is legal (by the engine's own rules), the saved PGN
// holds the same moves, and its result is a real one.
//
// usage: xboard-game-check TRANSCRIPT PGN [--fen FEN] [--unfinished]
//   --fen: the game started from this position; --unfinished: the PGN may
//   have no result yet.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine_game.h"
#include "uci_engine.h"

namespace {

using sorvanite::emulator::EngineGame;
using sorvanite::emulator::UciEngine;

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool isCoordinateMove(const std::string& text) {
    static const std::regex move("[a-h][1-8][a-h][1-8][qrbnQRBN]?");
    return std::regex_match(text, move);
}

// The moves of the transcript's last run, in the order they were played.
std::vector<std::string> transcriptMoves(const std::string& transcript) {
    std::string run = transcript.substr(transcript.rfind("New session\r\n"));
    std::vector<std::string> moves;
    std::string lastUserMove;
    std::istringstream lines(run);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with(" --> MOVE ")) {
            lastUserMove = line.substr(10);
            if (!lastUserMove.empty() && lastUserMove.back() == '\r') lastUserMove.pop_back();
        } else if (line.starts_with(" --> NEW ")) {
            lastUserMove.clear();
        } else if (line.starts_with(" <-- ")) {
            std::string answer = line.substr(5);
            std::string first = answer.substr(0, answer.find(' '));
            bool acknowledged = !lastUserMove.empty() && answer.compare(0, 4, lastUserMove, 0, 4) == 0;
            bool rejected = answer.starts_with("Illegal move");
            if (!lastUserMove.empty() && !rejected) moves.push_back(lastUserMove);
            if (!acknowledged && !rejected && isCoordinateMove(first)) moves.push_back(first);
            lastUserMove.clear();
        }
    }
    return moves;
}

// The SAN moves of the PGN's movetext and its result.
std::vector<std::string> pgnMoves(const std::string& pgn, std::string& result) {
    std::string text;
    int braces = 0;
    // Only the first game: XBoard may save the same game again as it exits.
    std::istringstream lines(pgn.substr(0, pgn.find("[Event ", 1)));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("[")) {
            if (line.starts_with("[Result \"")) result = line.substr(9, line.find('"', 9) - 9);
            continue;
        }
        for (char c : line) {
            if (c == '{') ++braces;
            if (braces == 0) text += c;
            if (c == '}') --braces;
        }
        text += ' ';
    }
    std::vector<std::string> moves;
    std::istringstream words(text);
    static const std::regex number("[0-9]+\\.+");
    for (std::string word; words >> word;) {
        if (std::regex_match(word, number) || word == "1-0" || word == "0-1" || word == "1/2-1/2" || word == "*")
            continue;
        // "12.Nf3" style: drop the number.
        if (auto dot = word.find_last_of('.'); dot != std::string::npos) word = word.substr(dot + 1);
        moves.push_back(word);
    }
    return moves;
}

// The square a SAN move goes to, in coordinate form.
std::string sanDestination(std::string san, bool whiteToMove) {
    if (san.starts_with("O-O-O")) return whiteToMove ? "c1" : "c8";
    if (san.starts_with("O-O")) return whiteToMove ? "g1" : "g8";
    while (!san.empty() && std::string("+#!?").find(san.back()) != std::string::npos) san.pop_back();
    if (auto equals = san.find('='); equals != std::string::npos) san = san.substr(0, equals);
    return san.size() >= 2 ? san.substr(san.size() - 2) : san;
}

int fail(const std::string& why) {
    std::fprintf(stderr, "game check: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return fail("usage: xboard-game-check TRANSCRIPT PGN [--fen FEN] [--unfinished]");
    std::string fen;
    bool unfinished = false;
    for (int i = 3; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--unfinished") unfinished = true;
        else if (option == "--fen" && i + 1 < argc) fen = argv[++i];
        else return fail("unknown option " + option);
    }
    std::vector<std::string> played = transcriptMoves(readFile(argv[1]));
    std::string result;
    std::vector<std::string> saved = pgnMoves(readFile(argv[2]), result);
    if (played.empty()) return fail("no moves in the transcript");

    std::string error;
    auto engine = UciEngine::start("stockfish", error);
    if (!engine) return fail(error);
    EngineGame game(*engine, 10);
    game.setStart(fen, {});
    if (!game.reset()) return fail("bad --fen");
    for (std::size_t i = 0; i < played.size(); ++i)
        if (!game.play(played[i])) return fail("move " + std::to_string(i + 1) + " " + played[i] + " is illegal");

    // The two lists may differ by the last move: XBoard ends the game as soon
    // as it sees a mate, before passing the mating move on to the bridge, and
    // may adjudicate before it takes the device's last answer.
    if (saved.size() > played.size() + 1 || saved.size() + 1 < played.size())
        return fail("the PGN has " + std::to_string(saved.size()) + " moves, the transcript " +
                    std::to_string(played.size()));
    for (std::size_t i = 0; i < std::min(saved.size(), played.size()); ++i) {
        if (sanDestination(saved[i], i % 2 == 0) != played[i].substr(2, 2))
            return fail("PGN move " + std::to_string(i + 1) + " " + saved[i] + " is not " + played[i]);
    }
    bool decided = result == "1-0" || result == "0-1" || result == "1/2-1/2";
    if (!decided && !(unfinished && result == "*")) return fail("no result: '" + result + "'");
    if (saved.size() <= played.size() && game.result() &&
        game.result()->substr(0, game.result()->find(' ')) != result)
        return fail("the PGN says " + result + " but the position says " + *game.result());

    std::printf("game check: %zu legal moves, %zu in the PGN, result %s%s\n", played.size(), saved.size(),
                result.c_str(), game.result() ? (" (" + *game.result() + ")").c_str() : "");
    return 0;
}
