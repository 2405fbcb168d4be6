#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvanite::uci {

// The words of a FEN or a UCI line: separated by any run of spaces and tabs.
std::vector<std::string_view> splitWords(std::string_view text);

// Just enough of a chess position to follow a game given as FENs or as move
// lists: where the pieces stand, who moves, and what the next move may do
// (castle, take en passant). Legality is the device's business, not ours.
struct Board {
    // Squares a1, b1, ... h8; a piece letter as in a FEN ("P", "k"), or '.'.
    std::array<char, 64> squares{};
    bool whiteToMove = true;
    std::string castling = "-";  // "KQkq", a part of it, or "-"
    int enPassant = -1;          // the square a pawn may take on, or -1

    static Board start();
    // A FEN's first four fields; the move counters may follow or not.
    static std::optional<Board> fromFen(std::string_view fen);

    // A coordinate move as GUIs and devices write it, in the one spelling
    // used here: the promotion letter in lower case, and a queen's added
    // where a pawn reaches the last rank without one (the device promotes
    // only to a queen); castling written as the king taking its own rook
    // ("e1h1", as Chess960-aware GUIs send it) as the king's two-square move.
    std::string spelled(std::string_view move) const;

    // The position after a coordinate move in any of those spellings, or
    // none when there is no piece of the side to move on its first square.
    std::optional<Board> after(std::string_view move) const;

    // The one move that leads from here to `next`, found from the squares
    // that differ; none when no single move does.
    std::optional<std::string> moveTo(const Board& next) const;

    // The same position for the device's game: pieces and side to move.
    // Castling and en-passant fields are left out, as GUIs write them
    // differently for the same position.
    bool samePosition(const Board& other) const {
        return squares == other.squares && whiteToMove == other.whiteToMove;
    }
};

}  // namespace sorvanite::uci
