#pragma once

#include "device/device_channel.h"
#include "session/front_end.h"
#include "session/session_state.h"

namespace sorvanite {

// What a command handler works with: the state of the run and both sides of
// the conversation.
struct Session {
    SessionState state;
    FrontEnd& frontEnd;
    DeviceChannel& device;
};

}  // namespace sorvanite
