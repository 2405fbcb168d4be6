#include "session/core_session.h"

#include <algorithm>

#include "device/termination.h"
#include "session/command_table.h"

namespace sorvanite {

std::optional<std::string_view> numberedMove(std::string_view line) {
    std::size_t dot = line.find(". ... ");
    if (dot == 0 || dot == std::string_view::npos) return std::nullopt;
    for (std::size_t i = 0; i < dot; ++i)
        if (line[i] < '0' || line[i] > '9') return std::nullopt;
    return line.substr(dot + 6);
}

CoreSession::CoreSession(Port& port, Transcript& transcript)
    : frontEnd_(unusedInput_, replies_, unrecorded_),
      device_(port, transcript),
      session_{SessionState{}, frontEnd_, device_} {}

std::vector<std::string> CoreSession::send(std::string_view line) {
    FrontEndLine text;
    std::size_t length = std::min(line.size(), kFrontEndLineSize - 1);
    line.copy(text, length);
    text[length] = '\0';
    // Once the run is asked to end, or the device has gone, lines are
    // recorded but not acted on: no new exchange with the device.
    if (terminationRequested() || session_.state.deviceGone) return {};
    dispatchCommand(session_, text);

    std::vector<std::string> replies;
    std::istringstream written(replies_.str());
    for (std::string reply; std::getline(written, reply);) replies.push_back(reply);
    replies_.str({});
    return replies;
}

}  // namespace sorvanite
