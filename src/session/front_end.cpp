#include "session/front_end.h"

#include <cstring>

namespace sorvanite {

bool FrontEnd::readFrontEndLine(FrontEndLine& line) {
    // Lines written while handling the previous command must reach the front
    // end before we wait for its next one, or both sides would wait.
    output_.flush();

    std::streambuf* source = input_.rdbuf();
    using Traits = std::streambuf::traits_type;
    constexpr std::size_t capacity = kFrontEndLineSize - 1;
    std::size_t length = 0;   // characters in the line so far, stored or not
    bool sawAny = false;
    bool lastWasCr = false;
    for (;;) {
        Traits::int_type next = source ? source->sbumpc() : Traits::eof();
        if (Traits::eq_int_type(next, Traits::eof())) {
            if (!sawAny) return false;
            break;  // a last line without LF still counts
        }
        sawAny = true;
        char c = Traits::to_char_type(next);
        if (c == '\n') {
            // Tail of an over-long line: only the CR-before-LF rule can still
            // shorten what was kept, and only if the CR itself was kept.
            if (lastWasCr && length <= capacity) --length;
            break;
        }
        // Characters past the 255th are read and dropped up to the LF: acting
        // on them as a line of their own would run commands nobody sent.
        if (length < capacity) line[length] = c;
        ++length;
        lastWasCr = (c == '\r');
    }
    if (length > capacity) length = capacity;
    line[length] = '\0';
    return true;
}

void FrontEnd::sendToFrontEnd(std::string_view text) {
    transcript_.record({"<== ", text, "\r\n"});
    output_.write(text.data(), static_cast<std::streamsize>(text.size()));
    output_.put('\n');
}

}  // namespace sorvanite
