#include <fcntl.h>
#include <io.h>

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

}  // namespace sorvanite
