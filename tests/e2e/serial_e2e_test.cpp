// The serial side of the bridge, on the real binary and a pseudo-terminal.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <fstream>
#include <iomanip>
#include <map>

#include "e2e/bridge_fixture.h"

namespace sorvanite::e2e {
namespace {

TEST_F(BridgeTest, MissingPortEndsWithItsErrorCodeAndNothingElse) {
    std::filesystem::remove(portLinkPath(dir()));
    RunResult run = this->run("new\nquit\n");
    EXPECT_TRUE(run.status.exited);
    EXPECT_EQ(run.status.code, 2);  // ENOENT
    EXPECT_EQ(run.output, "");
    EXPECT_FALSE(std::filesystem::exists(dir() / "zormlog.txt"));
}

TEST_F(BridgeTest, HeldPortKeepsASecondBridgeOff) {
    if (underWine()) GTEST_SKIP() << "Wine does not enforce exclusive opens of a serial port";
    auto first = start();
    ASSERT_TRUE(first->waitForOutput("Sorvanite\n"));
    auto second = start();
    ExitStatus refused = second->finish("bogus\nquit\n");
    EXPECT_TRUE(refused.exited);
    EXPECT_EQ(refused.code, 16);  // EBUSY
    EXPECT_EQ(second->output(), "");
    // The newer front doors keep quiet about it too: a GUI that starts us
    // twice (PyChess's analysing engine) would end the game it plays.
    auto cecp2 = startCecp2();
    EXPECT_EQ(cecp2->finish("xboard\nprotover 2\n").code, 16);
    EXPECT_EQ(cecp2->output(), "");
    EXPECT_EQ(first->finish("quit\n").code, 0);
    EXPECT_EQ(transcript(), "New session\r\n<== Sorvanite\r\n==> quit\r\nSession ends\r\n");
}

TEST_F(BridgeTest, LockFileOfALiveTerminalProgramKeepsTheBridgeOff) {
    if (underWine()) GTEST_SKIP() << "UUCP lock files are a POSIX convention";
    std::filesystem::path lock =
        "/run/lock/LCK.." + std::filesystem::path(device.portPath()).filename().string();
    termios before = device.portSettings();
    {
        std::ofstream file(lock);
        if (!file) GTEST_SKIP() << "cannot write " << lock;
        file << std::setw(10) << ::getpid() << "\n";  // as minicom writes it: we are alive
    }
    auto refused = start();
    ExitStatus status = refused->finish("e2e4\nquit\n");
    termios after = device.portSettings();
    EXPECT_EQ(status.code, 16);
    EXPECT_EQ(refused->output(), "");
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "the line settings were touched";
    auto doctor = startDoctor({});
    EXPECT_EQ(doctor->finish().code, 16);
    EXPECT_NE(doctor->output().find("), by its lock file " + lock.string()), std::string::npos) << doctor->output();
    // The lock of a program that has ended is stale.
    pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    std::ofstream(lock) << std::setw(10) << ended << "\n";
    RunResult run = this->run("e2e4\nquit\n", {{"e7e5\r"}});
    std::filesystem::remove(lock);
    EXPECT_EQ(run.status.code, 0);
    EXPECT_EQ(run.output, "Sorvanite\n1. ... e7e5\n");
}

TEST_F(BridgeTest, EveryProgramTakesItsPortHelpAndVersionOnTheCommandLine) {
    // The built-in port is gone; --port names the device's. Under Wine a port
    // from COM10 up, which Windows opens only by its device name.
    std::filesystem::remove(portLinkPath(dir()));
    std::string port = device.portPath();
    if (underWine()) {
        port = "COM12";
        std::filesystem::create_symlink(device.portPath(), portLinkPath(dir()).parent_path() / "com12");
    }
    ScriptedDevice scripted(device, {{"e7e5\r"}, {"OK\r"}, {"c7c5\r"}});
    auto bridge = start(nullptr, {"--port", port});
    EXPECT_EQ(bridge->finish("e2e4\nquit\n").code, 0);
    EXPECT_EQ(bridge->output(), "Sorvanite\n1. ... e7e5\n");
    auto cecp2 = startCecp2(nullptr, {"--port", port});
    EXPECT_EQ(cecp2->finish("protover 2\nusermove e2e4\nquit\n").code, 0);
    EXPECT_NE(cecp2->output().find("\nmove c7c5\n"), std::string::npos) << cecp2->output();
    auto doctor = startDoctor({"--port", port});
    EXPECT_EQ(doctor->finish().code, 0);
    EXPECT_NE(doctor->output().find("engine:     sorvanite --port " + port), std::string::npos) << doctor->output();
    EXPECT_EQ(scripted.finish(), "MOVE e2e4\rNEW 120 12 b\rMOVE e2e4\r");
    if (underWine()) std::filesystem::remove(portLinkPath(dir()).parent_path() / "com12");
    std::filesystem::remove(dir() / "zormlog.txt");

    using Starter = std::function<std::unique_ptr<ChildProcess>(const std::vector<std::string>&)>;
    auto stderrToFile = +[] {
        int fd = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDERR_FILENO);
    };
    std::vector<std::pair<std::string, Starter>> programs = {
        {"sorvanite", [&](const auto& args) { return start(stderrToFile, args); }},
        {"sorvanite-cecp2", [&](const auto& args) { return startCecp2(stderrToFile, args); }},
        {"sorvanite-uci", [&](const auto& args) { return startUci(stderrToFile, args); }},
        {"sorvanite-doctor", [&](const auto& args) { return startDoctor(args, stderrToFile); }}};
    std::string absent = underWine() ? "COM99" : (dir() / "no-such-port").string();
    // The newer front doors say why in one line their GUIs show; the
    // first-generation bridge stays silent, as its front ends expect.
    std::string why = "The chess device's port " + absent +
                      " cannot be opened: it does not exist (is the device plugged in?). For what to do, run: "
                      "sorvanite-doctor --port " + absent + "\n";
    std::map<std::string, std::string> told = {
        {"sorvanite", ""}, {"sorvanite-cecp2", "tellusererror " + why}, {"sorvanite-uci", "info string " + why}};
    for (auto& [name, startProgram] : programs) {
        auto missing = startProgram({"--port", absent});
        EXPECT_EQ(missing->finish({}, 20s).code, 2) << name;
        if (name != "sorvanite-doctor") {
            EXPECT_EQ(missing->output(), told[name]) << name;
        }
        auto version = startProgram({"--version"});
        EXPECT_EQ(version->finish().code, 0) << name;
        EXPECT_TRUE(version->output().starts_with(name + " ")) << version->output();
        auto help = startProgram({"--help"});
        EXPECT_EQ(help->finish().code, 0) << name;
        EXPECT_NE(help->output().find("--port PORT"), std::string::npos) << help->output();
        for (std::vector<std::string> wrong : {std::vector<std::string>{"--nonsense"}, {"--port"}}) {
            auto refused = startProgram(wrong);
            EXPECT_EQ(refused->finish().code, 2) << name << " " << wrong[0];
            EXPECT_EQ(refused->output(), "") << name;
            std::string said = readFile(dir() / "stderr.txt");
            EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << name << ": " << said;
        }
        EXPECT_FALSE(std::filesystem::exists(dir() / "zormlog.txt")) << name << " opened its transcript";
    }
    EXPECT_EQ(device.readAvailable(100ms), "");
}

// GUIs that start an engine without arguments get the port the doctor saved.
TEST_F(BridgeTest, ThePortTheDoctorSavedIsEveryProgramsDefault) {
    if (underWine()) GTEST_SKIP() << "the Wine prefix keeps its own APPDATA";
    std::filesystem::remove(portLinkPath(dir()));  // the built-in port is gone
    std::filesystem::path config = dir() / "config" / "sorvanite" / "config";
    auto refused = startDoctor({"--port", "no-such-port", "--save"});
    EXPECT_EQ(refused->finish().code, 2);
    EXPECT_NE(refused->output().find("not saved:  the port must be usable first"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(config));
    auto doctor = startDoctor({"--port", device.portPath(), "--save"});
    EXPECT_EQ(doctor->finish().code, 0) << doctor->output();
    EXPECT_NE(doctor->output().find("saved:      port=" + device.portPath()), std::string::npos) << doctor->output();
    EXPECT_EQ(readFile(config), "port=" + device.portPath() + "\n");
    RunResult run = this->run("e2e4\nquit\n", {{"e7e5\r"}});  // no arguments
    EXPECT_EQ(run.output, "Sorvanite\n1. ... e7e5\n");
    auto help = startUci(nullptr, {"--help"});
    help->finish();
    EXPECT_NE(help->output().find("without it: " + device.portPath() + " (from " + config.string()), std::string::npos)
        << help->output();
    EXPECT_EQ(start(nullptr, {"--port", "no-such-port"})->finish("quit\n").code, 2) << "--port still wins";
}

TEST_F(BridgeTest, PortIsSetTo9600RawWithSoftwareFlowControl) {
    auto bridge = start();
    ASSERT_TRUE(bridge->waitForOutput("Sorvanite\n"));
    termios settings = device.portSettings();
    EXPECT_EQ(cfgetispeed(&settings), B9600);
    EXPECT_EQ(cfgetospeed(&settings), B9600);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | IXANY), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(settings.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    // Wine times its reads itself and leaves VMIN/VTIME its own way.
    if (!underWine()) {
        EXPECT_EQ(settings.c_cc[VMIN], 1);
        EXPECT_EQ(settings.c_cc[VTIME], 0);
    }
    EXPECT_EQ(bridge->finish("quit\n").code, 0);
}

TEST_F(BridgeTest, WhatTheDeviceSaysUnaskedIsRecordedNotRelayed) {
    // The LF of a CR LF device and a line nobody asked for wait on the line
    // when the next command goes out: recorded as they came, never an answer.
    RunResult run = this->run("e2e4\nd2d4\n", {{"e7e5\r\nLATE g1f3\r"}, {"d7d5\r"}});
    EXPECT_EQ(run.device, "MOVE e2e4\rMOVE d2d4\r");
    EXPECT_EQ(run.output, "Sorvanite\n1. ... e7e5\n2. ... d7d5\n");
    EXPECT_EQ(recordsAfterGreeting(run.transcript),
              "==> e2e4\r\n --> MOVE e2e4\r\n <-- e7e5\r\n<== 1. ... e7e5\r\n"
              "==> d2d4\r\n <-- \nLATE g1f3\r\n --> MOVE d2d4\r\n <-- d7d5\r\n<== 2. ... d7d5\r\nSession ends\r\n");
}

TEST_F(BridgeTest, OverlongAnswerKeepsItsHead) {
    std::string text = "e7e5 " + std::string(40, 'x');
    RunResult run = this->run("e2e4\nd2d4\n", {{text + "\r"}, {"d7d5\r"}});
    EXPECT_EQ(run.output, "Sorvanite\n1. ... e7e5\n" + std::string(25, 'x') + "\n2. ... d7d5\n");
    EXPECT_NE(run.transcript.find(" <-- " + text.substr(0, 30) + "\r\n"), std::string::npos);
}

TEST_F(BridgeTest, TrickledAnswerIsOneAnswer) {
    auto bridge = start();
    bridge->send("e2e4\n");
    ASSERT_EQ(device.readCommand(), "MOVE e2e4\r");
    for (char c : std::string("e7e5 ok\r")) {
        device.send(std::string(1, c));
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(bridge->waitForOutput("ok\n"));
    EXPECT_EQ(bridge->finish("quit\n").code, 0);
    EXPECT_EQ(bridge->output(), "Sorvanite\n1. ... e7e5\nok\n");
}

TEST_F(BridgeTest, DeviceXoffHoldsCommandsUntilXon) {
    auto bridge = start();
    ASSERT_TRUE(bridge->waitForOutput("Sorvanite\n"));
    // XOFF before the bridge has anything to say; once the byte after it
    // waits at the bridge's side, the line has taken the XOFF.
    device.send("\x13z");
    ASSERT_TRUE(device.waitUntilPortHolds(1));
    bridge->send("e2e4\n");
    EXPECT_EQ(device.readAvailable(300ms), "");
    device.send("\x11");  // XON
    ASSERT_EQ(device.readCommand(), "MOVE e2e4\r");
    // Flow-control bytes inside an answer are taken by the line, not stored.
    device.send("e7\x13\x11" "e5\r");
    ASSERT_TRUE(bridge->waitForOutput("1. ... e7e5\n"));
    EXPECT_EQ(bridge->finish("quit\n").code, 0);
}

TEST_F(BridgeTest, DeviceHangingUpMidAnswer) {
    if (underWine()) GTEST_SKIP() << "Wine's ReadFile spins on a hung-up pty instead of failing";
    // Told once, nothing of the broken answer relayed, nothing more sent.
    const std::string notice = "tellusererror The chess device has gone: its serial line hung up or failed, "
                               "so the game cannot go on";
    RunResult run = this->run("new\nlevel 40 5 0\ne2e4\nd2d4\nbogus\nquit\n",
                              {{"OK\r"}, {"e7", true}});
    EXPECT_TRUE(run.status.exited);
    EXPECT_EQ(run.status.code, 5);
    EXPECT_EQ(run.output, "Sorvanite\n" + notice + "\n");
    EXPECT_EQ(run.device, "NEW 300 7 b\rMOVE e2e4\r");
    EXPECT_EQ(recordsAfterGreeting(run.transcript),
              "==> new\r\n==> level 40 5 0\r\n==> e2e4\r\n --> NEW 300 7 b\r\n <-- OK\r\n --> MOVE e2e4\r\n"
              " <-- (err: 5)e7\n<== " + notice + "\r\nSession ends\r\n");
}

TEST_F(BridgeTest, StaleBytesOnTheLineAreNotAnAnswer) {
    // A late answer to a bridge that was killed, a banner, a stray LF.
    device.send("e7e5\r\nREADY\r\n");
    ASSERT_TRUE(device.waitUntilPortHolds(13));
    RunResult run = this->run("new\nlevel 40 5 0\ne2e4\nd2d4\n", {{"OK\r"}, {"c7c5\r"}, {"d7d6\r"}});
    EXPECT_EQ(run.output, "Sorvanite\n1. ... c7c5\n2. ... d7d6\n");
    EXPECT_EQ(run.device, "NEW 300 7 b\rMOVE e2e4\rMOVE d2d4\r");
}

// A file, a folder, a pipe or a device that is no serial line is refused
// before anything is written to it, with one status on every platform.
TEST_F(ScratchDirTest, PortThatIsNotASerialPortIsRefused) {
    std::ofstream(dir() / "regular-file") << "untouched";
    std::filesystem::create_directory(dir() / "folder");
    std::vector<std::string> targets = {"regular-file", "folder"};
    if (underWine()) {
        targets.push_back("NUL");
    } else {
        ASSERT_EQ(::mkfifo((dir() / "fifo").c_str(), 0600), 0);
        targets.insert(targets.end(), {"fifo", "/dev/zero", "/dev/null"});
    }
    for (const std::string& target : targets) {
        auto bridge = start(nullptr, {"--port", target});
        ExitStatus status = bridge->finish("new\nlevel 40 5 0\ne2e4\nquit\n", 20s);
        EXPECT_TRUE(status.exited) << target;
        EXPECT_EQ(status.code, 25) << target;
        EXPECT_EQ(bridge->output(), "") << target;
        EXPECT_FALSE(std::filesystem::exists(dir() / "zormlog.txt")) << target;
        auto doctor = startDoctor({"--port", target});
        EXPECT_EQ(doctor->finish({}, 20s).code, 25) << target;
        EXPECT_NE(doctor->output().find(target + " is not a"), std::string::npos) << doctor->output();
        EXPECT_EQ(doctor->output().find("cmake"), std::string::npos) << doctor->output();
    }
    EXPECT_EQ(readFile(dir() / "regular-file"), "untouched");
}

TEST_F(BridgeTest, AnOrdinaryUserRunsTheBridgeTwiceInARow) {
    if (underWine()) GTEST_SKIP() << "POSIX users";
    // Root ignores the exclusive flag of a terminal, so drop to "nobody",
    // who needs the port and the scratch directory opened up.
    openUpForOrdinaryUser();
    if (::getuid() == 0) {
        ASSERT_EQ(::chmod(device.portPath().c_str(), 0666), 0);
    }
    for (int run = 0; run < 2; ++run) {
        ScriptedDevice scripted(device, {{"e7e5\r"}});
        auto bridge = start(asOrdinaryUser);
        ExitStatus status = bridge->finish("e2e4\nquit\n");
        EXPECT_TRUE(status.exited);
        EXPECT_EQ(status.code, 0) << "run " << run;
        EXPECT_EQ(bridge->output(), "Sorvanite\n1. ... e7e5\n") << "run " << run;
        EXPECT_EQ(scripted.finish(), "MOVE e2e4\r");
    }
}

}  // namespace
}  // namespace sorvanite::e2e
