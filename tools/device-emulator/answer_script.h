#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace sorvanite::emulator {

// One step of a scripted answer.
struct ScriptStep {
    enum class Kind { Bytes, Pause, HangUp };
    Kind kind = Kind::Bytes;
    std::string bytes;     // Bytes: what to send
    int delayMs = 0;       // Bytes: pause before each byte (trickle); Pause: how long
};

using ScriptedAnswer = std::vector<ScriptStep>;

// Reads a script: one answer a line, used for the commands in turn. Blank
// lines are empty answers (a bare CR); lines starting with '#' are comments.
// Escapes: \r \n \t \0 \\ \{ \xHH (XON is \x11, XOFF \x13). Directives:
//   {pause MS}    wait before sending what follows
//   {trickle MS}  send what follows one byte at a time, MS apart
//   {hangup}      close the line here (what follows is not sent)
//   {nocr}        do not end the answer with the usual CR
// Returns nothing and sets `error` ("line 3: unknown directive {foo}") when
// the script is malformed.
std::optional<std::vector<ScriptedAnswer>> parseScript(std::istream& in, std::string& error);

}  // namespace sorvanite::emulator
