#pragma once

#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "session/session.h"

namespace sorvanite {

// The bridge's core as the other front doors drive it: one line of the
// first-generation command language in, the lines the core answers out.
class Core {
public:
    virtual ~Core() = default;
    virtual std::vector<std::string> send(std::string_view line) = 0;
    // The device's line failed: the core takes no more lines, and the run ends.
    virtual bool deviceGone() const { return false; }
};

// "N. ... move" as the core numbers the device's moves: the text after it.
std::optional<std::string_view> numberedMove(std::string_view line);

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

}  // namespace sorvanite
