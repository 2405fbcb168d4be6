#pragma once

#include <string>
#include <sys/types.h>

namespace sorvanite {

// Terminal programs (minicom, cu, picocom and their kind) claim a port with a
// UUCP lock file, /run/lock/LCK..<name> or /var/lock/LCK..<name>, holding the
// process number of the holder. Returns the number of the live process that
// holds such a lock on `portPath` (named as given, or as the device it links
// to), and in `lockFile` the file that says so; 0 when there is none. A lock
// file of a process that has ended is stale and does not count.
pid_t uucpLockHolder(const char* portPath, std::string* lockFile = nullptr);

}  // namespace sorvanite
