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

TEST(NaiveBayesRun, TrainsTestsAndReports) {
  TempDir dir;
  // lambda 1, V = 3 (index 0 is not a word here), L = 3.
  test::write_corpus(
      dir, {"1:2 0:5\n1:1 3:1\n", "2:3 -1:7\n", "1 1:1\n-1 2:1 9:4\n+1 3:1\n1 7:1\n-1 1:1 2:1"});
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

}  // namespace
}  // namespace punb
