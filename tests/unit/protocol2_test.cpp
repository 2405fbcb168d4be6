#include <gtest/gtest.h>

#include <deque>

#include "cecp2/core_session.h"
#include "cecp2/protocol2.h"
#include "unit/fake_port.h"

namespace sorvanite::testing {
namespace {

using Lines = std::vector<std::string>;

// A core that keeps every line it is sent and answers each move and "go"
// with the next scripted reply, as the bridge's core would format it.
class FakeCore final : public cecp2::Core {
public:
    Lines send(std::string_view line) override {
        lines.emplace_back(line);
        bool exchange = line == "go" || line == "draw" || (line.size() >= 4 && line[0] >= 'a' && line[0] <= 'h' &&
                                                           line[1] >= '1' && line[1] <= '8');
        if (!exchange || replies.empty()) return {};
        Lines reply = replies.front();
        replies.pop_front();
        return reply;
    }
    Lines lines;
    std::deque<Lines> replies;
};

struct Gui {
    FakeCore core;
    cecp2::Protocol2 protocol{core};
    Lines said;  // everything the GUI was told

    Gui& replies(std::initializer_list<Lines> replies) {
        core.replies.insert(core.replies.end(), replies);
        return *this;
    }
    Lines send(std::initializer_list<std::string_view> lines) {
        Lines out;
        for (std::string_view line : lines)
            for (std::string& reply : protocol.handle(line)) out.push_back(std::move(reply));
        said.insert(said.end(), out.begin(), out.end());
        return out;
    }
};

TEST(Protocol2, HandshakeDeclaresADeviceAndEndsWithDone) {
    Gui gui;
    Lines out = gui.send({"xboard", "protover 2"});
    ASSERT_EQ(out.size(), 2u);
    for (const char* feature : {"myname=\"Sorvanite chess device\"", " setboard=0", " usermove=1", " sigint=0",
                                " sigterm=0", " ping=1", " colors=0", " analyze=0", " pause=0", " variants=\"normal\""})
        EXPECT_NE(out[0].find(feature), std::string::npos) << feature;
    EXPECT_EQ(out[1], "feature done=1");
    EXPECT_TRUE(gui.core.lines.empty());
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

TEST(Protocol2, PyChessBookSyncAndEditAreRefusedOnce) {
    Gui edit;
    edit.send({"protover 2", "new", "level 40 3 0", "force"});
    EXPECT_EQ(edit.send({"edit", "#", "Pe2", "Ke1", "c", "ke8", ".", "go"}),
              Lines{"Error (the device cannot set up positions): edit"});
    EXPECT_TRUE(edit.core.lines.empty());

    Gui book;
    book.send({"protover 2", "new", "level 40 3 0", "force", "usermove e2e4"});
    EXPECT_EQ(book.send({"usermove e7e5", "usermove g1f3", "go"}),
              Lines{"Error (the device cannot set up positions): usermove e7e5"});
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

TEST(Protocol2, TakeBacksTheDeviceCannotFollow) {
    Gui gui;
    gui.replies({{"1. ... e7e5"}});
    gui.send({"new", "usermove e2e4"});
    EXPECT_EQ(gui.send({"remove"}), Lines{"Error (the device cannot set up positions): remove"});
    EXPECT_TRUE(gui.send({"usermove d2d4", "go"}).empty());
    EXPECT_EQ(gui.core.lines, (Lines{"new", "level", "e2e4"}));

    Gui pending;  // a move the device has not seen yet can be taken back
    pending.replies({{"1. ... c7c5"}});
    pending.send({"new", "force", "usermove e2e4"});
    EXPECT_TRUE(pending.send({"undo", "usermove d2d4"}).empty());
    EXPECT_EQ(pending.send({"go"}), Lines{"move c7c5"});
    EXPECT_EQ(pending.core.lines, (Lines{"new", "level", "d2d4"}));
}

TEST(Protocol2, TheBridgesOwnCoreRecordsItsOwnLines) {
    FakePort port;
    port.reply("OK\r").reply("e7e5\r");
    std::string records;
    Transcript transcript = memoryTranscript(records);
    cecp2::CoreSession core(port, transcript);
    cecp2::Protocol2 protocol(core);
    Lines out;
    for (std::string_view line : {"xboard", "random", "force", "usermove e2e4", "go", "quit"})
        for (std::string& reply : protocol.handle(line)) out.push_back(reply);
    transcript.close();
    EXPECT_EQ(out, Lines{"move e7e5"});
    EXPECT_TRUE(protocol.quitRequested());
    EXPECT_EQ(port.written(), "NEW 120 12 b\rMOVE e2e4\r");
    EXPECT_EQ(records,
              "New session\r\n==> new\r\n==> level\r\n==> e2e4\r\n --> NEW 120 12 b\r\n <-- OK\r\n"
              " --> MOVE e2e4\r\n <-- e7e5\r\n<== 1. ... e7e5\r\n==> quit\r\nSession ends\r\n");
}

}  // namespace
}  // namespace sorvanite::testing
