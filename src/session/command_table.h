#pragma once

#include <string_view>

#include "session/session.h"

namespace sorvanite {

using CommandHandler = void (*)(Session& session, const char* line);

// One row of the command table: a line that begins with `keyword` goes to
// `handler`. A row with an empty keyword matches lines of the move shape.
struct CommandRow {
    std::string_view keyword;
    CommandHandler handler;
};

// Acts on one front-end line. Lines that match no row are ignored.
void dispatchCommand(Session& session, const char* line);

// Whether `line` begins like a coordinate move: file, rank, file, rank.
bool hasMoveShape(const char* line);

}  // namespace sorvanite
