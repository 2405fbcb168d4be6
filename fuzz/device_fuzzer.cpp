// The device's byte stream against a fixed run of two games.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "run_checks.h"

namespace {

constexpr std::string_view kGames =
    "new\nlevel 40 5 0\ntime 30000\ne2e4\ng1f3\nf1c4\ne7e8q\ndraw\n"
    "new\nlevel 0 2 12\nwhite\ngo\ne7e5\nb8c6\ne2e4x\nbogus\ng8f6\nd7d5\nquit\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sorvanite::fuzz::runAndCheck(kGames, std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
