#include "session/number_scan.h"

#include <limits>

namespace sorvanite {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();

// White space as the C locale's isspace sees it; the bridge reads bytes and
// never consults the user's locale.
bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::int32_t clampTo32(std::int64_t value) {
    return static_cast<std::int32_t>(value > kMax ? kMax : value < kMin ? kMin : value);
}

// Skips white space and reads an optional sign and decimal digits. Returns
// the end of the digits, or null when there are none.
const char* scanMagnitude(const char* text, bool& negative, std::int64_t& magnitude) {
    while (isSpace(*text)) ++text;
    negative = false;
    if (*text == '+' || *text == '-') negative = (*text++ == '-');
    if (!isDigit(*text)) return nullptr;
    magnitude = 0;
    for (; isDigit(*text); ++text) {
        // Keep consuming digits past the limit so the scan ends where a real
        // "%d" would, but stop growing the value.
        if (magnitude <= kMax) magnitude = magnitude * 10 + (*text - '0');
    }
    return text;
}

}  // namespace

const char* scanNumber(const char* text, std::int32_t& field) {
    bool negative = false;
    std::int64_t magnitude = 0;
    text = scanMagnitude(text, negative, magnitude);
    if (text) field = clampTo32(negative ? -magnitude : magnitude);
    return text;
}

std::size_t scanNumbers(const char* text, std::int32_t* const fields[], std::size_t count) {
    std::size_t assigned = 0;
    while (assigned < count && (text = scanNumber(text, *fields[assigned])) != nullptr) ++assigned;
    return assigned;
}

const char* scanBaseTime(const char* text, std::int32_t& seconds) {
    bool negative = false;
    std::int64_t minutes = 0;
    text = scanMagnitude(text, negative, minutes);
    if (!text) return nullptr;
    std::int64_t total = minutes * 60;  // both below 2^32: no overflow in 64 bits
    if (text[0] == ':' && isDigit(text[1])) {
        bool ignored = false;
        std::int64_t extra = 0;
        text = scanMagnitude(text + 1, ignored, extra);
        total += extra;
    }
    seconds = clampTo32(negative ? -total : total);
    return text;
}

std::int32_t saturatingIncrement(std::int32_t value) {
    return value == kMax ? value : value + 1;
}

}  // namespace sorvanite
