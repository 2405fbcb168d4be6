#pragma once

namespace sorvanite {

// Prepares the process's standard streams and signals for a front end: bytes
// in without translation, and no death from a closed pipe or from the
// interrupts a front end sends while the bridge is its engine.
void prepareConsole();

}  // namespace sorvanite
