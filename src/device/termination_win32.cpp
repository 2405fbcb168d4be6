#include "device/termination.h"

namespace sorvanite {

// A Windows console program ends on Ctrl-C or Ctrl-Break as it always has; a
// front end ends the bridge with "quit" or by closing its input.
bool terminationRequested() { return false; }

}  // namespace sorvanite
