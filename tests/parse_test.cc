// The line parser against the reading users' files have always had: the C library's own
// strtok/atoi over the line with the end pair appended.
#include "docfile/parse.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "line_oracle.h"

namespace punb {
namespace {

using test::Pairs;

test::Reading parse(const std::string& text, bool test_line) {
  test::Reading r = test::parse_line(text, test_line);
  EXPECT_TRUE(r.slack_kept) << "the bytes after the line were not given back";
  return r;
}

// What the random lines below cannot reach: large numbers and NUL bytes.
TEST(Parse, LargeNumbersAndNulBytes) {
  const struct {
    std::string text;
    bool test_line;
    Pairs pairs;
    LineFault fault;
  } cases[] = {
      {"499999:1 500000:1\n", false, {{499999, 1}}, LineFault::index_out_of_range},
      {"1099511627776:1\n", false, {}, LineFault::number_out_of_range},
      {"3:2147483647 3:2147483648\n", false, {{3, 2147483647}}, LineFault::number_out_of_range},
      {"3:-2147483649\n", false, {}, LineFault::number_out_of_range},
      {"4294967297 3:4\n", true, {}, LineFault::number_out_of_range},
      {std::string("3:4 5\0:6\n", 9), false, {{3, 4}}, LineFault::nul_byte},
      {std::string("3:4 -1:-1 \0\n", 12), false, {{3, 4}}, LineFault::none},  // never read
  };
  for (const auto& c : cases) {
    const test::Reading p = parse(c.text, c.test_line);
    EXPECT_EQ(p.pairs, c.pairs) << ::testing::PrintToString(c.text);
    EXPECT_EQ(p.line.fault, c.fault) << ::testing::PrintToString(c.text);
  }
}

TEST(Parse, WarnsOnlyWhenATabFallsInDiscardedText) {
  EXPECT_TRUE(parse("3:4\t5:6\n", false).line.dropped_tab);
  EXPECT_FALSE(parse("3:4 \t5:6\n", false).line.dropped_tab);  // leading white space of a number
  EXPECT_FALSE(parse("3:4 -1:-1 \t5:6\n", false).line.dropped_tab);  // never read
}

// Random lines over the characters that matter, read by the parser and by the C library.
TEST(Parse, AgreesWithTheCLibraryOnRandomLines) {
  const std::string alphabet = "0123456789::  --+\t.x\r\n";
  std::mt19937 random(12345);
  for (int round = 0; round < 200000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 24);
    int digits = 0;
    for (int i = 0; i < length; ++i) {
      char c = alphabet[random() % alphabet.size()];
      // Runs of at most 9 digits keep atoi away from overflow, where it has no defined value.
      if (c >= '0' && c <= '9' && ++digits > 9) c = ' ';
      if (c < '0' || c > '9') digits = 0;
      text += c;
    }
    const bool test_line = random() % 2;
    const test::Expected e = test::c_library_reading(text, test_line);
    const test::Reading p = parse(text, test_line);
    SCOPED_TRACE(::testing::PrintToString(text));
    EXPECT_EQ(p.line.fault, e.fault);
    EXPECT_EQ(p.pairs, e.pairs);
    if (test_line) {
      EXPECT_EQ(p.line.label, e.label);
    }
  }
}

}  // namespace
}  // namespace punb
