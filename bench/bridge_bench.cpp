// Measures what the bridge costs next to the serial wire: relay latency
// against a raw socat relay, CPU while waiting, start-up time and memory, and
// how fast it records and ignores front-end lines. Prints a table; checks
// nothing.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// With --spin the measuring side polls without sleeping, so its own wake-ups
// (slow in a VM whose idle CPUs halt) stay out of the figures.
bool spinWaits = false;

[[noreturn]] void die(const std::string& why) {
    std::fprintf(stderr, "sorvanite-bench: %s: %s\n", why.c_str(), std::strerror(errno));
    std::exit(1);
}

// The device's side of a pseudo-terminal; the other side stays open here so
// the line never hangs up between runs.
struct Pty {
    int master = -1;
    int keeper = -1;
    std::string path;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) || unlockpt(master)) die("posix_openpt");
        path = ptsname(master);
        keeper = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        tcgetattr(keeper, &raw);
        cfmakeraw(&raw);
        tcsetattr(keeper, TCSANOW, &raw);
    }
};

struct Child {
    pid_t pid = -1;
    int in = -1;   // its standard input
    int out = -1;  // its standard output
};

Child spawn(const std::vector<std::string>& argv, const std::string& dir) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) || pipe2(fromChild, O_CLOEXEC)) die("pipe");
    pid_t pid = fork();
    if (pid < 0) die("fork");
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        if (chdir(dir.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    return {pid, toChild[1], fromChild[0]};
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) die("write");
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Reads from `fd` until `buffer` ends with `terminator`; false after 5 s.
bool readUntil(int fd, std::string& buffer, std::string_view terminator) {
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!buffer.ends_with(terminator)) {
        pollfd entry{fd, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        if (poll(&entry, 1, spinWaits ? 0 : static_cast<int>(left)) <= 0) continue;
        char chunk[4096];
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

struct Latency {
    std::vector<double> toDevice;     // front end's line written -> command at the device
    std::vector<double> toFrontEnd;   // device's answer written -> line at the front end
};

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// One relay per exchange: the front end sends `frontLine`, the device must
// see `deviceCommand`, answers `answer`, and the front end must see a line
// ending in `frontReply`.
Latency measureRelay(const Child& relay, int device, int exchanges, std::string_view frontLine,
                     std::string_view deviceCommand, std::string_view answer, std::string_view frontReply) {
    Latency result;
    for (int i = 0; i < exchanges; ++i) {
        std::string atDevice, atFrontEnd;
        auto sent = Clock::now();
        writeAll(relay.in, frontLine);
        if (!readUntil(device, atDevice, deviceCommand)) die("no command at the device");
        result.toDevice.push_back(micros(Clock::now() - sent));
        auto answered = Clock::now();
        writeAll(device, answer);
        if (!readUntil(relay.out, atFrontEnd, frontReply)) die("no reply at the front end");
        result.toFrontEnd.push_back(micros(Clock::now() - answered));
    }
    return result;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14) ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int finish(Child& child, rusage* usage = nullptr) {
    close(child.in);
    std::string rest;
    char chunk[4096];
    while (read(child.out, chunk, sizeof chunk) > 0) {}
    close(child.out);
    int status = 0;
    wait4(child.pid, &status, 0, usage);
    return status;
}

std::string firstLine(const std::string& path, const std::string& prefix) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix)) return line.substr(line.find(':') + 2);
    return "?";
}

// Wire time of `bytes` at 9600 bit/s, 8N1: ten bits a byte.
double wireMicros(std::size_t bytes) { return static_cast<double>(bytes) * 10.0 / 9600.0 * 1e6; }

}  // namespace

int main(int argc, char** argv) {
    int exchanges = 2000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--spin") == 0) spinWaits = true;
        else exchanges = std::max(1, std::atoi(argv[i]));
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("sorvanite-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    Pty pty;
    std::filesystem::create_symlink(pty.path, dir / "com1");

    utsname host{};
    uname(&host);
    std::printf("sorvanite benchmark\n");
    std::printf("machine:  %s %s, %s, %ld cores\n", host.sysname, host.release,
                firstLine("/proc/cpuinfo", "model name").c_str(), sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("compiler: %s, build type %s\n", __VERSION__, SORVANITE_BENCH_BUILD_TYPE);
    std::printf("waiting:  %s\n\n", spinWaits ? "spinning (--spin)" : "blocking in poll");

    // Latency of one relayed move, both ways.
    Child bridge = spawn({SORVANITE_BENCH_BRIDGE}, dir.string());
    std::string greeting;
    if (!readUntil(bridge.out, greeting, "Sorvanite\n")) die("no greeting");
    Latency ours = measureRelay(bridge, pty.master, exchanges, "e2e4\n", "MOVE e2e4\r", "e7e5\r", "e7e5\n");

    // CPU while the bridge waits for the front end, then for the device.
    double before = cpuSeconds(bridge.pid);
    sleep(2);
    double idleFrontEnd = cpuSeconds(bridge.pid) - before;
    writeAll(bridge.in, "e2e4\n");
    std::string command;
    readUntil(pty.master, command, "\r");
    before = cpuSeconds(bridge.pid);
    sleep(2);
    double idleDevice = cpuSeconds(bridge.pid) - before;
    writeAll(pty.master, "e7e5\r");
    finish(bridge);

    std::optional<Latency> socat;
    if (system("command -v socat >/dev/null 2>&1") == 0) {
        Child relay = spawn({"socat", "-", pty.path + ",raw,echo=0"}, dir.string());
        usleep(200000);
        socat = measureRelay(relay, pty.master, exchanges, "MOVE e2e4\r", "MOVE e2e4\r", "e7e5\r", "e7e5\r");
        kill(relay.pid, SIGTERM);
        finish(relay);
    }

    std::printf("relayed moves: %d exchanges          median us   p99 us   vs socat   of wire time\n", exchanges);
    auto row = [&](const char* what, const std::vector<double>& bridgeTimes, const std::vector<double>* socatTimes,
                   double wire) {
        double median = percentile(bridgeTimes, 0.5), p99 = percentile(bridgeTimes, 0.99);
        std::printf("  %-34s %9.1f %8.1f", what, median, p99);
        if (socatTimes) std::printf("   %6.2fx", median / percentile(*socatTimes, 0.5));
        else std::printf("   %7s", "-");
        std::printf("   %8.3f %%\n", 100.0 * median / wire);
        if (socatTimes)
            std::printf("  %-34s %9.1f %8.1f\n", "  socat, same path", percentile(*socatTimes, 0.5),
                        percentile(*socatTimes, 0.99));
    };
    row("front end -> device (MOVE e2e4\\r)", ours.toDevice, socat ? &socat->toDevice : nullptr, wireMicros(10));
    row("device -> front end (e7e5\\r)", ours.toFrontEnd, socat ? &socat->toFrontEnd : nullptr, wireMicros(5));
    if (!socat) std::printf("  (socat not installed: no comparison)\n");

    std::printf("\nCPU while waiting 2 s: for the front end %.3f s, for the device %.3f s\n", idleFrontEnd, idleDevice);

    // The device on another machine: the same exchanges through socket://,
    // next to socat over the same TCP path.
    if (system("command -v socat >/dev/null 2>&1") == 0) {
        int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) || listen(listener, 1) ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length))
            die("listen");
        std::string where = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        auto overTcp = [&](const std::vector<std::string>& argv, std::string_view line, std::string_view reply) {
            Child relay = spawn(argv, dir.string());
            int device = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (device < 0) die("accept");
            int on = 1;
            setsockopt(device, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            Latency latency = measureRelay(relay, device, exchanges, line, "MOVE e2e4\r", "e7e5\r", reply);
            close(relay.in);
            close(device);
            kill(relay.pid, SIGTERM);
            finish(relay);
            return latency;
        };
        Latency network = overTcp({SORVANITE_BENCH_BRIDGE, "--port", "socket://" + where}, "e2e4\n", "e7e5\n");
        Latency socatTcp = overTcp({"socat", "-", "TCP:" + where + ",nodelay"}, "MOVE e2e4\r", "e7e5\r");
        close(listener);
        std::printf("\nthrough socket:// (TCP on the loopback), %d exchanges  median us   p99 us   vs socat\n", exchanges);
        auto tcpRow = [](const char* what, const std::vector<double>& times, const std::vector<double>& socatTimes) {
            std::printf("  %-34s %9.1f %8.1f   %6.2fx\n", what, percentile(times, 0.5), percentile(times, 0.99),
                        percentile(times, 0.5) / percentile(socatTimes, 0.5));
            std::printf("  %-34s %9.1f %8.1f\n", "  socat, same path", percentile(socatTimes, 0.5),
                        percentile(socatTimes, 0.99));
        };
        tcpRow("front end -> device (MOVE e2e4\\r)", network.toDevice, socatTcp.toDevice);
        tcpRow("device -> front end (e7e5\\r)", network.toFrontEnd, socatTcp.toFrontEnd);
    }

    // Start-up: exec to greeting, and peak memory.
    std::vector<double> startTimes, peakKiB;
    for (int i = 0; i < 50; ++i) {
        auto started = Clock::now();
        Child child = spawn({SORVANITE_BENCH_BRIDGE}, dir.string());
        std::string out;
        readUntil(child.out, out, "Sorvanite\n");
        startTimes.push_back(micros(Clock::now() - started));
        rusage usage{};
        finish(child, &usage);
        peakKiB.push_back(static_cast<double>(usage.ru_maxrss));
    }
    std::printf("start-up (median of 50): %.2f ms to the greeting, peak RSS %.0f KiB\n",
                percentile(startTimes, 0.5) / 1000.0, percentile(peakKiB, 0.5));

    // Throughput of lines that are recorded and ignored.
    const int lines = 1000000;
    std::string input;
    input.reserve(static_cast<std::size_t>(lines) * 9);
    for (int i = 0; i < lines; ++i) input += "otim 100\n";
    std::filesystem::remove(dir / "zormlog.txt");
    auto started = Clock::now();
    Child child = spawn({SORVANITE_BENCH_BRIDGE}, dir.string());
    writeAll(child.in, input);
    finish(child);
    double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf("ignored lines: %d \"otim 100\" lines in %.2f s, %.0f lines/s (transcript %ju bytes)\n", lines,
                seconds, lines / seconds, static_cast<std::uintmax_t>(std::filesystem::file_size(dir / "zormlog.txt")));

    std::filesystem::remove_all(dir);
    return 0;
}
