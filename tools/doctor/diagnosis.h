#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace sorvanite::doctor {

// What a failed open of the port at `path` most likely means here, and what
// to do about it, as lines of text for a person.
std::string explainOpenFailure(const char* path, int errorCode);

// The platform's own words for `errorCode`.
std::string errorText(int errorCode);

// The last `maxBytes` of the transcript at `path`, read without waiting:
// only a regular file is read (a FIFO could hang us, a device never end).
// Empty with `whyNot` set when there is nothing to read. `cut` tells whether
// the file is longer than what was read.
std::optional<std::string> readTranscriptTail(const std::string& path, std::size_t maxBytes, bool& cut,
                                              std::string& whyNot);

// Ends a wait for the device's answer after `seconds`: the receive then
// comes back as a failed read (POSIX), or the program ends (Windows).
void limitAnswerWait(int seconds);

}  // namespace sorvanite::doctor
