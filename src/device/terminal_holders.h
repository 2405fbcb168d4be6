#pragma once

#include <sys/types.h>

#include <set>

namespace sorvanite {

// The processes other than this one that have the device with number
// `device` (a stat's st_rdev) open, from /proc/PID/fd: our own user's
// processes, or all of them as root. POSIX only.
std::set<long> processesHolding(dev_t device);

}  // namespace sorvanite
