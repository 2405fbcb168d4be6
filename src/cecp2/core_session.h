#pragma once

#include <sstream>

#include "cecp2/protocol2.h"
#include "session/session.h"

namespace sorvanite::cecp2 {

// The bridge's own command table, move relay and port, driven a line at a
// time. The device exchange goes into the transcript as in the bridge; the
// core's own lines do not: the GUI's lines are the run's front-end records.
class CoreSession final : public Core {
public:
    CoreSession(Port& port, Transcript& transcript);
    std::vector<std::string> send(std::string_view line) override;
    bool deviceGone() const override { return session_.state.deviceGone; }

private:
    Transcript unrecorded_;
    std::istringstream unusedInput_;
    std::ostringstream replies_;
    FrontEnd frontEnd_;
    DeviceChannel device_;
    Session session_;
};

}  // namespace sorvanite::cecp2
