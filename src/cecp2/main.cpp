// sorvanite-cecp2: the chess device for GUIs that speak version 2 of the
// engine protocol, through the bridge's own core.
#include <cstring>

#include "session/core_session.h"
#include "cecp2/protocol2.h"
#include "session/bridge.h"
#include "session/program_options.h"

using namespace sorvanite;

namespace {

int runProtocol2(std::istream& input, std::ostream& output, Port& port, Transcript& transcript) {
    // The transcript records the GUI's lines and every line sent to it,
    // around the device exchange the core records.
    FrontEnd gui(input, output, transcript);
    CoreSession core(port, transcript);
    cecp2::Protocol2 protocol(core);
    FrontEndLine line;
    while (!protocol.quitRequested() && gui.readFrontEndLine(line)) {
        transcript.record({"==> ", {line, std::strlen(line)}, "\r\n"});
        for (const std::string& reply : protocol.handle(line)) gui.sendToFrontEnd(reply);
    }
    output.flush();
    return core.deviceGone() ? exitStatusForDeviceGone() : 0;
}

}  // namespace

// GUIs such as Knights start the next engine before the last has quit: give
// that one two seconds to let go of the port.
int main(int argc, char** argv) {
    const char* port = SORVANITE_PORT_PATH;
    if (auto status = readProgramOptions(
            argc, argv,
            {"sorvanite-cecp2", "The chess device on a serial port, for GUIs of the engine protocol's second version."},
            port))
        return *status;
    return runOnStandardStreams(port, runProtocol2, 2000, "tellusererror ");
}
