#pragma once

#include <initializer_list>

namespace sorvanite {

// A request from outside to end the run: on POSIX the signals given to
// catchTerminationSignals. Once one has arrived, no wait of the bridge waits
// any more, so the run can end in order. Windows has no such request.
bool terminationRequested();

// Asks the run to end, as a termination signal does: every wait, in any
// thread, stops waiting. (Windows: waits already under way are not cut short.)
void requestTermination();

// POSIX: `signals` become termination requests. They stay blocked except
// inside waitUntilReady, so one that lands just before a wait is not lost.
void catchTerminationSignals(std::initializer_list<int> signals);

// POSIX: from now on every wait also watches `fd`, the front end's side of
// standard output: once nobody can read it any more (the reading end of a
// pipe, socket or terminal is gone), that is a termination request too.
void watchFrontEnd(int fd);

// POSIX: waits until `fd` is ready for `events` (poll(2) flags) or reports
// an error or hang-up, which the next read or write will tell. Once
// termination has been requested it only looks, without waiting. Returns
// false when the descriptor was not ready. With `timeoutMs` at 0 or more it
// waits no longer than that.
bool waitUntilReady(int fd, short events, int timeoutMs = -1);

}  // namespace sorvanite
