// The bridge against the device emulator: real chess from stockfish, and the
// emulator's scripted fault drills.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "e2e/bridge_fixture.h"

namespace sorvanite::e2e {
namespace {

bool haveStockfish() {
    for (std::string dir : {"/usr/games", "/usr/bin", "/usr/local/bin"})
        if (::access((dir + "/stockfish").c_str(), X_OK) == 0) return true;
    return false;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

class EmulatorTest : public ScratchDirTest {
protected:
    void TearDown() override {
        if (emulator_) {
            emulator_->signal(SIGTERM);
            ExitStatus status = emulator_->finish();
            EXPECT_TRUE(status.exited);
            EXPECT_EQ(status.code, 0);
            EXPECT_FALSE(std::filesystem::is_symlink(portLinkPath(dir()))) << "the emulator left its link behind";
        }
        ScratchDirTest::TearDown();
    }

    // Starts the emulator on "com1" and waits until it serves.
    void startDevice(std::vector<std::string> args) {
        args.insert(args.begin(), {SORVANITE_E2E_EMULATOR, "--link", portLinkPath(dir()).string()});
        emulator_ = std::make_unique<ChildProcess>(args, dir().string());
        ASSERT_TRUE(emulator_->waitForOutput("serving")) << emulator_->output();
    }

    void startScriptedDevice(const std::string& script) {
        std::ofstream(dir() / "script.txt", std::ios::binary) << script;
        startDevice({"--script", (dir() / "script.txt").string()});
    }

    void startChessDevice(std::vector<std::string> args = {}) {
        if (!haveStockfish()) GTEST_SKIP() << "stockfish is not installed";
        args.insert(args.end(), {"--skill", "0", "--movetime", "20"});
        startDevice(args);
    }

    // Runs the bridge on `input` to its end; returns its output lines after
    // the greeting.
    std::vector<std::string> play(const std::string& input, int expectedStatus = 0) {
        auto bridge = start();
        ExitStatus status = bridge->finish(input, 60s);
        EXPECT_TRUE(status.exited);
        EXPECT_EQ(status.code, expectedStatus);
        std::vector<std::string> output = lines(bridge->output());
        if (output.empty() || output.front() != "Sorvanite") {
            ADD_FAILURE() << "no greeting: " << bridge->output();
            return output;
        }
        output.erase(output.begin());
        return output;
    }

    std::unique_ptr<ChildProcess> emulator_;
};

// "N. ... move" with a coordinate move.
::testing::AssertionResult isNumberedMove(const std::string& line, int number) {
    static const std::regex shape(R"(([0-9]+)\. \.\.\. [a-h][1-8][a-h][1-8][qrbn]?)");
    std::smatch match;
    if (!std::regex_match(line, match, shape)) return ::testing::AssertionFailure() << "'" << line << "'";
    if (std::stoi(match[1]) != number) return ::testing::AssertionFailure() << "'" << line << "' is not move " << number;
    return ::testing::AssertionSuccess();
}

TEST_F(EmulatorTest, PlaysBlackAgainstTheUser) {
    startChessDevice();
    std::vector<std::string> output = play("new\nlevel 40 5 0\ne2e4\nd2d4\nquit\n");
    ASSERT_EQ(output.size(), 2u);
    EXPECT_TRUE(isNumberedMove(output[0], 1));
    // The device's own reply decides whether d2d4 is legal: both outcomes are
    // fine, but an illegal one must be reported as such.
    EXPECT_TRUE(isNumberedMove(output[1], 2) || output[1] == "Illegal move") << output[1];
    EXPECT_NE(transcript().find(" --> NEW 300 7 b\r\n <-- OK\r\n --> MOVE e2e4\r\n"), std::string::npos);
}

TEST_F(EmulatorTest, PlaysWhiteAndNumbersItsMoves) {
    startChessDevice();
    // Knight moves that stay legal whatever White plays in its first moves.
    std::vector<std::string> output = play("new\nlevel 40 5 0\nwhite\ngo\ng8f6\nb8c6\nquit\n");
    ASSERT_EQ(output.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(isNumberedMove(output[static_cast<std::size_t>(i)], i + 1));
}

TEST_F(EmulatorTest, RefusesIllegalMovesAndKeepsThePosition) {
    startChessDevice();
    std::vector<std::string> output = play("new\nlevel 40 5 0\ne2e5\ne1g1\ne2e4\nquit\n");
    ASSERT_EQ(output.size(), 3u);
    EXPECT_EQ(output[0], "Illegal move");
    EXPECT_EQ(output[1], "Illegal move");
    EXPECT_TRUE(isNumberedMove(output[2], 1));
}

TEST_F(EmulatorTest, UsersMateIsAcknowledgedWithTheResult) {
    startChessDevice({"--opening", "f2f3 e7e5 g2g4"});
    std::vector<std::string> output = play("new\nlevel 40 5 0\nd8h4\nquit\n");
    EXPECT_EQ(output, std::vector<std::string>{"0-1 {Black mates}"});
    EXPECT_NE(transcript().find(" <-- d8h4 0-1 {Black mates}\r\n"), std::string::npos);
}

TEST_F(EmulatorTest, DevicesMateComesWithItsMove) {
    startChessDevice({"--opening", "f2f3 e7e5"});
    std::vector<std::string> output = play("new\nlevel 40 5 0\ng2g4\nquit\n");
    EXPECT_EQ(output, (std::vector<std::string>{"1. ... d8h4", "0-1 {Black mates}"}));
}

TEST_F(EmulatorTest, DoctorTalksToTheDevice) {
    startChessDevice();
    auto doctor = startDoctor({"--talk"});
    ExitStatus status = doctor->finish({}, 20s);
    EXPECT_EQ(status.code, 0);
    EXPECT_NE(doctor->output().find("sending: NEW 120 12 b\\r\nanswer:  OK\\r\nverdict:    the port is usable\n"),
              std::string::npos)
        << doctor->output();
    // The device took it as a game start: it answers moves now.
    std::vector<std::string> output = play("e2e4\nquit\n");
    ASSERT_EQ(output.size(), 1u);
    EXPECT_TRUE(isNumberedMove(output[0], 1)) << output[0];
}

TEST_F(EmulatorTest, DoctorNamesTheHolderButNotTheEmulator) {
    if (underWine()) GTEST_SKIP() << "POSIX processes";
    startScriptedDevice("OK\n");
    auto bridge = start();
    ASSERT_TRUE(bridge->waitForOutput("Sorvanite\n"));
    auto doctor = startDoctor({});
    EXPECT_EQ(doctor->finish({}, 20s).code, 16);
    std::string report = doctor->output();
    // (Under valgrind the bridge's process has valgrind's name.)
    EXPECT_NE(report.find("process " + std::to_string(bridge->pid()) + " ("), std::string::npos) << report;
    EXPECT_NE(report.find("process " + std::to_string(emulator_->pid()) +
                          " (sorvanite-device) serves the emulated device on it: leave it running\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(bridge->finish("quit\n").code, 0);
}

TEST_F(EmulatorTest, ScriptedTrickleAndFlowControl) {
    startScriptedDevice(
        "# one answer a line\n"
        "OK\n"
        "{trickle 5}e7e5 slowly\n"
        "d7\\x13{pause 200}\\x11d5\n");
    std::vector<std::string> output = play("new\nlevel 40 5 0\ne2e4\nd2d4\nquit\n");
    EXPECT_EQ(output, (std::vector<std::string>{"1. ... e7e5", "slowly", "2. ... d7d5"}));
}

TEST_F(EmulatorTest, ScriptedHangUp) {
    if (underWine()) GTEST_SKIP() << "Wine's ReadFile spins on a hung-up pty instead of failing";
    startScriptedDevice("e7e5\nd7{hangup}\n");
    std::vector<std::string> output = play("e2e4\nd2d4\ng1f3\nquit\n", 5);
    ASSERT_EQ(output.size(), 2u);
    EXPECT_EQ(output[0], "1. ... e7e5");
    EXPECT_TRUE(output[1].starts_with("tellusererror ")) << output[1];
    EXPECT_NE(transcript().find(" <-- (err: 5)d7\n"), std::string::npos);
    emulator_->finish();  // it ends by itself after hanging up
    emulator_.reset();
    EXPECT_FALSE(std::filesystem::is_symlink(portLinkPath(dir())));
}

TEST_F(EmulatorTest, ScriptedRawBytes) {
    startScriptedDevice("\\x41\\0\\x42\n{nocr}e7e5\\r\\n\n\n");
    std::vector<std::string> output = play("e2e4\nd2d4\ng1f3\nquit\n");
    EXPECT_EQ(output, (std::vector<std::string>{"1. ... A", "2. ... e7e5", "3. ... "}));
    EXPECT_NE(transcript().find("==> g1f3\r\n <-- \n\n --> MOVE g1f3\r\n"), std::string::npos);
}

// Whether the terminal's exclusive flag is cleared within a second: the
// emulator releases a dead client's lock once it has seen that no process
// has the terminal open any more.
bool lockReleasedWithinASecond(const std::filesystem::path& link) {
    for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(10ms)) {
        int terminal = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (terminal < 0) continue;  // an ordinary user is still kept out
        int exclusive = 1;
        bool ioctlWorked = ::ioctl(terminal, TIOCGEXCL, &exclusive) == 0;
        ::close(terminal);
        if (ioctlWorked && exclusive == 0) return true;
    }
    return false;
}

TEST_F(EmulatorTest, AKilledRunDoesNotLockAnOrdinaryUserOut) {
    if (underWine()) GTEST_SKIP() << "POSIX users";
    // Front ends such as eboard kill their engine after every game. The
    // killed run's exclusive flag must not outlive it.
    openUpForOrdinaryUser();
    startScriptedDevice("e7e5\nd7d5\nOK\ne7e5\nd7d5\n");
    if (::getuid() == 0) {
        ASSERT_EQ(::chmod(portLinkPath(dir()).c_str(), 0666), 0);
    }
    for (bool cecp2 : {false, true}) {
        auto killed = cecp2 ? startCecp2(asOrdinaryUser) : start(asOrdinaryUser);
        killed->send("e2e4\n");
        ASSERT_TRUE(killed->waitForOutput(cecp2 ? "move e7e5\n" : "1. ... e7e5\n")) << killed->output();
        killed->signal(SIGKILL);
        EXPECT_FALSE(killed->finish().exited);
        ASSERT_TRUE(lockReleasedWithinASecond(portLinkPath(dir())));
        auto next = start(asOrdinaryUser);
        ExitStatus status = next->finish("d2d4\nquit\n");
        EXPECT_EQ(status.code, 0) << (cecp2 ? "after sorvanite-cecp2" : "after sorvanite");
        EXPECT_EQ(next->output(), "Sorvanite\n1. ... d7d5\n");
    }
}

// While the device thinks, a killed client's lock goes at once, and a client
// that is refused never clears the lock of the one that plays.
TEST_F(EmulatorTest, LocksFollowTheLiveClientsEvenWhileTheDeviceThinks) {
    if (underWine()) GTEST_SKIP() << "POSIX users";
    openUpForOrdinaryUser();
    startScriptedDevice("{pause 60000}e7e5\n");
    if (::getuid() == 0) {
        ASSERT_EQ(::chmod(portLinkPath(dir()).c_str(), 0666), 0);
    }
    auto killed = start(asOrdinaryUser);
    killed->send("e2e4\n");
    ASSERT_TRUE(waitForRecord(" --> MOVE e2e4"));
    killed->signal(SIGKILL);
    EXPECT_FALSE(killed->finish().exited);
    auto playing = startCecp2(asOrdinaryUser);  // waits up to 2 s for the port
    playing->send("xboard\nprotover 2\n");
    ASSERT_TRUE(playing->waitForOutput("feature", 10s)) << "the killed run's lock outlived it";
    EXPECT_EQ(start(asOrdinaryUser)->finish("quit\n").code, 16) << "a second client while one plays";
    if (::getuid() == 0) {
        std::this_thread::sleep_for(300ms);  // the emulator has seen the refused client's close
        int terminal = ::open(portLinkPath(dir()).c_str(), O_RDWR | O_NOCTTY);
        int exclusive = 0;
        EXPECT_EQ(::ioctl(terminal, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1) << "the playing client's lock was cleared";
        ::close(terminal);
    }
    EXPECT_EQ(playing->finish("quit\n").code, 0);
}

// In the background it keeps nothing of its caller's: $(...) returns.
TEST_F(EmulatorTest, BackgroundLetsGoOfTheCallersOutputAndTakesPort) {
    if (underWine()) GTEST_SKIP() << "POSIX processes";
    std::string link = portLinkPath(dir()).string();
    // As a user runs it: playing with stockfish, whose stderr is the caller's too.
    std::string command = "out=$(" + std::string(SORVANITE_E2E_EMULATOR) + " --port " + link +
                          " --background 2>&1) && echo \"$out\" | grep -o 'kill [0-9]*'";
    ChildProcess caller({"sh", "-c", command}, dir().string());
    ExitStatus status = caller.finish({}, 20s);
    EXPECT_EQ(status.code, 0) << caller.output();
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    std::string kill = caller.output().substr(0, caller.output().find('\n'));
    EXPECT_EQ(std::system((kill + " && sleep 0.5").c_str()), 0) << kill;
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

class EmulatorErrors : public ScratchDirTest {
protected:
    // Runs the emulator expecting it to refuse; returns its exit status.
    ExitStatus refuse(std::vector<std::string> args) {
        args.insert(args.begin(), SORVANITE_E2E_EMULATOR);
        ChildProcess emulator(args, dir().string());
        return emulator.finish({}, 20s);
    }
};

TEST_F(EmulatorErrors, ClearRefusals) {
    std::string link = (dir() / "com1").string();
    EXPECT_EQ(refuse({"--link", link, "--engine", "no-such-engine-here"}).code, 2);
    EXPECT_EQ(refuse({"--link", link, "--skill", "21"}).code, 2);
    EXPECT_EQ(refuse({"--link", link, "--bogus"}).code, 2);
    EXPECT_EQ(refuse({"--engine", "stockfish"}).code, 2);
    std::ofstream(dir() / "bad.txt") << "OK\n{explode}\n";
    EXPECT_EQ(refuse({"--link", link, "--script", (dir() / "bad.txt").string()}).code, 2);
    std::ofstream(dir() / "com1") << "not a link";
    EXPECT_EQ(refuse({"--link", link, "--script", "/dev/null"}).code, 2);
    EXPECT_EQ(std::filesystem::file_size(dir() / "com1"), 10u);
    std::filesystem::remove(dir() / "com1");
    // Positions the engine cannot play are refused before serving.
    if (!haveStockfish()) return;
    for (std::vector<std::string> bad : {std::vector<std::string>{"--fen", "garbage"},
                                         {"--fen", "8/8/8/8/8/8/8/8 w - - 0 1"},
                                         {"--fen", "4k3/8/8/8/8/8/8/4KK2 w - - 0 1"},
                                         {"--opening", "e2e4 e2e4"}}) {
        bad.insert(bad.begin(), {"--link", link});
        EXPECT_EQ(refuse(bad).code, 2) << bad[3];
        EXPECT_FALSE(std::filesystem::is_symlink(dir() / "com1")) << bad[3] << " was served";
    }
}

TEST_F(EmulatorErrors, AStockfishOnPathThatFailsFallsBackToUsrGames) {
    if (::access("/usr/games/stockfish", X_OK) != 0) GTEST_SKIP() << "no /usr/games/stockfish";
    std::filesystem::create_directories(dir() / "bin");
    std::ofstream(dir() / "bin" / "stockfish") << "#!/bin/sh\nexit 3\n";  // starts, but speaks no UCI
    std::filesystem::permissions(dir() / "bin" / "stockfish", std::filesystem::perms::owner_all);
    ChildProcess emulator({"env", "PATH=" + (dir() / "bin").string() + ":/usr/bin:/bin", SORVANITE_E2E_EMULATOR,
                           "--link", (dir() / "com1").string()},
                          dir().string());
    EXPECT_TRUE(emulator.waitForOutput("serving", 20s)) << emulator.output();
    emulator.signal(SIGTERM);
    EXPECT_EQ(emulator.finish().code, 0);
}

// A client on the socket line: what a virtual machine's serial port does.
int connectTo(const std::filesystem::path& socketPath) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(10ms))
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return -1;
}

std::string answerTo(int fd, const std::string& bytes) {
    (void)!::write(fd, bytes.data(), bytes.size());
    std::string answer;
    pollfd entry{fd, POLLIN, 0};
    char c;
    while (answer.find('\r') == std::string::npos && ::poll(&entry, 1, 5000) > 0 && ::read(fd, &c, 1) == 1) answer += c;
    return answer;
}

TEST_F(EmulatorErrors, SocketLineWaitsIdleForItsNextClientAndDropsNoise) {
    std::ofstream(dir() / "script.txt") << "OK\nOK\n";
    std::filesystem::path socketPath = std::filesystem::temp_directory_path() / ("sv-" + std::to_string(::getpid()));
    ChildProcess emulator({SORVANITE_E2E_EMULATOR, "--socket", socketPath.string(), "--script",
                           (dir() / "script.txt").string()},
                          dir().string());
    ASSERT_TRUE(emulator.waitForOutput("serving"));
    int first = connectTo(socketPath);
    ASSERT_GE(first, 0);
    EXPECT_EQ(answerTo(first, "NEW 120 12 b\r"), "OK\r");
    ::close(first);
    std::this_thread::sleep_for(100ms);
    double before = cpuSeconds(emulator.pid());
    std::this_thread::sleep_for(1s);
    EXPECT_LT(cpuSeconds(emulator.pid()) - before, 0.05) << "the emulator spins after its client left";
    int second = connectTo(socketPath);
    ASSERT_GE(second, 0);
    // A line far longer than any command, without a CR, is dropped.
    EXPECT_EQ(answerTo(second, std::string(5000, 'x') + "\x13" + std::string(5000, 'y') + "NEW 120 12 b\r"), "OK\r");
    ::close(second);
    emulator.signal(SIGTERM);
    EXPECT_EQ(emulator.finish().code, 0);
}

TEST_F(EmulatorTest, AnEngineThatDiesEndsTheDevice) {
    if (underWine()) GTEST_SKIP() << "Wine's ReadFile spins on a hung-up pty instead of failing";
    startChessDevice();
    auto bridge = start();
    bridge->send("new\nlevel 40 5 0\ne2e4\n");
    ASSERT_TRUE(bridge->waitForOutput("1. ... "));
    ASSERT_EQ(std::system(("pkill -KILL -P " + std::to_string(emulator_->pid())).c_str()), 0);
    // It never answers a legal move with "Illegal move": it ends, and the
    // bridge is told that its device has gone.
    ExitStatus bridgeStatus = bridge->finish("d2d4\nquit\n", 20s);
    EXPECT_EQ(bridgeStatus.code, 5);
    EXPECT_EQ(bridge->output().find("Illegal move"), std::string::npos) << bridge->output();
    ExitStatus status = emulator_->finish({}, 10s);
    emulator_.reset();
    EXPECT_EQ(status.code, 2);
    EXPECT_FALSE(std::filesystem::is_symlink(portLinkPath(dir())));
}

}  // namespace
}  // namespace sorvanite::e2e
