#include <gtest/gtest.h>

#include <sstream>

#include "answer_script.h"
#include "engine_game.h"

namespace sorvanite::emulator {
namespace {

using Kind = ScriptStep::Kind;

std::vector<ScriptedAnswer> parse(const std::string& text) {
    std::istringstream in(text);
    std::string error;
    auto answers = parseScript(in, error);
    EXPECT_TRUE(answers) << error;
    return answers.value_or(std::vector<ScriptedAnswer>{});
}

std::string refusal(const std::string& text) {
    std::istringstream in(text);
    std::string error;
    EXPECT_FALSE(parseScript(in, error));
    return error;
}

TEST(AnswerScript, OneAnswerALineEndingInCr) {
    auto answers = parse("# comment\nOK\n\ne7e5 text\r\n");
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0].at(0).bytes, "OK\r");
    EXPECT_EQ(answers[1].at(0).bytes, "\r");
    EXPECT_EQ(answers[2].at(0).bytes, "e7e5 text\r");
}

TEST(AnswerScript, EscapesGiveRawBytes) {
    auto answers = parse("a\\r\\n\\t\\0\\\\\\{\\x13\\x11\\xfF{nocr}\n");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].at(0).bytes, std::string("a\r\n\t\0\\{\x13\x11\xff", 10));
}

TEST(AnswerScript, DirectivesSplitTheAnswerIntoSteps) {
    auto answers = parse("e7{pause 250}e5{trickle 10} ok\nd7{hangup}d5\n");
    ASSERT_EQ(answers.size(), 2u);
    const ScriptedAnswer& first = answers[0];
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(first[0].bytes, "e7");
    EXPECT_EQ(first[1].kind, Kind::Pause);
    EXPECT_EQ(first[1].delayMs, 250);
    EXPECT_EQ(first[2].bytes, "e5");
    EXPECT_EQ(first[2].delayMs, 0);
    EXPECT_EQ(first[3].bytes, " ok\r");
    EXPECT_EQ(first[3].delayMs, 10);
    const ScriptedAnswer& second = answers[1];
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].bytes, "d7");
    EXPECT_EQ(second[1].kind, Kind::HangUp);
}

TEST(AnswerScript, MalformedLinesAreNamed) {
    EXPECT_EQ(refusal("OK\n{explode}\n"), "line 2: unknown directive {explode}");
    EXPECT_EQ(refusal("\\q\n"), "line 1: unknown escape \\q");
    EXPECT_EQ(refusal("\\x1\n"), "line 1: unknown escape \\x");
    EXPECT_EQ(refusal("ab\\"), "line 1: line ends in a lone backslash");
    EXPECT_EQ(refusal("{pause -5}"), "line 1: bad {pause -5}");
    EXPECT_EQ(refusal("{pause"), "line 1: unclosed {");
}

TEST(MaterialRule, OnlyHopelessMaterialIsADraw) {
    EXPECT_TRUE(hasTooLittleMaterial("8/8/4k3/8/8/3K4/8/8 w - - 0 60"));
    EXPECT_TRUE(hasTooLittleMaterial("8/8/4k3/8/8/3K4/5N2/8 w - - 0 60"));
    EXPECT_TRUE(hasTooLittleMaterial("8/8/4kb2/8/8/3K4/8/8 b - - 0 60"));
    // Two bishops on light squares (b1, c8 are both light) cannot mate.
    EXPECT_TRUE(hasTooLittleMaterial("2b5/8/4k3/8/8/3K4/8/1B6 w - - 0 60"));
    EXPECT_FALSE(hasTooLittleMaterial("2b5/8/4k3/8/8/3K4/8/B7 w - - 0 60"));
    EXPECT_FALSE(hasTooLittleMaterial("8/8/4k3/8/8/3K4/5NN1/8 w - - 0 60"));
    EXPECT_FALSE(hasTooLittleMaterial("8/8/4k3/8/8/3K4/4P3/8 w - - 0 60"));
    EXPECT_FALSE(hasTooLittleMaterial("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"));
}

}  // namespace
}  // namespace sorvanite::emulator
