#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <string_view>

#include "transcript/transcript.h"

namespace sorvanite {

// A front-end command line: at most 255 characters and a NUL.
inline constexpr std::size_t kFrontEndLineSize = 256;
using FrontEndLine = char[kFrontEndLineSize];

// The front end's side of the conversation: command lines in, reply lines out.
class FrontEnd {
public:
    FrontEnd(std::istream& input, std::ostream& output, Transcript& transcript)
        : input_(input), output_(output), transcript_(transcript) {}

    // Delivers everything written so far, then reads the next line. The LF is
    // dropped, and a CR right before it; a line longer than 255 characters
    // keeps its first 255 and loses the rest. A NUL ends the line's text.
    // Returns false at end of input.
    bool readFrontEndLine(FrontEndLine& line);

    // Records `text` and writes it as one line to the front end.
    void sendToFrontEnd(std::string_view text);

private:
    std::istream& input_;
    std::ostream& output_;
    Transcript& transcript_;
};

}  // namespace sorvanite
