#include <gtest/gtest.h>

#include "uci/board.h"
#include "uci/uci_protocol.h"
#include "unit/fake_core.h"

namespace sorvanite::testing {
namespace {

using uci::Board;
using Gui = GuiDriver<uci::Protocol>;

Board play(Board board, std::initializer_list<const char*> moves) {
    for (const char* move : moves) {
        std::optional<Board> next = board.after(move);
        EXPECT_TRUE(next) << move;
        if (next) board = *next;
    }
    return board;
}

Board fen(const char* text) {
    std::optional<Board> board = Board::fromFen(text);
    EXPECT_TRUE(board) << text;
    return board.value_or(Board{});
}

TEST(UciBoard, MovesAgreeWithTheFensGuisSendAndAreFoundFromThem) {
    struct Case {
        std::initializer_list<const char*> moves;
        const char* fen;
        const char* castling;
    };
    for (const Case& c : {
             Case{{"e2e4"}, "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1", "KQkq"},
             Case{{"e2e4", "e7e5", "g1f3", "b8c6", "f1c4", "f8c5", "e1g1"},
                  "r1bqk1nr/pppp1ppp/2n5/2b1p3/2B1P3/5N2/PPPP1PPP/RNBQ1RK1 b kq - 5 4", "kq"},
             Case{{"e2e4", "a7a6", "e4e5", "d7d5", "e5d6"},  // en passant
                  "rnbqkbnr/1pp1pppp/p2P4/8/8/8/PPPP1PPP/RNBQKBNR b KQkq - 0 3", "KQkq"},
             Case{{"d2d4", "e7e5", "c1g5", "f8a3", "b1c3", "g8h6", "d1d2", "e8g8", "e1c1"},  // both castle
                  "rnbq1rk1/pppp1ppp/7n/4p1B1/3P4/b1N5/PPPQPPPP/2KR1BNR b - - 4 5", "-"},
         }) {
        Board played = play(Board::start(), c.moves);
        EXPECT_TRUE(played.samePosition(fen(c.fen))) << c.fen;
        EXPECT_EQ(played.castling, c.castling) << c.fen;
        // The last move, found again from the squares.
        Board before = Board::start();
        auto last = c.moves.end() - 1;
        for (auto move = c.moves.begin(); move != last; ++move) before = *before.after(*move);
        EXPECT_EQ(before.moveTo(fen(c.fen)), std::string(*last)) << c.fen;
    }
    EXPECT_EQ(play(Board::start(), {"e2e4"}).enPassant, 20);  // e3

    Board promoting = fen("8/P6k/8/8/8/8/8/K7 w - - 0 1");
    EXPECT_EQ(promoting.moveTo(fen("N7/7k/8/8/8/8/8/K7 b - -")), "a7a8n");
    EXPECT_EQ(promoting.moveTo(fen("Q7/7k/8/8/8/8/8/K7 b - -")), "a7a8q");
    EXPECT_FALSE(Board::start().moveTo(play(Board::start(), {"e2e4", "e7e5"}))) << "two moves, not one";
    EXPECT_FALSE(Board::start().after("e7e5")) << "not White's piece";

    // The same move as GUIs and devices spell it.
    Board castles = fen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
    EXPECT_EQ(castles.spelled("e1h1"), "e1g1");
    EXPECT_EQ(castles.spelled("e1a1"), "e1c1");
    EXPECT_TRUE(castles.after("e1h1")->samePosition(fen("r3k2r/8/8/8/8/8/8/R4RK1 b kq -")));
    EXPECT_EQ(promoting.spelled("a7a8Q"), "a7a8q");
    EXPECT_EQ(promoting.spelled("a7a8"), "a7a8q") << "the device promotes only to a queen";
    EXPECT_EQ(Board::start().spelled("e2e4"), "e2e4");
}

TEST(UciBoard, MalformedFensAreRefused) {
    for (const char* bad : {"", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x",
                            "rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w", "rnbqkbnr/ppppXppp/8/8/8/8/PPPPPPPP/RNBQKBNR w",
                            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkx -",
                            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq e9"})
        EXPECT_FALSE(Board::fromFen(bad)) << bad;
    EXPECT_TRUE(Board::fromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w")) << "counters and rights may be left out";
}

TEST(UciClock, GoFiguresBecomeTheLevelOfTheDevicesSide) {
    EXPECT_EQ(uci::levelFor("wtime 299000 btime 300000 winc 10000 binc 5000", true), "level 0 4:59 10");
    EXPECT_EQ(uci::levelFor("wtime 299000 btime 300000 winc 10000 binc 5000", false), "level 0 5:00 5");
    EXPECT_EQ(uci::levelFor("wtime 600000 btime 600000 movestogo 40", false), "level 40 10:00 0");
    EXPECT_EQ(uci::levelFor("movetime 2500", true), "level 40 2:00 0");  // 3 s a move
    EXPECT_EQ(uci::levelFor("movetime 100 wtime 60000", true), "level 40 0:40 0");
    // gnome-chess's own figures, then those its engines.conf adds.
    EXPECT_EQ(uci::levelFor("wtime 30000 btime 30000 wtime 300000 btime 300000 winc 5000 binc 5000", true),
              "level 0 5:00 5");
    // Figures no clock reaches, or past any number, saturate.
    EXPECT_EQ(uci::levelFor("movetime 9223372036854775000", true), "level 40 57600:00 0");
    EXPECT_EQ(uci::levelFor("movetime 99999999999999999999999", true), "level 40 57600:00 0");
    EXPECT_EQ(uci::levelFor("wtime -5000 winc -99999999999999999999 movestogo 9223372036854775807", true),
              "level 1000 0:01 0");
    for (const char* noClock : {"", "depth 5", "nodes 1000", "mate 3", "infinite", "wtime x", "wtime +5"})
        EXPECT_EQ(uci::levelFor(noClock, true), "level") << noClock;
}

// python-chess: ucinewgame, then the game from the start with its moves.
TEST(UciProtocol, PythonChessPlaysTheDeviceAsBlack) {
    Gui gui;
    gui.replies({{"1. ... e7e5"}, {"2. ... b8c6"}});
    gui.send({"uci", "isready", "ucinewgame", "isready", "position startpos moves e2e4"});
    EXPECT_EQ(gui.send({"go wtime 60000 btime 60000 winc 1000 binc 1000"}), Lines{"bestmove e7e5"});
    gui.send({"position startpos moves e2e4 e7e5 g1f3"});
    EXPECT_EQ(gui.send({"go wtime 59000 btime 58000 winc 1000 binc 1000"}), Lines{"bestmove b8c6"});
    EXPECT_EQ(gui.core.lines, (Lines{"new", "level 0 1:00 1", "e2e4", "g1f3"}));
}

// ChessX asks for a search in every position; the device answers only its
// own turns, and a position it was asked about gets the same answer.
TEST(UciProtocol, SearchesTheDeviceCannotMakeAreRefusedWithoutAskingIt) {
    Gui gui;
    gui.replies({{"1. ... c7c5"}});
    gui.send({"position startpos moves e2e4"});
    EXPECT_EQ(gui.send({"go movetime 3000"}), Lines{"bestmove c7c5"});
    std::size_t asked = gui.core.lines.size();
    auto refused = [&gui](std::initializer_list<std::string_view> lines, std::string_view why) {
        Lines out = gui.send(lines);
        ASSERT_EQ(out.size(), 2u);
        EXPECT_NE(out[0].find(why), std::string::npos) << out[0];
        EXPECT_EQ(out[1], "bestmove 0000");
    };
    refused({"position startpos moves e2e4 c7c5", "go movetime 3000"}, "plays Black in its game, and here it is White");
    refused({"position startpos moves e2e4 c7c5 g1f3 d7d6 d2d4", "go"}, "cannot reach this position");
    refused({"position fen 4k3/8/8/8/8/8/8/4K2R w K - 0 1", "go"}, "cannot reach this position");  // not its game
    refused({"position startpos moves e2e4 c7c5 g1f3", "go infinite"}, "does not analyse");
    refused({"position fen 8/8/8/8", "go"}, "FEN could not be read");
    refused({"position startpos moves e2e4 c7c5 e2e4", "go"}, "e2e4 cannot be made");
    EXPECT_EQ(gui.core.lines.size(), asked);

    EXPECT_EQ(gui.send({"position startpos moves e2e4", "go movetime 3000"}), Lines{"bestmove c7c5"});

    Gui white;  // the position right after the device's first move as White is not a new game
    white.replies({{"1. ... e2e4"}, {"2. ... g1f3"}});
    white.send({"position startpos", "go movetime 3000", "position startpos moves e2e4"});
    EXPECT_EQ(white.send({"go movetime 3000"})[1], "bestmove 0000");
    EXPECT_EQ(white.send({"position startpos moves e2e4 e7e5", "go movetime 3000"}), Lines{"bestmove g1f3"});
    EXPECT_EQ(white.core.lines, (Lines{"new", "level 40 2:00 0", "white", "go", "e7e5"}));
    EXPECT_TRUE(gui.send({"go infinite"}).empty());
    EXPECT_EQ(gui.send({"stop"}), Lines{"bestmove c7c5"});
    EXPECT_TRUE(gui.send({"stop"}).empty());
    EXPECT_EQ(gui.core.lines.size(), asked);
}

TEST(UciProtocol, RefusalsAndTextFromTheDeviceAreTold) {
    Gui gui;
    gui.replies({{"1. ... e7e5"}, {"Illegal move"}, {"2. ... d8h4", "0-1"}});
    gui.send({"position startpos moves f2f3", "go"});
    gui.send({"position startpos moves f2f3 e7e5 g2g3"});
    EXPECT_EQ(gui.send({"go"}), (Lines{"info string The chess device refused g2g3 as an illegal move", "bestmove 0000"}));
    gui.send({"position startpos moves f2f3 e7e5 g2g4"});  // still the device's game after the refusal
    EXPECT_EQ(gui.send({"go"}), (Lines{"info string 0-1", "bestmove d8h4"}));
    EXPECT_EQ(gui.core.lines, (Lines{"new", "level", "f2f3", "g2g3", "g2g4"}));

    Gui promotion;
    promotion.replies({{"1. ... h7h6"}, {"2. ... h6h5"}, {"3. ... h5h4"}, {"4. ... h4h3"}});
    std::string moves = "position startpos moves";
    for (const char* pair : {" b2b4 h7h6", " b4b5 h6h5", " b5b6 h5h4", " b6a7 h4h3"}) {
        promotion.send({moves + std::string(pair, 5), "go"});
        moves += pair;
    }
    Lines out = promotion.send({moves + " a7b8n", "go"});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "info string The chess device promotes only to a queen");
    EXPECT_EQ(promotion.core.lines.back(), "b6a7");
}

// Moves are followed as moves, whichever way the GUI or the device spells them.
TEST(UciProtocol, MovesAreFollowedInEverySpelling) {
    Gui gui;
    gui.replies({{"1. ... h7h6"}, {"2. ... h6h5"}, {"3. ... h5h4"}, {"4. ... h4h3"}, {"5. ... h3g2"},
                 {"6. ... g2h1"}, {"7. ... h1g2"}});
    std::string moves = "position startpos moves";
    const char* played[] = {" g1f3 h7h6", " e2e4 h6h5", " f1c4 h5h4", " e1h1 h4h3", " d2d3 h3g2", " f1e1 g2h1q",
                            " e1e2 h1g2"};
    for (const char* pair : played) {
        std::string_view ours(pair, std::string_view(pair).rfind(' '));
        Lines out = gui.send({moves + std::string(ours), "go"});
        std::string theirs(std::string_view(pair).substr(ours.size() + 1));
        EXPECT_EQ(out, Lines{"bestmove " + theirs}) << pair;
        // The next position carries our moves as the GUI writes them.
        moves += std::string(ours) + " " + theirs;
    }
    EXPECT_EQ(gui.core.lines[5], "e1g1") << "castling as the king taking its rook";
    EXPECT_EQ(gui.core.lines.size(), 9u) << "every position was the device's game";

    // A search waiting for "stop" is answered once, however the GUI moves on.
    struct Case {
        const char* between;
        Lines told;
    };
    for (const Case& c : {Case{"ucinewgame", {"bestmove e2e4", "readyok"}},
                          Case{"position startpos", {"bestmove e2e4", "readyok"}},
                          Case{"stop", {"bestmove e2e4", "readyok"}},
                          Case{"go infinite", {"bestmove e2e4", "readyok", "bestmove e2e4"}}}) {
        Gui white;
        white.replies({{"1. ... e2e4"}});
        EXPECT_EQ(white.send({"position startpos", "go"}), Lines{"bestmove e2e4"});
        EXPECT_TRUE(white.send({"position startpos", "go infinite"}).empty());
        EXPECT_EQ(white.send({c.between, "isready", "stop"}), c.told) << c.between;
    }
}

}  // namespace
}  // namespace sorvanite::testing
