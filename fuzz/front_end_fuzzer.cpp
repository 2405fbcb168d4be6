// The front end's byte stream, with the device's answers taken from the same
// input: the first two bytes say how much of the rest goes to the front end.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "run_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::size_t frontEndLength = (data[0] | (data[1] << 8)) % (rest.size() + 1);
    sorvanite::fuzz::runAndCheck(rest.substr(0, frontEndLength), rest.substr(frontEndLength));
    return 0;
}
