#pragma once

#include <deque>
#include <string>
#include <vector>

#include "session/core_session.h"

namespace sorvanite::testing {

using Lines = std::vector<std::string>;

// A core that keeps every line it is sent and answers each move and "go"
// with the next scripted reply, as the bridge's core would format it.
class FakeCore final : public Core {
public:
    Lines send(std::string_view line) override {
        lines.emplace_back(line);
        bool exchange = line == "go" || line == "draw" || (line.size() >= 4 && line[0] >= 'a' && line[0] <= 'h' &&
                                                           line[1] >= '1' && line[1] <= '8');
        if (!exchange || replies.empty()) return {};
        Lines reply = replies.front();
        replies.pop_front();
        return reply;
    }
    Lines lines;
    std::deque<Lines> replies;
};

// Drives a front door as its GUI would, a line at a time.
template <class Protocol>
struct GuiDriver {
    FakeCore core;
    Protocol protocol{core};
    Lines said;  // everything the GUI was told

    GuiDriver& replies(std::initializer_list<Lines> replies) {
        core.replies.insert(core.replies.end(), replies);
        return *this;
    }
    Lines send(std::initializer_list<std::string_view> lines) {
        Lines out;
        for (std::string_view line : lines)
            for (std::string& reply : protocol.handle(line)) out.push_back(std::move(reply));
        said.insert(said.end(), out.begin(), out.end());
        return out;
    }
};

}  // namespace sorvanite::testing
