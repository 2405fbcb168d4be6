#pragma once

#include "session/session.h"

namespace sorvanite {

// What the front end is told, once, when the device's line fails mid-game.
inline constexpr const char* kDeviceGoneNotice =
    "tellusererror The chess device has gone: its serial line hung up or failed, so the game cannot go on";

// "go": when a game with the device as White is ready to start, starts it and
// passes on the device's first move.
void relayGo(Session& session);

// A line of the move shape: starts a pending game with the device as Black,
// then sends the move and passes on the device's answer.
void relayMove(Session& session, const char* line);

}  // namespace sorvanite
