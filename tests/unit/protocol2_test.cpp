#include <gtest/gtest.h>

#include <algorithm>

#include "cecp2/protocol2.h"
#include "unit/fake_core.h"
#include "unit/fake_port.h"

namespace sorvanite::testing {
namespace {

using Gui = GuiDriver<cecp2::Protocol2>;

TEST(Protocol2, HandshakeDeclaresWhatAStrictClientRequires) {
    Gui gui;
    Lines out = gui.send({"xboard", "protover 2"});
    ASSERT_EQ(out.size(), 2u);
    for (const char* feature : {"myname=\"Sorvanite chess device\"", " setboard=1", " usermove=1", " sigint=0",
                                " ping=1", " colors=0", " analyze=0", " pause=0", " nps=0", " variants=\"normal\""})
        EXPECT_NE(out[0].find(feature), std::string::npos) << feature;
    EXPECT_EQ(out[0].find("sigterm"), std::string::npos) << "a run ends in order on SIGTERM";
    EXPECT_EQ(out[1], "feature done=1");
    EXPECT_TRUE(gui.core.lines.empty());
}

// As python-chess's XBoard client plays: it rejects usermove, sends bare
// moves in force mode, its limits before each "go", and a ping after each move.
TEST(Protocol2, PythonChessPlaysBothColours) {
    Gui black;
    black.replies({{"1. ... e7e5"}, {"2. ... b8c6"}});
    black.send({"xboard", "protover 2", "rejected usermove", "new", "force", "e2e4", "st 0.5", "nopost", "easy"});
    EXPECT_EQ(black.send({"go", "ping 11"}), (Lines{"move e7e5", "pong 11"}));
    EXPECT_EQ(black.send({"force", "g1f3", "st 0.5", "nopost", "easy", "go"}), Lines{"move b8c6"});
    EXPECT_EQ(black.core.lines, (Lines{"new", "level 40 0:40 0", "e2e4", "g1f3"}));  // st 0.5: 1 s a move

    Gui white;
    white.replies({{"1. ... d2d4"}, {"2. ... c2c4"}});
    white.send({"xboard", "protover 2", "rejected usermove", "new", "force", "level 0 1:00 5", "time 6000", "otim 6000",
                "nopost", "easy"});
    EXPECT_EQ(white.send({"go"}), Lines{"move d2d4"});
    EXPECT_EQ(white.send({"force", "g8f6", "level 0 1:00 5", "time 5800", "otim 6100", "go"}), Lines{"move c2c4"});
    EXPECT_EQ(white.core.lines, (Lines{"new", "level 0 1:00 5", "time 6000", "white", "go", "g8f6"}));
}

TEST(Protocol2, LimitsTheDeviceCannotKeepAreRefusedOnceAndChangeNoClock) {
    Gui gui;
    gui.replies({{"1. ... e7e5"}});
    Lines out = gui.send({"new", "st 7", "sd 6", "sd 6", "nps 1", "st 20000", "level 40 5 0", "time 30000"});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], "Error (the device cannot limit its search depth): sd 6");
    EXPECT_TRUE(out[1].starts_with("tellusererror "));
    EXPECT_EQ(out[2], "Error (the device cannot play on a node count): nps 1");
    gui.send({"usermove e2e4"});
    // Node counts are never read as seconds: the clock is the one of "st 7".
    EXPECT_EQ(gui.core.lines, (Lines{"new", "level 40 4:40 0", "e2e4"}));
}

TEST(Protocol2, SetboardWithTheOpeningStartsAGameAndAnyOtherIsRefused) {
    Gui opening;
    opening.replies({{"1. ... e7e5"}});
    opening.send({"new", "force", "setboard rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e2e4"});
    EXPECT_EQ(opening.send({"go"}), Lines{"move e7e5"});

    Gui other;
    Lines out = other.send({"new", "force", "setboard 4k3/8/8/8/8/8/8/4K2R w K - 0 1"});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "Error (the device plays only from the opening position): setboard 4k3/8/8/8/8/8/8/4K2R w K - 0 1");
    EXPECT_TRUE(out[1].starts_with("tellusererror The chess device can play only from the opening position."));
    EXPECT_EQ(other.send({"go"}), Lines{"resign"}) << "asked to move, it gives the game up";
    EXPECT_TRUE(other.core.lines.empty());
}

TEST(Protocol2, InputThatIsNoMoveIsAnsweredAsSuch) {
    Gui gui;
    gui.send({"new", "level 40 5 0"});
    for (std::string_view line : {"usermove white", "usermove new", "usermove level 0 -5 0", "usermove garbage",
                                  "e2e4x", "e2e4 "}) {
        std::string_view move = line.starts_with("usermove ") ? line.substr(9) : line;
        EXPECT_EQ(gui.send({line}), Lines{"Illegal move: " + std::string(move)}) << line;
    }
    // The reason in words too: PyChess and Knights show nothing of "Illegal
    // move"; in a game under way the device gives it up, so no clock runs on.
    const std::string queenOnly = "tellusererror The chess device promotes only to a queen.";
    EXPECT_EQ(gui.send({"usermove e7e8n"}), (Lines{"Illegal move (the device promotes only to a queen): e7e8n", queenOnly}));
    EXPECT_EQ(gui.send({"e7e8R"}), (Lines{"Illegal move (the device promotes only to a queen): e7e8R", queenOnly}));
    EXPECT_TRUE(gui.core.lines.empty());
    gui.replies({{"1. ... e7e5"}});
    gui.send({"usermove e2e4"});
    EXPECT_EQ(gui.send({"usermove g7g8b"}),
              (Lines{"Illegal move (the device promotes only to a queen): g7g8b",
                     queenOnly + " It resigns this game; start a new game to play on.", "resign"}));
}

TEST(Protocol2, EditModeTakesOnlyEditLines) {
    Gui gui;
    gui.send({"new", "force", "edit", "#", "Pe4", "xd2"});
    EXPECT_EQ(gui.send({"ping 3"}), Lines{"pong 3"});
    gui.send({"quit"});
    EXPECT_TRUE(gui.protocol.quitRequested());
}

TEST(Protocol2, GnomeChessPlaysTheMoveInForceModeThenGo) {
    Gui gui;
    gui.replies({{"1. ... e7e5"}, {"2. ... g8f6"}});
    EXPECT_EQ(gui.send({"xboard", "protover 2", "random", "force", "usermove e2e4"}).size(), 2u);
    EXPECT_EQ(gui.send({"go"}), Lines{"move e7e5"});
    EXPECT_EQ(gui.send({"usermove g1f3"}), Lines{"move g8f6"});
    EXPECT_EQ(gui.core.lines, (Lines{"new", "level", "e2e4", "g1f3"}));
}

TEST(Protocol2, XBoardWithTheDeviceAsWhite) {
    Gui gui;
    gui.replies({{"1. ... e2e4"}, {"2. ... g1f3"}});
    gui.send({"xboard", "protover 2", "accepted usermove", "new", "random", "level 0 0:20 0", "post", "hard",
              "time 2000", "otim 2000"});
    EXPECT_EQ(gui.send({"go"}), Lines{"move e2e4"});
    EXPECT_EQ(gui.send({"time 1990", "otim 1980", "usermove e7e5"}), Lines{"move g1f3"});
    EXPECT_EQ(gui.core.lines, (Lines{"new", "level 0 0:20 0", "time 2000", "white", "go", "e7e5"}));
}

TEST(Protocol2, XBoardWithTheDeviceAsBlackAndAFreshGame) {
    Gui gui;
    gui.replies({{"1. ... c7c5"}, {"1. ... e7e5"}});
    gui.send({"new", "level 40 5 0"});
    EXPECT_EQ(gui.send({"usermove e2e4"}), Lines{"move c7c5"});
    gui.send({"result 1-0 {White resigns}", "new", "st 20"});
    EXPECT_EQ(gui.send({"usermove e2e4"}), Lines{"move e7e5"});
    EXPECT_EQ(gui.core.lines, (Lines{"new", "level 40 5 0", "e2e4", "new", "level 40 13:20 0", "e2e4"}));
}

TEST(Protocol2, PyChessBookSyncAndEditAreRefusedOnceThenResigned) {
    Gui edit;
    edit.send({"protover 2", "new", "level 40 3 0", "force"});
    Lines out = edit.send({"edit", "#", "Pe2", "Ke1", "c", "ke8", ".", "go"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], "Error (the device plays only from the opening position): edit");
    EXPECT_EQ(out[2], "resign");
    EXPECT_TRUE(edit.core.lines.empty());

    Gui book;
    book.send({"protover 2", "new", "level 40 3 0", "force", "usermove e2e4"});
    out = book.send({"usermove e7e5", "usermove g1f3", "go"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], "Error (the device cannot follow moves it has not answered): usermove e7e5");
    EXPECT_EQ(out[2], "resign");
    EXPECT_TRUE(book.core.lines.empty());
    // A new game is playable again.
    book.replies({{"1. ... d7d5"}});
    EXPECT_EQ(book.send({"new", "usermove d2d4"}), Lines{"move d7d5"});
}

TEST(Protocol2, KnightsAndDreamChessGiveNoClock) {
    Gui knights;  // no new, no level, no white
    knights.replies({{"1. ... e7e5"}});
    Lines out = knights.send({"xboard", "protover 2", "e2e4"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "move e7e5");
    EXPECT_EQ(knights.core.lines, (Lines{"new", "level", "e2e4"}));

    Gui dreamchess;
    dreamchess.replies({{"1. ... e7e5"}});
    dreamchess.send({"xboard", "new", "sd 1", "e2e4"});
    EXPECT_EQ(dreamchess.core.lines, (Lines{"new", "level", "e2e4"}));
}

TEST(Protocol2, PingIsAnsweredAfterWhatCameBefore) {
    Gui gui;
    gui.replies({{"1. ... e7e5"}});
    EXPECT_EQ(gui.send({"new", "usermove e2e4", "ping 7"}), (Lines{"move e7e5", "pong 7"}));
}

TEST(Protocol2, ResultsRefusalsAndDraws) {
    Gui gui;
    gui.replies({{"Illegal move"}, {"1. ... d8h4", "0-1 {Black mates}"}});
    gui.send({"new", "level 40 5 0"});
    EXPECT_EQ(gui.send({"usermove e2e5"}), Lines{"Illegal move: e2e5"});
    EXPECT_EQ(gui.send({"usermove g2g4"}), (Lines{"move d8h4", "0-1 {Black mates}"}));
    EXPECT_TRUE(gui.send({"usermove a2a3"}).empty()) << "the game is over";

    Gui mate;  // the user's mating move, acknowledged with the result
    mate.replies({{"1. ... e7e5"}, {"1-0 {White mates}"}});
    mate.send({"new", "usermove e2e4"});
    EXPECT_EQ(mate.send({"usermove d1h5"}), Lines{"1-0 {White mates}"});

    Gui white;  // the device's first move as White may end the game on its own line
    white.replies({{"1. ... e2e4 1-0 {White mates}"}});
    EXPECT_EQ(white.send({"new", "go"}), (Lines{"move e2e4", "1-0 {White mates}"}));

    Gui draw;
    draw.replies({{"1. ... e7e5"}, {"computer offers a draw"}, {"2. ... g8f6", "DONE and dusted"}});
    draw.send({"new", "usermove e2e4"});
    EXPECT_EQ(draw.send({"draw"}), Lines{"offer draw"});
    EXPECT_EQ(draw.send({"usermove g1f3"}), (Lines{"move g8f6", "telluser DONE and dusted"}));
}

TEST(Protocol2, TakeBacksPastTheDevicesMoveResignTheGame) {
    // XBoard's "remove", and gnome-chess's "undo", "force", "undo".
    for (Lines takeBack : {Lines{"remove"}, Lines{"undo", "force", "undo"}}) {
        Gui gui;
        gui.replies({{"1. ... e7e5"}, {"1. ... c7c5"}});
        gui.send({"new", "usermove e2e4"});
        Lines out;
        for (const std::string& line : takeBack) gui.send({line});
        out = Lines(gui.said.end() - 3, gui.said.end());
        EXPECT_EQ(out[0], "Error (the device cannot take moves back): " + takeBack[0]);
        EXPECT_EQ(out[1], "tellusererror The chess device cannot take moves back. It resigns this game; start a new "
                          "game to play on.");
        EXPECT_EQ(out[2], "resign");
        // Knights shows none of that and asks on: each time the answer again.
        Lines asked = gui.send({"usermove d2d4", "go"});
        EXPECT_TRUE(!asked.empty() && std::all_of(asked.begin(), asked.end(), [](auto& line) { return line == "resign"; }))
            << "the game is over, and the go is answered";
        EXPECT_EQ(gui.send({"new", "usermove e2e4"}), Lines{"move c7c5"}) << "the next game starts afresh";
        EXPECT_EQ(gui.core.lines, (Lines{"new", "level", "e2e4", "new", "level", "e2e4"}));
    }

    Gui pending;  // a move the device has not seen yet can be taken back
    pending.replies({{"1. ... c7c5"}});
    pending.send({"new", "force", "usermove e2e4"});
    EXPECT_TRUE(pending.send({"undo", "usermove d2d4"}).empty());
    EXPECT_EQ(pending.send({"go"}), Lines{"move c7c5"});
    EXPECT_EQ(pending.core.lines, (Lines{"new", "level", "d2d4"}));
}

TEST(Protocol2, TheBridgesOwnCoreRecordsOnlyTheDeviceExchange) {
    FakePort port;
    port.reply("OK\r").reply("e7e5\r");
    std::string records;
    Transcript transcript = memoryTranscript(records);
    CoreSession core(port, transcript);
    cecp2::Protocol2 protocol(core);
    Lines out;
    for (std::string_view line : {"xboard", "random", "force", "usermove e2e4", "go", "quit"})
        for (std::string& reply : protocol.handle(line)) out.push_back(reply);
    transcript.close();
    EXPECT_EQ(out, Lines{"move e7e5"});
    EXPECT_TRUE(protocol.quitRequested());
    EXPECT_EQ(port.written(), "NEW 120 12 b\rMOVE e2e4\r");
    EXPECT_EQ(records, "New session\r\n --> NEW 120 12 b\r\n <-- OK\r\n --> MOVE e2e4\r\n <-- e7e5\r\nSession ends\r\n");
}

}  // namespace
}  // namespace sorvanite::testing
