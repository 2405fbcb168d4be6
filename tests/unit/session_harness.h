#pragma once

#include <sstream>
#include <string>

#include "session/bridge.h"
#include "unit/fake_port.h"

namespace sorvanite::testing {

// Runs the command loop over `input` against a fake port and an in-memory
// transcript, and keeps what each side received.
struct LoopRun {
    FakePort port;
    std::string transcript;
    std::string output;
    int status = -1;

    LoopRun& run(const std::string& input) {
        std::istringstream in(input);
        std::ostringstream out;
        Transcript log = memoryTranscript(transcript);
        status = runCommandLoop(in, out, port, log);
        log.close();
        output = out.str();
        return *this;
    }
};

}  // namespace sorvanite::testing
