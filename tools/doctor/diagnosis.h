#pragma once

#include <string>

namespace sorvanite::doctor {

// What a failed open of the port at `path` most likely means here, and what
// to do about it, as lines of text for a person.
std::string explainOpenFailure(const char* path, int errorCode);

// The platform's own words for `errorCode`.
std::string errorText(int errorCode);

// Ends a wait for the device's answer after `seconds`: the receive then
// comes back as a failed read (POSIX), or the program ends (Windows).
void limitAnswerWait(int seconds);

}  // namespace sorvanite::doctor
