#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvanite {

// Reads up to `count` whitespace-separated decimal integers from `text` into
// `fields`, the way a "%d %d %d" scan does: each number may have leading white
// space and a sign, and the scan stops at the first one that is not there,
// leaving it and the rest untouched. Numbers outside 32 bits saturate at the
// nearest limit instead of wrapping. Returns how many fields were assigned.
std::size_t scanNumbers(const char* text, std::int32_t* const fields[], std::size_t count);

// One field of such a scan. Returns where the number ended, or null (and
// leaves `field` untouched) when there was no number.
const char* scanNumber(const char* text, std::int32_t& field);

// A clock's base time as "level" gives it: minutes, or minutes:seconds. Like
// one field of the scan above, but a ':' right after the minutes and followed
// by a digit brings in seconds. Stores seconds, saturating; returns where the
// field ended, or null when there was no number.
const char* scanBaseTime(const char* text, std::int32_t& seconds);

// Integer arithmetic that clamps at the 32-bit limits instead of overflowing.
std::int32_t saturatingIncrement(std::int32_t value);

}  // namespace sorvanite
