#include "answer_script.h"

#include <charconv>

namespace sorvanite::emulator {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<int> parseMs(std::string_view text) {
    int value = 0;
    auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (status != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

class LineParser {
public:
    explicit LineParser(std::string_view line) : line_(line) {}

    // Parses the whole line; empty with `error` set when it is malformed.
    std::optional<ScriptedAnswer> parse(std::string& error) {
        bool endWithCr = true;
        for (std::size_t i = 0; i < line_.size(); ++i) {
            char c = line_[i];
            if (c == '\\') {
                if (++i >= line_.size()) return fail(error, "line ends in a lone backslash");
                auto escaped = unescape(i);
                if (!escaped) return fail(error, "unknown escape \\" + std::string(1, line_[i]));
                bytes_ += *escaped;
            } else if (c == '{') {
                std::size_t close = line_.find('}', i);
                if (close == std::string_view::npos) return fail(error, "unclosed {");
                std::string_view directive = line_.substr(i + 1, close - i - 1);
                i = close;
                if (directive == "nocr") {
                    endWithCr = false;
                } else if (directive == "hangup") {
                    flush();
                    steps_.push_back({ScriptStep::Kind::HangUp, {}, 0});
                    return steps_;  // nothing after a hang-up can be sent
                } else if (directive.starts_with("pause ")) {
                    auto ms = parseMs(directive.substr(6));
                    if (!ms) return fail(error, "bad {" + std::string(directive) + "}");
                    flush();
                    steps_.push_back({ScriptStep::Kind::Pause, {}, *ms});
                } else if (directive.starts_with("trickle ")) {
                    auto ms = parseMs(directive.substr(8));
                    if (!ms) return fail(error, "bad {" + std::string(directive) + "}");
                    flush();
                    trickleMs_ = *ms;
                } else {
                    return fail(error, "unknown directive {" + std::string(directive) + "}");
                }
            } else {
                bytes_ += c;
            }
        }
        if (endWithCr) bytes_ += '\r';
        flush();
        return steps_;
    }

private:
    std::optional<char> unescape(std::size_t& i) {
        switch (line_[i]) {
            case 'r': return '\r';
            case 'n': return '\n';
            case 't': return '\t';
            case '0': return '\0';
            case '\\': return '\\';
            case '{': return '{';
            case 'x': {
                if (i + 2 >= line_.size()) return std::nullopt;
                int high = hexValue(line_[i + 1]), low = hexValue(line_[i + 2]);
                if (high < 0 || low < 0) return std::nullopt;
                i += 2;
                return static_cast<char>(high * 16 + low);
            }
            default: return std::nullopt;
        }
    }

    void flush() {
        if (!bytes_.empty()) steps_.push_back({ScriptStep::Kind::Bytes, bytes_, trickleMs_});
        bytes_.clear();
    }

    static std::nullopt_t fail(std::string& error, const std::string& why) {
        error = why;
        return std::nullopt;
    }

    std::string_view line_;
    std::string bytes_;
    int trickleMs_ = 0;
    ScriptedAnswer steps_;
};

}  // namespace

std::optional<std::vector<ScriptedAnswer>> parseScript(std::istream& in, std::string& error) {
    std::vector<ScriptedAnswer> answers;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with("#")) continue;
        std::string why;
        auto answer = LineParser(line).parse(why);
        if (!answer) {
            error = "line " + std::to_string(number) + ": " + why;
            return std::nullopt;
        }
        answers.push_back(std::move(*answer));
    }
    return answers;
}

}  // namespace sorvanite::emulator
