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
        return run(input, std::move(answers), &Cecp2Test::startCecp2);
    }
};

const std::string kFeatures =
    "feature myname=\"Sorvanite chess device\" setboard=1 usermove=1 sigint=0 ping=1 colors=0 analyze=0 pause=0 "
    "playother=1 draw=1 reuse=1 nps=0 variants=\"normal\"\nfeature done=1\n";

TEST_F(Cecp2Test, GnomeChessForceMoveGo) {
    // As gnome-chess 43 sends it (seen in its session): no protover, the
    // person's move in force mode, then go.
    RunResult run = play("xboard\nrandom\nforce\ne2e4\ngo\ng1f3\nquit\n", {{"OK\r"}, {"c7c5\r"}, {"d7d6\r"}});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, "move c7c5\nmove d7d6\n");
    EXPECT_EQ(run.device, "NEW 120 12 b\rMOVE e2e4\rMOVE g1f3\r");
    // The GUI's side of the conversation around the device's.
    EXPECT_EQ(run.transcript,
              "New session\r\n==> xboard\r\n==> random\r\n==> force\r\n==> e2e4\r\n==> go\r\n"
              " --> NEW 120 12 b\r\n <-- OK\r\n --> MOVE e2e4\r\n <-- c7c5\r\n<== move c7c5\r\n==> g1f3\r\n"
              " --> MOVE g1f3\r\n <-- d7d6\r\n<== move d7d6\r\n==> quit\r\nSession ends\r\n");
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
                              "Error (the device cannot follow moves it has not answered): usermove e7e5\n"
                              "tellusererror The chess device answers its opponent's moves one at a time and cannot "
                              "follow moves entered for both sides. It cannot play this game; start a new game to "
                              "play on.\nresign\npong 1\nmove d7d5\npong 2\n");
    EXPECT_EQ(run.device, "NEW 180 4 b\rMOVE d2d4\r");
}

// What python-chess's XBoard client sends for a game (its engine.py): it
// rejects usermove, and before each of the engine's moves sends "force", the
// opponent's move, its limits, "nopost", "easy" and "go"; after each move it
// pings. Whole games to the device's mate, with a time per move as Black and
// a clock as White.
std::string pythonChessGame(bool deviceWhite, const std::vector<std::string>& opponentMoves, const std::string& limits) {
    std::string input = "xboard\nprotover 2\nrejected usermove\nnew\n";
    for (std::size_t turn = 0; turn <= opponentMoves.size(); ++turn) {
        if (!deviceWhite && turn == opponentMoves.size()) break;
        input += "force\n";
        if (deviceWhite ? turn > 0 : true) input += opponentMoves[deviceWhite ? turn - 1 : turn] + "\n";
        input += limits + "nopost\neasy\ngo\nping " + std::to_string(turn) + "\n";
    }
    return input + "quit\n";
}

TEST_F(Cecp2Test, PythonChessPlaysWholeGamesAsWhiteAndAsBlack) {
    RunResult black = play(pythonChessGame(false, {"f2f3", "a2a3", "b2b3", "h2h3", "g2g4"}, "st 0.5\n"),
                           {{"OK\r"}, {"e7e5\r"}, {"a7a6\r"}, {"b7b6\r"}, {"h7h6\r"}, {"d8h4 0-1 {Black mates}\r"}});
    EXPECT_EQ(black.status.code, 0);
    EXPECT_EQ(black.output, kFeatures + "move e7e5\npong 0\nmove a7a6\npong 1\nmove b7b6\npong 2\nmove h7h6\npong 3\n"
                                        "move d8h4\n0-1 {Black mates}\npong 4\n");
    EXPECT_EQ(black.device, "NEW 40 1 b\rMOVE f2f3\rMOVE a2a3\rMOVE b2b3\rMOVE h2h3\rMOVE g2g4\r");  // 0.5 s: 1 s

    RunResult white = play(pythonChessGame(true, {"a7a6", "a6a5", "h7h6", "h6h5"},
                                           "level 0 1:00 5\ntime 6000\notim 6000\n"),
                           {{"e2e4\r"}, {"f1c4\r"}, {"d1f3\r"}, {"d2d3\r"}, {"f3f7 1-0 {White mates}\r"}});
    EXPECT_EQ(white.output, kFeatures + "move e2e4\npong 0\nmove f1c4\npong 1\nmove d1f3\npong 2\nmove d2d3\npong 3\n"
                                        "move f3f7\n1-0 {White mates}\npong 4\n");
    EXPECT_EQ(white.device, "NEW 60 5 w\rMOVE a7a6\rMOVE a6a5\rMOVE h7h6\rMOVE h6h5\r");
    EXPECT_NE(white.transcript.find("==> time 6000\r\n==> otim 6000\r\n==> nopost\r\n==> easy\r\n==> go\r\n"
                                    " --> NEW 60 5 w\r\n <-- e2e4\r\n<== move e2e4\r\n==> ping 0\r\n<== pong 0\r\n"),
              std::string::npos)
        << white.transcript;
}

TEST_F(Cecp2Test, EboardWithItsDefaultClockAndDreamChessWithNone) {
    // eboard's default is a fixed time per move; DreamChess sends a depth only.
    RunResult eboard = play("xboard\nprotover 2\nnew\nst 20\npost\ne2e4\nquit\n", {{"OK\r"}, {"e7e5\r"}});
    EXPECT_EQ(eboard.output, kFeatures + "move e7e5\n");
    EXPECT_EQ(eboard.device, "NEW 800 20 b\rMOVE e2e4\r");
    RunResult dreamchess = play("xboard\nnew\nsd 1\ne2e4\nquit\n", {{"OK\r"}, {"e7e5\r"}});
    EXPECT_EQ(dreamchess.output,
              "Error (the device cannot limit its search depth): sd 1\n"
              "tellusererror The chess device cannot limit its search depth; it plays on its clock.\nmove e7e5\n");
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
