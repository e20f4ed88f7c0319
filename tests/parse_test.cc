// The line parser against the reading users' files have always had: the C library's own
// strtok/atoi over the line with the end pair appended.
#include "docfile/parse.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "line_oracle.h"

namespace punb {
namespace {

using test::Pairs;

struct Parsed {
  ParsedLine line;
  Pairs pairs;
};

Parsed parse(const std::string& text, bool test_line) {
  const test::Reading r = test::parse_line(text, test_line);
  EXPECT_TRUE(r.slack_kept) << "the bytes after the line were not given back";
  return {r.line, r.pairs};
}

struct Case {
  const char* name;
  std::string text;
  bool test_line;
  Pairs pairs;
  int label = 0;
  LineFault fault = LineFault::none;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ParseTable : public ::testing::TestWithParam<Case> {};

TEST_P(ParseTable, ReadsAsDocumented) {
  const Case& c = GetParam();
  const Parsed p = parse(c.text, c.test_line);
  EXPECT_EQ(p.pairs, c.pairs);
  EXPECT_EQ(p.line.fault, c.fault);
  if (c.test_line && c.fault != LineFault::number_out_of_range) {
    EXPECT_EQ(p.line.label, c.label);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lines, ParseTable,
    ::testing::Values(
    Case{"no_newline_at_end_of_file", "3:4 5:6", false, {{3, 4}, {5, 6}}},
    Case{"crlf", "3:4 5:6\r\n", false, {{3, 4}, {5, 6}}},
    Case{"several_spaces", "  3:4    5:6  \n", false, {{3, 4}, {5, 6}}},
    Case{"end_pair_mid_line", "3:4 -1:-1 5:6\n", false, {{3, 4}}},
    Case{"minus_one_with_other_count_is_skipped", "3:4 -1:5 5:6\n", false, {{3, 4}, {5, 6}}},
    Case{"fraction_truncated", "3:3.9 5:2.0\n", false, {{3, 3}, {5, 2}}},
    Case{"plus_sign_and_leading_zeros", "+7:2 007:+3\n", false, {{7, 2}, {7, 3}}},
    Case{"tab_hides_next_pair", "3:4\t5:6 7:8\n", false, {{3, 4}, {7, 8}}},
    Case{"tab_as_leading_space_is_harmless", "3:4 \t5:6\n", false, {{3, 4}, {5, 6}}},
    Case{"index_zero_and_count_zero", "0:3 4:0\n", false, {{0, 3}, {4, 0}}},
    Case{"test_positive", "1 3:4\n", true, {{3, 4}}, 1},
    Case{"test_plus_one", "+1 3:4\n", true, {{3, 4}}, 1},
    Case{"test_label_only", "1\n", true, {}, 1},
    Case{"test_leading_spaces", "   -1  3:4\n", true, {{3, 4}}, -1},
    Case{"test_tab_after_label_hides_pair", "1\t3:4 5:6\n", true, {{5, 6}}, 1},
    Case{"test_empty_line_has_label_zero", "\n", true, {}, 0, LineFault::bad_label},
    Case{"test_label_two", "2 3:4\n", true, {}, 2, LineFault::bad_label},
    Case{"index_below_minus_one", "3:4 -2:1\n", false, {{3, 4}}, 0, LineFault::index_out_of_range},
    Case{"index_past_the_tables", "500000:1\n", false, {}, 0, LineFault::index_out_of_range},
    Case{"index_beyond_32_bits", "1099511627776:1\n", false, {}, 0, LineFault::number_out_of_range},
    Case{"count_2_pow_31", "3:2147483648\n", false, {}, 0, LineFault::number_out_of_range},
    Case{"negative_count", "3:-2\n", false, {}, 0, LineFault::negative_count},
        // A lone number at the end becomes the pair 5:-1 under the tokenizer rules.
        Case{"lone_number", "3:4 5\n", false, {{3, 4}}, 0, LineFault::negative_count},
    Case{"lone_number_on_index_zero_still_faults", "x\n", false, {}, 0, LineFault::negative_count},
    Case{"label_beyond_32_bits", "4294967297 3:4\n", true, {}, 0, LineFault::number_out_of_range},
    Case{"nul_byte", std::string("3:4 5\0:6\n", 9), false, {{3, 4}}, 0, LineFault::nul_byte},
    Case{"nul_after_end_pair_is_never_read", std::string("3:4 -1:-1 \0\n", 12), false, {{3, 4}}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(Parse, WarnsOnlyWhenATabFallsInDiscardedText) {
  EXPECT_TRUE(parse("3:4\t5:6\n", false).line.dropped_tab);
  EXPECT_FALSE(parse("3:4 \t5:6\n", false).line.dropped_tab);
  EXPECT_FALSE(parse("3:4 -1:-1 \t5:6\n", false).line.dropped_tab);
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
    const Parsed p = parse(text, test_line);
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
