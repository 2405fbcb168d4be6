// Whole games relayed between the front end and a scripted device.
#include "e2e/bridge_fixture.h"

namespace sorvanite::e2e {
namespace {

TEST_F(BridgeTest, TypicalExchange) {
    RunResult run = this->run("new\nlevel 40 5 0\ntime 30000\ne2e4\n", {{"OK\r"}, {"e7e5\r"}});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, "Sorvanite\n1. ... e7e5\n");
    EXPECT_EQ(run.device, "NEW 300 7 b\rMOVE e2e4\r");
    EXPECT_EQ(run.transcript,
              "New session\r\n<== Sorvanite\r\n"
              "==> new\r\n==> level 40 5 0\r\n==> time 30000\r\n==> e2e4\r\n"
              " --> NEW 300 7 b\r\n <-- OK\r\n --> MOVE e2e4\r\n <-- e7e5\r\n<== 1. ... e7e5\r\n"
              "Session ends\r\n");
}

TEST_F(BridgeTest, DeviceAsBlackNumbersItsReplies) {
    RunResult run = this->run("new\nlevel 0 5 0\ntime 12000\ne2e4\ng1f3\nf1c4\nd2d3\nquit\n",
                              {{"OK\r"}, {"e7e5\r"}, {"b8c6 thinking\r"}, {"Illegal move\r"}, {"g8f6\r"}});
    EXPECT_EQ(run.device, "NEW 120 0 b\rMOVE e2e4\rMOVE g1f3\rMOVE f1c4\rMOVE d2d3\r");
    EXPECT_EQ(run.output, "Sorvanite\n1. ... e7e5\n2. ... b8c6\nthinking\nIllegal move\n3. ... g8f6\n");
}

TEST_F(BridgeTest, DeviceAsWhiteNumbersItsMoves) {
    RunResult run = this->run("new\nlevel 40 5 0\nwhite\ngo\ne7e5\nb8c6\ngo\ng8f6\nquit\n",
                              {{"e2e4\r"}, {"g1f3\r"}, {"f1c4\r"}, {"b1c3 1/2-1/2 {Draw}\r"}});
    EXPECT_EQ(run.device, "NEW 300 7 w\rMOVE e7e5\rMOVE b8c6\rMOVE g8f6\r");
    EXPECT_EQ(run.output, "Sorvanite\n1. ... e2e4\n2. ... g1f3\n3. ... f1c4\n4. ... b1c3\n1/2-1/2 {Draw}\n");
}

TEST_F(BridgeTest, NewGameStartsAgainOnTheDevice) {
    RunResult run = this->run("new\nlevel 40 5 0\ne2e4\nnew\nlevel 40 5 0\nwhite\ngo\nquit\n",
                              {{"OK\r"}, {"e7e5\r"}, {"d2d4\r"}});
    EXPECT_EQ(run.device, "NEW 300 7 b\rMOVE e2e4\rNEW 300 7 w\r");
    EXPECT_EQ(run.output, "Sorvanite\n1. ... e7e5\n1. ... d2d4\n");
}

TEST_F(BridgeTest, GoNeedsWhiteAndAFreshLevel) {
    // "new" leaves an earlier "level" standing; a NEW sent uses it up.
    RunResult run = this->run("new\nlevel 40 5 0\ngo\nwhite\ngo\nnew\nwhite\ngo\ngopher\nquit\n", {{"e2e4\r"}});
    EXPECT_EQ(run.device, "NEW 300 7 w\r");
    EXPECT_EQ(run.output, "Sorvanite\n1. ... e2e4\n");
}

TEST_F(BridgeTest, MovesRefusedByTheBridgeNeverReachTheDevice) {
    RunResult run = this->run("new\nlevel 40 5 0\ne2e4x\ne7e8n\ne2e4 \ne7e8q\ne7e8Q\nO-O\nquit\n",
                              {{"OK\r"}, {"e7e8 promoted\r"}, {"DONE\r"}});
    EXPECT_EQ(run.device, "NEW 300 7 b\rMOVE e7e8q\rMOVE e7e8Q\r");
    EXPECT_EQ(run.output, "Sorvanite\nIllegal move\nIllegal move\nIllegal move\npromoted\nDONE\n");
}

TEST_F(BridgeTest, DrawOfferPastMove80) {
    std::string input = "new\n";
    std::vector<Answer> answers;
    for (int i = 0; i < 81; ++i) {
        input += "e2e4\n";
        answers.push_back({"DONE\r"});
        if (i == 79) input += "draw\n";
    }
    RunResult run = this->run(input + "draw\nquit\n", answers);
    std::string expected = "Sorvanite\n";
    for (int i = 0; i < 81; ++i) expected += "DONE\n";
    EXPECT_EQ(run.output, expected + "computer offers a draw\n");
}

}  // namespace
}  // namespace sorvanite::e2e
