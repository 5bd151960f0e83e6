#include "cli/port_pattern.h"

#include <gtest/gtest.h>

#include <ostream>

namespace stbup {
namespace {

struct PatternCase {
  const char* pattern;
  const char* name;
  bool matches;
};

// Printed as the case reads, so the case list is the same on every run.
void PrintTo(const PatternCase& c, std::ostream* os) {
  *os << '"' << c.pattern << "\" " << (c.matches ? "matches" : "misses") << " \"" << c.name << '"';
}

class PortPatternTest : public testing::TestWithParam<PatternCase> {};

TEST_P(PortPatternTest, MatchesAsAShellGlobInAnyCase) {
  const PatternCase& c = GetParam();
  EXPECT_EQ(PortPatternMatches(c.pattern, c.name), c.matches)
      << "pattern \"" << c.pattern << "\" name \"" << c.name << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortPatternTest,
    testing::Values(
        // Plain names, whole and in any case: Windows takes "com3" for COM3.
        PatternCase{"COM3", "COM3", true}, PatternCase{"com3", "COM3", true},
        PatternCase{"COM3", "COM30", false}, PatternCase{"COM30", "COM3", false},
        PatternCase{"", "", true}, PatternCase{"", "COM1", false},
        // '*' takes any run, none included, and gives back what a later part needs.
        PatternCase{"COM*", "COM1", true}, PatternCase{"COM*", "COM", true},
        PatternCase{"COM*", "LPT1", false}, PatternCase{"*", "COM12", true},
        PatternCase{"*1", "COM11", true}, PatternCase{"*1", "COM12", false},
        PatternCase{"C*M*2", "COM12", true}, PatternCase{"C*M*2", "COM21", false},
        PatternCase{"**", "", true}, PatternCase{"*3*", "COM13", true},
        PatternCase{"*a*a", "aaaa", true}, PatternCase{"*ab", "aab", true},
        // '?' is exactly one character.
        PatternCase{"COM?", "COM7", true}, PatternCase{"COM?", "COM17", false},
        PatternCase{"COM??", "COM17", true}, PatternCase{"COM?", "COM", false},
        // Sets and ranges, negated with '!' or '^'; letters in any case.
        PatternCase{"COM[13]", "COM3", true}, PatternCase{"COM[13]", "COM2", false},
        PatternCase{"COM[1-4]", "COM4", true}, PatternCase{"COM[1-4]", "COM5", false},
        PatternCase{"COM[!1-4]", "COM5", true}, PatternCase{"COM[^1-4]", "COM2", false},
        PatternCase{"[c]OM1", "COM1", true}, PatternCase{"[a-d]OM1", "cOM1", true},
        PatternCase{"COM1[0-9]", "COM1", false}, PatternCase{"COM[1-2]*", "COM23", true},
        PatternCase{"COM[]]", "COM]", true}, PatternCase{"COM[-]", "COM-", true},
        // A '[' never closed stands for itself.
        PatternCase{"COM[1", "COM[1", true}, PatternCase{"COM[1", "COM1", false}));

}  // namespace
}  // namespace stbup
