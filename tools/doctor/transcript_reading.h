#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sorvanite::doctor {

// The last run in a transcript, as a person looking for trouble reads it.
struct TranscriptReading {
    std::vector<std::string> lastRecords;  // with CR, LF and other controls made visible
    std::string verdict;                   // one line: how the run ended, and the likely cause
};

// `contents` may be only the end of the file (`cut`): its first, partial
// record is then passed over, and a run whose start is not in it is read from
// what there is.
TranscriptReading readTranscript(std::string_view contents, std::size_t recordCount, bool cut = false);

// `bytes` with CR as \r, LF as \n and other control bytes as \xNN.
std::string visible(std::string_view bytes);

}  // namespace sorvanite::doctor
