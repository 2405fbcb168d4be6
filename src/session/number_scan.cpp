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

}  // namespace

std::size_t scanNumbers(const char* text, std::int32_t* const fields[], std::size_t count) {
    std::size_t assigned = 0;
    while (assigned < count) {
        while (isSpace(*text)) ++text;
        bool negative = false;
        if (*text == '+' || *text == '-') negative = (*text++ == '-');
        if (!isDigit(*text)) break;
        std::int64_t magnitude = 0;
        for (; isDigit(*text); ++text) {
            // Keep consuming digits past the limit so the scan ends where a
            // real "%d" would, but stop growing the value.
            if (magnitude <= kMax) magnitude = magnitude * 10 + (*text - '0');
        }
        *fields[assigned++] = clampTo32(negative ? -magnitude : magnitude);
    }
    return assigned;
}

std::int32_t saturatingMultiply(std::int32_t a, std::int32_t b) {
    return clampTo32(static_cast<std::int64_t>(a) * b);
}

std::int32_t saturatingIncrement(std::int32_t value) {
    return value == kMax ? value : value + 1;
}

}  // namespace sorvanite
