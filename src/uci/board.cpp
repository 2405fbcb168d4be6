#include "uci/board.h"

#include <cctype>
#include <algorithm>
#include <cstdlib>

namespace sorvanite::uci {
namespace {

constexpr char kEmpty = '.';

bool isWhite(char piece) { return piece >= 'A' && piece <= 'Z'; }
bool isPiece(char c) { return std::string_view("PNBRQKpnbrqk").find(c) != std::string_view::npos; }
int fileOf(int square) { return square % 8; }
int rankOf(int square) { return square / 8; }

// "e4" as a square number; -1 when it is not a square.
int squareAt(std::string_view text) {
    if (text.size() < 2 || text[0] < 'a' || text[0] > 'h' || text[1] < '1' || text[1] > '8') return -1;
    return (text[0] - 'a') + 8 * (text[1] - '1');
}

std::string squareName(int square) {
    return {static_cast<char>('a' + fileOf(square)), static_cast<char>('1' + rankOf(square))};
}

void dropRight(std::string& castling, char right) {
    if (std::size_t at = castling.find(right); at != std::string::npos) castling.erase(at, 1);
    if (castling.empty()) castling = "-";
}

}  // namespace

std::vector<std::string_view> splitWords(std::string_view text) {
    std::vector<std::string_view> out;
    constexpr std::string_view kSpace = " \t";
    for (std::size_t start = text.find_first_not_of(kSpace); start != std::string_view::npos;
         start = text.find_first_not_of(kSpace, start)) {
        std::size_t end = std::min(text.find_first_of(kSpace, start), text.size());
        out.push_back(text.substr(start, end - start));
        start = end;
    }
    return out;
}

Board Board::start() { return *fromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"); }

std::optional<Board> Board::fromFen(std::string_view fen) {
    std::vector<std::string_view> parts = splitWords(fen);
    if (parts.size() < 2) return std::nullopt;
    Board board;
    board.squares.fill(kEmpty);
    int rank = 7;
    int file = 0;
    for (char c : parts[0]) {
        if (c == '/') {
            if (file != 8 || rank == 0) return std::nullopt;
            --rank;
            file = 0;
        } else if (c >= '1' && c <= '8' && file + (c - '0') <= 8) {
            file += c - '0';
        } else if (isPiece(c) && file < 8) {
            board.squares[static_cast<std::size_t>(file++ + 8 * rank)] = c;
        } else {
            return std::nullopt;
        }
    }
    if (rank != 0 || file != 8) return std::nullopt;
    if (parts[1] != "w" && parts[1] != "b") return std::nullopt;
    board.whiteToMove = parts[1] == "w";
    if (parts.size() > 2) {
        if (parts[2] != "-" && parts[2].find_first_not_of("KQkq") != std::string_view::npos) return std::nullopt;
        board.castling = std::string(parts[2]);
    }
    if (parts.size() > 3 && parts[3] != "-") {
        board.enPassant = squareAt(parts[3]);
        if (board.enPassant < 0 || parts[3].size() != 2) return std::nullopt;
    }
    return board;
}

std::string Board::spelled(std::string_view written) const {
    std::string move(written);
    int from = squareAt(move);
    int to = squareAt(move.substr(std::min<std::size_t>(2, move.size())));
    if (from < 0 || to < 0 || move.size() > 5) return move;
    char piece = squares[static_cast<std::size_t>(from)];
    char target = squares[static_cast<std::size_t>(to)];
    char kind = static_cast<char>(std::tolower(static_cast<unsigned char>(piece)));
    if (move.size() == 5) move[4] = static_cast<char>(std::tolower(static_cast<unsigned char>(move[4])));
    if (kind == 'p' && move.size() == 4 && (rankOf(to) == 7 || rankOf(to) == 0)) move += 'q';
    bool ownRook = target != kEmpty && piece != kEmpty && isWhite(target) == isWhite(piece) &&
                   std::tolower(static_cast<unsigned char>(target)) == 'r';
    if (kind == 'k' && ownRook && rankOf(from) == rankOf(to))
        move = squareName(from) + squareName(from + (to > from ? 2 : -2));
    return move;
}

std::optional<Board> Board::after(std::string_view written) const {
    std::string move = spelled(written);
    int from = squareAt(move);
    int to = squareAt(std::string_view(move).substr(std::min<std::size_t>(2, move.size())));
    if (from < 0 || to < 0 || from == to || move.size() > 5) return std::nullopt;
    char piece = squares[static_cast<std::size_t>(from)];
    if (piece == kEmpty || isWhite(piece) != whiteToMove) return std::nullopt;

    Board next = *this;
    auto at = [&next](int square) -> char& { return next.squares[static_cast<std::size_t>(square)]; };
    char kind = static_cast<char>(std::tolower(static_cast<unsigned char>(piece)));
    int fileStep = fileOf(to) - fileOf(from);
    if (kind == 'k' && rankOf(from) == rankOf(to) && std::abs(fileStep) == 2) {
        // Castling: the rook jumps over the king.
        int rank = 8 * rankOf(from);
        int rookFrom = rank + (fileStep > 0 ? 7 : 0);
        int rookTo = rank + (fileStep > 0 ? 5 : 3);
        at(rookTo) = at(rookFrom);
        at(rookFrom) = kEmpty;
    }
    if (kind == 'p' && fileStep != 0 && to == enPassant && at(to) == kEmpty)
        at(8 * rankOf(from) + fileOf(to)) = kEmpty;  // the pawn taken en passant
    at(to) = piece;
    at(from) = kEmpty;
    if (kind == 'p' && (rankOf(to) == 7 || rankOf(to) == 0)) {
        char promoted = move.size() == 5 ? move[4] : 'q';
        if (std::string_view("qrbn").find(promoted) == std::string_view::npos) return std::nullopt;
        at(to) = whiteToMove ? static_cast<char>(std::toupper(static_cast<unsigned char>(promoted))) : promoted;
    }

    if (kind == 'k') {
        dropRight(next.castling, whiteToMove ? 'K' : 'k');
        dropRight(next.castling, whiteToMove ? 'Q' : 'q');
    }
    // A rook leaving its corner, or taken there.
    for (int corner : {from, to}) {
        if (corner == 0) dropRight(next.castling, 'Q');
        if (corner == 7) dropRight(next.castling, 'K');
        if (corner == 56) dropRight(next.castling, 'q');
        if (corner == 63) dropRight(next.castling, 'k');
    }
    next.enPassant = kind == 'p' && std::abs(to - from) == 16 ? (from + to) / 2 : -1;
    next.whiteToMove = !whiteToMove;
    return next;
}

std::optional<std::string> Board::moveTo(const Board& next) const {
    if (next.whiteToMove == whiteToMove) return std::nullopt;
    // The mover's pieces that left or changed, and the squares where a piece
    // of the mover's stands now that did not before: at most two of each
    // (castling), so trying every pair is cheap.
    std::vector<int> left;
    std::vector<int> arrived;
    for (int square = 0; square < 64; ++square) {
        char before = squares[static_cast<std::size_t>(square)];
        char now = next.squares[static_cast<std::size_t>(square)];
        if (before == now) continue;
        if (before != kEmpty && isWhite(before) == whiteToMove) left.push_back(square);
        if (now != kEmpty && isWhite(now) == whiteToMove) arrived.push_back(square);
    }
    if (left.size() > 2 || arrived.size() > 2) return std::nullopt;
    for (int from : left) {
        for (int to : arrived) {
            std::string move = squareName(from) + squareName(to);
            char piece = squares[static_cast<std::size_t>(from)];
            if ((piece == 'P' || piece == 'p') && (rankOf(to) == 7 || rankOf(to) == 0))
                move += static_cast<char>(std::tolower(static_cast<unsigned char>(next.squares[static_cast<std::size_t>(to)])));
            std::optional<Board> result = after(move);
            if (result && result->samePosition(next)) return move;
        }
    }
    return std::nullopt;
}

}  // namespace sorvanite::uci
