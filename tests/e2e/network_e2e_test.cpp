// The programs with a device on another machine: the test's device behind a
// real ser2net, reached by RFC 2217 and by plain TCP.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "e2e/bridge_fixture.h"

namespace sorvanite::e2e {
namespace {

// A TCP port on the loopback that nothing listens on just now.
int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool listening(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// The device mates the person in five: what every front door passes on.
const std::vector<Answer> kMateAnswers = {{"OK\r"}, {"e7e5\r"}, {"a7a6\r"}, {"b7b6\r"}, {"h7h6\r"},
                                          {"d8h4 0-1 {Black mates}\r"}};
const std::vector<std::string> kPersonMoves = {"f2f3", "a2a3", "b2b3", "h2h3", "g2g4"};

// Each front door's turns for that game, one a move, each ending once the
// device's move is back (marked by `answered`), and the text that must end
// its output.
struct Door {
    const char* name;
    std::unique_ptr<ChildProcess> (ScratchDirTest::*start)(void (*)(), const std::vector<std::string>&);
    std::vector<std::string> (*turns)();
    const char* answered;
    const char* ending;
};

std::vector<std::string> bridgeTurns() {
    std::vector<std::string> turns;
    for (const std::string& move : kPersonMoves) turns.push_back(move + "\n");
    turns[0] = "new\nlevel 40 5 0\n" + turns[0];
    return turns;
}
std::vector<std::string> cecp2Turns() {
    std::vector<std::string> turns;
    for (const std::string& move : kPersonMoves) turns.push_back("usermove " + move + "\n");
    turns[0] = "xboard\nprotover 2\nnew\nlevel 40 5 0\n" + turns[0];
    return turns;
}
std::vector<std::string> uciTurns() {
    std::vector<std::string> turns;
    std::string moves;
    const char* replies[] = {"e7e5", "a7a6", "b7b6", "h7h6"};
    for (std::size_t i = 0; i < kPersonMoves.size(); ++i) {
        moves += " " + kPersonMoves[i];
        turns.push_back("position startpos moves" + moves + "\ngo wtime 300000 btime 300000\n");
        if (i < 4) moves += std::string(" ") + replies[i];
    }
    turns[0] = "uci\n" + turns[0];
    return turns;
}

// A Windows program's exit status as Wine hands it to Linux: its low byte.
constexpr int kWineStatus(int windowsStatus) { return windowsStatus & 0xFF; }

class NetworkTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        if (std::system("command -v ser2net >/dev/null") != 0)
            GTEST_SKIP() << "ser2net is not installed (apt-get install ser2net): no device on another machine";
        rfc2217Port_ = freePort();
        rawPort_ = freePort();
        // The README's configuration, on the test's device.
        std::ofstream(dir() / "ser2net.yaml")
            << "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << rfc2217Port_
            << "\n  connector: serialdev," << device.portPath() << ",9600n81,local\n  options:\n    mdns: false\n"
            << "connection: &raw\n  accepter: tcp,127.0.0.1," << rawPort_ << "\n  connector: serialdev,"
            << device.portPath() << ",9600n81,local\n  options:\n    mdns: false\n";
        startServer();
    }
    void TearDown() override {
        if (server_) server_->signal(SIGKILL);
        BridgeTest::TearDown();
    }

    void startServer() {
        server_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"ser2net", "-n", "-u", "-c", (dir() / "ser2net.yaml").string(), "-P",
                                     (dir() / "ser2net.pid").string()},
            dir().string());
        for (int i = 0; i < 200 && !(listening(rfc2217Port_) && listening(rawPort_)); ++i)
            std::this_thread::sleep_for(25ms);
        // Our looks opened the device behind it: ser2net closes it again.
        serverLetGoOfTheDevice();
    }

    // Whether ser2net has closed the device within 5 s.
    bool serverLetGoOfTheDevice() const {
        std::filesystem::path fds = "/proc/" + std::to_string(server_->pid()) + "/fd";
        for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(10ms)) {
            bool holding = false;
            std::error_code error;
            for (const auto& fd : std::filesystem::directory_iterator(fds, error))
                holding = holding || std::filesystem::read_symlink(fd.path(), error) == device.portPath();
            if (!holding) return true;
        }
        return false;
    }

    std::string url(bool rfc2217) const {
        return rfc2217 ? "rfc2217://127.0.0.1:" + std::to_string(rfc2217Port_)
                       : "socket://127.0.0.1:" + std::to_string(rawPort_);
    }

    std::vector<Door> doors() const {
        return {{"sorvanite", &NetworkTest::start, bridgeTurns, ". ... ", "5. ... d8h4\n0-1 {Black mates}\n"},
                {"sorvanite-cecp2", &NetworkTest::startCecp2, cecp2Turns, "move ", "move d8h4\n0-1 {Black mates}\n"},
                {"sorvanite-uci", &NetworkTest::startUci, uciTurns, "bestmove ",
                 "info string 0-1 {Black mates}\nbestmove d8h4\n"}};
    }

    int rfc2217Port_ = 0;
    int rawPort_ = 0;
    std::unique_ptr<ChildProcess> server_;
};

TEST_F(NetworkTest, WholeGamesFromEveryFrontDoorByRfc2217AndPlainTcp) {
    for (bool rfc2217 : {true, false}) {
        for (const Door& door : doors()) {
            if (underWine() && std::string(door.name) == "sorvanite-uci" && !std::getenv("SORVANITE_E2E_WINE_UCI"))
                continue;
            std::filesystem::remove(dir() / "zormlog.txt");
            ScriptedDevice scripted(device, kMateAnswers);
            auto program = (this->*door.start)(nullptr, {"--port", url(rfc2217)});
            std::string where = std::string(door.name) + " by " + url(rfc2217);
            for (const std::string& turn : door.turns()) {
                std::size_t from = program->output().size();
                program->send(turn);
                EXPECT_TRUE(program->waitForOutput(door.answered, 10s, from)) << where << ": " << turn;
            }
            ExitStatus status = program->finish("quit\n", 30s);
            EXPECT_EQ(status.code, 0) << where;
            EXPECT_TRUE(program->output().ends_with(door.ending)) << where << ": " << program->output();
            std::string received = scripted.finish();
            EXPECT_TRUE(received.ends_with("MOVE h2h3\rMOVE g2g4\r")) << where << ": " << received;
            // A server refusing a setting is recorded, and play goes on.
            if (rfc2217) {
                EXPECT_NE(transcript().find("--- DTR: "), std::string::npos) << transcript();
            }
            // ser2net serves one client at a time: the next waits until it has
            // let go of the device.
            EXPECT_TRUE(serverLetGoOfTheDevice()) << where;
        }
    }
}

// No Telnet byte reaches an answer, and a device byte 0xFF survives.
TEST_F(NetworkTest, TelnetBytesAreTakenOutAndDeviceBytesKept) {
    ScriptedDevice scripted(device, {{"OK\r"}, {"\xff" "e7e5\r"}});
    auto bridge = start(nullptr, {"--port", url(true)});
    EXPECT_EQ(bridge->finish("new\nlevel 40 5 0\ne2e4\nquit\n").code, 0);
    EXPECT_EQ(bridge->output(), "Sorvanite\n1. ... \xff" "e7e5\n");
    EXPECT_EQ(scripted.finish(), "NEW 300 7 b\rMOVE e2e4\r");
    EXPECT_NE(transcript().find(" <-- \xff" "e7e5\r\n"), std::string::npos);
}

TEST_F(NetworkTest, AServerThatGoesAwayIsADeviceHangingUp) {
    ScriptedDevice scripted(device, {{"OK\r"}});  // then it thinks for ever
    auto cecp2 = startCecp2(nullptr, {"--port", url(true)});
    cecp2->send("xboard\nprotover 2\nnew\nusermove e2e4\n");
    ASSERT_TRUE(waitForRecord(" --> MOVE e2e4"));
    server_->signal(SIGKILL);
    server_->finish();
    server_.reset();
    ExitStatus status = cecp2->finish({}, 20s);
    EXPECT_EQ(status.code, underWine() ? kWineStatus(1167) : 5);
    EXPECT_NE(cecp2->output().find("tellusererror The chess device has gone"), std::string::npos) << cecp2->output();
    EXPECT_EQ(cecp2->output().find("move "), std::string::npos) << cecp2->output();
}

TEST_F(NetworkTest, ARefusedConnectionEndsTheRunAndSaysWhy) {
    std::string nobody = "rfc2217://127.0.0.1:" + std::to_string(freePort());
    auto bridge = start(nullptr, {"--port", nobody});
    EXPECT_EQ(bridge->finish("new\n").code, underWine() ? kWineStatus(10061) : 111);  // ECONNREFUSED
    EXPECT_EQ(bridge->output(), "");
    auto uci = startUci(nullptr, {"--port", nobody});
    uci->finish("uci\n");
    EXPECT_EQ(uci->output(), "info string The chess device's port " + nobody +
                                 " cannot be opened: the server refused the connection (is ser2net serving that "
                                 "port?). For what to do, run: sorvanite-doctor --port " + nobody + "\n");
    ScriptedDevice scripted(device, {{"OK\r"}});
    auto doctor = startDoctor({"--port", url(true), "--talk"});
    EXPECT_EQ(doctor->finish({}, 20s).code, 0) << doctor->output();
    EXPECT_NE(doctor->output().find("line:       RFC 2217; the server reports speed 9600 bit/s"), std::string::npos)
        << doctor->output();
    EXPECT_NE(doctor->output().find("answer:  OK\\r"), std::string::npos) << doctor->output();
}

}  // namespace
}  // namespace sorvanite::e2e
