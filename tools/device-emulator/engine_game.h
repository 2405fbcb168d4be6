#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "uci_engine.h"

namespace sorvanite::emulator {

// One game of chess whose rules all come from the engine: the legal moves,
// check, and the position after each move. Only the draw rules the engine
// does not report (fifty moves, repetition, too little material) are read
// off the positions it prints.
class EngineGame {
public:
    EngineGame(UciEngine& engine, int moveTimeMs) : engine_(engine), moveTimeMs_(moveTimeMs) {}

    // Every game starts from `fen` (empty: the initial position) after the
    // `opening` moves, to reach a test position quickly.
    void setStart(std::string fen, std::vector<std::string> opening) {
        startFen_ = std::move(fen);
        opening_ = std::move(opening);
    }

    // Back to the starting position. False if an opening move is illegal.
    bool reset();

    // Before serving: whether the starting position can be played at all.
    // Says why not: the engine did not take the --fen position, a side has
    // no king or two, nobody can move, or an --opening move is illegal.
    std::optional<std::string> checkStart();

    // Plays `move` (coordinate form; the promotion letter may be upper case)
    // if it is legal in the current position and the game is not over.
    bool play(std::string_view move);

    // The engine's choice in the current position; empty if it has none.
    std::string bestMove();

    // The result in the front end's notation ("1-0 {White mates}") once the
    // last move ended the game.
    const std::optional<std::string>& result() const { return result_; }

private:
    std::string positionCommand() const;
    std::vector<std::string> legalMoves();
    void judgePosition();

    UciEngine& engine_;
    int moveTimeMs_;
    std::string startFen_;
    std::vector<std::string> opening_;
    std::vector<std::string> moves_;
    std::vector<std::string> positionsSeen_;  // for repetition
    std::optional<std::string> result_;
    std::string currentFen_;       // as the engine printed it
    std::size_t legalMoveCount_ = 0;
};

// Whether neither side can ever mate with the pieces on the board of `fen`.
bool hasTooLittleMaterial(std::string_view fen);

}  // namespace sorvanite::emulator
