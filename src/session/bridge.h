#pragma once

#include <istream>
#include <ostream>

#include "device/port.h"
#include "transcript/transcript.h"

namespace sorvanite {

// Greets the front end, then reads and acts on its lines until "quit", the
// end of its input or the device's line failing. Returns the run's exit
// status: 0, or exitStatusForDeviceGone().
int runCommandLoop(std::istream& input, std::ostream& output, Port& port, Transcript& transcript);

using SessionRunner = int (*)(std::istream& input, std::ostream& output, Port& port, Transcript& transcript);

// A whole program: opens the device at `portPath` and the transcript, runs
// `session` on the standard streams, closes both. A port that another program
// holds is tried again for up to `heldPortWaitMs`. A port that cannot be
// opened is told to the front end in one line that starts with
// `tellOpenFailure` ("tellusererror "), where it has one. Returns the
// process's exit status.
int runOnStandardStreams(const char* portPath, SessionRunner session, int heldPortWaitMs = 0,
                         const char* tellOpenFailure = nullptr);

// The bridge: the command loop, on a port that must be free at once.
inline int runBridge(const char* portPath) { return runOnStandardStreams(portPath, runCommandLoop); }

}  // namespace sorvanite
