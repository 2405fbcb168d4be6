// Fault drills on the real binary: a silent device, floods from either side,
// and garbage from the front end.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <cstring>
#include <regex>

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

// Whether `transcript` is made of whole records only, of the six kinds.
bool wholeRecordsOnly(const std::string& transcript) {
    static const std::regex record(
        "(New session\r\n|Session ends\r\n|==> [^\r\n]*\r\n|<== [^\r\n]*\r\n| --> [^\r\n]*\r\n| <-- [^\r\n]*\r?\n)*");
    return std::regex_match(transcript, record);
}

// A game long enough to fill a small disk: bogus lines of varying lengths,
// so that some record straddles the point where the space runs out, then a
// move to show that play goes on.
std::string longGame() {
    std::string input;
    for (int i = 0; i < 400; ++i) input += "bogus" + std::string(static_cast<std::size_t>(i % 23), 'x') + "\n";
    return input + "e2e4\nquit\n";
}

std::string longGameOutput() { return "Sorvanite\n" + std::string(400, '\n') + "1. ... e7e5\n"; }

TEST_F(BridgeTest, TranscriptThatIsAFifo) {
    if (underWine()) GTEST_SKIP() << "POSIX FIFOs";
    ASSERT_EQ(::mkfifo((dir() / "zormlog.txt").c_str(), 0600), 0);
    // Nobody reads it: the run goes unrecorded rather than hang.
    RunResult unread = this->run("e2e4\nquit\n", {{"e7e5\r"}});
    EXPECT_EQ(unread.status.code, 0);
    EXPECT_EQ(unread.output, "Sorvanite\n1. ... e7e5\n");
    // With a reader it is a transcript like any other.
    int reader = ::open((dir() / "zormlog.txt").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    RunResult read = this->run("bogus\nquit\n");
    EXPECT_EQ(read.status.code, 0);
    char buffer[256];
    ssize_t count = ::read(reader, buffer, sizeof buffer);
    ::close(reader);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0))),
              "New session\r\n<== Sorvanite\r\n==> bogus\r\n<== \r\n==> quit\r\nSession ends\r\n");

    // A reader that stops reading: the bridge waits for it, and SIGTERM
    // still ends the run at once.
    reader = ::open((dir() / "zormlog.txt").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    auto bridge = start();
    std::string lines;
    for (int i = 0; i < 8000; ++i) lines += "bogus\n";
    bridge->send(lines, 2s);  // more than the FIFO holds: the rest waits in our pipe
    int held = 0;
    for (int i = 0; i < 5000 && held < 60000; ++i, std::this_thread::sleep_for(1ms)) ::ioctl(reader, FIONREAD, &held);
    EXPECT_GE(held, 60000) << "the FIFO never filled";
    expectQuickOrderlyEndOnSigterm(*bridge);
    ::close(reader);
}

TEST_F(BridgeTest, FileSizeLimitLeavesWholeRecordsAndPlayGoesOn) {
    if (underWine()) GTEST_SKIP() << "POSIX resource limits";
    // A limit that the game's transcript crosses part-way, and one that an
    // earlier run's transcript is already past.
    for (std::size_t earlier : {std::size_t{0}, std::size_t{5000}}) {
        std::filesystem::remove(dir() / "zormlog.txt");
        std::ofstream(dir() / "zormlog.txt", std::ios::binary) << std::string(earlier, 'z');
        ScriptedDevice scripted(device, {{"e7e5\r"}});
        auto bridge = start(+[] {
            rlimit limit{3000, 3000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        ExitStatus status = bridge->finish(longGame());
        EXPECT_TRUE(status.exited) << "signal " << status.code;
        EXPECT_EQ(status.code, 0);
        EXPECT_EQ(bridge->output(), longGameOutput());
        EXPECT_EQ(scripted.finish(), "MOVE e2e4\r");
        std::string records = transcript().substr(earlier);
        EXPECT_TRUE(wholeRecordsOnly(records)) << records;
        if (earlier == 0) {
            EXPECT_GT(records.size(), 2900u);
        }
    }
}

TEST_F(BridgeTest, FullDiskLeavesWholeRecordsAndPlayGoesOn) {
    if (underWine()) GTEST_SKIP() << "POSIX mounts";
    std::filesystem::path small = dir() / "small";
    std::filesystem::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::filesystem::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};
    // Three of its four pages taken: the transcript gets the last one.
    std::ofstream(small / "filler", std::ios::binary) << std::string(3 * 4096, 'f');
    std::filesystem::create_symlink(small / "zormlog.txt", dir() / "zormlog.txt");

    RunResult run = this->run(longGame(), {{"e7e5\r"}});
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, longGameOutput());
    EXPECT_EQ(run.device, "MOVE e2e4\r");
    EXPECT_TRUE(wholeRecordsOnly(run.transcript)) << run.transcript;
    EXPECT_GT(run.transcript.size(), 3500u);
    EXPECT_LE(run.transcript.size(), 4096u);
}

}  // namespace
}  // namespace sorvanite::e2e
