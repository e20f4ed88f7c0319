// Naive Bayes mode end to end: the built binary in a scratch directory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace punb {
namespace {

using test::RunResult;
using test::TempDir;

const std::string kUsageLine = "parameter format error!\n";

// The posterior of a document as the scoring rule defines it, for a model given by its priors
// and the word probabilities of the document's counted words (in line order).
std::string expected_line(double prior_neg, double prior_pos,
                          const std::vector<std::pair<double, double>>& words) {
  double n = std::log(prior_neg);
  double p = std::log(prior_pos);
  for (auto [pn, pp] : words) {
    n = n + 1.0 * std::log(pn);
    p = p + 1.0 * std::log(pp);
    const double m = std::min({1e14, n, p});
    n = n - m;
    p = p - m;
  }
  const double top = std::max({-1e14, n, p});
  const double en = std::exp(n - (top + 2));
  const double ep = std::exp(p - (top + 2));
  char text[64];
  std::snprintf(text, sizeof text, "%.16f\n", ep / (en + ep));
  return text;
}

void write_corpus(const TempDir& dir, const std::string& pos, const std::string& unlabeled,
                  const std::string& test) {
  dir.write("data.pos", pos);
  dir.write("data.unlabel", unlabeled);
  dir.write("data.test", test);
}

TEST(NaiveBayesRun, TrainsTestsAndReports) {
  TempDir dir;
  // lambda 1, V = 3 (index 0 is not a word here), L = 3.
  write_corpus(dir, "1:2 0:5\n1:1 3:1\n", "2:3 -1:7\n",
               "1 1:1\n-1 2:1 9:4\n+1 3:1\n1 7:1\n-1 1:1 2:1");
  const RunResult r = test::run_punb(dir, {"-nb", "-f", "data", "-l", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  // positive counts 1:3 3:1 (total 4), negative 2:3 (total 3); D = 3 + total.
  const double pos[] = {0, 4.0 / 7, 1.0 / 7, 2.0 / 7};
  const double neg[] = {0, 1.0 / 6, 4.0 / 6, 1.0 / 6};
  const double pn = 1.0 / 3;
  const double pp = 1 - pn;
  const std::string expected =
      expected_line(pn, pp, {{neg[1], pos[1]}}) + expected_line(pn, pp, {{neg[2], pos[2]}}) +
      expected_line(pn, pp, {{neg[3], pos[3]}}) + expected_line(pn, pp, {}) +
      expected_line(pn, pp, {{neg[1], pos[1]}, {neg[2], pos[2]}});
  EXPECT_EQ(dir.read("data.output"), expected);
  // Documents 1, 3, 4 are predicted positive (and are), 2 negative (and is); 5 is a negative
  // document predicted positive.
  EXPECT_EQ(r.out,
            "\nThe Recall of the positive class is 100.000%\n"
            "The Precision of the positive class is 75.000%\n"
            "The F_measure for positive class is 85.714%\n"
            "The Accuracy for both classes is 80.000%\n");
  EXPECT_FALSE(dir.exists("data.log"));
}

TEST(NaiveBayesRun, EmptyTestSetReportsZeroes) {
  TempDir dir;
  write_corpus(dir, "1:1\n", "2:1\n", "");
  const RunResult r = test::run_punb(dir, {"-nb", "-f", "data"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "\nThere is no positive examples in test set\n"
            "The Precision of the positive class is 0.000%\n"
            "The F_measure for positive class is 0.000%\n"
            "The Accuracy for both classes is 0.000%\n");
  EXPECT_EQ(dir.read("data.output"), "");
}

struct FailureCase {
  const char* name;
  std::vector<std::string> args;
  std::string pos, unlabeled, test;  // "-" for a missing file
  std::string out;
  int status;
  int output_lines;    // lines in data.output; -1: the file must not exist
  const char* detail;  // expected on standard error
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class NaiveBayesFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(NaiveBayesFailures, StopInTheOrderOfTheFileOpenings) {
  const FailureCase& c = GetParam();
  TempDir dir;
  for (auto [name, text] :
       {std::pair{"data.pos", &c.pos}, {"data.unlabel", &c.unlabeled}, {"data.test", &c.test}}) {
    if (*text != "-") dir.write(name, *text);
  }
  const RunResult r = test::run_punb(dir, c.args);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.status, c.status);
  EXPECT_NE(r.err.find(c.detail), std::string::npos) << r.err;
  EXPECT_EQ(dir.exists("data.output"), c.output_lines >= 0);
  if (c.output_lines >= 0) {
    EXPECT_EQ(test::count_lines(dir.read("data.output")), static_cast<std::size_t>(c.output_lines));
  }
}

const std::vector<std::string> kRun = {"-nb", "-f", "data"};
const char* const kGoodTest = "1 1:1\n-1 2:1\n1 1:2\n";

INSTANTIATE_TEST_SUITE_P(
    Paths, NaiveBayesFailures,
    ::testing::Values(
        FailureCase{"no_arguments", {}, "-", "-", "-", kUsageLine, 2, -1, "usage: punb"},
        FailureCase{"no_stem",
                    {"-nb"},
                    "-",
                    "-",
                    "-",
                    "can not write prob_result.txt",
                    1,
                    -1,
                    "No such file"},
        FailureCase{"result_file_in_missing_directory",
                    {"-nb", "-f", "nodir/data"},
                    "1:1\n",
                    "2:1\n",
                    kGoodTest,
                    "can not write prob_result.txt",
                    1,
                    -1,
                    "nodir/data.output"},
        FailureCase{"positive_set_missing", kRun, "-", "2:1\n", kGoodTest,
                    "can not read training set", 1, 0, "data.pos"},
        FailureCase{"unlabeled_set_missing", kRun, "1:1\n", "-", kGoodTest,
                    "can not read training set", 1, 0, "data.unlabel"},
        FailureCase{"test_set_missing", kRun, "1:1\n", "2:1\n", "-", "can not read test set", 1, 0,
                    "data.test"},
        FailureCase{"bad_label_after_three_lines", kRun, "1:1\n", "2:1\n",
                    "1 1:1\n-1 2:1\n1 1:1\n2 1:1\n1 1:1\n", "test set: Data Format Error!!!", 1, 3,
                    "data.test:4: label 2"},
        FailureCase{"empty_positive_set", kRun, "", "2:1\n", kGoodTest, "empty positive set", 1, 0,
                    "data.pos"},
        FailureCase{"empty_unlabeled_set", kRun, "1:1\n", "", kGoodTest, "empty unlabeled set", 1,
                    0, "data.unlabel"},
        FailureCase{"no_feature_at_all", kRun, "0:4\n\n", "0:1\n", kGoodTest,
                    "no features in training set", 1, 0, "no feature index"},
        FailureCase{"index_out_of_range", kRun, "1:1\n2:1 500000:3\n", "2:1\n", kGoodTest,
                    "feature index out of range", 1, 0, "data.pos:2: feature index 500000"},
        FailureCase{"negative_count", kRun, "1:1\n", "2:1 3:-4\n", kGoodTest, "negative count", 1,
                    0, "data.unlabel:1: count -4"},
        FailureCase{"lone_number_in_test_line", kRun, "1:1\n", "2:1\n", "1 1:1\n1 1:1 7\n",
                    "negative count", 1, 1, "data.test:2"},
        FailureCase{"number_beyond_32_bits", kRun, "1:2147483648\n", "2:1\n", kGoodTest,
                    "number out of range", 1, 0, "data.pos:1"},
        FailureCase{"negative_weight",
                    {"-nb", "-f", "data", "-l", "-1"},
                    "1:1\n",
                    "2:1\n",
                    kGoodTest,
                    kUsageLine,
                    2,
                    -1,
                    "smoothing weight"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NaiveBayesRun, TabsWarnOncePerFileAndKeepTheirReading) {
  TempDir dir;
  write_corpus(dir, "1:1\t2:5 3:1\n1:1\t2:5\n", "2:1 3:1\n", "1 1:1\t3:1\n-1 2:1\n");
  const RunResult tabbed = test::run_punb(dir, {"-nb", "-f", "data"});
  const std::string tabbed_output = dir.read("data.output");
  write_corpus(dir, "1:1 3:1\n1:1\n", "2:1 3:1\n", "1 1:1\n-1 2:1\n");
  const RunResult plain = test::run_punb(dir, {"-nb", "-f", "data"});
  EXPECT_EQ(tabbed.status, 0);
  EXPECT_EQ(tabbed.out, plain.out);
  EXPECT_EQ(tabbed_output, dir.read("data.output"));
  EXPECT_EQ(test::count_lines(tabbed.err), 2u) << tabbed.err;  // data.pos and data.test
  EXPECT_NE(tabbed.err.find("data.pos:1: warning"), std::string::npos);
  EXPECT_EQ(plain.err, "");
}

}  // namespace
}  // namespace punb
