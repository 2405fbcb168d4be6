#include <atomic>

#include "device/termination.h"

namespace sorvanite {
namespace {

std::atomic<bool> requested{false};

}  // namespace

// A Windows console program ends on Ctrl-C or Ctrl-Break as it always has; a
// front end ends the bridge with "quit" or by closing its input. Only the
// program itself asks for an orderly end: the port's reads come back empty
// now and then to look.
bool terminationRequested() { return requested; }

void requestTermination() { requested = true; }

}  // namespace sorvanite
