#pragma once

#include <cstddef>

namespace sorvanite {

// Prepares the process for a front end, before anything else is opened:
// standard descriptors that are all there (so neither the port nor the
// transcript can take one of them), bytes in without translation, and
// signals that end a run in order or not at all.
void prepareConsole();

// Reads what standard input has, up to `size` bytes, waiting when there is
// nothing yet. Returns 0 at end of input: the front end closed it, a read
// failed, or the run was asked to end and nothing more is waiting.
std::size_t readStandardInput(char* buffer, std::size_t size);

// Writes all of `data` to standard output, waiting while the front end is
// slow to read. Output to a front end that has gone, or that stays unable to
// take it once the run was asked to end, is dropped.
void writeStandardOutput(const char* data, std::size_t size);

}  // namespace sorvanite
