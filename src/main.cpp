#include "session/bridge.h"
#include "session/program_options.h"

int main(int argc, char** argv) {
    const char* port = SORVANITE_PORT_PATH;
    if (auto status = sorvanite::readProgramOptions(
            argc, argv, {"sorvanite", "The chess device on a serial port, for front ends of the engine protocol's first version."},
            port))
        return *status;
    return sorvanite::runBridge(port);
}
