#pragma once

#include <string>

#include "engine_game.h"

namespace sorvanite::emulator {

// The device's side of the line protocol, playing real chess through the
// engine: one answer, without its CR, for each command.
class ChessDevice {
public:
    explicit ChessDevice(EngineGame& game) : game_(game) {}
    std::string answer(const std::string& command);

private:
    std::string replyTo(const std::string& move);

    EngineGame& game_;
    bool started_ = false;
};

}  // namespace sorvanite::emulator
