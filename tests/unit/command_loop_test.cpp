#include <gtest/gtest.h>

#include "session/user_config.h"
#include "unit/session_harness.h"

namespace sorvanite::testing {
namespace {

TEST(CommandLoop, GreetsAndEndsOnEmptyInput) {
    LoopRun loop;
    loop.run("");
    EXPECT_EQ(loop.output, "Sorvanite\n");
    EXPECT_EQ(loop.transcript, "New session\r\n<== Sorvanite\r\nSession ends\r\n");
}

TEST(CommandLoop, StopsReadingAtQuit) {
    LoopRun loop;
    loop.run("bogus\nquit\nbogus\n");
    EXPECT_EQ(loop.output, "Sorvanite\n\n");
    EXPECT_EQ(loop.transcript,
              "New session\r\n<== Sorvanite\r\n==> bogus\r\n<== \r\n==> quit\r\nSession ends\r\n");
}

TEST(CommandLoop, KeywordsAreCaseSensitivePrefixes) {
    LoopRun loop;
    loop.run("Quit\nBogus\nbogusly\nquitting\nbogus\n");
    // "Quit" is ignored, "bogusly" answers, "quitting" ends the run.
    EXPECT_EQ(loop.output, "Sorvanite\n\n");
}

TEST(CommandLoop, LineEnds) {
    LoopRun loop;
    loop.run("a\r\nb\rc\n\r\n\nlast");
    EXPECT_EQ(loop.transcript,
              "New session\r\n<== Sorvanite\r\n==> a\r\n==> b\rc\r\n==> \r\n==> \r\n==> last\r\n"
              "Session ends\r\n");
}

TEST(CommandLoop, LastLineWithoutLineEndIsActedOn) {
    LoopRun loop;
    loop.run("bogus");
    EXPECT_EQ(loop.output, "Sorvanite\n\n");
}

TEST(CommandLoop, NulEndsTheLine) {
    LoopRun loop;
    loop.run(std::string("bog\0us\nbogus\0xyz\n", 17));
    EXPECT_EQ(loop.transcript, "New session\r\n<== Sorvanite\r\n==> bog\r\n==> bogus\r\n<== \r\nSession ends\r\n");
    EXPECT_EQ(loop.output, "Sorvanite\n\n");
}

TEST(CommandLoop, LongLinesKeepTheirFirst255Characters) {
    std::string longLine = "bogus" + std::string(300, 'x');
    LoopRun loop;
    loop.run(longLine + "\r\nbogus\n");
    std::string kept = longLine.substr(0, 255);
    EXPECT_EQ(loop.transcript, "New session\r\n<== Sorvanite\r\n==> " + kept + "\r\n<== \r\n==> bogus\r\n<== \r\n" +
                                   "Session ends\r\n");
}

TEST(CommandLoop, TailOfALongLineIsNeverACommand) {
    LoopRun loop;
    loop.run(std::string(255, 'z') + "quit\nbogus\n");
    EXPECT_EQ(loop.output, "Sorvanite\n\n");
}

TEST(CommandLoop, CarriageReturnRuleAtTheLengthLimit) {
    LoopRun exact;
    exact.run(std::string(254, 'z') + "\r\n");
    EXPECT_NE(exact.transcript.find("==> " + std::string(254, 'z') + "\r\n"), std::string::npos);

    LoopRun over;
    over.run(std::string(255, 'z') + "\r\n");
    EXPECT_NE(over.transcript.find("==> " + std::string(255, 'z') + "\r\n"), std::string::npos);
}

TEST(CommandLoop, DrawIsAcceptedOnlyPastMove80) {
    // Each "DONE" acknowledgement counts one move.
    auto playMoves = [](int moves) {
        LoopRun loop;
        std::string input = "new\n";
        for (int i = 0; i < moves; ++i) {
            input += "e2e4\n";
            loop.port.reply("DONE\r");
        }
        loop.run(input + "draw\n");
        return loop.output;
    };
    std::string afterDone = "Sorvanite\n";
    for (int i = 0; i < 80; ++i) afterDone += "DONE\n";
    EXPECT_EQ(playMoves(80), afterDone);
    EXPECT_EQ(playMoves(81), afterDone + "DONE\ncomputer offers a draw\n");
}

TEST(CommandLoop, IgnoredLinesOnlyReachTheTranscript) {
    LoopRun loop;
    loop.run("xboard\nrating 2000 1800\nname Someone\nO-O\nforce\nh9h1\n\n");
    EXPECT_EQ(loop.output, "Sorvanite\n");
    EXPECT_TRUE(loop.port.written().empty());
}

}  // namespace
}  // namespace sorvanite::testing

namespace sorvanite::testing {
namespace {

TEST(UserConfig, ThePortLineIsReadAndReplacedAndEverythingElseKept) {
    EXPECT_EQ(parseUserConfig("# mine\n  port = /dev/ttyUSB0 \r\n").port, "/dev/ttyUSB0");
    EXPECT_EQ(parseUserConfig("port=COM3\nport=COM4\n").port, "COM4") << "the last one counts";
    for (const char* none : {"", "# port=COM3\n", "port=\n", "ports=COM3\n", "port COM3\n"})
        EXPECT_FALSE(parseUserConfig(none).port) << none;
    EXPECT_EQ(withPort("# mine\nport=COM3\nother=1\n", "rfc2217://pi:7217"),
              "# mine\nother=1\nport=rfc2217://pi:7217\n");
    EXPECT_EQ(withPort("", "COM4"), "port=COM4\n");
}

}  // namespace
}  // namespace sorvanite::testing
