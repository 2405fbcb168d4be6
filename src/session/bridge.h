#pragma once

#include <istream>
#include <ostream>

#include "device/port.h"
#include "transcript/transcript.h"

namespace sorvanite {

// Greets the front end, then reads and acts on its lines until "quit" or the
// end of its input.
void runCommandLoop(std::istream& input, std::ostream& output, Port& port, Transcript& transcript);

// The whole program: opens the device at `portPath` and the transcript, runs
// the command loop on the standard streams, closes both. Returns the process's
// exit status.
int runBridge(const char* portPath);

}  // namespace sorvanite
