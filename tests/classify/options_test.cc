#include "classify/options.h"

#include <gtest/gtest.h>

namespace punb::classify {
namespace {

TEST(ClassifyOptions, ReadsTheCommandLine) {
  const Options o = parse_options({"m", "--top", "5", "a", "--ids", "x", "-j", "3", "--ids", "y",
                                   "--min", "0.25", "--", "-b", "-o"});
  EXPECT_EQ(o.model, "m");
  EXPECT_EQ(o.files, (std::vector<std::string>{"a", "-b", "-o"}));
  EXPECT_EQ(o.ids, (std::vector<std::string>{"x", "y"}));
  EXPECT_TRUE(o.rank);  // --top ranks
  EXPECT_EQ(o.top, 5u);
  EXPECT_EQ(o.min, 0.25);
  EXPECT_EQ(o.threads, 3);
  EXPECT_FALSE(o.out);
  EXPECT_FALSE(parse_options({"m", "a"}).rank);
  EXPECT_EQ(parse_options({"m", "a", "--min", "1"}).min, 1.0);
  EXPECT_EQ(parse_options({"m", "a", "--min", "0"}).min, 0.0);
  EXPECT_TRUE(parse_options({"m", "--info"}).info);
  EXPECT_TRUE(parse_options({"--version"}).version);
}

TEST(ClassifyOptions, RefusesWhatCannotRun) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"m"},
      {"m", "--info", "a"},
      {"m", "--text"},
      {"m", "a", "-o"},
      {"m", "a", "-o", ""},
      {"m", "a", "--top", "-1"},
      {"m", "a", "--top", "2x"},
      {"m", "a", "--min", "nan"},
      {"m", "a", "--min", "-0.1"},
      {"m", "a", "-j", "1025"},
      {"m", "a", ""},
      {"m", "a", "--rnak"},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_THROW(parse_options(args), UsageError) << joined;
  }
}

}  // namespace
}  // namespace punb::classify
