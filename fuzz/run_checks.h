#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "transcript/log_file.h"

namespace sorvanite::fuzz {

// A transcript file that keeps each record as the pieces it was written in,
// so the checks can see record boundaries that the bytes alone blur.
class RecordingLogFile final : public LogFile {
public:
    using Record = std::vector<std::string>;
    explicit RecordingLogFile(std::vector<Record>& records) : records_(records) {}
    void append(std::span<const std::string_view> pieces) override {
        records_.emplace_back(pieces.begin(), pieces.end());
    }

private:
    std::vector<Record>& records_;
};

// Runs the command loop on `frontEndInput` against a fake device serving
// `deviceScript` and aborts, naming the broken rule, unless:
// - everything sent to the device is a well-formed NEW or MOVE command with
//   an acceptable move, and each is followed by exactly one receive;
// - every line on standard output was recorded, in order, as a "<== " record;
// - nothing reaches the device after a read from it failed;
// - every record is well formed and the run is framed by its start and end
//   markers.
// `deviceScript` bytes are served one per read, except: 0xFE is an empty
// read, 0xFF N a failing read with error N, 0xFC B a byte sent unasked (waiting
// before the next command), 0xFD B a failing read that still
// delivered byte B.
void runAndCheck(std::string_view frontEndInput, std::string_view deviceScript);

}  // namespace sorvanite::fuzz
