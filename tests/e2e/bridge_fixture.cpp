#include "e2e/bridge_fixture.h"

#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <fstream>
#include <sstream>

namespace sorvanite::e2e {

std::string readFile(const std::filesystem::path& path) {
    // Only regular files: a transcript that is a link to a device (to make its
    // writes fail) must not be read for ever.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return {};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

std::string recordsAfterGreeting(const std::string& transcript) {
    const std::string head = "New session\r\n<== Sorvanite\r\n";
    if (transcript.rfind(head, 0) != 0) return "(no greeting) " + transcript;
    return transcript.substr(head.size());
}

double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    // Fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) user = std::stoull(field);
        if (i == 15) system = std::stoull(field);
    }
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

bool underWine() { return std::getenv("SORVANITE_E2E_WINE_BRIDGE") != nullptr; }

std::filesystem::path portLinkPath(const std::filesystem::path& scratchDir) {
    if (!underWine()) return scratchDir / "com1";
    const char* prefix = std::getenv("WINEPREFIX");
    return std::filesystem::path(prefix ? prefix : "") / "dosdevices" / "com1";
}

void ScratchDirTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    // The process id keeps runs of the same test apart (the valgrind and
    // Wine runs go on beside the plain one).
    dir_ = std::filesystem::path(SORVANITE_E2E_SCRATCH) / (name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::remove(portLinkPath(dir_));
    // The programs read the user's own default port: never the tester's.
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
}

void BridgeTest::SetUp() {
    ScratchDirTest::SetUp();
    std::filesystem::create_symlink(device.portPath(), portLinkPath(dir()));
}

void asOrdinaryUser() {
    if (::getuid() != 0) return;
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(125);
}

void ScratchDirTest::openUpForOrdinaryUser() {
    if (::getuid() != 0) return;
    namespace fs = std::filesystem;
    fs::path place = fs::temp_directory_path() / ("sorvanite-e2e-" + dir_.filename().string());
    fs::remove_all(place);
    fs::create_directories(place / "bin");
    for (const auto& entry : fs::directory_iterator(dir_)) fs::rename(entry.path(), place / entry.path().filename());
    fs::remove_all(dir_);
    dir_ = place;
    fs::permissions(dir_, fs::perms::all);
    for (std::string* program : {&bridge_, &doctor_, &cecp2_, &uci_}) {
        fs::path copy = dir_ / "bin" / fs::path(*program).filename();
        fs::copy_file(*program, copy);
        *program = copy.string();
    }
}

void ScratchDirTest::TearDown() {
    // Keep the scratch directory of a failed test for a look at its transcript.
    if (!HasFailure()) std::filesystem::remove_all(dir_);
}

bool ScratchDirTest::waitForRecord(std::string_view text, std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (transcript().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::string ScratchDirTest::transcript() const { return readFile(dir_ / "zormlog.txt"); }

std::unique_ptr<ChildProcess> ScratchDirTest::startProgram(const std::string& program, const char* windowsProgramVariable,
                                                         const std::vector<std::string>& args, void (*prepare)()) {
    std::vector<std::string> argv;
    if (!underWine()) {
        // SORVANITE_E2E_WRAPPER runs the bridge under a tool such as valgrind.
        std::istringstream wrapper(std::getenv("SORVANITE_E2E_WRAPPER") ? std::getenv("SORVANITE_E2E_WRAPPER") : "");
        for (std::string word; wrapper >> word;) argv.push_back(word);
        argv.push_back(program);
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<ChildProcess>(argv, dir_.string(), prepare);
    }
    const char* wine = std::getenv("SORVANITE_E2E_WINE");
    const char* exe = std::getenv(windowsProgramVariable);
    argv = {wine ? wine : "/usr/lib/wine/wine64", exe ? exe : "missing-windows-program.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto child = std::make_unique<ChildProcess>(argv, dir_.string(), prepare);
    child->textModeOutput();
    return child;
}

std::unique_ptr<ChildProcess> ScratchDirTest::start(void (*prepare)(), const std::vector<std::string>& args) {
    return startProgram(bridge_, "SORVANITE_E2E_WINE_BRIDGE", args, prepare);
}

std::unique_ptr<ChildProcess> ScratchDirTest::startCecp2(void (*prepare)(), const std::vector<std::string>& args) {
    return startProgram(cecp2_, "SORVANITE_E2E_WINE_CECP2", args, prepare);
}

std::unique_ptr<ChildProcess> ScratchDirTest::startUci(void (*prepare)(), const std::vector<std::string>& args) {
    return startProgram(uci_, "SORVANITE_E2E_WINE_UCI", args, prepare);
}

std::unique_ptr<ChildProcess> ScratchDirTest::startDoctor(const std::vector<std::string>& args, void (*prepare)()) {
    return startProgram(doctor_, "SORVANITE_E2E_WINE_DOCTOR", args, prepare);
}

void expectQuickOrderlyEndOnSigterm(ChildProcess& child) {
    child.signal(SIGTERM);
    auto asked = std::chrono::steady_clock::now();
    ExitStatus status = child.finish({}, 5s);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 0);
}

RunResult BridgeTest::run(const std::string& input, std::vector<Answer> answers, Starter starter) {
    ScriptedDevice scripted(device, std::move(answers));
    auto bridge = starter ? (this->*starter)(nullptr, {}) : start();
    RunResult result;
    // A bridge under valgrind is some twenty times slower.
    result.status = bridge->finish(input, std::getenv("SORVANITE_E2E_WRAPPER") ? 120s : 20s);
    result.output = bridge->output();
    if (underWine()) {
        // Every line end of a Windows text stream is CR LF.
        std::string raw = bridge->rawOutput();
        for (std::size_t i = 0; i < raw.size(); ++i)
            EXPECT_TRUE(raw[i] != '\n' || (i > 0 && raw[i - 1] == '\r')) << "bare LF in " << raw;
    }
    result.device = scripted.finish();
    result.transcript = transcript();
    return result;
}

}  // namespace sorvanite::e2e
