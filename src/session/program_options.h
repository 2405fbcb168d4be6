#pragma once

#include <optional>

namespace sorvanite {

// What every program of the bridge takes on its command line: --port PORT
// (the serial port, instead of the one built in), --help and --version.
struct ProgramInfo {
    const char* name;         // "sorvanite"
    const char* description;  // one line for --help
};

// Reads the options into `port`. Returns the exit status when the program
// should end here: 0 after --help or --version (printed on standard output),
// 2 after an unknown option or a missing value (one line on standard error),
// before anything is opened.
std::optional<int> readProgramOptions(int argc, char** argv, const ProgramInfo& program, const char*& port);

// The version of this build, such as "0.1.0".
const char* programVersion();

}  // namespace sorvanite
