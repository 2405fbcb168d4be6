#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "session/console.h"

namespace sorvanite {

void prepareConsole() {
    // Our own line rules apply to the front end's bytes exactly as on POSIX:
    // a CR before LF dropped, a lone CR kept, and Ctrl-Z is just a byte.
    // Standard output stays a text stream, so each line ends in CR LF.
    (void)_setmode(_fileno(stdin), _O_BINARY);
    // Windows front ends do not interrupt a local engine, and a closed pipe
    // gives a write error rather than a signal: nothing else to prepare.
}

std::size_t readStandardInput(char* buffer, std::size_t size) {
    int count = _read(0, buffer, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
    return count > 0 ? static_cast<std::size_t>(count) : 0;  // any failure ends the input
}

void writeStandardOutput(const char* data, std::size_t size) {
    while (size > 0) {
        int written = _write(1, data, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
        if (written <= 0) return;  // the front end has gone: drop the output
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

}  // namespace sorvanite
