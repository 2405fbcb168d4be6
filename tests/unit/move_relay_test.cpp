#include <gtest/gtest.h>

#include <vector>

#include "session/move_relay.h"
#include "unit/session_harness.h"

namespace sorvanite::testing {
namespace {

using Commands = std::vector<std::string>;

// The front-end lines after the greeting.
std::string replies(const LoopRun& loop) { return loop.output.substr(std::string("Sorvanite\n").size()); }

TEST(GameStart, DeviceAsBlackStartsOnTheFirstMove) {
    LoopRun loop;
    loop.port.reply("OK\re7e5\r");
    loop.run("new\nlevel 40 5 0\ntime 30000\ne2e4\n");
    EXPECT_EQ(loop.port.commands(), (Commands{"NEW 300 7 b\r", "MOVE e2e4\r"}));
    EXPECT_EQ(replies(loop), "1. ... e7e5\n");
    EXPECT_EQ(loop.transcript,
              "New session\r\n<== Sorvanite\r\n==> new\r\n==> level 40 5 0\r\n==> time 30000\r\n==> e2e4\r\n"
              " --> NEW 300 7 b\r\n <-- OK\r\n --> MOVE e2e4\r\n <-- e7e5\r\n<== 1. ... e7e5\r\nSession ends\r\n");
}

TEST(GameStart, DeviceAsWhiteStartsOnGo) {
    LoopRun loop;
    loop.port.reply("e2e4\rg1f3\r");
    loop.run("new\nlevel 0 2 12\nwhite\ngo\ne7e5\ngo\n");
    EXPECT_EQ(loop.port.commands(), (Commands{"NEW 120 12 w\r", "MOVE e7e5\r"}));
    EXPECT_EQ(replies(loop), "1. ... e2e4\n2. ... g1f3\n");
}

TEST(GameStart, ClockFiguresFollowLevelAndTime) {
    auto firstCommand = [](const std::string& setup) {
        LoopRun loop;
        loop.port.reply("OK\r");
        loop.run("new\n" + setup + "e2e4\n");
        return loop.port.commands().at(0);
    };
    EXPECT_EQ(firstCommand("level\n"), "NEW 120 12 b\r");
    // A base time in minutes:seconds.
    EXPECT_EQ(firstCommand("level 40 0:30 0\n"), "NEW 30 0 b\r");
    EXPECT_EQ(firstCommand("level 0 0:20 0\ntime 2000\n"), "NEW 20 0 b\r");
    EXPECT_EQ(firstCommand("level 0 2:30 5\n"), "NEW 150 5 b\r");
    EXPECT_EQ(firstCommand("level 0 -1:30 5\n"), "NEW -90 5 b\r");
    EXPECT_EQ(firstCommand("level 0 -0:30 5\n"), "NEW -30 5 b\r");
    EXPECT_EQ(firstCommand("level 0 1:5:7 9\n"), "NEW 65 12 b\r");   // the scan stops at the second ':'
    EXPECT_EQ(firstCommand("level 0 3: 9\n"), "NEW 180 12 b\r");     // ':' without digits stops it too
    EXPECT_EQ(firstCommand("level 0 0:99999999999 1\n"), "NEW 2147483647 1 b\r");
    EXPECT_EQ(firstCommand("level 7 5 9\n"), "NEW 300 42 b\r");
    EXPECT_EQ(firstCommand("level 0 99999999 0\n"), "NEW 2147483647 0 b\r");
    EXPECT_EQ(firstCommand("level 40 5 0\ntime 99999999999\n"), "NEW 21474836 7 b\r");
    EXPECT_EQ(firstCommand("level 40 5 0\ntimeout 5\ntime\n"), "NEW 300 7 b\r");
    EXPECT_EQ(firstCommand("level 40 5 0\ntime -250\n"), "NEW -2 7 b\r");
    EXPECT_EQ(firstCommand("level -1 -99999999 -99999999\n"), "NEW -2147483648 -99999999 b\r");
}

TEST(GameStart, NeedsBothNewAndLevel) {
    LoopRun noLevel;
    noLevel.port.reply("e7e5\r");
    noLevel.run("new\nwhite\ngo\nnew\ne2e4\n");
    EXPECT_EQ(noLevel.port.commands(), (Commands{"MOVE e2e4\r"}));

    LoopRun goWithoutWhite;
    goWithoutWhite.run("new\nlevel 40 5 0\ngo\ngopher\n");
    EXPECT_EQ(goWithoutWhite.port.written(), "");
    EXPECT_EQ(replies(goWithoutWhite), "");

    // A "level" arriving late still starts the pending game, mid-game.
    LoopRun lateLevel;
    lateLevel.port.reply("e7e5\rOK\rd7d5\r");
    lateLevel.run("new\ne2e4\nlevel 40 5 0\nd2d4\n");
    EXPECT_EQ(lateLevel.port.commands(), (Commands{"MOVE e2e4\r", "NEW 300 7 b\r", "MOVE d2d4\r"}));
    EXPECT_EQ(replies(lateLevel), "1. ... e7e5\n2. ... d7d5\n");
}

TEST(GameStart, RefusedFirstMoveStillStartsTheGame) {
    LoopRun loop;
    loop.port.reply("OK\re7e5\r");
    loop.run("new\nlevel 40 5 0\ne2e4x\ne2e4\n");
    EXPECT_EQ(loop.port.commands(), (Commands{"NEW 300 7 b\r", "MOVE e2e4\r"}));
    EXPECT_EQ(replies(loop), "Illegal move\n1. ... e7e5\n");
}

TEST(MoveText, PromotionsToQueenAreRelayedAsTyped) {
    LoopRun loop;
    loop.port.reply("DONE\rDONE\r");
    loop.run("e7e8q\ne7e8Q\n");
    EXPECT_EQ(loop.port.commands(), (Commands{"MOVE e7e8q\r", "MOVE e7e8Q\r"}));
}

TEST(MoveText, OtherMoveShapedLinesAreRefusedLocally) {
    LoopRun loop;
    loop.run("e7e8n\ne2e4x\ne2e4 \ne2e4e2e4\n");
    EXPECT_EQ(loop.port.written(), "");
    EXPECT_EQ(replies(loop), "Illegal move\nIllegal move\nIllegal move\nIllegal move\n");
}

struct AnswerCase {
    const char* answer;     // what the device sends, CR included
    const char* expected;   // what the front end receives
    int movesCounted;       // moveNumber afterwards, seen through a second reply
};

void PrintTo(const AnswerCase& c, std::ostream* out) { *out << ::testing::PrintToString(std::string(c.answer)); }

class MoveAnswer : public ::testing::TestWithParam<AnswerCase> {};

// Plays "new", the move e2e4 with the given answer, then d2d4 answered by a
// plain reply move whose number shows how far the counter moved.
TEST_P(MoveAnswer, IsClassifiedAndNumbered) {
    const AnswerCase& c = GetParam();
    LoopRun loop;
    loop.port.reply(c.answer).reply("c7c5\r");
    loop.run("new\ne2e4\nd2d4\n");
    EXPECT_EQ(replies(loop), std::string(c.expected) + std::to_string(c.movesCounted + 1) + ". ... c7c5\n");
}

INSTANTIATE_TEST_SUITE_P(
    DeviceAsBlack, MoveAnswer,
    ::testing::Values(AnswerCase{"e7e5\r", "1. ... e7e5\n", 1},
                      AnswerCase{"Illegal move\r", "Illegal move\n", 0},
                      AnswerCase{"Illegal move e2e5\r", "Illegal move e2e5\n", 0},
                      AnswerCase{"Illegal movement\r", "Illegal movement\n", 0},
                      AnswerCase{"illegal move\r", "1. ... illegal\nmove\n", 1},
                      AnswerCase{"e2e4\r", "e2e4\n", 1},
                      AnswerCase{"e2e4 1-0 {White mates}\r", "1-0 {White mates}\n", 1},
                      AnswerCase{"e2e4 \r", "\n", 1},
                      AnswerCase{"DONE\r", "DONE\n", 1},
                      AnswerCase{"DONE a b\r", "a b\n", 1},
                      AnswerCase{"d8h4 0-1 {Black mates}\r", "1. ... d8h4\n0-1 {Black mates}\n", 1},
                      AnswerCase{"e7e5 \r", "1. ... e7e5\n\n", 1},
                      AnswerCase{"\r", "1. ... \n", 1},
                      AnswerCase{"e2e\r", "1. ... e2e\n", 1},
                      AnswerCase{"\ne7e5\r", "1. ... \ne7e5\n", 1}));

TEST(MoveAnswer, NulInAnAnswerEndsItsTextButNotItsRecord) {
    LoopRun loop;
    loop.port.reply(std::string("e7\0e5 x\r", 8));
    loop.run("e2e4\n");
    EXPECT_EQ(replies(loop), "1. ... e7\n");
    EXPECT_NE(loop.transcript.find(std::string(" <-- e7\0e5 x\r\n", 14)), std::string::npos);
}

TEST(MoveNumbers, DeviceAsWhiteCountsItsReplyBeforeShowingIt) {
    LoopRun loop;
    loop.port.reply("e2e4\rg1f3\rf1c4 text here\r");
    loop.run("new\nlevel 40 5 0\nwhite\ngo\ne7e5\nb8c6\n");
    EXPECT_EQ(replies(loop), "1. ... e2e4\n2. ... g1f3\n3. ... f1c4\ntext here\n");
}

TEST(MoveNumbers, AcknowledgementsCountOneMoveEach) {
    LoopRun loop;
    loop.port.reply("OK\rDONE\re2e4\rg8f6\r");
    loop.run("new\nlevel 40 5 0\ne2e4\ne2e4\nd2d4\n");
    EXPECT_EQ(replies(loop), "DONE\ne2e4\n3. ... g8f6\n");
}

TEST(DeviceLine, AHangUpIsToldOnceAndEndsTheRun) {
    struct Case {
        const char* device;  // what arrives before the line fails
        const char* input;
        std::size_t commands;
    };
    for (Case c : {Case{"OK\re7", "new\nlevel 40 5 0\ne2e4\nd2d4\nquit\n", 2},  // mid-answer
                   Case{"e2", "new\nlevel 40 5 0\nwhite\ngo\ne7e5\n", 1},      // the first move as White
                   Case{"", "new\nlevel 40 5 0\ne2e4\nd2d4\n", 1}}) {          // the game start as Black
        LoopRun loop;
        loop.port.reply(c.device).failedRead(5);
        loop.run(c.input);
        EXPECT_EQ(loop.status, exitStatusForDeviceGone());
        EXPECT_EQ(replies(loop), std::string(kDeviceGoneNotice) + "\n");
        EXPECT_EQ(loop.port.commands().size(), c.commands) << c.input;
        EXPECT_TRUE(loop.transcript.ends_with(std::string("<== ") + kDeviceGoneNotice + "\r\nSession ends\r\n"))
            << loop.transcript;
    }
}

TEST(DeviceLine, AnInterruptedAnswerIsNotRelayed) {
    LoopRun loop;
    loop.port.reply("e7").interruptedRead();
    loop.run("e2e4\n");
    EXPECT_EQ(replies(loop), "");
    EXPECT_NE(loop.transcript.find(" <-- (err: 4)e7\n"), std::string::npos);
}

TEST(DeviceLine, ACrLfDeviceGivesCleanMoves) {
    LoopRun loop;
    loop.port.reply("OK\r").unasked("\n").reply("e7e5\r").unasked("\n").reply("g8f6\r");
    loop.run("new\nlevel 40 5 0\ne2e4\nd2d4\n");
    EXPECT_EQ(replies(loop), "1. ... e7e5\n2. ... g8f6\n");
    EXPECT_NE(loop.transcript.find(" <-- OK\r\n <-- \n\n --> MOVE e2e4\r\n"), std::string::npos);
}

}  // namespace
}  // namespace sorvanite::testing
