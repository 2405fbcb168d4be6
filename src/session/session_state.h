#pragma once

#include <cstdint>

namespace sorvanite {

// Everything the bridge remembers between front-end lines, for one run.
struct SessionState {
    bool quitRequested = false;
    bool deviceGone = false;  // the line failed: the run ends, nothing more goes to the port
    bool newGamePending = false;  // "new" seen, NEW not yet sent to the device
    bool levelSet = false;        // "level" seen since the last NEW
    bool deviceWhite = false;
    std::int32_t moveNumber = 0;  // moves of the current game so far
    std::int32_t movesPerControl = 0;
    std::int32_t baseSeconds = 120;  // first clock figure of the next NEW
    std::int32_t secondsPerMove = 12;  // second clock figure of the next NEW
};

}  // namespace sorvanite
