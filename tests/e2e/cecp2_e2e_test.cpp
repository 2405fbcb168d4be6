// sorvanite-cecp2 on the real binary, fed the command sequences that GUIs of
// the engine protocol's second version send.
#include <signal.h>

#include "e2e/bridge_fixture.h"

namespace sorvanite::e2e {
namespace {

class Cecp2Test : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        if (underWine() && !std::getenv("SORVANITE_E2E_WINE_CECP2")) GTEST_SKIP() << "no sorvanite-cecp2.exe";
    }

    // Runs one GUI session to its end.
    RunResult play(const std::string& input, std::vector<Answer> answers) {
        ScriptedDevice scripted(device, std::move(answers));
        auto engine = startCecp2();
        RunResult result;
        result.status = engine->finish(input);
        result.output = engine->output();
        result.device = scripted.finish();
        result.transcript = transcript();
        return result;
    }
};

const std::string kFeatures =
    "feature myname=\"Sorvanite chess device\" setboard=0 usermove=1 sigint=0 sigterm=0 ping=1 colors=0 analyze=0 "
    "pause=0 playother=1 draw=1 reuse=1 variants=\"normal\"\nfeature done=1\n";

TEST_F(Cecp2Test, GnomeChessForceMoveGo) {
    // As gnome-chess 43 sends it (seen in its session): no protover, the
    // person's move in force mode, then go.
    RunResult run = play("xboard\nrandom\nforce\ne2e4\ngo\ng1f3\nquit\n", {{"OK\r"}, {"c7c5\r"}, {"d7d6\r"}});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, "move c7c5\nmove d7d6\n");
    EXPECT_EQ(run.device, "NEW 120 12 b\rMOVE e2e4\rMOVE g1f3\r");
    EXPECT_EQ(run.transcript,
              "New session\r\n==> new\r\n==> level\r\n==> e2e4\r\n --> NEW 120 12 b\r\n <-- OK\r\n"
              " --> MOVE e2e4\r\n <-- c7c5\r\n<== 1. ... c7c5\r\n==> g1f3\r\n --> MOVE g1f3\r\n <-- d7d6\r\n"
              "<== 2. ... d7d6\r\n==> quit\r\nSession ends\r\n");
}

TEST_F(Cecp2Test, GnomeChessWithTheDeviceOpening) {
    RunResult run = play("xboard\nrandom\ngo\ng8f6\nquit\n", {{"d2d4\r"}, {"c2c4\r"}});
    EXPECT_EQ(run.output, "move d2d4\nmove c2c4\n");
    EXPECT_EQ(run.device, "NEW 120 12 w\rMOVE g8f6\r");
}

TEST_F(Cecp2Test, PyChessDetectionAndBookSync) {
    // PyChess 1.0.3's detection (seen), then a game whose book moves it syncs
    // in force mode: refused, and the next game plays.
    RunResult run = play(
        "xboard\nprotover 2\naccepted myname\naccepted setboard\naccepted usermove\naccepted sigint\n"
        "rejected sigterm\naccepted ping\naccepted colors\naccepted analyze\naccepted pause\nrejected playother\n"
        "accepted draw\nrejected reuse\naccepted variants\n"
        "new\nlevel 40 3 0\nforce\nusermove e2e4\nusermove e7e5\ngo\nping 1\n"
        "new\nlevel 40 3 0\nhard\nusermove d2d4\nping 2\nquit\n",
        {{"OK\r"}, {"d7d5\r"}});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, kFeatures +
                              "Error (the device cannot set up positions): usermove e7e5\npong 1\n"
                              "move d7d5\npong 2\n");
    EXPECT_EQ(run.device, "NEW 180 4 b\rMOVE d2d4\r");
}

TEST_F(Cecp2Test, EboardWithItsDefaultClockAndDreamChessWithNone) {
    // eboard's default is a fixed time per move; DreamChess sends a depth only.
    RunResult eboard = play("xboard\nprotover 2\nnew\nst 20\npost\ne2e4\nquit\n", {{"OK\r"}, {"e7e5\r"}});
    EXPECT_EQ(eboard.output, kFeatures + "move e7e5\n");
    EXPECT_EQ(eboard.device, "NEW 800 20 b\rMOVE e2e4\r");
    RunResult dreamchess = play("xboard\nnew\nsd 1\ne2e4\nquit\n", {{"OK\r"}, {"e7e5\r"}});
    EXPECT_EQ(dreamchess.output, "move e7e5\n");
    EXPECT_EQ(dreamchess.device, "NEW 120 12 b\rMOVE e2e4\r");
}

TEST_F(Cecp2Test, TaguaForceAndGoWithResults) {
    // The device's mating reply carries the result; the next game opens.
    RunResult run = play("xboard\nprotover 2\nforce\nusermove f2f3\ngo\nusermove g2g4\nresult 0-1 {Black mates}\n"
                         "new\nforce\ngo\nquit\n",
                         {{"OK\r"}, {"e7e5\r"}, {"d8h4 0-1 {Black mates}\r"}, {"e2e4\r"}});
    EXPECT_EQ(run.output, kFeatures + "move e7e5\nmove d8h4\n0-1 {Black mates}\nmove e2e4\n");
    EXPECT_EQ(run.device, "NEW 120 12 b\rMOVE f2f3\rMOVE g2g4\rNEW 120 12 w\r");
}

TEST_F(Cecp2Test, KnightsStartsTheNextEngineBeforeTheLastQuits) {
    if (underWine()) GTEST_SKIP() << "Wine does not enforce exclusive opens of a serial port";
    ScriptedDevice scripted(device, {{"OK\r"}, {"e7e5\r"}, {"OK\r"}, {"c7c5\r"}});
    auto first = startCecp2();
    first->send("xboard\nprotover 2\ne2e4\n");
    ASSERT_TRUE(first->waitForOutput("move e7e5\n"));
    // Knights' next game: a new engine while the old one still holds the port.
    auto second = startCecp2();
    second->send("xboard\nprotover 2\ne2e4\n");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(first->finish("quit\n").code, 0);
    ASSERT_TRUE(second->waitForOutput("move c7c5\n")) << second->output();
    EXPECT_EQ(second->finish("quit\n").code, 0);
    EXPECT_EQ(scripted.finish(), "NEW 120 12 b\rMOVE e2e4\rNEW 120 12 b\rMOVE e2e4\r");

    // One that never lets go: the newcomer gives up after 2 s, as the bridge would.
    auto holder = start();
    ASSERT_TRUE(holder->waitForOutput("Sorvanite\n"));
    auto started = std::chrono::steady_clock::now();
    ExitStatus refused = startCecp2()->finish({}, 10s);
    auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(refused.code, 16);
    EXPECT_GE(waited, 2s);
    EXPECT_LT(waited, 4s);
    EXPECT_EQ(holder->finish("quit\n").code, 0);
}

TEST_F(Cecp2Test, DeviceHangingUpIsToldOnceAndEndsTheRun) {
    if (underWine()) GTEST_SKIP() << "Wine's ReadFile spins on a hung-up pty instead of failing";
    RunResult run = play("xboard\nprotover 2\nnew\nusermove e2e4\nusermove d2d4\nquit\n", {{"OK\r"}, {"e7", true}});
    EXPECT_EQ(run.status.code, 5);
    EXPECT_EQ(run.output, kFeatures +
                              "tellusererror The chess device has gone: its serial line hung up or failed, so the "
                              "game cannot go on\n");
    EXPECT_EQ(run.device, "NEW 120 12 b\rMOVE e2e4\r");
    EXPECT_TRUE(run.transcript.ends_with(" <-- (err: 5)e7\n<== tellusererror The chess device has gone: its serial "
                                         "line hung up or failed, so the game cannot go on\r\nSession ends\r\n"))
        << run.transcript;
}

TEST_F(Cecp2Test, SigtermWhileTheDeviceThinksEndsInOrder) {
    if (underWine()) GTEST_SKIP() << "Windows has no termination signals";
    auto engine = startCecp2();
    engine->send("xboard\nprotover 2\nnew\nlevel 40 5 0\nusermove e2e4\n");
    ASSERT_EQ(device.readCommand(), "NEW 300 7 b\r");
    device.send("OK\r");
    ASSERT_EQ(device.readCommand(), "MOVE e2e4\r");
    engine->send("usermove d2d4\nquit\n");
    std::this_thread::sleep_for(100ms);
    engine->signal(SIGTERM);
    ExitStatus status = engine->finish({}, 2s);
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 0);
    std::string records = transcript();
    EXPECT_NE(records.find(" --> MOVE e2e4\r\n <-- (err: 4)\n==> "), std::string::npos) << records;
    EXPECT_EQ(engine->output().find("\nmove "), std::string::npos);
    EXPECT_TRUE(records.ends_with("==> quit\r\nSession ends\r\n")) << records;
    EXPECT_EQ(device.readAvailable(300ms), "");
}

}  // namespace
}  // namespace sorvanite::e2e
