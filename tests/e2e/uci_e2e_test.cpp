// sorvanite-uci on the real binary, fed what UCI GUIs send.
#include "e2e/bridge_fixture.h"

namespace sorvanite::e2e {
namespace {

const std::string kHandshake = "id name Sorvanite chess device\nid author The Sorvanite authors\nuciok\n";

class UciTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        if (underWine() && !std::getenv("SORVANITE_E2E_WINE_UCI")) GTEST_SKIP() << "no sorvanite-uci.exe";
    }

    // Runs one GUI session to its end.
    RunResult play(const std::string& input, std::vector<Answer> answers) {
        return run(input, std::move(answers), &UciTest::startUci);
    }

    // Plays the GUI's side as GUIs do: each turn once the last is answered
    // (a turn ending in "uci", "isready" or a "go" waits for its answer),
    // then "quit".
    RunResult converse(const std::vector<std::string>& turns, std::vector<Answer> answers) {
        ScriptedDevice scripted(device, std::move(answers));
        auto engine = startUci();
        for (const std::string& turn : turns) {
            std::size_t from = engine->output().size();
            engine->send(turn);
            std::string last = turn.substr(turn.rfind('\n', turn.size() - 2) + 1);
            const char* answer = last.starts_with("go")        ? "bestmove "
                                 : last.starts_with("isready") ? "readyok\n"
                                 : last.starts_with("uci\n")   ? "uciok\n"
                                                               : nullptr;
            if (answer) {
                EXPECT_TRUE(engine->waitForOutput(answer, 10s, from)) << turn;
            }
        }
        RunResult result;
        result.status = engine->finish("quit\n");
        result.output = engine->output();
        result.device = scripted.finish();
        result.transcript = transcript();
        return result;
    }
};

// UCI wants "isready" answered at once while the engine searches, and
// "stop" answered with the one bestmove of the search when it ends.
TEST_F(UciTest, IsreadyWhileTheDeviceThinksAndStopThenOneBestmove) {
    auto engine = startUci();
    engine->send("uci\n");
    ASSERT_TRUE(engine->waitForOutput("uciok\n"));
    // Sent with the search, before the session has even started it.
    engine->send("position startpos\ngo movetime 1000\nisready\n");
    ASSERT_EQ(device.readCommand(), "NEW 40 1 w\r");  // the device thinks, and does not answer yet
    ASSERT_TRUE(engine->waitForOutput("uciok\nreadyok\n"));
    auto asked = std::chrono::steady_clock::now();
    engine->send("isready\n");
    ASSERT_TRUE(engine->waitForOutput("readyok\nreadyok\n"));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 100ms);
    engine->send("stop\nisready\n");
    ASSERT_TRUE(engine->waitForOutput("readyok\nreadyok\nreadyok\n"));
    device.send("e2e4\r");
    ASSERT_TRUE(engine->waitForOutput("bestmove e2e4\n"));
    EXPECT_EQ(engine->finish("isready\nquit\n").code, 0);
    EXPECT_EQ(engine->output(), kHandshake + "readyok\nreadyok\nreadyok\nbestmove e2e4\nreadyok\n");
    // The readyok was sent, and recorded, while the device was thinking.
    std::string records = transcript();
    std::size_t answered = records.find("==> isready\r\n<== readyok\r\n");
    EXPECT_LT(answered, records.find(" <-- e2e4")) << records;
}

TEST_F(UciTest, QuitWhileTheDeviceThinksEndsTheRunAtOnce) {
    auto engine = startUci();
    engine->send("uci\nposition startpos moves e2e4\ngo wtime 300000 btime 300000 winc 2000 binc 2000\n");
    ASSERT_EQ(device.readCommand(), "NEW 300 2 b\r");
    device.send("OK\r");
    ASSERT_EQ(device.readCommand(), "MOVE e2e4\r");
    // A second search waits behind the first: it too gets its one answer.
    engine->send("go movetime 1000\n");
    ASSERT_TRUE(waitForRecord("==> go movetime 1000\r\n"));
    auto asked = std::chrono::steady_clock::now();
    ExitStatus status = engine->finish("quit\n");
    EXPECT_EQ(status.code, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    std::string records = transcript();
    EXPECT_LT(records.find("==> quit\r\n"), records.find(" <-- (err: ")) << "an interrupted wait, no answer";
    EXPECT_TRUE(records.ends_with("\n<== bestmove 0000\r\n<== bestmove 0000\r\nSession ends\r\n")) << records;
}

// Scid's serious game: a FEN for every move, "isready" between moves, no
// "ucinewgame"; a second game starts from the opening FEN alone.
TEST_F(UciTest, ScidOrderPlaysAndStartsTheNextGameWithoutUcinewgame) {
    const std::string go = "go wtime 299000 btime 299000 winc 10000 binc 10000\n";
    RunResult run = converse({"uci\nsetoption name Ponder value false\nisready\n",
                              "position fen rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1\n" + go,
                              "isready\n",
                              "position fen rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 2\n" + go,
                              "isready\n", "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1\n" + go,
                              "stop\n"},
                             {{"OK\r"}, {"e7e5\r"}, {"b8c6\r"}, {"d2d4\r"}});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, kHandshake + "readyok\nbestmove e7e5\nreadyok\nbestmove b8c6\nreadyok\nbestmove d2d4\n");
    EXPECT_EQ(run.device, "NEW 299 10 b\rMOVE e2e4\rMOVE g1f3\rNEW 299 10 w\r");
}

// ChessX's auto-respond asks for a search in every position, whoever is to
// move: only the device's own turns reach it.
TEST_F(UciTest, ChessXOrderAsksInEveryPositionAndOnlyTheDevicesTurnsPlay) {
    const std::string before = "setoption name MultiPV value 1\n";
    const std::string after = "setoption name UCI_AnalyseMode value false\ngo movetime 3000\n";
    RunResult run = converse({"uci\n", "isready\n", "stop\nucinewgame\nisready\n",
                              before + "position fen rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1\n" + after,
                              before + "position fen rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 2\n" + after,
                              before + "position fen rnbqkbnr/pp1ppppp/8/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 2\n" + after},
                             {{"OK\r"}, {"c7c5\r"}, {"d7d6\r"}});
    EXPECT_EQ(run.output, kHandshake + "readyok\nreadyok\nbestmove c7c5\n"
                                       "info string The chess device plays Black in its game, and here it is White to "
                                       "move\nbestmove 0000\nbestmove d7d6\n");
    EXPECT_EQ(run.device, "NEW 120 3 b\rMOVE e2e4\rMOVE g1f3\r");
}

TEST_F(UciTest, ADeviceThatHangsUpIsToldAndEndsTheRun) {
    if (underWine()) GTEST_SKIP() << "Wine does not report a hung-up pseudo-terminal";
    RunResult run = play("uci\nposition startpos\ngo\n", {{"", true}});
    EXPECT_EQ(run.status.code, 5);
    EXPECT_EQ(run.output, kHandshake +
                              "info string The chess device has gone: its serial line hung up or failed, so the game "
                              "cannot go on\nbestmove 0000\n");
    EXPECT_EQ(run.device, "NEW 120 12 w\r");
}

}  // namespace
}  // namespace sorvanite::e2e
