// The line parser against the reading users' files have always had: the C library's own
// strtok/atoi over the line with the end pair appended.
#include "docfile/parse.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Long lines, mostly plain pairs with odd bytes among them, so that plain pairs, numbers and
// delimiters fall across every place of the parser's 64-byte look-ahead and its end near the line
// end.
TEST(Parse, AgreesWithTheCLibraryOnLongLines) {
  const std::string odd = "::  --+\t.x\r\n0";
  std::mt19937 random(777);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const auto length = static_cast<std::size_t>(50 + random() % 250);
    const unsigned odd_share = random() % 4;  // in 32nds, per piece of text
    while (text.size() < length) {
      if (random() % 32 < odd_share) {
        text += odd[random() % odd.size()];
        continue;
      }
      // One to nine digits (atoi stays within int), most of them indices in range.
      int index_digits = 1 + static_cast<int>(random() % (random() % 64 == 0 ? 9 : 5));
      if (!text.empty() && text.back() == '0') index_digits = std::min(index_digits, 8);
      const int count_digits = 1 + static_cast<int>(random() % (random() % 4 == 0 ? 8 : 1));
      for (int d = 0; d < index_digits; ++d) text += static_cast<char>('0' + random() % 10);
      text += ':';
      for (int d = 0; d < count_digits; ++d) text += static_cast<char>('0' + random() % 10);
      // Mostly a space, now and then another byte in its place (no digit: a run of more than
      // nine digits would take atoi out of int).
      const std::string separators = ": -+\t.x\r\n";
      text += random() % 32 >= odd_share ? ' ' : separators[random() % separators.size()];
    }
    if (random() % 2) text += '\n';
    const bool test_line = random() % 4 == 0;
    if (test_line) text = (random() % 2 ? "1 " : "-1 ") + text;
    const test::Expected e = test::c_library_reading(text, test_line);
    const test::Reading p = parse(text, test_line);
    SCOPED_TRACE(::testing::PrintToString(text));
    ASSERT_EQ(p.line.fault, e.fault);
    ASSERT_EQ(p.pairs, e.pairs);
  }
}

}  // namespace
}  // namespace punb
