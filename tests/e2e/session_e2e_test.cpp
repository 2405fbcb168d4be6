// The front end's side of the bridge, on the real binary.
#include <signal.h>

#include "e2e/bridge_fixture.h"

namespace sorvanite::e2e {
namespace {

using namespace std::string_literals;

TEST_F(BridgeTest, NoInputGreetsAndEnds) {
    RunResult run = this->run("");
    EXPECT_TRUE(run.status.exited);
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, "Sorvanite\n");
    EXPECT_EQ(run.transcript, "New session\r\n<== Sorvanite\r\nSession ends\r\n");
    EXPECT_EQ(run.device, "");
}

TEST_F(BridgeTest, TranscriptGrowsAcrossRuns) {
    this->run("bogus\n");
    RunResult second = this->run("quit\n");
    EXPECT_EQ(second.transcript,
              "New session\r\n<== Sorvanite\r\n==> bogus\r\n<== \r\nSession ends\r\n"
              "New session\r\n<== Sorvanite\r\n==> quit\r\nSession ends\r\n");
}

// Two programs started in one folder (a GUI's match of the device against
// itself) both record every run, each record whole.
TEST_F(BridgeTest, TwoProgramsInOneFolderBothRecordEveryRun) {
    PtyDevice second;
    std::string port = second.portPath();
    if (underWine()) {
        port = "COM7";
        std::filesystem::create_symlink(second.portPath(), portLinkPath(dir()).parent_path() / "com7");
    }
    ScriptedDevice answersFirst(device, {{"e7e5\r"}, {"d7d5\r"}});
    ScriptedDevice answersSecond(second, {{"c7c5\r"}, {"g8f6\r"}});
    auto first = start();
    auto other = start(nullptr, {"--port", port});
    for (const char* move : {"e2e4\n", "d2d4\n"}) {
        first->send(move);
        other->send(move);
        ASSERT_TRUE(first->waitForOutput(move[0] == 'e' ? "1. ... e7e5\n" : "2. ... d7d5\n")) << first->output();
        ASSERT_TRUE(other->waitForOutput(move[0] == 'e' ? "1. ... c7c5\n" : "2. ... g8f6\n")) << other->output();
    }
    EXPECT_EQ(first->finish("quit\n").code, 0);
    EXPECT_EQ(other->finish("quit\n").code, 0);
    if (underWine()) std::filesystem::remove(portLinkPath(dir()).parent_path() / "com7");
    std::string records = transcript();
    auto count = [&records](const std::string& record) {
        std::size_t found = 0;
        for (std::size_t at = records.find(record); at != std::string::npos; at = records.find(record, at + 1)) ++found;
        return found;
    };
    EXPECT_EQ(count("New session\r\n"), 2u) << records;
    EXPECT_EQ(count("Session ends\r\n"), 2u) << records;
    for (const char* answer : {"\r\n <-- e7e5\r\n", "\r\n <-- d7d5\r\n", "\r\n <-- c7c5\r\n", "\r\n <-- g8f6\r\n"})
        EXPECT_EQ(count(answer), 1u) << answer << records;
    EXPECT_EQ(count("\r\n"), 2u * 12) << records;  // twelve whole records a run
}

TEST_F(BridgeTest, FrontEndLineRules) {
    std::string longLine = "name " + std::string(400, 'n');
    RunResult run = this->run("new\r\nlevel 40 5 0\r\nQuit\nbo\0gus\nbogus\r\r\n"s + longLine +
                              "bogus\nwhite\rgo\n\x1a\nbogus\nquit\nbogus\n");
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, "Sorvanite\n\n\n");
    EXPECT_EQ(recordsAfterGreeting(run.transcript),
              "==> new\r\n==> level 40 5 0\r\n==> Quit\r\n==> bo\r\n==> bogus\r\r\n<== \r\n==> " +
                  longLine.substr(0, 255) + "\r\n==> white\rgo\r\n==> \x1a\r\n==> bogus\r\n<== \r\n==> quit\r\nSession ends\r\n");
    EXPECT_EQ(run.device, "");
}

TEST_F(BridgeTest, LastLineWithoutLineEnd) {
    RunResult bogus = this->run("bogus");
    EXPECT_EQ(bogus.output, "Sorvanite\n\n");
    EXPECT_EQ(bogus.status.code, 0);
    RunResult quit = this->run("quit");
    EXPECT_EQ(recordsAfterGreeting(quit.transcript).substr(recordsAfterGreeting(bogus.transcript).size()),
              "New session\r\n<== Sorvanite\r\n==> quit\r\nSession ends\r\n");
}

TEST_F(BridgeTest, UnopenableTranscriptStillPlays) {
    std::filesystem::create_directory(dir() / "zormlog.txt");
    RunResult run = this->run("new\nlevel 40 5 0\ne2e4\nquit\n", {{"OK\r"}, {"e7e5\r"}});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, "Sorvanite\n1. ... e7e5\n");
    EXPECT_EQ(run.device, "NEW 300 7 b\rMOVE e2e4\r");
}

TEST_F(BridgeTest, FailingTranscriptWritesDoNotStopPlay) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    std::filesystem::create_symlink("/dev/full", dir() / "zormlog.txt");
    RunResult run = this->run("e2e4\nbogus\n", {{"e7e5\r"}});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, "Sorvanite\n1. ... e7e5\n\n");
}

TEST_F(BridgeTest, FrontEndThatGoesAwayEndsTheRunAndFreesThePort) {
    if (underWine()) GTEST_SKIP() << "on Windows the bridge cannot watch its output while it reads the port";
    // The front end dies while the device thinks: its end of our output goes
    // (the input may live on in other hands). Both programs alike.
    for (bool cecp2 : {false, true}) {
        auto bridge = cecp2 ? startCecp2() : start();
        bridge->send(cecp2 ? "protover 2\nusermove e2e4\n" : "e2e4\n");
        ASSERT_EQ(device.readCommand(), cecp2 ? "NEW 120 12 b\r" : "MOVE e2e4\r");
        bridge->closeOutput();
        auto gone = std::chrono::steady_clock::now();
        ExitStatus status = bridge->finish({}, 5s);
        EXPECT_LT(std::chrono::steady_clock::now() - gone, 1s);
        EXPECT_TRUE(status.exited);
        EXPECT_EQ(status.code, 0);
        EXPECT_TRUE(transcript().ends_with(" <-- (err: 4)\nSession ends\r\n")) << transcript();
    }
    RunResult next = run("e2e4\nquit\n", {{"e7e5\r"}});
    EXPECT_EQ(next.status.code, 0);
    EXPECT_EQ(next.output, "Sorvanite\n1. ... e7e5\n");
}

TEST_F(BridgeTest, InterruptsFromAFrontEndAreSurvived) {
    if (underWine()) GTEST_SKIP() << "Windows front ends send a local engine no interrupts";
    ScriptedDevice scripted(device, {{"e7e5\r"}});
    auto bridge = start();
    ASSERT_TRUE(bridge->waitForOutput("Sorvanite\n"));
    for (int i = 0; i < 3; ++i) bridge->signal(SIGINT);
    bridge->send("e2e4\n");
    ASSERT_TRUE(bridge->waitForOutput("1. ... e7e5\n"));
    bridge->signal(SIGINT);
    ExitStatus status = bridge->finish("bogus\nquit\n");
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(bridge->output(), "Sorvanite\n1. ... e7e5\n\n");
    EXPECT_NE(transcript().find("Session ends\r\n"), std::string::npos);
}

}  // namespace
}  // namespace sorvanite::e2e
