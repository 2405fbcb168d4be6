#include "transcript_reading.h"

#include <cstdio>
#include <cstdlib>

namespace sorvanite::doctor {
namespace {

constexpr std::string_view kRunStart = "New session\r\n";
constexpr std::string_view kRunEnd = "Session ends\r\n";

// Every record ends with LF; a device answer cut short by an error ends with
// a bare LF, every other record with CR LF.
std::vector<std::string_view> splitRecords(std::string_view run) {
    std::vector<std::string_view> records;
    while (!run.empty()) {
        std::size_t end = run.find('\n');
        std::size_t length = end == std::string_view::npos ? run.size() : end + 1;
        records.push_back(run.substr(0, length));
        run.remove_prefix(length);
    }
    return records;
}

std::string trimmed(std::string_view record, std::size_t prefix) {
    record.remove_prefix(prefix);
    while (!record.empty() && (record.back() == '\n' || record.back() == '\r')) record.remove_suffix(1);
    return std::string(record);
}

std::string lineError(int code) {
    switch (code) {
        case 4: return " (4: the run was asked to end, or its front end went away, while it waited for the device)";
        case 5: return " (5: the line hung up: the device or its USB adapter went away)";
        default: return "";
    }
}

// What a person should know when the run left a command unanswered: the
// device may still answer it, and that late answer would meet the next run.
std::string lateAnswerWarning(std::string_view command) {
    return "; the device may still answer `" + trimmed(command, 5) +
           "` late: let it make its move (or restart it) before starting a new game";
}

std::string verdictFor(const std::vector<std::string_view>& records) {
    int lastError = 0;
    std::string_view unanswered;  // the last command, while no complete answer has followed it
    for (std::string_view record : records) {
        if (record.starts_with(" <-- (err: ")) lastError = std::atoi(record.data() + 11);
        if (record.starts_with(" --> ")) unanswered = record;
        if (record.starts_with(" <-- ") && !record.starts_with(" <-- (err: 4)")) unanswered = {};
    }
    const std::string_view last = records.back();
    if (last.starts_with(" --> "))
        return "the device never answered `" + trimmed(last, 5) + "`: check power, cable and speed (9600 8N1)" +
               lateAnswerWarning(last);
    std::string late = unanswered.empty() ? "" : lateAnswerWarning(unanswered);
    if (last == kRunEnd) {
        if (lastError != 0)
            return "the run ended in order, but a read from the device failed with error " +
                   std::to_string(lastError) + lineError(lastError) + late;
        return "the run ended in order (quit, or the end of the front end's input)";
    }
    return "the run ended without `Session ends`: the bridge was killed, or it is still running" + late;
}

}  // namespace

std::string visible(std::string_view bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\r') text += "\\r";
        else if (c == '\n') text += "\\n";
        else if (c < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            text += escape;
        } else text += static_cast<char>(c);
    }
    return text;
}

TranscriptReading readTranscript(std::string_view contents, std::size_t recordCount, bool cut) {
    TranscriptReading reading;
    std::size_t start = contents.rfind(kRunStart);
    if (start == std::string_view::npos && cut && contents.find('\n') != std::string_view::npos) {
        start = contents.find('\n') + 1;  // a run longer than what was read
    }
    if (start == std::string_view::npos || start >= contents.size()) {
        reading.verdict = "no run recorded: the bridge has not run in this directory, or could not write there";
        return reading;
    }
    std::vector<std::string_view> records = splitRecords(contents.substr(start));
    std::size_t first = records.size() > recordCount ? records.size() - recordCount : 0;
    for (std::size_t i = first; i < records.size(); ++i) reading.lastRecords.push_back(visible(records[i]));
    reading.verdict = verdictFor(records);
    return reading;
}

}  // namespace sorvanite::doctor
