#include "session/bridge.h"

#include <cstring>
#include <iostream>

#include "session/command_table.h"
#include "session/console.h"

namespace sorvanite {

void runCommandLoop(std::istream& input, std::ostream& output, Port& port, Transcript& transcript) {
    FrontEnd frontEnd(input, output, transcript);
    DeviceChannel device(port, transcript);
    Session session{SessionState{}, frontEnd, device};

    frontEnd.sendToFrontEnd("Sorvanite");
    FrontEndLine line;
    while (!session.state.quitRequested && frontEnd.readFrontEndLine(line)) {
        transcript.record({"==> ", {line, std::strlen(line)}, "\r\n"});
        dispatchCommand(session, line);
    }
    output.flush();
}

int runBridge(const char* portPath) {
    PortOpenResult opened = openSerialPort(portPath);
    if (!opened.port) return exitStatusForOpenError(opened.errorCode);

    prepareConsole();
    std::ios::sync_with_stdio(false);
    Transcript transcript = openTranscript();
    runCommandLoop(std::cin, std::cout, *opened.port, transcript);
    transcript.close();
    opened.port.reset();
    return 0;
}

}  // namespace sorvanite
