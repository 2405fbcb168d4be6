#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "session/number_scan.h"

namespace sorvanite {
namespace {

struct Scan {
    std::int32_t values[3] = {-7, -7, -7};
    std::size_t assigned = 0;
    explicit Scan(const char* text) {
        std::int32_t* const fields[] = {&values[0], &values[1], &values[2]};
        assigned = scanNumbers(text, fields, 3);
    }
};

TEST(NumberScan, ReadsLikeAFormattedScan) {
    Scan plain(" 40 5 0");
    EXPECT_EQ(plain.assigned, 3u);
    EXPECT_EQ(plain.values[0], 40);
    EXPECT_EQ(plain.values[2], 0);

    Scan signs("\t+3\n-12   -0");
    EXPECT_EQ(signs.assigned, 3u);
    EXPECT_EQ(signs.values[0], 3);
    EXPECT_EQ(signs.values[1], -12);
    EXPECT_EQ(signs.values[2], 0);
}

TEST(NumberScan, StopsAtTheFirstFieldThatIsNotANumber) {
    Scan clock(" 40 0:30 0");
    EXPECT_EQ(clock.assigned, 2u);
    EXPECT_EQ(clock.values[1], 0);
    EXPECT_EQ(clock.values[2], -7);

    EXPECT_EQ(Scan("").assigned, 0u);
    EXPECT_EQ(Scan("out 5").assigned, 0u);
    EXPECT_EQ(Scan(" - 5").assigned, 0u);
    EXPECT_EQ(Scan(" +").assigned, 0u);
    // Digits run straight into the next field: "12ab" reads 12, then stops.
    Scan glued(" 12ab 3");
    EXPECT_EQ(glued.assigned, 1u);
    EXPECT_EQ(glued.values[0], 12);
}

TEST(NumberScan, SaturatesInsteadOfWrapping) {
    Scan huge(" 99999999999 -99999999999 2147483648");
    EXPECT_EQ(huge.assigned, 3u);
    EXPECT_EQ(huge.values[0], std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(huge.values[1], std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(huge.values[2], std::numeric_limits<std::int32_t>::max());
    Scan manyDigits(" 000000000000000000000000000042 -2147483648");
    EXPECT_EQ(manyDigits.values[0], 42);
    EXPECT_EQ(manyDigits.values[1], std::numeric_limits<std::int32_t>::min());
}

TEST(NumberScan, SaturatingArithmetic) {
    constexpr auto max = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(saturatingIncrement(max), max);
    EXPECT_EQ(saturatingIncrement(-1), 0);
}

}  // namespace
}  // namespace sorvanite
