// How runs end on the real binary: termination signals at every stage, and
// standard streams that fail, do not block, or are not there at all.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "e2e/bridge_fixture.h"

namespace sorvanite::e2e {
namespace {

using namespace std::string_literals;

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The child's standard error goes to "stderr.txt" in its working directory:
// a front end reads our stderr as protocol, so nothing may ever reach it.
void stderrToFile() {
    int fd = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
}

class EndingTest : public BridgeTest {
protected:
    void TearDown() override {
        EXPECT_EQ(readFile(dir() / "stderr.txt"), "");
        BridgeTest::TearDown();
    }
    std::unique_ptr<ChildProcess> startQuiet(void (*prepare)() = stderrToFile) { return start(prepare); }
};

TEST_F(EndingTest, QuitThenSigtermAlwaysEndsTheTranscript) {
    if (underWine()) GTEST_SKIP() << "Windows has no termination signals";
    // XBoard sends "quit" and, a fraction of a millisecond later, SIGTERM.
    std::mt19937 random(12);
    for (int i = 0; i < 50; ++i) {
        auto bridge = startQuiet();
        ASSERT_TRUE(bridge->waitForOutput("Sorvanite\n"));
        bridge->send("quit\n");
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 101));
        bridge->signal(SIGTERM);
        ExitStatus status = bridge->finish({}, 2s);
        ASSERT_TRUE(status.exited) << "run " << i;
        ASSERT_EQ(status.code, 0) << "run " << i;
        ASSERT_TRUE(endsWith(transcript(), "<== Sorvanite\r\n==> quit\r\nSession ends\r\n")) << "run " << i;
    }
}

TEST_F(EndingTest, SigtermOrSighupWhileWaitingForTheFrontEnd) {
    if (underWine()) GTEST_SKIP() << "Windows has no termination signals";
    for (int signal : {SIGTERM, SIGHUP}) {
        auto bridge = startQuiet();
        bridge->send("new\nbogus\n");
        ASSERT_TRUE(bridge->waitForOutput("Sorvanite\n\n"));
        std::this_thread::sleep_for(50ms);
        bridge->signal(signal);
        ExitStatus status = bridge->finish({}, 2s);
        EXPECT_TRUE(status.exited);
        EXPECT_EQ(status.code, 0);
        EXPECT_TRUE(endsWith(transcript(), "<== Sorvanite\r\n==> new\r\n==> bogus\r\n<== \r\nSession ends\r\n"))
            << transcript();
    }
}

TEST_F(EndingTest, SigtermWhileTheDeviceThinks) {
    if (underWine()) GTEST_SKIP() << "Windows has no termination signals";
    auto bridge = startQuiet();
    bridge->send("e2e4\n");
    ASSERT_EQ(device.readCommand(), "MOVE e2e4\r");
    device.send("e7");
    bridge->send("result 1-0 {x}\nd2d4\nquit\n");
    std::this_thread::sleep_for(100ms);
    expectQuickOrderlyEndOnSigterm(*bridge);
    EXPECT_EQ(bridge->output(), "Sorvanite\n");  // half an answer is no move
    EXPECT_EQ(recordsAfterGreeting(transcript()),
              "==> e2e4\r\n --> MOVE e2e4\r\n <-- (err: 4)e7\n"
              "==> result 1-0 {x}\r\n==> d2d4\r\n==> quit\r\nSession ends\r\n");
    EXPECT_EQ(device.readAvailable(300ms), "");  // no MOVE d2d4, ever
}

TEST_F(EndingTest, SigtermDuringTheGameStartSendsNoMove) {
    if (underWine()) GTEST_SKIP() << "Windows has no termination signals";
    auto bridge = startQuiet();
    bridge->send("new\nlevel 40 5 0\ne2e4\n");
    ASSERT_EQ(device.readCommand(), "NEW 300 7 b\r");
    bridge->signal(SIGTERM);
    ExitStatus status = bridge->finish({}, 2s);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(recordsAfterGreeting(transcript()),
              "==> new\r\n==> level 40 5 0\r\n==> e2e4\r\n --> NEW 300 7 b\r\n <-- (err: 4)\nSession ends\r\n");
    EXPECT_EQ(device.readAvailable(300ms), "");
}

TEST_F(EndingTest, SigtermWhileTheDeviceHoldsUsOffWithXoff) {
    if (underWine()) GTEST_SKIP() << "Windows has no termination signals";
    auto bridge = startQuiet();
    ASSERT_TRUE(bridge->waitForOutput("Sorvanite\n"));
    // XOFF, and never an XON. Once the byte after it waits at the bridge's
    // side, the line has taken the XOFF.
    device.send("\x13z");
    ASSERT_TRUE(device.waitUntilPortHolds(1));
    bridge->send("e2e4\n");
    ASSERT_TRUE(waitForRecord(" --> MOVE e2e4\r\n"));
    EXPECT_EQ(device.readAvailable(100ms), "");
    bridge->signal(SIGTERM);
    ExitStatus status = bridge->finish({}, 5s);
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(endsWith(transcript(), "==> e2e4\r\n <-- z\n --> MOVE e2e4\r\n <-- (err: 4)\nSession ends\r\n"))
        << transcript();
}

TEST_F(EndingTest, StandardInputThatCannotBeRead) {
    auto directory = +[] {
        stderrToFile();
        int fd = ::open(".", O_RDONLY | O_DIRECTORY);
        ::dup2(fd, STDIN_FILENO);
    };
    auto closed = +[] {
        stderrToFile();
        ::close(STDIN_FILENO);
    };
    for (auto prepare : {directory, closed}) {
        device.send("quit\nbogus\n");  // bytes on the line must never be read as commands
        auto bridge = startQuiet(prepare);
        ExitStatus status = bridge->finish({}, 5s);
        EXPECT_TRUE(status.exited);
        EXPECT_EQ(status.code, 0);
        EXPECT_EQ(bridge->output(), "Sorvanite\n");
        EXPECT_TRUE(endsWith(transcript(), "New session\r\n<== Sorvanite\r\nSession ends\r\n")) << transcript();
    }
    EXPECT_EQ(device.readAvailable(100ms), "");
}

TEST_F(EndingTest, NonBlockingStandardInputIsWaitedOn) {
    if (underWine()) GTEST_SKIP() << "Windows has no non-blocking pipes";
    auto bridge = startQuiet(+[] {
        stderrToFile();
        ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    });
    ScriptedDevice scripted(device, {{"OK\r"}, {"e7e5\r"}});
    ASSERT_TRUE(bridge->waitForOutput("Sorvanite\n"));
    double before = cpuSeconds(bridge->pid());
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(cpuSeconds(bridge->pid()) - before, 0.05);
    ExitStatus status = bridge->finish("new\nlevel 40 5 0\ne2e4\nquit\n");
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(bridge->output(), "Sorvanite\n1. ... e7e5\n");
    EXPECT_EQ(scripted.finish(), "NEW 300 7 b\rMOVE e2e4\r");
}

TEST_F(EndingTest, NonBlockingStandardOutputLosesNothing) {
    if (underWine()) GTEST_SKIP() << "Windows has no non-blocking pipes";
    // The input comes from a file, so that nobody reads the output for the
    // first 500 ms while the bridge has 300,000 lines to deliver.
    std::string input;
    for (int i = 0; i < 300000; ++i) input += "bogus\n";
    input += "e2e4\nquit\n";
    {
        std::ofstream(dir() / "input.txt", std::ios::binary) << input;
    }
    ScriptedDevice scripted(device, {{"e7e5\r"}});
    auto bridge = startQuiet(+[] {
        stderrToFile();
        int fd = ::open("input.txt", O_RDONLY);
        ::dup2(fd, STDIN_FILENO);
        ::fcntl(STDOUT_FILENO, F_SETFL, ::fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
    });
    std::this_thread::sleep_for(500ms);
    ExitStatus status = bridge->finish({}, 120s);
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(bridge->output() == "Sorvanite\n" + std::string(300000, '\n') + "1. ... e7e5\n")
        << bridge->output().size() << " bytes of output";
    EXPECT_EQ(scripted.finish(), "MOVE e2e4\r");
}

TEST_F(EndingTest, ClosedStandardOutputSendsTheDeviceOnlyTheGame) {
    ScriptedDevice scripted(device, {{"OK\r"}, {"e7e5\r"}});
    auto bridge = startQuiet(+[] {
        stderrToFile();
        ::close(STDOUT_FILENO);
    });
    ExitStatus status = bridge->finish("new\nlevel 40 5 0\ne2e4\nbogus\nquit\n");
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(scripted.finish(), "NEW 300 7 b\rMOVE e2e4\r");
    EXPECT_EQ(recordsAfterGreeting(transcript()),
              "==> new\r\n==> level 40 5 0\r\n==> e2e4\r\n --> NEW 300 7 b\r\n <-- OK\r\n --> MOVE e2e4\r\n"
              " <-- e7e5\r\n<== 1. ... e7e5\r\n==> bogus\r\n<== \r\n==> quit\r\nSession ends\r\n");
}

}  // namespace
}  // namespace sorvanite::e2e
