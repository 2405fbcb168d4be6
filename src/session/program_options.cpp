#include "session/program_options.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "session/user_config.h"

namespace sorvanite {

const char* programVersion() { return SORVANITE_VERSION; }

std::optional<int> readProgramOptions(int argc, char** argv, const ProgramInfo& program, const char*& port) {
    // Without --port, the user's own default comes before the built-in one:
    // GUIs such as PyChess start an engine without arguments.
    static std::string configured;
    const char* builtIn = port;
    std::string whereFrom = "built in";
    if (UserConfig config = readUserConfig(); config.port) {
        configured = *config.port;
        port = configured.c_str();
        whereFrom = "from " + userConfigPath();
    }
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
            std::printf("usage: %s [--port PORT]\n%s\n"
                        "  --port PORT  the chess device's serial port, or one on another machine:\n"
                        "               rfc2217://HOST:PORT, socket://HOST:PORT\n"
                        "               without it: %s (%s; built in: %s;\n"
                        "               sorvanite-doctor --port PORT --save sets your own)\n"
                        "  --help       show this text\n"
                        "  --version    show the version\n"
                        "See %s(1).\n",
                        program.name, program.description, port, whereFrom.c_str(), builtIn, program.name);
            return 0;
        }
        if (std::strcmp(option, "--version") == 0) {
            std::printf("%s %s\n", program.name, programVersion());
            return 0;
        }
        if (std::strcmp(option, "--port") == 0 && i + 1 < argc && argv[i + 1][0] != '\0') {
            port = argv[++i];
            continue;
        }
        // One line: a GUI shows an engine's standard error as it comes.
        if (std::strcmp(option, "--port") == 0)
            std::fprintf(stderr, "%s: --port needs a port, such as /dev/ttyUSB0 or COM3\n", program.name);
        else
            std::fprintf(stderr, "%s: unknown option '%s' (see %s --help)\n", program.name, option, program.name);
        return 2;
    }
    return std::nullopt;
}

}  // namespace sorvanite
