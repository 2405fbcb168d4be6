#include "session/bridge.h"

#include <chrono>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>
#include <thread>

#include "device/termination.h"
#include "session/command_table.h"
#include "session/console.h"
#include "session/standard_streams.h"

namespace sorvanite {

int runCommandLoop(std::istream& input, std::ostream& output, Port& port, Transcript& transcript) {
    FrontEnd frontEnd(input, output, transcript);
    DeviceChannel device(port, transcript);
    Session session{SessionState{}, frontEnd, device};

    frontEnd.sendToFrontEnd("Sorvanite");
    FrontEndLine line;
    while (!session.state.quitRequested && !session.state.deviceGone && frontEnd.readFrontEndLine(line)) {
        transcript.record({"==> ", {line, std::strlen(line)}, "\r\n"});
        // Once the run is asked to end, what the front end had already sent
        // is recorded but not acted on: no new exchange with the device.
        if (terminationRequested()) {
            if (std::string_view(line).starts_with("quit")) break;
            continue;
        }
        dispatchCommand(session, line);
    }
    output.flush();
    return session.state.deviceGone ? exitStatusForDeviceGone() : 0;
}

int runOnStandardStreams(const char* portPath, SessionRunner session, int heldPortWaitMs, const char* tellOpenFailure) {
    prepareConsole();
    PortOpenResult opened = openSerialPort(portPath);
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(heldPortWaitMs);
    while (!opened.port && isPortHeldError(opened.errorCode) && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        opened = openSerialPort(portPath);
    }
    if (!opened.port) {
        // Otherwise a GUI shows only that its engine went away. Not a port
        // held by another program, though: that is most often the GUI's own
        // second start of us (PyChess's analysing engine beside its game),
        // and a GUI told of it ends the game it is playing.
        if (tellOpenFailure && !isPortHeldError(opened.errorCode)) {
            std::string line = std::string(tellOpenFailure) + "The chess device's port " + portPath +
                               " cannot be opened: " + describeOpenError(portPath, opened.errorCode) +
                               ". For what to do, run: sorvanite-doctor --port " + portPath + "\n";
            writeStandardOutput(line.data(), line.size());
        }
        return exitStatusForOpenError(opened.errorCode);
    }

    Transcript transcript = openTranscript();
    StandardInputBuffer inputBuffer;
    StandardOutputBuffer outputBuffer;
    std::istream input(&inputBuffer);
    std::ostream output(&outputBuffer);
    int status = session(input, output, *opened.port, transcript);
    transcript.close();
    opened.port.reset();
    return status;
}

}  // namespace sorvanite
