#include "run_checks.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>

#include "session/bridge.h"
#include "unit/fake_port.h"

namespace sorvanite::fuzz {
namespace {

[[noreturn]] void violated(const char* rule, std::string_view detail) {
    std::fprintf(stderr, "broken rule: %s\n  detail: ", rule);
    for (unsigned char c : detail) std::fprintf(stderr, c >= 0x20 && c < 0x7f ? "%c" : "\\x%02x", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

bool isDeviceCommand(const std::string& command) {
    static const std::regex newGame(R"(NEW -?[0-9]+ -?[0-9]+ [wb]\r)");
    static const std::regex move(R"(MOVE [a-h][1-8][a-h][1-8][qQ]?\r)");
    if (std::regex_match(command, move)) return true;
    if (!std::regex_match(command, newGame)) return false;
    // The figures are 32-bit numbers as %d prints them.
    long long base = 0, perMove = 0;
    char colour = 0;
    if (std::sscanf(command.c_str(), "NEW %lld %lld %c", &base, &perMove, &colour) != 3) return false;
    auto fits = [](long long v) { return v >= -2147483648LL && v <= 2147483647LL; };
    return fits(base) && fits(perMove);
}

void scriptDevice(testing::FakePort& port, std::string_view script) {
    for (std::size_t i = 0; i < script.size(); ++i) {
        auto byte = static_cast<unsigned char>(script[i]);
        bool hasArgument = i + 1 < script.size();
        if (byte == 0xFE) {
            port.emptyRead();
        } else if (byte == 0xFF && hasArgument) {
            port.failedRead(static_cast<unsigned char>(script[++i]) + 1);
        } else if (byte == 0xFD && hasArgument) {
            port.failedReadWithByte(5, script[++i]);
        } else if (byte == 0xFC && hasArgument) {
            port.unasked(script.substr(++i, 1));
        } else {
            port.reply(script.substr(i, 1));
        }
    }
}

void checkRecords(const std::vector<RecordingLogFile::Record>& records, const std::string& output,
                  const std::string& deviceWritten) {
    using Record = RecordingLogFile::Record;
    if (records.empty() || records.front() != Record{"New session\r\n"}) violated("run starts with its marker", "");
    if (records.back() != Record{"Session ends\r\n"}) violated("run ends with its marker", "");

    std::string frontEndLines, deviceCommands;
    bool awaitingReply = false;
    bool lineFailed = false;
    for (std::size_t i = 1; i + 1 < records.size(); ++i) {
        const Record& r = records[i];
        const std::string& kind = r.front();
        // A receive record outside an exchange holds what the device sent
        // unasked: it comes right before a command and never has an error.
        if (!awaitingReply && kind == " <-- ") {
            if (r.size() != 3 || r[1].empty() || r[2] != "\n" || i + 2 >= records.size() ||
                records[i + 1].front() != " --> ")
                violated("unasked bytes are recorded right before a command", kind);
            continue;
        }
        if (awaitingReply && kind != " <-- ") violated("each command gets exactly one receive", kind);
        awaitingReply = false;
        if (kind == "==> ") {
            if (r.size() != 3 || r[2] != "\r\n") violated("front-end record ends in CR LF", kind);
            if (r[1].size() > 255 || r[1].find_first_of(std::string("\n\0", 2)) != std::string::npos)
                violated("a front-end line is at most 255 bytes without LF or NUL", r[1]);
        } else if (kind == "<== ") {
            if (r.size() != 3 || r[2] != "\r\n") violated("reply record ends in CR LF", kind);
            frontEndLines += r[1] + "\n";
        } else if (kind == " --> ") {
            if (r.size() != 3 || r[2] != "\n") violated("device record ends in LF", kind);
            if (!isDeviceCommand(r[1])) violated("only NEW and MOVE commands reach the device", r[1]);
            if (lineFailed) violated("nothing reaches the device after its line failed", r[1]);
            deviceCommands += r[1];
            awaitingReply = true;
        } else if (kind == " <-- ") {
            if (r.size() != 4 || r[3] != "\n") violated("receive record ends in LF", kind);
            static const std::regex errorText(R"((\(err: -?[0-9]+\))?)");
            if (!std::regex_match(r[1], errorText)) violated("error text", r[1]);
            if (!r[1].empty()) lineFailed = true;
            const std::string& reply = r[2];
            std::size_t cr = reply.find('\r');
            if (reply.size() > 31 || (cr != std::string::npos && cr + 1 != reply.size()))
                violated("a reply is at most 31 bytes ending at its only CR", reply);
            if (cr == std::string::npos && r[1].empty()) violated("a reply without CR ended in an error", reply);
        } else {
            violated("known record kinds only", kind);
        }
    }
    if (awaitingReply) violated("each command gets exactly one receive", "the last one");
    if (frontEndLines != output) violated("every output line is recorded in order", output);
    if (deviceCommands != deviceWritten) violated("every device write is recorded", deviceWritten);
}

}  // namespace

void runAndCheck(std::string_view frontEndInput, std::string_view deviceScript) {
    testing::FakePort port;
    scriptDevice(port, deviceScript);
    std::vector<RecordingLogFile::Record> records;
    std::istringstream input{std::string(frontEndInput)};
    std::ostringstream output;
    {
        Transcript transcript(std::make_unique<RecordingLogFile>(records));
        runCommandLoop(input, output, port, transcript);
    }
    checkRecords(records, output.str(), port.written());
}

}  // namespace sorvanite::fuzz
