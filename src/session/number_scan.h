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

// Integer arithmetic that clamps at the 32-bit limits instead of overflowing.
std::int32_t saturatingMultiply(std::int32_t a, std::int32_t b);
std::int32_t saturatingIncrement(std::int32_t value);

}  // namespace sorvanite
