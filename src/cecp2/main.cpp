// sorvanite-cecp2: the chess device for GUIs that speak version 2 of the
// engine protocol, through the bridge's own core.
#include <chrono>
#include <istream>
#include <ostream>
#include <thread>

#include "cecp2/core_session.h"
#include "cecp2/protocol2.h"
#include "session/console.h"
#include "session/standard_streams.h"

using namespace sorvanite;

int main() {
    prepareConsole();
    PortOpenResult opened = openSerialPort(SORVANITE_PORT_PATH);
    // GUIs such as Knights start the next engine before the last has quit:
    // give that one two seconds to let go of the port.
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!opened.port && isPortHeldError(opened.errorCode) && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        opened = openSerialPort(SORVANITE_PORT_PATH);
    }
    if (!opened.port) return exitStatusForOpenError(opened.errorCode);

    Transcript transcript = openTranscript();
    StandardInputBuffer inputBuffer;
    StandardOutputBuffer outputBuffer;
    std::istream input(&inputBuffer);
    std::ostream output(&outputBuffer);
    Transcript unrecorded;  // the GUI's own lines are not the bridge's records
    FrontEnd gui(input, output, unrecorded);
    cecp2::CoreSession core(*opened.port, transcript);
    cecp2::Protocol2 protocol(core);

    FrontEndLine line;
    while (!protocol.quitRequested() && gui.readFrontEndLine(line)) {
        for (const std::string& reply : protocol.handle(line)) gui.sendToFrontEnd(reply);
    }
    output.flush();
    transcript.close();
    opened.port.reset();
    return 0;
}
