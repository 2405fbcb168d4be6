// Fault drills on the real binary: a silent device, floods from either side,
// and garbage from the front end.
#include <unistd.h>

#include <random>

#include "e2e/bridge_fixture.h"

namespace sorvanite::e2e {
namespace {

TEST_F(BridgeTest, WaitingCostsNoCpu) {
    auto bridge = start();
    ASSERT_TRUE(bridge->waitForOutput("Sorvanite\n"));

    double before = cpuSeconds(bridge->pid());
    std::this_thread::sleep_for(1s);  // waiting for the front end
    EXPECT_LT(cpuSeconds(bridge->pid()) - before, 0.05);

    bridge->send("e2e4\n");
    ASSERT_EQ(device.readCommand(), "MOVE e2e4\r");
    before = cpuSeconds(bridge->pid());
    std::this_thread::sleep_for(1s);  // waiting for a device that thinks
    EXPECT_LT(cpuSeconds(bridge->pid()) - before, 0.05);

    device.send("e7e5\r");
    ASSERT_TRUE(bridge->waitForOutput("1. ... e7e5\n"));
    EXPECT_EQ(bridge->finish("quit\n").code, 0);
}

TEST_F(BridgeTest, DeviceFloodWithoutCarriageReturn) {
    std::string flood(1 << 20, 'x');
    RunResult run = this->run("e2e4\nd2d4\n", {{flood + "\r"}, {"d7d5\r"}});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, "Sorvanite\n1. ... " + std::string(30, 'x') + "\n2. ... d7d5\n");
    EXPECT_NE(run.transcript.find(" <-- " + std::string(30, 'x') + "\r\n"), std::string::npos);
}

TEST_F(BridgeTest, FrontEndFloodAndGarbage) {
    std::string input = "bogus" + std::string(10 << 20, 'z') + "\n";
    std::mt19937 random(20261208);
    for (int i = 0; i < (64 << 10); ++i) input += static_cast<char>(random() % 256);
    input += "\nbogus";  // a last line without LF after it all

    std::vector<Answer> answers(4096, Answer{"DONE\r"});
    RunResult run = this->run(input, answers);
    EXPECT_TRUE(run.status.exited);
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.transcript.rfind("==> bogus\r\n<== \r\nSession ends\r\n"),
              run.transcript.size() - std::string("==> bogus\r\n<== \r\nSession ends\r\n").size());
    EXPECT_EQ(recordsAfterGreeting(run.transcript).substr(0, 4 + 255 + 2), "==> bogus" + std::string(250, 'z') + "\r\n");
}

}  // namespace
}  // namespace sorvanite::e2e
