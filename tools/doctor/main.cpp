// sorvanite-doctor: says whether the bridge can use its port, and if not,
// why and what to do; reads the end of a transcript in words.
#include <cstdio>
#include <cstring>
#include <string>

#include "device/device_channel.h"
#include "device/network_port.h"
#include "device/port.h"
#include "diagnosis.h"
#include "session/program_options.h"
#include "session/user_config.h"
#include "transcript/transcript.h"
#include "transcript_reading.h"

namespace sorvanite::doctor {
namespace {

const char* const kUsage =
    "usage: sorvanite-doctor [--port PORT] [--talk] [--save] [--transcript DIR]\n"
    "Opens the port sorvanite uses, exactly as the bridge does, and says whether\n"
    "it is usable and, if not, why and what to do.\n"
    "  --port PORT       check PORT instead of the one built in (%s); a device on\n"
    "                    another machine as rfc2217://HOST:PORT or socket://HOST:PORT\n"
    "  --talk            also send the device \"NEW 120 12 b\" and show its answer\n"
    "                    (this starts a game on the device)\n"
    "  --save            once the port checks out, make it your own default: every\n"
    "                    program then uses it without --port (your config file:\n"
    "                    %s)\n"
    "  --transcript DIR  also read the last run in DIR/zormlog.txt\n"
    "  --help, --version\n"
    "Exit status 0 when the port is usable; 1 when it opens but the device gave\n"
    "no answer to --talk; otherwise the status the bridge itself would end with.\n";

constexpr int kAnswerSeconds = 5;
constexpr int kNoAnswerStatus = 1;

// Whether the device answered the game start.
bool talk(Port& port) {
    Transcript none;
    DeviceChannel channel(port, none);
    std::printf("sending: NEW 120 12 b\\r\n");
    std::fflush(stdout);
    limitAnswerWait(kAnswerSeconds);
    channel.sendToDevice("NEW 120 12 b\r");
    DeviceBuffer answer;
    std::size_t length = channel.receiveFromDevice(answer).length;
    std::string text(answer, length);
    if (length > 0 && answer[length - 1] == '\r') {
        std::printf("answer:  %s\n", visible(text).c_str());
        return true;
    }
    if (port.outputHeld())
        std::printf("answer:  none: the command is still held back, because the device sent XOFF (software flow\n"
                    "         control) and never XON: see to the device's flow control, or its receive buffer\n");
    else if (length > 0)
        std::printf("answer:  %s, then nothing more within %d s (no CR)\n", visible(text).c_str(), kAnswerSeconds);
    else
        std::printf("answer:  none within %d s: check power, cable and speed (9600 8N1)\n", kAnswerSeconds);
    return false;
}

// The end of a run is all it reads: the transcript grows across runs
// without bound.
constexpr std::size_t kTailBytes = 64 * 1024;

void readTranscriptIn(const std::string& dir) {
    std::string path = dir + "/" + kTranscriptName;
    std::printf("\ntranscript: %s\n", path.c_str());
    bool cut = false;
    std::string whyNot;
    std::optional<std::string> tail = readTranscriptTail(path, kTailBytes, cut, whyNot);
    if (!tail) {
        if (whyNot == "there is none")
            std::printf("reading: there is none: the bridge has not run in %s, or could not write there\n", dir.c_str());
        else
            std::printf("reading: %s\n", whyNot.c_str());
        return;
    }
    TranscriptReading reading = readTranscript(*tail, 8, cut);
    for (const std::string& record : reading.lastRecords) std::printf("  %s\n", record.c_str());
    std::printf("reading: %s\n", reading.verdict.c_str());
}

// The command to give a GUI for the port that was checked.
void printEngineCommands(const char* path, bool given) {
    std::string arguments = given ? std::string(" --port ") + path : "";
    std::printf("engine:     sorvanite%s (XBoard, protocol 1), sorvanite-cecp2%s (protocol 2 GUIs), sorvanite-uci%s "
                "(UCI GUIs)\n",
                arguments.c_str(), arguments.c_str(), arguments.c_str());
}

int run(int argc, char** argv) {
    bool talkToDevice = false;
    const char* transcriptDir = nullptr;
    const char* path = SORVANITE_PORT_PATH;
    bool portGiven = false;
    bool save = false;
    UserConfig config = readUserConfig();
    if (config.port) path = config.port->c_str();
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc && argv[i + 1][0] != '\0';
        if (std::strcmp(argv[i], "--talk") == 0) {
            talkToDevice = true;
        } else if (std::strcmp(argv[i], "--save") == 0) {
            save = true;
        } else if (std::strcmp(argv[i], "--transcript") == 0 && hasValue) {
            transcriptDir = argv[++i];
        } else if (std::strcmp(argv[i], "--port") == 0 && hasValue) {
            path = argv[++i];
            portGiven = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(kUsage, SORVANITE_PORT_PATH, userConfigPath().c_str());
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("sorvanite-doctor %s\n", programVersion());
            return 0;
        } else {
            std::fprintf(stderr, "sorvanite-doctor: unknown option or missing value: '%s' (see sorvanite-doctor --help)\n",
                         argv[i]);
            return 2;
        }
    }

    std::string whereFrom = portGiven     ? "given with --port"
                            : config.port ? "from " + userConfigPath()
                                          : "built into this sorvanite";
    std::printf("port:       %s (%s)\n", path, whereFrom.c_str());
    std::printf("transcript: %s, in the directory the bridge runs in\n", kTranscriptName);
    PortOpenResult opened = openSerialPort(path);
    int status = 0;
    if (opened.port) {
        std::printf("open:       ok\n");
        std::string line = opened.port->describeLine();
        if (!line.empty()) std::printf("line:       %s\n", line.c_str());
        for (const std::string& note : opened.port->takeNotes()) std::printf("server:     %s\n", note.c_str());
        if (!talkToDevice || talk(*opened.port)) {
            std::printf("verdict:    the port is usable\n");
            std::string error;
            if (save && saveUserPort(path, error)) {
                std::printf("saved:      port=%s in %s: every program uses it without --port\n", path,
                            userConfigPath().c_str());
                portGiven = false;
            } else if (save) {
                std::printf("not saved:  %s\n", error.c_str());
            }
            printEngineCommands(path, portGiven);
        } else {
            std::printf("verdict:    the port opens, but the device gave no answer to NEW 120 12 b\n");
            if (save) std::printf("not saved:  the device must answer first\n");
            status = kNoAnswerStatus;
        }
    } else {
        status = exitStatusForOpenError(opened.errorCode);
        std::printf("open:       failed: %s (error %d; the bridge ends with status %d)\n",
                    errorText(opened.errorCode).c_str(), opened.errorCode, status);
        if (isNetworkPortName(path))
            std::printf("cause: %s.\n"
                        "fix:   check that ser2net (or your network-to-serial adapter) serves that host and port,\n"
                        "       and that no other client has the device: a server serves one at a time.\n",
                        describeOpenError(path, opened.errorCode).c_str());
        else
            std::fputs(explainOpenFailure(path, opened.errorCode).c_str(), stdout);
        std::printf("verdict:    the bridge cannot use the port\n");
        if (save) std::printf("not saved:  the port must be usable first\n");
    }
    opened.port.reset();
    if (transcriptDir) readTranscriptIn(transcriptDir);
    return status;
}

}  // namespace
}  // namespace sorvanite::doctor

int main(int argc, char** argv) { return sorvanite::doctor::run(argc, argv); }
