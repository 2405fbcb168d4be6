#include <unistd.h>

#include <csignal>

#include "session/console.h"

namespace sorvanite {

void prepareConsole() {
    // A front end that closes its end of our output must not end the bridge:
    // only "quit" or the end of its input does.
    std::signal(SIGPIPE, SIG_IGN);
    // XBoard interrupts an engine of this protocol generation before nearly
    // every move it passes on. Started by a front end, we must live through
    // that; started by a person at a terminal, Ctrl-C still ends the bridge.
    if (!::isatty(STDIN_FILENO)) std::signal(SIGINT, SIG_IGN);
}

}  // namespace sorvanite
