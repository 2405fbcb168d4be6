// sorvanite-doctor on the real binary: a usable port, each reason a port
// cannot be used, a conversation with the device, and transcripts read back.
#include <grp.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "e2e/bridge_fixture.h"

namespace sorvanite::e2e {
namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class DoctorTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        if (underWine() && !std::getenv("SORVANITE_E2E_WINE_DOCTOR")) GTEST_SKIP() << "no sorvanite-doctor.exe";
    }

    // Runs the doctor to its end; its output is in `report`.
    ExitStatus diagnose(const std::vector<std::string>& args = {}, void (*prepare)() = nullptr) {
        auto doctor = startDoctor(args, prepare);
        ExitStatus status = doctor->finish({}, 20s);
        report = doctor->output();
        return status;
    }

    std::string report;
};

TEST_F(DoctorTest, UsablePortWithItsSettingsReadBack) {
    ExitStatus status = diagnose();
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 0) << report;
    EXPECT_TRUE(contains(report, "open:       ok\n")) << report;
    // Wine reports DTR and RTS from the pty, which has none, as on.
    std::string line = underWine() ? "line:       9600 bit/s, 8N1; XON/XOFF out, in; no CTS flow; "
                                   : "line:       9600 bit/s, 8N1; ixon ixoff -ixany -crtscts; raw; min 1 time 0; "
                                     "no modem lines (a pseudo-terminal)\n";
    EXPECT_TRUE(contains(report, line)) << report;
    EXPECT_TRUE(contains(report, "verdict:    the port is usable\n"));
    // It sends nothing unless asked, and leaves the port free.
    EXPECT_EQ(device.readAvailable(100ms), "");
    EXPECT_EQ(run("quit\n").status.code, 0);
}

TEST_F(DoctorTest, TalksToTheDeviceWhenAsked) {
    ScriptedDevice scripted(device, {{"OK\r"}});
    ExitStatus status = diagnose({"--talk"});
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(contains(report, "answer:  OK\\r\n")) << report;
    EXPECT_EQ(scripted.finish(), "NEW 120 12 b\r");
}

TEST_F(DoctorTest, SilentOrHeldDeviceIsNotUsable) {
    ExitStatus status = diagnose({"--talk"});
    EXPECT_EQ(status.code, 1);
    EXPECT_TRUE(contains(report, "answer:  none within 5 s: check power, cable and speed (9600 8N1)\n")) << report;
    EXPECT_TRUE(contains(report, "verdict:    the port opens, but the device gave no answer to NEW 120 12 b\n"));
    EXPECT_EQ(device.readCommand(), "NEW 120 12 b\r");
    if (underWine()) return;
    // A device that sent XOFF and never XON: flow control, not power or cable.
    device.holdOutputWithXoff();
    status = diagnose({"--talk"});
    EXPECT_EQ(status.code, 1);
    EXPECT_TRUE(contains(report, "because the device sent XOFF (software flow\n")) << report;
    EXPECT_FALSE(contains(report, "power")) << report;
}

TEST_F(DoctorTest, MissingPort) {
    std::filesystem::remove(portLinkPath(dir()));
    // A port mapped past COM9, as a Wine user maps one: listed by its name.
    std::filesystem::path mapped = portLinkPath(dir()).parent_path() / "com12";
    if (underWine()) std::filesystem::create_symlink(device.portPath(), mapped);
    ExitStatus status = diagnose();
    EXPECT_EQ(status.code, 2);
    EXPECT_FALSE(contains(report, "cmake")) << report;
    if (underWine()) {
        std::filesystem::remove(mapped);
        EXPECT_TRUE(contains(report, "cause: there is no COM1.\n")) << report;
        EXPECT_TRUE(contains(report, "fix:   plug the device in, or give the programs a port that exists: --port COM12\n"))
            << report;
        EXPECT_TRUE(contains(report, "serial ports here:\n  COM12\n")) << report;
    } else {
        EXPECT_TRUE(contains(report, "open:       failed: No such file or directory (error 2; "
                                     "the bridge ends with status 2)\n"))
            << report;
        EXPECT_TRUE(contains(report, "cause: com1 does not exist.\n")) << report;
        EXPECT_TRUE(contains(report, "fix:   start the emulated device: sorvanite-device --link com1 --background\n"))
            << report;
    }
    EXPECT_TRUE(contains(report, "serial ports here:\n")) << report;
    // The ports are listed from /sys: no terminal is opened to ask.
    if (underWine() || std::system("command -v strace >/dev/null") != 0) return;
    // (The leak checker of a sanitizer build cannot work under ptrace.)
    ChildProcess traced({"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-qq", "-e", "trace=open,openat", "-o",
                         (dir() / "strace.txt").string(), SORVANITE_E2E_DOCTOR},
                        dir().string());
    EXPECT_EQ(traced.finish({}, 20s).code, 2);
    std::string calls = readFile(dir() / "strace.txt");
    EXPECT_NE(calls.find("com1"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("\"/dev/tty"), std::string::npos) << calls;
}

TEST_F(DoctorTest, PortHeldByABridgeNamesIt) {
    if (underWine()) GTEST_SKIP() << "Wine does not enforce exclusive opens of a serial port";
    openUpForOrdinaryUser();
    auto bridge = start();
    ASSERT_TRUE(bridge->waitForOutput("Sorvanite\n"));
    // As root the bridge's lock keeps the doctor out; as an ordinary user its
    // exclusive flag does, before any lock is tried.
    for (auto prepare : {static_cast<void (*)()>(nullptr), asOrdinaryUser}) {
        if (prepare) {
            ASSERT_EQ(::chmod(device.portPath().c_str(), 0666), 0);
        }
        ExitStatus status = diagnose({}, prepare);
        EXPECT_EQ(status.code, 16) << report;
        EXPECT_TRUE(contains(report, "cause: another program holds com1.\n")) << report;
        EXPECT_TRUE(contains(report, "process " + std::to_string(bridge->pid()) + " (sorvanite-e2e)\n")) << report;
    }
    // A stopped holder (PyChess stops its engine) is named as stopped.
    bridge->signal(SIGSTOP);
    auto stopped = [&bridge] {
        std::ifstream stat("/proc/" + std::to_string(bridge->pid()) + "/stat");
        std::string line;
        std::getline(stat, line);
        return line.find(") T ") != std::string::npos;
    };
    for (int i = 0; i < 500 && !stopped(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(diagnose().code, 16);
    EXPECT_TRUE(contains(report, " (sorvanite-e2e), stopped: it keeps the port until continued; kill -CONT " +
                                     std::to_string(bridge->pid())))
        << report;
    bridge->signal(SIGCONT);
    EXPECT_EQ(bridge->finish("quit\n").code, 0);
}

TEST_F(DoctorTest, OrdinaryUserWithoutPermissionIsToldTheGroup) {
    if (underWine()) GTEST_SKIP() << "POSIX permissions";
    if (::getuid() != 0) GTEST_SKIP() << "needs root to set up the port's owner";
    openUpForOrdinaryUser();
    ASSERT_EQ(::chown(device.portPath().c_str(), 0, 20), 0);  // group dialout, as a real port
    ASSERT_EQ(::chmod(device.portPath().c_str(), 0660), 0);
    ExitStatus status = diagnose({}, asOrdinaryUser);
    EXPECT_EQ(status.code, 13) << report;
    const group* owner = ::getgrgid(20);
    std::string name = owner ? owner->gr_name : "20";
    EXPECT_TRUE(contains(report, "The group '" + name + "' may read and write it, and you are not in it.\n")) << report;
    EXPECT_TRUE(contains(report, "fix:   sudo usermod -aG " + name + " $USER, then log in again.\n")) << report;
    // Only the owner may open it: joining its group would not help.
    ASSERT_EQ(::chown(device.portPath().c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(device.portPath().c_str(), 0600), 0);
    EXPECT_EQ(diagnose({}, asOrdinaryUser).code, 13);
    EXPECT_TRUE(contains(report, "Only its owner may read and write it; joining a group would not help.\n")) << report;
    // The port was given by a link: the advice names what it leads to.
    EXPECT_TRUE(contains(report, "sudo chgrp dialout " + device.portPath() + " && sudo chmod 0660 " +
                                     device.portPath()))
        << report;
    EXPECT_FALSE(contains(report, "usermod -aG root")) << report;
}

TEST_F(DoctorTest, ReadsTheEndOfTheTranscript) {
    struct Case {
        std::string transcript;
        std::string reading;
    };
    const std::string start = "New session\r\n<== Sorvanite\r\n";
    const std::vector<Case> cases = {
        {start + "==> new\r\n==> level 40 5 0\r\n==> e2e4\r\n --> NEW 300 7 b\r\n <-- OK\r\n --> MOVE e2e4\r\n",
         "the device never answered `MOVE e2e4`: check power, cable and speed (9600 8N1); the device may still "
         "answer `MOVE e2e4` late: let it make its move (or restart it) before starting a new game"},
        {start + "==> e2e4\r\n --> MOVE e2e4\r\n <-- (err: 4)e7\nSession ends\r\n",
         "the run ended in order, but a read from the device failed with error 4 (4: the run was asked to end, or "
         "its front end went away, while it waited for the device); the device may still answer `MOVE e2e4` late: "
         "let it make its move (or restart it) before starting a new game"},
        {start + "==> e2e4\r\n --> MOVE e2e4\r\n <-- e7e5\r\n<== 1. ... e7e5\r\n==> d2d4\r\n",
         "the run ended without `Session ends`: the bridge was killed, or it is still running"},
        {start + "==> e2e4\r\n --> MOVE e2e4\r\n <-- (err: 5)e7\n<== tellusererror ...\r\nSession ends\r\n",
         "the run ended in order, but a read from the device failed with error 5 (5: the line hung up: "
         "the device or its USB adapter went away)"},
        {"New session\r\n<== Sorvanite\r\n --> MOVE e2e4\r\nSession ends\r\n" + start + "==> quit\r\nSession ends\r\n",
         "the run ended in order (quit, or the end of the front end's input)"},
    };
    for (const Case& c : cases) {
        std::ofstream(dir() / "zormlog.txt", std::ios::binary) << c.transcript;
        ExitStatus status = diagnose({"--transcript", "."});
        EXPECT_EQ(status.code, 0);
        EXPECT_TRUE(contains(report, "reading: " + c.reading + "\n")) << report;
    }
    EXPECT_TRUE(contains(report, "  ==> quit\\r\\n\n  Session ends\\r\\n\n")) << report;
    EXPECT_FALSE(contains(report, "MOVE")) << "only the last run is read: " << report;
    std::filesystem::remove(dir() / "zormlog.txt");
    diagnose({"--transcript", "."});
    EXPECT_TRUE(contains(report, "reading: there is none")) << report;
}

TEST_F(DoctorTest, HostileTranscriptsCannotHangOrGrowIt) {
    if (underWine()) GTEST_SKIP() << "POSIX FIFOs and links";
    // A FIFO nobody writes, and a link to an endless device: not read.
    ASSERT_EQ(::mkfifo((dir() / "zormlog.txt").c_str(), 0600), 0);
    EXPECT_EQ(diagnose({"--transcript", "."}).code, 0);
    EXPECT_TRUE(contains(report, "reading: it is not a regular file")) << report;
    std::filesystem::remove(dir() / "zormlog.txt");
    std::filesystem::create_symlink("/dev/zero", dir() / "zormlog.txt");
    EXPECT_EQ(diagnose({"--transcript", "."}).code, 0);
    EXPECT_TRUE(contains(report, "reading: it is not a regular file")) << report;
    // 300 MB, sparse, with a run at its end: only the tail is read, in a
    // process that may not map more than 128 MB.
    std::filesystem::remove(dir() / "zormlog.txt");
    std::ofstream(dir() / "zormlog.txt");
    std::filesystem::resize_file(dir() / "zormlog.txt", 300'000'000);
    std::ofstream(dir() / "zormlog.txt", std::ios::app | std::ios::binary)
        << "New session\r\n<== Sorvanite\r\n==> quit\r\nSession ends\r\n";
    auto limited = +[] {
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's shadow memory needs more
        rlimit limit{128 << 20, 128 << 20};
        ::setrlimit(RLIMIT_AS, &limit);
#endif
    };
    EXPECT_EQ(diagnose({"--transcript", "."}, limited).code, 0) << report;
    EXPECT_TRUE(contains(report, "reading: the run ended in order")) << report;
}

}  // namespace
}  // namespace sorvanite::e2e
